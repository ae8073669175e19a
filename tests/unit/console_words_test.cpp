// Console argument words: base-0 numbers, the word list's end, the refusal lines and row lookup (the splitting rules
// themselves are checked by tests/fuzz/fuzz_console.cpp).
#include <gtest/gtest.h>

#include <string>

#include "console_capture.h"
#include "tarn_console_words.h"

namespace {

TEST(ConsoleWords, NumbersAreBaseZeroAndWrapToTheirWidth) {
    ConsoleWords words;
    ASSERT_EQ(0, words.Split("0x1c -10 010 300 -1", 7));
    EXPECT_EQ(28, words.Index());
    EXPECT_EQ(0xF6, words.U8(1));
    EXPECT_EQ(8u, words.Number(2));
    EXPECT_EQ(44, words.U8(3));
    EXPECT_EQ(0xFFFF, words.U16(4));

    ASSERT_EQ(0, words.Split("8 1a ff", 5));
    EXPECT_EQ(0x1Au, words.Number(1, 16));
    EXPECT_EQ(0xFFu, words.Number(2, 16));
}

TEST(ConsoleWords, NothingIsReadPastTheWordList) {
    ConsoleWords words;
    ASSERT_EQ(0, words.Split("44", 5));
    EXPECT_STREQ("", words.Word(1));
    EXPECT_EQ(0u, words.Number(1));
    EXPECT_STREQ("", words.Word(100));
}

TEST(ConsoleWords, RefusalsPrintParamInvalidAndAZeroCountTakesAnyNumberOfWords) {
    ConsoleWords words;
    StdoutCapture capture;
    EXPECT_FALSE(words.Accept("1 2 3 4 5 6", 5));
    EXPECT_TRUE(words.Accept("2 100", 5));
    EXPECT_FALSE(words.Meets(WordRule::Exactly(3)));
    EXPECT_TRUE(words.Meets(WordRule::Exactly(2)));
    EXPECT_TRUE(words.Meets(WordRule::Exactly(0)));
    EXPECT_TRUE(words.Meets(WordRule::AtLeast(1)));
    EXPECT_TRUE(words.Meets(WordRule::AtLeast(2)));
    EXPECT_FALSE(words.Meets(WordRule::AtLeast(3)));
    EXPECT_TRUE(words.Meets(WordRule::TextAt(1)));
    EXPECT_FALSE(words.Meets(WordRule::TextAt(2)));
    EXPECT_TRUE(words.Accept("1 ", 5));
    EXPECT_FALSE(words.Meets(WordRule::TextAt(1))) << "a trailing blank leaves an empty word";
    const std::string refused = ErrorLine("param invalid.\n");
    EXPECT_EQ(refused + refused + refused + refused + refused, WithoutLocations(capture.Finish()));
}

struct Row {
    int index;
    const char *name;
};

TEST(ConsoleWords, FindRowMatchesTheIndexNotThePosition) {
    constexpr Row kRows[] = {{2, "two"}, {8, "eight"}, {10, "ten"}};
    EXPECT_STREQ("eight", ConsoleWords_FindRow(kRows, 8)->name);
    EXPECT_STREQ("ten", ConsoleWords_FindRow(kRows, 10)->name);
    EXPECT_EQ(nullptr, ConsoleWords_FindRow(kRows, 1));
    EXPECT_EQ(nullptr, ConsoleWords_FindRow(kRows, 3));
}

} // namespace
