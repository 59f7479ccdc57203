#include "effects/vector_path.h"

#if defined(__x86_64__)
bool UseAvx512 = __builtin_cpu_supports("avx512f");
bool UseAvx2 = __builtin_cpu_supports("avx2");
bool UseSse2 = true;
#else
bool UseAvx512 = false;
bool UseAvx2 = false;
bool UseSse2 = false;
#endif
