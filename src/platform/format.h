// platform/format.h: printf-style formatting for every output of the program.
//
// Result files must match those of the reference platform byte for byte, whose C library
// prints "%e" exponents with at least three digits (2.931500e+002). format_append does that
// by default; an output file may ask for two (OutFile::exponent_digits), as the EnSight ASCII
// files do.
#pragma once

#include <cstdarg>
#include <string>

// Appends the formatted text to `out`. Conversions are those of C printf; %e and %E get
// exponents of at least exponent_digits digits (2 gives exactly the C library's form).
void format_append(std::string& out, const char* format, std::va_list args,
                   int exponent_digits = 3);
std::string format_string(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string format_string_with_exponent_digits(int exponent_digits, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// One "%e"-style field: precision digits after the point, at least min_exponent_digits in
// the exponent. Writes into `buffer` (room for precision + 16 characters) and returns the length.
// Non-finite values are spelt as the C library spells them.
int format_exponent_form(char* buffer, double value, int precision, bool upper_case,
                         int min_exponent_digits);

// The fields format_append writes for a plain "%e", "%d" and "%.Nf", without a format to
// read: for lines of many numbers.
void append_exponent(std::string& out, double value, int exponent_digits = 3);
// " %e" for each of count values, appended a few dozen at a time rather than one by one.
void append_exponent_fields(std::string& out, const double* values, std::size_t count,
                            int exponent_digits = 3);
void append_decimal(std::string& out, long long value);
void append_fixed(std::string& out, double value, int precision);
