#include "CSTRING.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>

namespace {

constexpr int LIMIT = 10000;

// Exposes the protected capacity of any string: naming tot_space through a
// derived class is what grants the access.
struct capacity_reader : my_string {
    static int of(my_string& s) { return (s.*&capacity_reader::tot_space)(); }
};

int capacity(my_string& s)
{
    return capacity_reader::of(s);
}

std::string text_of(const my_string& s)
{
    return s.c_str();
}

std::string repeated(char c, int n)
{
    return std::string(static_cast<std::size_t>(n), c);
}

// Text, length and capacity checked together.
::testing::AssertionResult holds(my_string& s, const std::string& text, int expected_capacity)
{
    if (text_of(s) == text && s.length() == static_cast<int>(text.size()) &&
        capacity(s) == expected_capacity)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "holds \"" << text_of(s).substr(0, 60) << "\" length " << s.length() << " capacity "
           << capacity(s) << "; expected \"" << text.substr(0, 60) << "\" length " << text.size()
           << " capacity " << expected_capacity;
}

// read_token wants a file stream: the content goes to a file named after the
// running test.
std::string file_with(const std::string& content)
{
    const std::string path = ::testing::TempDir() + "cstring_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

} // namespace

TEST(MyStringConstruction, CapacitiesAndContents)
{
    my_string empty, one('q'), sized(50);
    EXPECT_TRUE(holds(empty, "", 10));
    EXPECT_TRUE(holds(one, "q", 10));
    EXPECT_TRUE(holds(sized, "", 50));

    my_string eight("abcdefgh"), nine("abcdefghi"), too_long(repeated('x', LIMIT + 1).c_str());
    EXPECT_TRUE(holds(eight, "abcdefgh", 10));
    EXPECT_TRUE(holds(nine, "abcdefghi", 11));
    EXPECT_TRUE(holds(too_long, "", 10));

    my_string source(200);
    source = "twenty characters...";
    my_string copy(source), short_copy(eight);
    copy[0] = 'T';
    EXPECT_TRUE(holds(copy, "Twenty characters...", 22));
    EXPECT_TRUE(holds(source, "twenty characters...", 200));
    EXPECT_TRUE(holds(short_copy, "abcdefgh", 10));
}

TEST(MyStringConstruction, SizeBelowOneStillGivesUsableEmptyString)
{
    for (int n : {0, -5}) {
        my_string s(n);
        EXPECT_TRUE(holds(s, "", 1));
        s += 'x';
        EXPECT_TRUE(holds(s, "x", 11));
    }
}

TEST(MyStringCharacterAppend, GrowsByStepsOfTenUpToTheLimit)
{
    my_string s;
    std::string expected;
    for (int length = 1; length <= 27; ++length) {
        expected += static_cast<char>('a' + length % 26);
        s += expected.back();
        const int wanted = length <= 8 ? 10 : length <= 17 ? 19 : length <= 26 ? 28 : 37;
        EXPECT_TRUE(holds(s, expected, wanted)) << "after " << length << " characters";
    }

    my_string full = repeated('a', LIMIT - 1).c_str();
    full += 'b';
    full += 'c';
    EXPECT_TRUE(holds(full, repeated('a', LIMIT - 1) + "b", LIMIT + 10));
}

TEST(MyStringTextAssignment, ReusesLargeEnoughBufferAndGrowsToFit)
{
    my_string s(50);
    s = "abc";
    EXPECT_TRUE(holds(s, "abc", 50));
    s = repeated('z', 60).c_str();
    EXPECT_TRUE(holds(s, repeated('z', 60), 62));
    s.assign(my_string("copied"));
    EXPECT_TRUE(holds(s, "copied", 62));

    my_string at_limit;
    at_limit = repeated('a', LIMIT).c_str();
    EXPECT_TRUE(holds(at_limit, repeated('a', LIMIT), LIMIT + 2));
    my_string kept("kept");
    kept = repeated('b', LIMIT + 1).c_str();
    EXPECT_TRUE(holds(kept, "kept", 10));
}

TEST(MyStringTextAssignment, SelfAndOwnBufferSources)
{
    my_string s("unchanged");
    my_string& same = s;
    s = same;
    EXPECT_TRUE(holds(s, "unchanged", 11));
    s = s.c_str() + 2;
    EXPECT_TRUE(holds(s, "changed", 11));

    // Nine characters in ten bytes: assigning the text to itself needs a new
    // buffer, and the text must be copied before the old one goes.
    std::ifstream in(file_with("abcdefghi"), std::ios::binary);
    my_string full;
    full.read_token(in);
    ASSERT_TRUE(holds(full, "abcdefghi", 10));
    full = full.c_str();
    EXPECT_TRUE(holds(full, "abcdefghi", 11));
}

TEST(MyStringTextAppend, GrowsToExactSizePlusTwoUpToTheLimit)
{
    my_string s("abc");
    s += "defgh";
    EXPECT_TRUE(holds(s, "abcdefgh", 10));
    s += my_string("i");
    EXPECT_TRUE(holds(s, "abcdefghi", 11));

    my_string nearly = repeated('a', LIMIT - 1).c_str();
    nearly += "bc";
    EXPECT_TRUE(holds(nearly, repeated('a', LIMIT - 1), LIMIT + 1));
    nearly += "b";
    nearly += "c";
    EXPECT_TRUE(holds(nearly, repeated('a', LIMIT - 1) + "b", LIMIT + 2));
}

TEST(MyStringTextAppend, AppendingItselfDoublesTheText)
{
    my_string s("abcdefgh");
    s += s;
    EXPECT_TRUE(holds(s, "abcdefghabcdefgh", 18));

    my_string tail("0123456789");
    tail += tail.c_str() + 7;
    EXPECT_TRUE(holds(tail, "0123456789789", 15));

    my_string big = repeated('a', 5001).c_str();
    big += big;
    EXPECT_EQ(big.length(), 5001);
}

TEST(MyStringNumberAssignment, CharacterAndInteger)
{
    my_string tiny(2), roomy(4), nul, s, wide(20);
    tiny = 'x';
    roomy = 'y';
    EXPECT_TRUE(holds(tiny, "x", 12));
    EXPECT_TRUE(holds(roomy, "y", 4));
    nul = '\0';
    EXPECT_EQ(nul.length(), 1);

    s = -42;
    EXPECT_TRUE(holds(s, "-42", 22));
    s = INT_MIN;
    EXPECT_TRUE(holds(s, "-2147483648", 22));
    wide = 7;
    EXPECT_TRUE(holds(wide, "7", 20));
}

TEST(MyStringNumberAssignment, RealNumbers)
{
    my_string s;
    s = 0.1;
    EXPECT_TRUE(holds(s, "0.100000", 42));
    s = 2.5;
    EXPECT_TRUE(holds(s, "2.500000", 42));
    s = 1e10;
    EXPECT_TRUE(holds(s, "10000000000.000000", 42));
    s = 1e34;
    EXPECT_TRUE(holds(s, "9999999999999999455752309870428160.000000", 42));
}

TEST(MyStringNumberAssignment, LongRealTextGetsALargerBuffer)
{
    my_string s, forty(40);
    s = 1e35;
    EXPECT_TRUE(holds(s, "99999999999999996863366107917975552.000000", 43));
    forty = 1e33;
    EXPECT_TRUE(holds(forty, "999999999999999945575230987042816.000000", 41));
}

TEST(MyStringJoin, ConcatenatesIntoAFreshCopy)
{
    my_string x("abc"), y("def");
    my_string joined = x + y;
    EXPECT_TRUE(holds(joined, "abcdef", 10));
    EXPECT_TRUE(holds(x, "abc", 10));
    EXPECT_TRUE(holds(y, "def", 10));
    my_string longer = x + "0123456789";
    EXPECT_TRUE(holds(longer, "abc0123456789", 15));

    const my_string half = repeated('h', 5000).c_str(), large = repeated('l', 6000).c_str();
    my_string at_limit = half + half, too_long = large + large;
    EXPECT_TRUE(holds(at_limit, repeated('h', LIMIT), LIMIT + 2));
    EXPECT_TRUE(holds(too_long, "", 10));
}

TEST(MyStringCaseConversion, OnlyAsciiLettersChange)
{
    my_string s("abc-xyz 1");
    s.Upper();
    EXPECT_EQ(text_of(s), "ABC-XYZ 1");
    s.Lower();
    EXPECT_EQ(text_of(s), "abc-xyz 1");

    const std::string edges = "@[`{\xC9\xE9\xFF";
    my_string other(edges.c_str());
    other.to_upper();
    EXPECT_TRUE(holds(other, edges, 10));
    other.to_lower();
    EXPECT_TRUE(holds(other, edges, 10));
}

TEST(MyStringComparison, ByteOrder)
{
    const my_string abc("abc"), abd("abd"), high("\xE9");
    EXPECT_EQ(abc == my_string("abc"), 1);
    EXPECT_EQ(abc == "abc", 1);
    EXPECT_EQ(abc == "ab", 0);
    EXPECT_EQ(abc != abd, 1);
    EXPECT_EQ(abc != "abc", 0);
    EXPECT_EQ(abc < abd, 1);
    EXPECT_EQ(abd < abc, 0);
    EXPECT_EQ(abd > abc, 1);
    EXPECT_EQ(high > abc, 1);
    EXPECT_EQ(abc[1], 'b');
}

TEST(MyStringReadToken, TokensSeparatorsAndEnds)
{
    std::ifstream in(file_with("  alpha\tbeta\nab\r\ncd\xFF" "ef gh"), std::ios::binary);
    my_string s(50);
    for (const char* expected : {"alpha", "beta", "ab\r", "cd", "ef", "gh", ""}) {
        s.read_token(in);
        EXPECT_TRUE(holds(s, expected, 10));
    }
}

TEST(MyStringReadToken, OwnGrowthAndNoLengthLimit)
{
    const std::string long_token = repeated('t', LIMIT + 5);
    std::ifstream in(file_with("123456789 1234567890 " + repeated('x', 19) + " " +
                               repeated('y', 20) + " " + long_token),
                     std::ios::binary);
    my_string s;
    for (int expected_capacity : {10, 20, 20, 30}) {
        s.read_token(in);
        EXPECT_EQ(capacity(s), expected_capacity) << text_of(s);
    }
    s.read_token(in);
    EXPECT_EQ(text_of(s), long_token);
    EXPECT_EQ(s.length(), LIMIT + 5);
}

TEST(MyStringReadToDelim, FieldsUpToDelimiter)
{
    std::istringstream in("a,b");
    my_string s(50);
    s.read_to_delim(in, ',');
    EXPECT_TRUE(holds(s, "a", 50));
    s.read_to_delim(in, ',');
    EXPECT_TRUE(holds(s, "b", 50));

    std::istringstream other(" x\ny\xFFz");
    s.read_to_delim(other, ',');
    EXPECT_EQ(text_of(s), " x\ny");

    std::istringstream huge(repeated('q', LIMIT + 5) + ",next");
    s.read_to_delim(huge, ',');
    EXPECT_EQ(s.length(), LIMIT);
    s.read_to_delim(huge, ',');
    EXPECT_EQ(text_of(s), "next");
}

TEST(MyStringReadLine, SkipsLeadingBlanksKeepsTheRest)
{
    std::istringstream in("   x y\t\n\nab\r\nlast");
    my_string s;
    for (const char* expected : {"x y\t", "", "ab\r", "last", ""}) {
        EXPECT_EQ(s.read_line(in), 1);
        EXPECT_EQ(text_of(s), expected);
    }

    std::istringstream stopped("ab\xFF" "cd\n");
    s.read_line(stopped);
    EXPECT_EQ(text_of(s), "ab");

    std::istringstream huge(repeated('q', LIMIT + 5) + "\nnext");
    s.read_line(huge);
    EXPECT_EQ(s.length(), LIMIT);
    s.read_line(huge);
    EXPECT_EQ(text_of(s), "next");
}

TEST(MyStringStreamOperators, ExtractReadsOneWord)
{
    std::istringstream in("\tab\tc d");
    my_string s, first, second;
    in >> s;
    EXPECT_EQ(text_of(s), "ab\tc");
    EXPECT_EQ(in.get(), 'd');

    std::istringstream newline_first("\nabc def");
    newline_first >> first >> second;
    EXPECT_EQ(text_of(first), "");
    EXPECT_EQ(text_of(second), "abc");

    std::istringstream stopped("x\r\xFFy");
    stopped >> s;
    EXPECT_EQ(text_of(s), "x\r");
}

TEST(MyStringStreamOperators, InsertWritesTextWithFieldWidth)
{
    std::ostringstream out;
    out << std::setw(6) << std::setfill('*') << my_string("abc") << '|' << my_string("de");
    EXPECT_EQ(out.str(), "***abc|de");
}

TEST(MyStringRemove, CutsOrClosesTheGap)
{
    const struct {
        int pos, n;
        const char* expected;
    } cases[] = {{2, 3, "abfg"},    {2, 10, "ab"},     {2, 0, "abcdefg"},
                 {7, 1, "abcdefg"}, {-1, 2, "abcdefg"}, {6, 1, "abcdef"},
                 {0, 2, "cdefg"},   {0, 7, ""},         {1, INT_MAX, "a"}};
    for (const auto& c : cases) {
        my_string s("abcdefg");
        s.remove(c.pos, c.n);
        EXPECT_TRUE(holds(s, c.expected, 10)) << "remove(" << c.pos << ", " << c.n << ")";
    }
}

TEST(MyStringExtractSubStr, TakesFirstFieldOffTheFront)
{
    my_string s("  abc def"), commas(",,,"), fields("twelve chars,x");
    EXPECT_EQ(text_of(s.extract_sub_str(' ')), "abc");
    EXPECT_TRUE(holds(s, " def", 11));
    EXPECT_EQ(text_of(s.extract_sub_str(' ')), "def");
    EXPECT_TRUE(holds(s, "", 11));
    EXPECT_EQ(text_of(s.extract_sub_str(' ')), "");

    EXPECT_EQ(text_of(commas.extract_sub_str(',')), "");
    EXPECT_TRUE(holds(commas, ",,,", 10));

    my_string field = fields.extract_sub_str(',');
    EXPECT_TRUE(holds(field, "twelve chars", 14));
    EXPECT_TRUE(holds(fields, ",x", 16));
}

TEST(MyStringSearch, FindFirstOf)
{
    const my_string s("abcabc");
    EXPECT_EQ(s.find_first_of('c'), 2);
    EXPECT_EQ(s.find_first_of('c', 3), 5);
    EXPECT_EQ(s.find_first_of('c', 6), -1);
    EXPECT_EQ(s.find_first_of('c', 7), -1);
    EXPECT_EQ(s.find_first_of('z'), -1);
    EXPECT_EQ(my_string().find_first_of('\0'), -1);
}

TEST(MyStringSearch, NegativeStartScansFromFirstCharacter)
{
    const my_string s("abcabc");
    EXPECT_EQ(s.find_first_of('a', -1), 0);
    EXPECT_EQ(s.find_first_of('c', -100), 2);
}

TEST(MyStringSearch, ContainsRfindIsNull)
{
    my_string s("abcabc");
    EXPECT_EQ(s.contains(""), 0);
    EXPECT_EQ(s.contains("cab"), 1);
    EXPECT_EQ(s.contains("bc"), 1);
    EXPECT_EQ(s.contains("abd"), 0);
    EXPECT_EQ(s.contains("abcabca"), 0);
    EXPECT_EQ(s.contains('c'), 1);
    EXPECT_EQ(s.contains('z'), 0);
    EXPECT_EQ(s.contains(my_string("abcabc")), 1);

    EXPECT_EQ(s.rfind(my_string("bc")), 1);
    EXPECT_EQ(s.rfind(my_string("ca")), 2);
    EXPECT_EQ(s.rfind(my_string("abcabc")), 0);
    EXPECT_EQ(s.rfind(my_string("")), 0);
    EXPECT_EQ(s.rfind(my_string("abcabca")), -1);
    EXPECT_EQ(s.rfind(my_string("cx")), -1);

    my_string grown;
    EXPECT_EQ(grown.is_null(), 1);
    grown += 'x';
    EXPECT_EQ(grown.is_null(), 0);
    grown = "";
    EXPECT_EQ(grown.is_null(), 1);
}
