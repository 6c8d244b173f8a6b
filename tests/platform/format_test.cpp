// The output formatting against the C library: "%e" must be glibc's digits with the
// exponent padded to three digits (two while set), everything else glibc's exactly.
#include "platform/format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// glibc's text with every exponent of an e/E field padded to `digits` digits.
std::string pad_exponents(const std::string& text, int digits) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out.push_back(text[i]);
        bool exponent = (text[i] == 'e' || text[i] == 'E') && i > 0 &&
                        (std::isdigit(static_cast<unsigned char>(text[i - 1])) || text[i - 1] == '.') &&
                        i + 1 < text.size() && (text[i + 1] == '+' || text[i + 1] == '-');
        if (!exponent) continue;
        out.push_back(text[++i]);
        std::size_t end = i + 1;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
        int have = static_cast<int>(end - i - 1);
        for (int k = have; k < digits; ++k) out.push_back('0');
        out.append(text, i + 1, have);
        i = end - 1;
    }
    return out;
}

template <typename... Args>
std::string c_library(const char* format, Args... args) {
    char buffer[1024];
    int n = std::snprintf(buffer, sizeof buffer, format, args...);
    return std::string(buffer, n);
}

// What the reference platform prints for one "%[flags][width][.precision]e" field followed
// by plain text: glibc's digits without the width, the exponent padded to `digits`, then
// the width applied, so the padding counts the longer exponent.
std::string reference_field(const char* format, double value, int digits) {
    std::string flags, rest;
    const char* p = format + 1;
    while (std::strchr("-+ #0", *p)) flags.push_back(*p++);
    int width = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) width = width * 10 + (*p++ - '0');
    std::string no_width = "%" + flags + p;
    std::size_t conversion = no_width.find_first_of("eE");
    std::string suffix = no_width.substr(conversion + 1);
    no_width.resize(conversion + 1);
    std::string body = pad_exponents(c_library(no_width.c_str(), value), digits);
    int pad = width - static_cast<int>(body.size());
    if (pad > 0) {
        if (flags.find('-') != std::string::npos) body.append(pad, ' ');
        else if (flags.find('0') != std::string::npos && std::isfinite(value)) {
            std::size_t sign = (body[0] == '-' || body[0] == '+' || body[0] == ' ') ? 1 : 0;
            body.insert(sign, pad, '0');
        } else body.insert(0, pad, ' ');
    }
    return body + suffix;
}

const double named_edges[] = {
    0.0, -0.0, 1.0, -1.0, 0.1, 1.0 / 3, 2.9315e2, 1.25e-3,
    std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
    2.2250738585072009e-308,  // largest denormal
    DBL_MIN, DBL_MAX, -DBL_MAX, 1e100, 1e-100, 1e-99, 9.9999996e+99, 9.9999996e-100,
    9.9999995e+99, 9.99999949999e99, 1e99, 1e-5, 1e22, 1e23, 123456789012345678.0,
    // ties in the decimal digits: 2.5 and 0.125 are exact, so round-half-even decides
    2.5, 3.5, 0.125, 0.375, 1.0000005, 1.00000050000000001, 5e-324, 1.5e300, -7.25e-310,
    std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
};

const char* const e_formats[] = {"%e",    "%E",     "%.0e",  "%.1e",   "%.3e",   "%.9E",
                                 "%.17e", "%.25e",  "%12e",  "%-15e|", "%+e",    "% e",
                                 "% 2.5e", "%015e", "%#.0e", "%+.2E",  "%- 14.4e|"};

TEST(Format, ExponentFormsMatchCLibraryWithThreeDigitExponents) {
    for (const char* format : e_formats)
        for (double value : named_edges)
            EXPECT_EQ(format_string(format, value), reference_field(format, value, 3))
                << format << " of " << c_library("%.17g", value);
}

TEST(Format, TwoDigitModeIsExactlyTheCLibrary) {
    for (const char* format : e_formats)
        for (double value : named_edges)
            EXPECT_EQ(format_string_with_exponent_digits(2, format, value),
                      c_library(format, value))
                << format << " of " << c_library("%.17g", value);
    // the EnSight ASCII field: 12 characters, a blank for the sign of positive values
    EXPECT_EQ(format_string_with_exponent_digits(2, "% 2.5e", -1.0), "-1.00000e+00");
    EXPECT_EQ(format_string_with_exponent_digits(2, "% 2.5e", 0.5), " 5.00000e-01");
}

TEST(Format, NamedResults) {
    EXPECT_EQ(format_string("%e", 293.15), "2.931500e+002");
    EXPECT_EQ(format_string("%e", 9.9999996e+99), "1.000000e+100");
    EXPECT_EQ(format_string("%e", 1e-300), "1.000000e-300");
    EXPECT_EQ(format_string("%.9E", 3.0), "3.000000000E+000");
    EXPECT_EQ(format_string("%e", -0.0), "-0.000000e+000");
    EXPECT_EQ(format_string("%.0e", 2.5), "2e+000");
    EXPECT_EQ(format_string("%e %d %s\n", 1.0, 7, "x"), "1.000000e+000 7 x\n");
}

TEST(Format, RandomValuesMatchCLibrary) {
    std::mt19937_64 random(20261207);
    std::uniform_int_distribution<int> precision(0, 17);
    const char* const forms[] = {"%.*e", "%.*E", "% .*e", "%+.*e"};
    for (int i = 0; i < 40000; ++i) {
        double value;
        if (i % 2 == 0) {
            // every bit pattern: denormals and extreme exponents included
            std::uint64_t bits = random();
            std::memcpy(&value, &bits, sizeof value);
            if (!std::isfinite(value)) continue;
        } else {
            // values of the size the results hold, where ties in the last digit are common
            value = std::ldexp(static_cast<double>(random() >> 11), -40 + static_cast<int>(random() % 60));
            if (random() % 2) value = -value;
        }
        int p = precision(random);
        const char* form = forms[i % 4];
        std::string want = c_library(form, p, value);
        ASSERT_EQ(format_string(form, p, value), pad_exponents(want, 3)) << form << " " << p;
        ASSERT_EQ(format_string_with_exponent_digits(2, form, p, value), want)
            << form << " " << p;
    }
}

TEST(Format, SevenDigitExponentFormIsTheCLibraryAtEveryScale) {
    // %e has its own short way for the values results hold; it must give glibc's text to the
    // last digit, also beside the halves it leaves to the long way and beside the decades.
    std::vector<double> values;
    std::mt19937_64 random(7);
    for (int i = 0; i < 200000; ++i) {
        const double mantissa = static_cast<double>(random() >> 11) / 9007199254740992.0;
        values.push_back(std::ldexp(mantissa, -60 + static_cast<int>(random() % 160)));
    }
    for (int decade = -17; decade <= 29; ++decade) {
        const double edges[] = {std::pow(10.0, decade), 9.9999995 * std::pow(10.0, decade),
                                1.0000005 * std::pow(10.0, decade),
                                1.2345675 * std::pow(10.0, decade)};
        for (double edge : edges) {
            double below = edge, above = edge;
            for (int k = 0; k < 40; ++k) {
                values.push_back(below = std::nextafter(below, 0.0));
                values.push_back(above = std::nextafter(above, 1e300));
            }
            values.push_back(edge);
        }
    }
    // Exact halves: integers of eight and more digits ending in 5, and halves of odd ones.
    for (int i = 0; i < 20000; ++i) {
        const long long whole = 10000000 + static_cast<long long>(random() % 90000000);
        values.push_back(static_cast<double>(whole / 10 * 10 + 5));
        values.push_back((2 * static_cast<double>(whole % 10000000) + 1) / 2);
    }
    char ours[64];
    for (double value : values)
        for (double signed_value : {value, -value})
            for (int digits : {2, 3}) {
                const int length = format_exponent_form(ours, signed_value, 6, digits == 3, digits);
                std::string want = c_library(digits == 3 ? "%E" : "%e", signed_value);
                if (digits == 3) want = pad_exponents(want, 3);
                ASSERT_EQ(std::string(ours, length), want) << c_library("%.17g", signed_value);
            }
}

TEST(Format, ShortFixedFormsAreTheCLibrary) {
    // %f up to six decimals has a short way too: the same text as glibc's, halves included.
    std::mt19937_64 random(11);
    std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.125, 0.375, 359.995, 1e-9, -1e-9,
                                  2147483.6475, 21474836.475, 1e300};
    for (int i = 0; i < 40000; ++i) {
        const double mantissa = static_cast<double>(random() >> 11) / 9007199254740992.0;
        values.push_back(std::ldexp(mantissa, -30 + static_cast<int>(random() % 62)));
        // halves at every precision: exact in binary when the decimals are few
        values.push_back((static_cast<double>(random() % 200000) + 0.5) / std::pow(10.0, random() % 4));
    }
    const char* const forms[] = {"%.0f", "%.1f", "%.2f", "%.3f", "%.4f", "%.5f", "%.6f", "%f", "%lf"};
    for (double value : values)
        for (double signed_value : {value, -value})
            for (const char* form : forms)
                ASSERT_EQ(format_string(form, signed_value), c_library(form, signed_value))
                    << form << " of " << c_library("%.17g", signed_value);
}

TEST(Format, FieldsWithoutAFormatAreTheFormattedOnes) {
    std::mt19937_64 random(5);
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (i % 2) value = std::ldexp(static_cast<double>(random() >> 11), -60 + static_cast<int>(random() % 80));
        const long long whole = static_cast<long long>(random()) >> (random() % 64);
        for (int digits : {2, 3}) {
            std::string ours;
            append_exponent(ours, value, digits);
            ASSERT_EQ(ours, format_string_with_exponent_digits(digits, "%e", value));
        }
        std::string fixed, decimal;
        append_fixed(fixed, value, static_cast<int>(i % 7));
        ASSERT_EQ(fixed, format_string("%.*f", i % 7, value));
        append_decimal(decimal, whole);
        ASSERT_EQ(decimal, format_string("%lld", whole));
    }
    // Rows of fields, longer than one piece of the row is made in, non-finite and the
    // widest values among them.
    std::vector<double> row;
    for (int i = 0; i < 41; ++i) row.push_back(std::ldexp(static_cast<double>(random() >> 11), -1100 + 55 * i));
    row[3] = -std::numeric_limits<double>::infinity();
    row[17] = std::nan("");
    row[18] = -std::numeric_limits<double>::max();
    for (std::size_t count : {0, 1, 16, 17, 41}) {
        for (int digits : {2, 3}) {
            std::string ours = "x", theirs = "x";
            append_exponent_fields(ours, row.data(), count, digits);
            for (std::size_t k = 0; k < count; ++k)
                theirs += format_string_with_exponent_digits(digits, " %e", row[k]);
            ASSERT_EQ(ours, theirs) << count << " fields, " << digits << " digits";
        }
    }
}

TEST(Format, OtherConversionsAreTheCLibrary) {
    EXPECT_EQ(format_string("%8d|%-8d|%08d|%+d|% d", 42, -42, -42, 0, 7),
              c_library("%8d|%-8d|%08d|%+d|% d", 42, -42, -42, 0, 7));
    EXPECT_EQ(format_string("%i %d %d", -2147483647 - 1, 2147483647, 0),
              "-2147483648 2147483647 0");
    EXPECT_EQ(format_string("%ld %lld %zu", -5L, 1LL << 40, static_cast<std::size_t>(9)),
              "-5 1099511627776 9");
    EXPECT_EQ(format_string("%.3d|%5.3d", 7, -7), c_library("%.3d|%5.3d", 7, -7));
    for (double value : named_edges) {
        EXPECT_EQ(format_string("%.2f", value), c_library("%.2f", value));
        EXPECT_EQ(format_string("%f|%10.4f|%g|%G|%.12g", value, value, value, value, value),
                  c_library("%f|%10.4f|%g|%G|%.12g", value, value, value, value, value));
    }
    EXPECT_EQ(format_string("%5s|%-5s|%.2s|%c|%x|%X|%o|%%", "ab", "ab", "abc", 'q', 255u, 255u,
                            8u),
              "   ab|ab   |ab|q|ff|FF|10|%");
    EXPECT_EQ(format_string("%*.*e", 16, 2, 1.5), "       1.50e+000");
    EXPECT_EQ(format_string("%-*d|", 4, 3), "3   |");
    std::string long_text(5000, 'x');
    EXPECT_EQ(format_string("[%s]", long_text.c_str()), "[" + long_text + "]");
    EXPECT_EQ(format_string("[%6000s]", "y").size(), 6002u);
}

}  // namespace
