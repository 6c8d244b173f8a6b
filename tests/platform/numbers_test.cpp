// The lenient number readers against the C library they stand in for, on the words the
// solver writes and on the words a hand-edited file can hold.
#include "platform/numbers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

double c_real(const std::string& word) { return std::strtod(word.c_str(), nullptr); }

int c_int(const std::string& word, int base) {
    long value = std::strtol(word.c_str(), nullptr, base);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Same value, bit for bit (so -0 differs from 0), or both NaN of the same sign.
void expect_same_real(double got, double want, const std::string& word) {
    if (std::isnan(want)) {
        EXPECT_TRUE(std::isnan(got)) << word;
        EXPECT_EQ(std::signbit(got), std::signbit(want)) << word;
        return;
    }
    std::uint64_t got_bits, want_bits;
    std::memcpy(&got_bits, &got, sizeof got);
    std::memcpy(&want_bits, &want, sizeof want);
    EXPECT_EQ(got_bits, want_bits) << word << ": " << got << " against " << want;
}

const std::vector<std::string> awkward_words = {
    "0", "-0", "+0", "1", "-1", "+5", "12", "007", "1.5", "-1.5", ".5", "5.", "-.5e-3",
    "2.931500e+002", "2.931500e+02", "2.931500E+002", "-1.250000e-003", "1.000000e+100",
    "1e308", "1e309", "-1e309", "1e-310", "1e-400", "4.9e-324", "2.4703282292062328e-324",
    "2.4703282292062327e-324", "1.7976931348623157e308", "1.7976931348623159e308",
    "293.15", "0.1", "123456789012345678901234567890", "3.0000000000000000000000001",
    "nan", "NaN", "-nan", "inf", "-inf", "+inf", "Infinity", "-INFINITY", "infx",
    "0x10", "0X1A", "-0x10", "0x1p3", "0x", "0xg", "010", "08", "0b1",
    "1e", "1e+", "1e-", "1.5x", "1,5", "1d5", "12abc", "abc", "", "-", "+", ".", "-.",
    "--1", "+-1", "e5", " 5", "\t-3", "2147483647", "2147483648", "-2147483648",
    "-2147483649", "99999999999999999999", "-99999999999999999999", "1e3",
};

TEST(ReadReal, AgreesWithStrtodOnAwkwardWords) {
    for (const std::string& word : awkward_words) {
        expect_same_real(read_real(word), c_real(word), word);
        char* end = nullptr;
        std::strtod(word.c_str(), &end);
        EXPECT_EQ(real_prefix_length(word), static_cast<std::size_t>(end - word.c_str())) << word;
    }
}

TEST(ReadReal, ReadsOnlyTheWordItIsGiven) {
    // The view ends before the buffer does: "2.5e3" out of "2.5e31" reads 2500.
    std::string text = "2.5e31";
    EXPECT_EQ(read_real(std::string_view(text).substr(0, 5)), 2500.0);
    EXPECT_EQ(read_int(std::string_view(text).substr(0, 1)), 2);
    std::string hex = "0x1f";
    EXPECT_EQ(read_int_any_base(std::string_view(hex).substr(0, 3)), 1);
}

// Every form a solver prints a double in, with two- and three-digit exponents.
TEST(ReadReal, AgreesWithStrtodOnRandomSolverOutput) {
    std::mt19937_64 random(4242);
    const char* const forms[] = {"%e", "%.9E", "%.17g", "%g", "%f", "%.3f", "%+e", "%.0e"};
    for (int i = 0; i < 30000; ++i) {
        double value;
        std::uint64_t bits = random();
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        if (i % 3 == 0) value = std::ldexp(static_cast<double>(random() >> 20), -30);
        char word[512];
        std::snprintf(word, sizeof word, forms[i % 8], value);
        std::string two_digit = word;
        expect_same_real(read_real(two_digit), c_real(two_digit), two_digit);
        // the reference platform's three-digit exponents
        std::size_t e = two_digit.find_first_of("eE");
        if (e != std::string::npos && two_digit.size() - e == 4) {
            std::string three_digit = two_digit;
            three_digit.insert(e + 2, "0");
            expect_same_real(read_real(three_digit), c_real(three_digit), three_digit);
            ASSERT_EQ(read_real(three_digit), read_real(two_digit)) << three_digit;
        }
    }
}

TEST(ReadInt, AgreesWithStrtolBaseTenClampedToInt) {
    for (const std::string& word : awkward_words)
        EXPECT_EQ(read_int(word), c_int(word, 10)) << word;
    EXPECT_EQ(read_int("1.5"), 1);
    EXPECT_EQ(read_int("0x1A"), 0);
    EXPECT_EQ(read_int("012"), 12);
    EXPECT_EQ(read_int("99999999999999999999"), INT_MAX);
    EXPECT_EQ(read_int("-2147483649"), INT_MIN);
}

TEST(ReadIntAnyBase, AgreesWithStrtolBaseZeroClampedToInt) {
    for (const std::string& word : awkward_words)
        EXPECT_EQ(read_int_any_base(word), c_int(word, 0)) << word;
    EXPECT_EQ(read_int_any_base("0x1A"), 26);
    EXPECT_EQ(read_int_any_base("-0x10"), -16);
    EXPECT_EQ(read_int_any_base("010"), 8);
    EXPECT_EQ(read_int_any_base("08"), 0);
    EXPECT_EQ(read_int_any_base("42"), 42);
}

TEST(ReadInt, AgreesWithStrtolOnRandomIntegers) {
    std::mt19937_64 random(99);
    for (int i = 0; i < 20000; ++i) {
        long long value = static_cast<long long>(random()) >> (random() % 63);
        char word[64];
        std::snprintf(word, sizeof word, i % 4 == 0 ? "%+lld" : i % 4 == 1 ? "%#llx" : "%lld",
                      value);
        ASSERT_EQ(read_int(word), c_int(word, 10)) << word;
        ASSERT_EQ(read_int_any_base(word), c_int(word, 0)) << word;
    }
}

// The one-pass readers say no exactly where the whole-word tests do, and otherwise give the
// lenient readers' value: the surface reader relies on both to keep its messages and bits.
TEST(ReadWhole, OnePassAgreesWithTheTestThenTheRead) {
    std::vector<std::string> words = awkward_words;
    for (const char* extra : {"123456789012345678", "-123456789012345678", "1234567890123456789",
                              "9223372036854775807", "9223372036854775808", "-0012", "1-2",
                              "4.300000000e-02", "-2.785310091e-04", "1e-5x"})
        words.emplace_back(extra);
    std::mt19937_64 random(14);
    for (int i = 0; i < 2000; ++i) {
        char word[64];
        long long value = static_cast<long long>(random()) >> (random() % 63);
        std::snprintf(word, sizeof word, i % 3 == 0 ? "%lld" : i % 3 == 1 ? "%+lld" : "%#llo",
                      value);
        words.emplace_back(word);
        double real = std::ldexp(static_cast<double>(random() >> 11), -60 + static_cast<int>(random() % 80));
        std::snprintf(word, sizeof word, i % 2 ? "%.9e" : "%.17g", i % 4 < 2 ? real : -real);
        words.emplace_back(word);
    }
    for (const std::string& word : words) {
        double real = -7;
        ASSERT_EQ(read_whole_real(word, real), is_whole_real(word)) << word;
        if (is_whole_real(word)) {
            expect_same_real(real, read_real(word), word);
        }
        int integer = -7;
        ASSERT_EQ(read_whole_integer_any_base(word, integer), is_whole_integer_any_base(word))
            << word;
        if (is_whole_integer_any_base(word)) {
            EXPECT_EQ(integer, read_int_any_base(word)) << word;
        }
    }
}

TEST(NextWord, SplitsAtBlanksAndGivenSeparators) {
    std::string_view rest = "  sc-rx\t\r\n tz\r", word;
    std::vector<std::string> words;
    while (next_word(rest, word)) words.emplace_back(word);
    EXPECT_EQ(words, (std::vector<std::string>{"sc-rx", "tz"}));
    rest = "sc--rx -ty";
    words.clear();
    while (next_word(rest, word, "- \t\r\n")) words.emplace_back(word);
    EXPECT_EQ(words, (std::vector<std::string>{"sc", "rx", "ty"}));
    rest = " \t";
    EXPECT_FALSE(next_word(rest, word));
}

}  // namespace

// A number word with anything after the number is no number word: "%lf" would stop
// inside it and leave the rest of the line unread.
TEST(WholeNumberWords, JunkInsideTheWordIsRefused) {
    for (const char* word : {"0.16", "1.600000e-01", "-2", "+3.5", ".5", "1e300", "nan", "inf",
                             "0x1p3", "7"})
        EXPECT_TRUE(is_whole_real(word)) << word;
    for (const char* word : {"1.600000e-01x", "0.16x", "x", "", "1e", "12abc", "1,5", "--1"})
        EXPECT_FALSE(is_whole_real(word)) << word;
    for (const char* word : {"49", "-1", "+7", "0", "0x1F", "017"})
        EXPECT_TRUE(is_whole_integer_any_base(word)) << word;
    for (const char* word : {"3x", "1.5", "", "-", "0x", "019", "12 "})
        EXPECT_FALSE(is_whole_integer_any_base(word)) << word;
}
