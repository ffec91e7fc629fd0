#include "stringlist.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

TEST(StringListCompare, IgnoresAsciiCaseOnly) {
    const struct {
        const char *a, *b;
        int sign;
    } cases[] = {
        {"abc", "ABC", 0},
        {"EBQNYWG", "ebqnywg", 0},
        {"abc", "ABD", -1},
        {"b", "A", 1},
        {"ab", "abc", -1},
        {"", "", 0},
        {"", "A", -1},
        // High bytes compare as unsigned and are not folded.
        {"\xE9", "z", 1},
        {"\x7F", "\x80", -1},
        {"\xC9", "\xE9", -1},
        // Letters fold to lower case: the signs between "Z" and "a" come
        // before every letter, whatever its case.
        {"_", "a", -1},
        {"_", "A", -1},
        {"[", "Z", -1},
        {"{", "z", 1},
    };
    for (const auto& c : cases) {
        const int got = TStringList::Compare(c.a, c.b);
        EXPECT_EQ((got > 0) - (got < 0), c.sign) << c.a << " / " << c.b;
    }
}

TEST(StringList, SortedInsertAndDuplicateRule) {
    TStringList list;
    for (const char* s : {"b", "a", "B", "b"}) {
        list.Add(s);
    }
    EXPECT_EQ(list.Lines(), (Lines{"b", "a", "B", "b"}));

    list.Clear();
    list.SetSorted(true);
    EXPECT_EQ(list.Add("mango"), 0);
    EXPECT_EQ(list.Add("Apple"), 0);
    EXPECT_EQ(list.Add("zebra"), 2);
    EXPECT_EQ(list.Add("banana"), 1);
    EXPECT_EQ(list.Add("APPLE"), -1);
    EXPECT_EQ(list.Add("mango"), -1);
    EXPECT_EQ(list.Add("\xE9t\xE9"), 4);
    EXPECT_EQ(list.Add(""), 0);
    // The first spelling stays.
    EXPECT_EQ(list.Lines(), (Lines{"", "Apple", "banana", "mango", "zebra", "\xE9t\xE9"}));
}

TEST(StringList, SwitchingSortOnSortsAndDropsDuplicates) {
    TStringList list;
    for (const char* s : {"delta", "Alpha", "charlie", "ALPHA", "bravo", "Delta", "alpha"}) {
        list.Add(s);
    }
    list.SetSorted(true);
    EXPECT_EQ(list.Lines(), (Lines{"Alpha", "bravo", "charlie", "delta"}));
    EXPECT_EQ(list.Add("Charlie"), -1);
    EXPECT_EQ(list.Add("echo"), 4);
    // Switching off keeps the lines and appends again.
    list.SetSorted(false);
    EXPECT_EQ(list.Add("alpha"), 5);
}

TEST(StringList, IndexErrors) {
    TStringList list;
    list.Add("only");
    EXPECT_EQ(list[0], "only");
    try {
        list.Get(1);
        ADD_FAILURE() << "no error";
    } catch (const std::out_of_range& e) {
        EXPECT_EQ(std::string(e.what()), "List index out of bounds (1)");
    }
    EXPECT_THROW(list[-1], std::out_of_range);
}
