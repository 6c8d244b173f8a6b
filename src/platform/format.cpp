// platform/format.cpp: printf with the reference platform's exponent width.
//
// %e and %E are formatted with std::to_chars (exact, as glibc's printf is) and their
// exponent padded to the width the caller asks for; every other conversion goes to
// snprintf, one conversion at a time, so its behaviour is the C library's.
#include "platform/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

struct Spec {
    bool left = false, plus = false, space = false, alternate = false, zero = false;
    int width = -1;
    int precision = -1;
    char length[3] = {0, 0, 0};
    char conversion = 0;
};

void append_padded(std::string& out, const char* body, int body_length, const Spec& spec,
                   bool numeric) {
    int pad = spec.width > body_length ? spec.width - body_length : 0;
    if (pad == 0) {
        out.append(body, body_length);
    } else if (spec.left) {
        out.append(body, body_length);
        out.append(pad, ' ');
    } else if (spec.zero && numeric) {
        // zeros go between the sign and the digits
        int sign = (body_length > 0 && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) ? 1 : 0;
        out.append(body, sign);
        out.append(pad, '0');
        out.append(body + sign, body_length - sign);
    } else {
        out.append(pad, ' ');
        out.append(body, body_length);
    }
}

void append_exponent_field(std::string& out, double value, const Spec& spec,
                           int exponent_digits) {
    char body[400];
    int length = 0;
    bool finite = std::isfinite(value);
    if (finite && !std::signbit(value)) {
        if (spec.plus) body[length++] = '+';
        else if (spec.space) body[length++] = ' ';
    }
    int precision = spec.precision < 0 ? 6 : spec.precision;
    if (precision > 350) precision = 350;  // beyond any double's digits; keeps the buffer bounded
    if (!finite) {
        char format[8] = "%";
        int f = 1;
        if (spec.plus) format[f++] = '+';
        else if (spec.space) format[f++] = ' ';
        format[f++] = spec.conversion;
        format[f] = 0;
        length = std::snprintf(body, sizeof body, format, value);
    } else {
        length += format_exponent_form(body + length, value, precision,
                                       spec.conversion == 'E', exponent_digits);
        if (spec.alternate && precision == 0) {
            // "#" keeps the point: 3.e+000
            char* e = static_cast<char*>(std::memchr(body, spec.conversion, length));
            if (e) {
                std::memmove(e + 1, e, body + length - e);
                *e = '.';
                ++length;
            }
        }
    }
    append_padded(out, body, length, spec, finite);
}

void append_integer(std::string& out, long long value, const Spec& spec) {
    if (spec.width < 0 && spec.precision < 0 && !spec.plus && !spec.space) {
        char body[24];
        auto result = std::to_chars(body, body + sizeof body, value);
        out.append(body, result.ptr - body);
        return;
    }
    char format[32];
    std::snprintf(format, sizeof format, "%%%s%s%s%s*.*lld", spec.left ? "-" : "",
                  spec.plus ? "+" : "", spec.space ? " " : "", spec.zero ? "0" : "");
    char body[64];
    int n = std::snprintf(body, sizeof body, format, spec.width < 0 ? 0 : spec.width,
                          spec.precision, value);
    if (n < static_cast<int>(sizeof body)) {
        out.append(body, n);
    } else {
        std::string wide(n + 1, '\0');
        std::snprintf(wide.data(), wide.size(), format, spec.width < 0 ? 0 : spec.width,
                      spec.precision, value);
        out.append(wide.data(), n);
    }
}

// Formats one conversion other than %e/%E/%d/%i through snprintf, rebuilding its spec.
template <typename T>
void append_with_c_library(std::string& out, const Spec& spec, T value) {
    char format[32];
    int f = 0;
    format[f++] = '%';
    if (spec.left) format[f++] = '-';
    if (spec.plus) format[f++] = '+';
    if (spec.space) format[f++] = ' ';
    if (spec.alternate) format[f++] = '#';
    if (spec.zero) format[f++] = '0';
    format[f++] = '*';
    format[f++] = '.';
    format[f++] = '*';
    for (char c : spec.length)
        if (c) format[f++] = c;
    format[f++] = spec.conversion;
    format[f] = 0;
    int width = spec.width < 0 ? 0 : spec.width;
    char body[128];
    int n = std::snprintf(body, sizeof body, format, width, spec.precision, value);
    if (n < 0) return;
    if (n < static_cast<int>(sizeof body)) {
        out.append(body, n);
        return;
    }
    std::size_t old = out.size();
    out.resize(old + n + 1);
    std::snprintf(out.data() + old, n + 1, format, width, spec.precision, value);
    out.resize(old + n);
}

}  // namespace

namespace {

constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// |value| times 10^n, rounded once: 10^n is exact up to 10^22.
inline double times_power_of_ten(double value, int n) {
    return n >= 0 ? value * exact_powers_of_ten[n] : value / exact_powers_of_ten[-n];
}

// %e's seven significant digits, the map files' every number, without the general
// conversion: the digits are |value| scaled into [10^6, 10^7) by one exact power of ten and
// rounded, and one rounding puts the scaled value within 2^-53 of the exact one, so only
// a value within that of a half is in doubt; those go the long way (false), as do zero,
// extreme exponents and other precisions.
bool seven_digits(char* buffer, double value, bool upper_case, int min_exponent_digits,
                  int& length) {
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-15 && magnitude < 1e28)) return false;
    std::uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    const int binary_exponent = static_cast<int>(bits >> 52) - 1023;  // floor(log2): normal here
    // floor(log10(magnitude)), or one less: 78913 / 2^18 is log10(2) from below, and the
    // shift floors negative products too.
    int exponent = (binary_exponent * 78913) >> 18;
    double scaled = times_power_of_ten(magnitude, 6 - exponent);
    if (scaled >= 1e7) scaled = times_power_of_ten(magnitude, 6 - ++exponent);
    // Positive and below 2^24: truncation is the floor, without a call for it.
    const double whole = static_cast<double>(static_cast<long>(scaled));
    const double fraction = scaled - whole;  // exact: scaled is below 2^24
    if (std::fabs(fraction - 0.5) < 1e-7) return false;
    long digits = static_cast<long>(whole) + (fraction > 0.5);
    if (digits >= 10000000) {
        digits /= 10;  // 9999999.5 and up: 1000000, one decade higher
        ++exponent;
    }
    if (digits < 1000000) return false;  // scaled fell just short of the decade: not worth it
    char* at = buffer;
    if (std::signbit(value)) *at++ = '-';
    // The first digit, the point, then three pairs: short chains of divisions.
    const int first = static_cast<int>(digits / 1000000);
    int rest = static_cast<int>(digits - first * 1000000L);
    *at++ = static_cast<char>('0' + first);
    *at++ = '.';
    const unsigned below = static_cast<unsigned>(rest);
    std::memcpy(at, digit_pairs + 2 * (below / 10000), 2);
    std::memcpy(at + 2, digit_pairs + 2 * (below / 100 % 100), 2);
    std::memcpy(at + 4, digit_pairs + 2 * (below % 100), 2);
    at += 6;
    *at++ = upper_case ? 'E' : 'e';
    *at++ = exponent < 0 ? '-' : '+';
    const int shown = exponent < 0 ? -exponent : exponent;
    // Below 100 in this range: zeros up to the width, then one pair.
    for (int zeros = min_exponent_digits - 2; zeros > 0; --zeros) *at++ = '0';
    std::memcpy(at, digit_pairs + 2 * shown, 2);
    at += 2;
    length = static_cast<int>(at - buffer);
    return true;
}

// %f with at most six decimals (the vertex map's angles) for a value of modest size, the
// same way as seven_digits: one exact scaling, the long way only near a half. False when it
// does not apply.
bool append_short_fixed(std::string& out, double value, int precision) {
    if (precision < 0) precision = 6;
    if (precision > 6) return false;
    const double scaled = times_power_of_ten(std::fabs(value), precision);
    if (!(scaled < 2147483648.0)) return false;  // NaN too
    const double whole = static_cast<double>(static_cast<long>(scaled));
    const double fraction = scaled - whole;  // exact below 2^31
    if (std::fabs(fraction - 0.5) < 1e-5) return false;
    long digits = static_cast<long>(whole) + (fraction > 0.5);
    char text[32];
    char* end = text + sizeof text;
    char* at = end;
    for (int k = 0; k < precision; ++k) {
        *--at = static_cast<char>('0' + digits % 10);
        digits /= 10;
    }
    if (precision > 0) *--at = '.';
    do {
        *--at = static_cast<char>('0' + digits % 10);
        digits /= 10;
    } while (digits > 0);
    if (std::signbit(value)) *--at = '-';  // -0.00 too, as printf writes it
    out.append(at, end - at);
    return true;
}

}  // namespace

int format_exponent_form(char* buffer, double value, int precision, bool upper_case,
                         int min_exponent_digits) {
    int length = 0;
    if (precision == 6 && seven_digits(buffer, value, upper_case, min_exponent_digits, length))
        return length;
    if (!std::isfinite(value)) {
        return std::snprintf(buffer, 40, upper_case ? "%E" : "%e", value);
    }
    auto result = std::to_chars(buffer, buffer + precision + 16, value, std::chars_format::scientific,
                                precision);
    char* end = result.ptr;
    // to_chars writes "d.ddde+XX" with at least two exponent digits
    char* e = static_cast<char*>(std::memchr(buffer, 'e', end - buffer));
    if (upper_case) *e = 'E';
    char* digits = e + 2;
    int have = static_cast<int>(end - digits);
    if (have < min_exponent_digits) {
        int add = min_exponent_digits - have;
        std::memmove(digits + add, digits, have);
        std::memset(digits, '0', add);
        end += add;
    }
    return static_cast<int>(end - buffer);
}

void format_append(std::string& out, const char* format, std::va_list args,
                   int exponent_digits) {
    const char* p = format;
    while (*p) {
        const char* percent = std::strchr(p, '%');
        if (!percent) {
            out.append(p);
            return;
        }
        out.append(p, percent - p);
        p = percent + 1;
        if (*p == '%') {
            out.push_back('%');
            ++p;
            continue;
        }
        Spec spec;
        for (;; ++p) {
            if (*p == '-') spec.left = true;
            else if (*p == '+') spec.plus = true;
            else if (*p == ' ') spec.space = true;
            else if (*p == '#') spec.alternate = true;
            else if (*p == '0') spec.zero = true;
            else break;
        }
        if (*p == '*') {
            spec.width = va_arg(args, int);
            if (spec.width < 0) {
                spec.left = true;
                spec.width = -spec.width;
            }
            ++p;
        } else if (*p >= '0' && *p <= '9') {
            spec.width = 0;
            while (*p >= '0' && *p <= '9') spec.width = spec.width * 10 + (*p++ - '0');
        }
        if (*p == '.') {
            ++p;
            spec.precision = 0;
            if (*p == '*') {
                spec.precision = va_arg(args, int);
                ++p;
            } else {
                while (*p >= '0' && *p <= '9') spec.precision = spec.precision * 10 + (*p++ - '0');
            }
        }
        int l = 0;
        while ((*p == 'h' || *p == 'l' || *p == 'L' || *p == 'z' || *p == 'j' || *p == 't') && l < 2)
            spec.length[l++] = *p++;
        spec.conversion = *p;
        if (!*p) return;
        ++p;
        switch (spec.conversion) {
        case 'e':
        case 'E': {
            double value = spec.length[0] == 'L' ? static_cast<double>(va_arg(args, long double))
                                                 : va_arg(args, double);
            append_exponent_field(out, value, spec, exponent_digits);
            break;
        }
        case 'd':
        case 'i': {
            long long value;
            if (spec.length[0] == 'l' && spec.length[1] == 'l') value = va_arg(args, long long);
            else if (spec.length[0] == 'l' || spec.length[0] == 'z' || spec.length[0] == 'j' ||
                     spec.length[0] == 't')
                value = va_arg(args, long);
            else value = va_arg(args, int);
            if (spec.length[0] == 'h' && spec.length[1] == 'h') value = static_cast<signed char>(value);
            else if (spec.length[0] == 'h') value = static_cast<short>(value);
            append_integer(out, value, spec);
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            if (spec.length[0] == 'l' && spec.length[1] == 'l')
                append_with_c_library(out, spec, va_arg(args, unsigned long long));
            else if (spec.length[0] == 'l' || spec.length[0] == 'z')
                append_with_c_library(out, spec, va_arg(args, unsigned long));
            else append_with_c_library(out, spec, va_arg(args, unsigned int));
            break;
        case 'c':
            append_with_c_library(out, spec, va_arg(args, int));
            break;
        case 's': {
            const char* text = va_arg(args, const char*);
            if (!text) text = "(null)";
            if (spec.width < 0 && spec.precision < 0) out.append(text);
            else append_with_c_library(out, spec, text);
            break;
        }
        case 'p':
            append_with_c_library(out, spec, va_arg(args, void*));
            break;
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (spec.length[0] == 'L') {
                Spec plain = spec;
                plain.length[0] = 0;
                append_with_c_library(out, plain, static_cast<double>(va_arg(args, long double)));
            } else {
                const double value = va_arg(args, double);
                if (spec.conversion == 'f' && spec.width < 0 && !spec.plus && !spec.space &&
                    !spec.alternate && append_short_fixed(out, value, spec.precision))
                    break;
                Spec plain = spec;
                plain.length[0] = 0;  // %lf is %f
                append_with_c_library(out, plain, value);
            }
            break;
        default:
            // an unknown conversion is printed as written
            out.push_back('%');
            out.push_back(spec.conversion);
            break;
        }
    }
}

std::string format_string(const char* format, ...) {
    std::string out;
    std::va_list args;
    va_start(args, format);
    format_append(out, format, args);
    va_end(args);
    return out;
}

std::string format_string_with_exponent_digits(int exponent_digits, const char* format, ...) {
    std::string out;
    std::va_list args;
    va_start(args, format);
    format_append(out, format, args, exponent_digits);
    va_end(args);
    return out;
}

void append_exponent(std::string& out, double value, int exponent_digits) {
    char body[64];
    out.append(body, format_exponent_form(body, value, 6, false, exponent_digits));
}

void append_exponent_fields(std::string& out, const double* values, std::size_t count,
                            int exponent_digits) {
    constexpr std::size_t chunk = 16;
    constexpr int widest = 1 + 6 + 16;  // a space and format_exponent_form's room
    char text[chunk * widest + 40];     // and the C library's room for a non-finite value
    for (std::size_t first = 0; first < count; first += chunk) {
        int length = 0;
        for (std::size_t k = first; k < std::min(count, first + chunk); ++k) {
            text[length++] = ' ';
            length += format_exponent_form(text + length, values[k], 6, false, exponent_digits);
        }
        out.append(text, length);
    }
}

void append_decimal(std::string& out, long long value) {
    char body[24];
    const auto result = std::to_chars(body, body + sizeof body, value);
    out.append(body, result.ptr - body);
}

void append_fixed(std::string& out, double value, int precision) {
    if (append_short_fixed(out, value, precision)) return;
    Spec spec;
    spec.precision = precision;
    spec.conversion = 'f';
    append_with_c_library(out, spec, value);
}
