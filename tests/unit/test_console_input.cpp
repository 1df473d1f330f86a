#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "console_input.h"

TEST(ConsoleInput, WordsSkipAllKindsOfWhiteSpaceAndLeaveTheRest)
{
    std::istringstream typed("\n\r\t\v\f  my data.txt\n");
    ConsoleInput in(typed);
    std::string word;
    ASSERT_TRUE(in.read_word(word));
    EXPECT_EQ(word, "my");
    char answer = 0;
    ASSERT_TRUE(in.read_char(answer));
    EXPECT_EQ(answer, 'd');  // the rest of the typed line answers the next question
    ASSERT_TRUE(in.read_word(word));
    EXPECT_EQ(word, "ata.txt");
}

TEST(ConsoleInput, OneCharacterAnswerTakesOnlyTheFirstNonBlank)
{
    std::istringstream typed("  yes\n");
    ConsoleInput in(typed);
    char answer = 0;
    ASSERT_TRUE(in.read_char(answer));
    EXPECT_EQ(answer, 'y');
    ASSERT_TRUE(in.read_char(answer));
    EXPECT_EQ(answer, 'e');
}

TEST(ConsoleInput, WholeNumbersDetectTheirBase)
{
    std::istringstream typed("010 0x10 0X1f +7 -0 -12 25abc 08");
    ConsoleInput in(typed);
    int value = 0;
    const int expected[] = {8, 16, 31, 7, 0, -12, 25};
    for (int want : expected) {
        ASSERT_TRUE(in.read_int(value));
        EXPECT_EQ(value, want);
    }
    std::string rest;
    ASSERT_TRUE(in.read_word(rest));
    EXPECT_EQ(rest, "abc");  // a number ends where its digits end
    ASSERT_TRUE(in.read_int(value));
    EXPECT_EQ(value, 0);  // 08: octal 0, the 8 stays
    ASSERT_TRUE(in.read_int(value));
    EXPECT_EQ(value, 8);
}

TEST(ConsoleInput, SignedReadRefusesValuesBeyond32Bits)
{
    std::istringstream typed("2147483647 -2147483648 2147483648");
    ConsoleInput in(typed);
    int value = 0;
    ASSERT_TRUE(in.read_int(value));
    EXPECT_EQ(value, 2147483647);
    ASSERT_TRUE(in.read_int(value));
    EXPECT_EQ(value, -2147483647 - 1);
    value = 5;
    EXPECT_FALSE(in.read_int(value));
    EXPECT_EQ(value, 5);
}

TEST(ConsoleInput, UnsignedReadWrapsAMinusSign)
{
    std::istringstream typed("-1 0x10 4294967295 -4294967295 4294967296");
    ConsoleInput in(typed);
    std::uint32_t seed = 0;
    ASSERT_TRUE(in.read_uint32(seed));
    EXPECT_EQ(seed, 4294967295u);
    ASSERT_TRUE(in.read_uint32(seed));
    EXPECT_EQ(seed, 16u);
    ASSERT_TRUE(in.read_uint32(seed));
    EXPECT_EQ(seed, 4294967295u);
    ASSERT_TRUE(in.read_uint32(seed));
    EXPECT_EQ(seed, 1u);
    EXPECT_FALSE(in.read_uint32(seed));
    EXPECT_EQ(seed, 1u);
}

TEST(ConsoleInput, FailureStoresNothingAndSticks)
{
    std::istringstream typed("yes 12 y\n");
    ConsoleInput in(typed);
    char answer = 0;
    ASSERT_TRUE(in.read_char(answer));
    int count = 42;
    EXPECT_FALSE(in.read_int(count));  // "es" is no number
    EXPECT_EQ(count, 42);
    EXPECT_TRUE(in.failed());
    answer = 'q';
    EXPECT_FALSE(in.read_char(answer));  // later reads fail at once, though input remains
    EXPECT_EQ(answer, 'q');
    std::string word = "kept";
    EXPECT_FALSE(in.read_word(word));
    EXPECT_EQ(word, "kept");
}

TEST(ConsoleInput, EndOfInputFailsEveryKindOfRead)
{
    std::istringstream typed("  \n\n ");
    ConsoleInput in(typed);
    std::string word;
    EXPECT_FALSE(in.read_word(word));
    std::istringstream sign_only("- x");
    ConsoleInput signs(sign_only);
    int value = 3;
    EXPECT_FALSE(signs.read_int(value));
    EXPECT_EQ(value, 3);
    std::istringstream bare_hex("0x");
    ConsoleInput hex(bare_hex);
    std::uint32_t seed = 9;
    EXPECT_FALSE(hex.read_uint32(seed));
    EXPECT_EQ(seed, 9u);
}
