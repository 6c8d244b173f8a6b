// platform/numbers.cpp: strtod/strtol answers, fast where from_chars gives the same value.
//
// from_chars refuses a leading '+', leading blanks and hex, and leaves the value alone when
// out of range, where strtod accepts all of them and answers inf or a tiny value: such words
// go to the C library, so the two paths never differ.
#include "platform/numbers.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Copies the word into a NUL-terminated buffer for the C library.
struct CWord {
    char small[128];
    std::string large;
    const char* text;
    explicit CWord(std::string_view word) {
        if (word.size() < sizeof small) {
            std::memcpy(small, word.data(), word.size());
            small[word.size()] = 0;
            text = small;
        } else {
            large.assign(word);
            text = large.c_str();
        }
    }
};

bool needs_c_library(std::string_view word) {
    if (word.empty()) return false;
    char c = word[0];
    if (c == '+' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
        return true;
    std::size_t i = (c == '-') ? 1 : 0;
    if (i < word.size() && word[i] == '-') return false;  // "--1" is no number either way
    return i + 1 < word.size() && word[i] == '0' && (word[i + 1] == 'x' || word[i + 1] == 'X');
}

int clamp_to_int(long long value) {
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

long long c_library_integer(std::string_view word, int base) {
    CWord c(word);
    errno = 0;
    return std::strtoll(c.text, nullptr, base);
}

}  // namespace

double read_real(std::string_view word) {
    if (!needs_c_library(word)) {
        double value = 0;
        auto result = std::from_chars(word.data(), word.data() + word.size(), value,
                                      std::chars_format::general);
        if (result.ec == std::errc()) return value;
        if (result.ec == std::errc::invalid_argument) return 0.0;
    }
    CWord c(word);
    return std::strtod(c.text, nullptr);
}

std::size_t real_prefix_length(std::string_view word) {
    CWord c(word);
    char* end = nullptr;
    std::strtod(c.text, &end);
    return static_cast<std::size_t>(end - c.text);
}

bool is_whole_real(std::string_view word) {
    if (word.empty()) return false;
    double value;
    auto result = std::from_chars(word.data(), word.data() + word.size(), value);
    if (result.ec == std::errc() && result.ptr == word.data() + word.size()) return true;
    return real_prefix_length(word) == word.size();  // '+', hex, out-of-range forms
}

bool is_whole_integer_any_base(std::string_view word) {
    std::size_t i = (!word.empty() && (word[0] == '-' || word[0] == '+')) ? 1 : 0;
    if (i == word.size()) return false;
    if (word[i] != '0') {
        for (std::size_t k = i; k < word.size(); ++k)
            if (word[k] < '0' || word[k] > '9') return false;
        return true;
    }
    CWord c(word);
    char* end = nullptr;
    std::strtoll(c.text, &end, 0);
    return static_cast<std::size_t>(end - c.text) == word.size();
}

int read_int(std::string_view word) {
    if (!word.empty() && word[0] != '+' && word[0] > ' ') {
        long long value = 0;
        auto result = std::from_chars(word.data(), word.data() + word.size(), value, 10);
        if (result.ec == std::errc()) return clamp_to_int(value);
        if (result.ec == std::errc::invalid_argument) return 0;
    }
    return clamp_to_int(c_library_integer(word, 10));
}

int read_int_any_base(std::string_view word) {
    // Plain decimals without a leading zero are the common case.
    std::size_t i = (!word.empty() && word[0] == '-') ? 1 : 0;
    if (i < word.size() && word[i] >= '1' && word[i] <= '9') {
        long long value = 0;
        auto result = std::from_chars(word.data(), word.data() + word.size(), value, 10);
        if (result.ec == std::errc()) return clamp_to_int(value);
    }
    return clamp_to_int(c_library_integer(word, 0));
}

// A word from_chars takes whole starts with neither '+', a blank nor "0x", so read_real
// would answer from_chars' value too.
bool read_whole_real(std::string_view word, double& value) {
    const char* end = word.data() + word.size();
    auto result = std::from_chars(word.data(), end, value);
    if (!word.empty() && result.ec == std::errc() && result.ptr == end) return true;
    if (!is_whole_real(word)) return false;
    value = read_real(word);
    return true;
}

bool read_whole_integer_any_base(std::string_view word, int& value) {
    // Plain decimals without a leading zero, short enough not to overflow: the common case.
    const char* p = word.data();
    const char* end = p + word.size();
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    if (p < end && *p >= '1' && *p <= '9' && end - p <= 18) {
        long long magnitude = 0;
        for (; p < end; ++p) {
            unsigned digit = static_cast<unsigned>(*p - '0');
            if (digit > 9) break;
            magnitude = magnitude * 10 + digit;
        }
        if (p == end) {
            value = clamp_to_int(negative ? -magnitude : magnitude);
            return true;
        }
    }
    if (!is_whole_integer_any_base(word)) return false;
    value = read_int_any_base(word);
    return true;
}
