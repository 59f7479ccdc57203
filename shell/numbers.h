// Numbers as the programs' command lines take them: decimal, without a sign
// or spaces, in a range; whole unless read into a double, then with a
// fraction but no exponent.
#pragma once

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <type_traits>

// A number from `min` to `max` at the start of `text`: where it ends, or
// nullptr without one.
template <class Number>
const char* ReadLeadingNumber(const char* text, std::type_identity_t<Number> min,
                              std::type_identity_t<Number> max, Number& value) {
    if constexpr (std::is_floating_point_v<Number>) {
        // Digits and a point only, read by strtod: the page's library has no
        // from_chars for floating point.
        const size_t plain = std::strspn(text, "0123456789.");
        char* end = nullptr;
        value = std::isdigit(static_cast<unsigned char>(*text)) ? std::strtod(text, &end) : -1;
        return end == text + plain && value >= min && value <= max ? end : nullptr;
    } else {
        const std::from_chars_result read = std::from_chars(text, text + std::strlen(text), value);
        return read.ec == std::errc() && value >= min && value <= max ? read.ptr : nullptr;
    }
}

// The same, all of `text`.
template <class Number>
bool ReadNumber(const char* text, std::type_identity_t<Number> min,
                std::type_identity_t<Number> max, Number& value) {
    const char* end = ReadLeadingNumber(text, min, max, value);
    return end && *end == '\0';
}
