#include "effects/vector_path.h"

bool UseAvx2 = __builtin_cpu_supports("avx2");
