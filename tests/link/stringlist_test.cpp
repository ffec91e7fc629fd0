// The string list the exchanges fill and the window sorts.
#include "base/stringlist.h"

#include <gtest/gtest.h>

#include <stdexcept>

// ASCII letters fold to lower case, so the signs between "Z" and "a" sort
// before every letter; other bytes compare as unsigned; a prefix comes first.
TEST(StringList, CompareIgnoresTheCaseOfAsciiLettersOnly) {
    const struct {
        const char *a, *b;
        int sign;
    } cases[] = {{"abc", "ABC", 0}, {"abc", "ABD", -1},   {"b", "A", 1},  {"ab", "abc", -1},
                 {"\xE9", "z", 1},  {"\xC9", "\xE9", -1}, {"_", "A", -1}, {"{", "z", 1}};
    for (const auto& c : cases) {
        const int got = TStringList::Compare(c.a, c.b);
        EXPECT_EQ((got > 0) - (got < 0), c.sign) << c.a << " / " << c.b;
    }
}

// Sorted, a list keeps the first spelling of lines that compare equal; an
// unsorted one keeps every line in the order added.
TEST(StringList, SortedListsDropLinesThatCompareEqual) {
    TStringList list;
    for (const char* s : {"delta", "Alpha", "charlie", "ALPHA", "bravo", "Delta", "alpha"}) list.Add(s);
    list.SetSorted(true);
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Alpha", "bravo", "charlie", "delta"}));
    EXPECT_EQ(list.Add("Charlie"), -1);
    EXPECT_EQ(list.Add("echo"), 4);
    EXPECT_EQ(list.Add(""), 0);
    list.SetSorted(false);
    EXPECT_EQ(list.Add("alpha"), 6);
    EXPECT_THROW(list.Get(7), std::out_of_range);
    EXPECT_THROW(list[-1], std::out_of_range);
}
