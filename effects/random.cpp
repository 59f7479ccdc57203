#include "effects/random.h"

// An additive feedback generator over 31 words, its taps 3 apart, seeded by
// the minimal standard generator and run 310 times before its first result.
static constexpr int Degree = 31, Separation = 3, Discarded = 310;
static struct {
    uint32_t state[Degree];
    int front, rear; // front runs Separation words ahead of rear, around the ring
} Random;

static uint32_t Step() {
    uint32_t value = Random.state[Random.front] += Random.state[Random.rear];
    Random.front = (Random.front + 1) % Degree;
    Random.rear = (Random.rear + 1) % Degree;
    return value;
}

void SeedRandom(unsigned seed) {
    int32_t word = seed ? static_cast<int32_t>(seed) : 1; // a seed of 0 would stay 0
    Random.state[0] = static_cast<uint32_t>(word);
    for (int i = 1; i < Degree; ++i) {
        // 16807 × word mod 2^31 − 1, without overflowing 32 bits.
        int64_t high = word / 127773, low = word % 127773;
        word = static_cast<int32_t>(16807 * low - 2836 * high);
        if (word < 0) word += 2147483647;
        Random.state[i] = static_cast<uint32_t>(word);
    }
    Random.front = Separation;
    Random.rear = 0;
    for (int i = 0; i < Discarded; ++i) Step();
}

int32_t NextRandom() {
    return static_cast<int32_t>(Step() >> 1); // the lowest bit is the least random
}
