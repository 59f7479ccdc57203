// Float to integer as the effects need it: toward zero, to a signed 32-bit value.
#pragma once

#include <cstdint>
#include <immintrin.h>

// The conversion instruction itself: values outside the 32-bit range (and NaN)
// give INT32_MIN, where a C++ cast would be undefined, and no range test is paid.
inline int32_t TruncateToInt32(float value) {
    return _mm_cvtt_ss2si(_mm_set_ss(value));
}
