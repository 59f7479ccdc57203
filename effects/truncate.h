// Float to integer as the effects need it: toward zero, to a signed 32-bit value.
#pragma once

#include <cstdint>

// Values outside the 32-bit range (and NaN) give INT32_MIN, where a C++ cast
// would be undefined.
inline int32_t TruncateToInt32Portable(float value) {
    bool inRange = value >= -2147483648.0f && value < 2147483648.0f; // false for NaN
    return inRange ? static_cast<int32_t>(value) : INT32_MIN;
}

// On x86-64 the conversion instruction itself gives INT32_MIN out of range, so
// no range test is paid there.
#if defined(__x86_64__)
#include <immintrin.h>

inline int32_t TruncateToInt32(float value) {
    return _mm_cvtt_ss2si(_mm_set_ss(value));
}
#else
inline int32_t TruncateToInt32(float value) {
    return TruncateToInt32Portable(value);
}
#endif
