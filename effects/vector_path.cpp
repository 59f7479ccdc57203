#include "effects/vector_path.h"

#if defined(__x86_64__)
bool UseAvx2 = __builtin_cpu_supports("avx2");
#else
bool UseAvx2 = false;
#endif
