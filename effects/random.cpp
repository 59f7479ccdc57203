#include "effects/random.h"

// An additive feedback generator over 31 words, its taps 3 apart, seeded by
// the minimal standard generator and run 310 times before its first result.
static constexpr int Degree = 31, Separation = 3, Discarded = 310;
static uint32_t State[Degree];
static int Front, Rear; // Front runs Separation words ahead of Rear, around the ring

static uint32_t Step() {
    uint32_t value = State[Front] += State[Rear];
    Front = (Front + 1) % Degree;
    Rear = (Rear + 1) % Degree;
    return value;
}

void SeedRandom(unsigned seed) {
    int32_t word = seed ? static_cast<int32_t>(seed) : 1; // a seed of 0 would stay 0
    State[0] = static_cast<uint32_t>(word);
    for (int i = 1; i < Degree; ++i) {
        // 16807 × word mod 2^31 − 1, without overflowing 32 bits.
        int64_t high = word / 127773, low = word % 127773;
        word = static_cast<int32_t>(16807 * low - 2836 * high);
        if (word < 0) word += 2147483647;
        State[i] = static_cast<uint32_t>(word);
    }
    Front = Separation;
    Rear = 0;
    for (int i = 0; i < Discarded; ++i) Step();
}

int32_t NextRandom() {
    return static_cast<int32_t>(Step() >> 1); // the lowest bit is the least random
}
