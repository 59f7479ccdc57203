// Numbers as the programs' command lines take them: decimal, without a sign
// or spaces, in a range; whole unless read into a double, then with a
// fraction but no exponent.
#pragma once

#include <charconv>
#include <cstring>
#include <type_traits>

// A number from `min` to `max` at the start of `text`: where it ends, or
// nullptr without one.
template <class Number>
const char* ReadLeadingNumber(const char* text, std::type_identity_t<Number> min,
                              std::type_identity_t<Number> max, Number& value) {
    const char* end = text + std::strlen(text);
    std::from_chars_result read;
    if constexpr (std::is_floating_point_v<Number>)
        read = std::from_chars(text, end, value, std::chars_format::fixed);
    else
        read = std::from_chars(text, end, value);
    return read.ec == std::errc() && value >= min && value <= max ? read.ptr : nullptr;
}

// The same, all of `text`.
template <class Number>
bool ReadNumber(const char* text, std::type_identity_t<Number> min,
                std::type_identity_t<Number> max, Number& value) {
    const char* end = ReadLeadingNumber(text, min, max, value);
    return end && *end == '\0';
}
