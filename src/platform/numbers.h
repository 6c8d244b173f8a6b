// platform/numbers.h: lenient number conversion with the C library's semantics, and the
// word splitting every input reader shares.
//
// Conversion stops at the first character that does not fit and a word that is not a
// number reads as 0, exactly as strtod and strtol answer; the common forms take a fast path.
#pragma once

#include <string_view>

double read_real(std::string_view word);       // strtod's answer; "abc" reads as 0
int read_int(std::string_view word);           // base 10; "1.5" reads as 1
int read_int_any_base(std::string_view word);  // 0x hex, leading-0 octal, as "%i" reads

// Number of leading characters of `word` that strtod would consume (0 when none).
// Lets a reader tell "12" from "12abc" or "abc".
std::size_t real_prefix_length(std::string_view word);

// Whether the whole word is one number: "0.16x" and "12abc" are not (a "%lf" or "%i"
// conversion would stop inside them and leave the rest of the line unread).
bool is_whole_real(std::string_view word);
bool is_whole_integer_any_base(std::string_view word);  // as "%i": 0x hex, leading-0 octal

// The two above in one pass, for readers that refuse a word that is not wholly a number:
// false when is_whole_* would say no, else the value read_real or read_int_any_base gives.
bool read_whole_real(std::string_view word, double& value);
bool read_whole_integer_any_base(std::string_view word, int& value);

constexpr std::string_view blank_separators = " \t\r\n";

// strtok without the writes: skips separators, then takes the word up to the next one.
// Returns false when only separators are left. A plain loop: string_view's find_first_of
// calls memchr once per character, which made word splitting the bulk of reading a file.
inline bool next_word(std::string_view& rest, std::string_view& word,
                      std::string_view separators = blank_separators) {
    auto is_separator = [separators](char c) {
        for (char s : separators)
            if (c == s) return true;
        return false;
    };
    const char* p = rest.data();
    const char* end = p + rest.size();
    while (p < end && is_separator(*p)) ++p;
    if (p == end) {
        rest = {};
        return false;
    }
    const char* begin = p;
    while (p < end && !is_separator(*p)) ++p;
    word = std::string_view(begin, p - begin);
    rest = std::string_view(p, end - p);
    return true;
}
