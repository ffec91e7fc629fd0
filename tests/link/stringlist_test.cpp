#include "stringlist.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines_of(const TStringList& list)
{
    return list.Lines();
}

}  // namespace

TEST(StringListCompare, IgnoresAsciiCaseOnly)
{
    EXPECT_EQ(TStringList::Compare("abc", "ABC"), 0);
    EXPECT_EQ(TStringList::Compare("EBQNYWG", "ebqnywg"), 0);
    EXPECT_LT(TStringList::Compare("abc", "ABD"), 0);
    EXPECT_GT(TStringList::Compare("b", "A"), 0);
    EXPECT_LT(TStringList::Compare("ab", "abc"), 0);
    EXPECT_GT(TStringList::Compare("abc", "AB"), 0);
    EXPECT_EQ(TStringList::Compare("", ""), 0);
    EXPECT_LT(TStringList::Compare("", "A"), 0);
    // High bytes compare as unsigned and are not folded.
    EXPECT_GT(TStringList::Compare("\xE9", "z"), 0);
    EXPECT_NE(TStringList::Compare("\xC9", "\xE9"), 0);
    EXPECT_LT(TStringList::Compare("\x7F", "\x80"), 0);
    // Letters fold to lower case: the signs between "Z" and "a" come before
    // every letter, whatever its case.
    EXPECT_LT(TStringList::Compare("_", "a"), 0);
    EXPECT_LT(TStringList::Compare("_", "A"), 0);
    EXPECT_LT(TStringList::Compare("[", "Z"), 0);
    EXPECT_GT(TStringList::Compare("{", "z"), 0);
}

TEST(StringList, UnsortedKeepsOrderAndDuplicates)
{
    TStringList list;
    EXPECT_FALSE(list.Sorted());
    EXPECT_EQ(list.Add("b"), 0);
    EXPECT_EQ(list.Add("a"), 1);
    EXPECT_EQ(list.Add("B"), 2);
    EXPECT_EQ(list.Add("b"), 3);
    EXPECT_EQ(lines_of(list), (std::vector<std::string>{"b", "a", "B", "b"}));
}

TEST(StringList, SortedInsertAndDuplicateRule)
{
    TStringList list;
    list.SetSorted(true);
    EXPECT_EQ(list.Add("mango"), 0);
    EXPECT_EQ(list.Add("Apple"), 0);
    EXPECT_EQ(list.Add("zebra"), 2);
    EXPECT_EQ(list.Add("banana"), 1);
    EXPECT_EQ(list.Add("APPLE"), -1);
    EXPECT_EQ(list.Add("Mango"), -1);
    EXPECT_EQ(list.Add("mango"), -1);
    EXPECT_EQ(list.Add("\xE9t\xE9"), 4);
    EXPECT_EQ(list.Add(""), 0);
    EXPECT_EQ(lines_of(list), (std::vector<std::string>{"", "Apple", "banana", "mango", "zebra", "\xE9t\xE9"}));
    // The first spelling stays.
    EXPECT_EQ(list[1], "Apple");

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(list.Sorted());
    EXPECT_EQ(list.Add("x"), 0);
}

TEST(StringList, SwitchingSortOnSortsAndDropsDuplicates)
{
    TStringList list;
    for (const char* s : {"delta", "Alpha", "charlie", "ALPHA", "bravo", "Delta", "alpha"}) {
        list.Add(s);
    }
    list.SetSorted(true);
    EXPECT_EQ(lines_of(list), (std::vector<std::string>{"Alpha", "bravo", "charlie", "delta"}));
    EXPECT_EQ(list.Add("Charlie"), -1);
    EXPECT_EQ(list.Add("echo"), 4);

    // Switching off keeps the lines and appends again.
    list.SetSorted(false);
    EXPECT_EQ(list.Add("alpha"), 5);
    EXPECT_EQ(list.Count(), 6);
}

TEST(StringList, RandomInsertsStayOrderedAndUnique)
{
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> len(0, 4), pick(0, 5);
    const char alphabet[] = {'a', 'B', 'b', 'A', '\xFF', '_'};
    TStringList list;
    list.SetSorted(true);
    for (int i = 0; i < 3000; ++i) {
        std::string s;
        for (int n = len(rng); n > 0; --n) {
            s += alphabet[pick(rng)];
        }
        const int before = list.Count();
        const int at = list.Add(s);
        if (at < 0) {
            ASSERT_EQ(list.Count(), before);
        } else {
            ASSERT_EQ(list.Count(), before + 1);
            ASSERT_EQ(list[at], s);
        }
    }
    for (int i = 1; i < list.Count(); ++i) {
        ASSERT_LT(TStringList::Compare(list[i - 1], list[i]), 0) << i;
    }
}

TEST(StringList, IndexErrors)
{
    TStringList list;
    list.Add("only");
    EXPECT_EQ(list.Get(0), "only");
    for (int bad : {-1, 1, 7}) {
        try {
            list.Get(bad);
            ADD_FAILURE() << "no error for " << bad;
        } catch (const std::out_of_range& e) {
            EXPECT_EQ(std::string(e.what()), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
    EXPECT_THROW(list[-1], std::out_of_range);
}
