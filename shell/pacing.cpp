#include "shell/pacing.h"

#include <chrono>
#include <cstdint>
#include <thread>

static int64_t HalfPeriod(int rate) {
    return NanosecondsPerSecond / (2 * rate);
}

uint32_t StepMilliseconds(uint32_t step, int rate) {
    return static_cast<uint32_t>(uint64_t{step} * 1000 / static_cast<uint64_t>(rate));
}

// floor(k × 1000 / rate) < ms exactly while k × 1000 < ms × rate.
uint32_t StepsBefore(uint32_t ms, int rate) {
    return static_cast<uint32_t>((uint64_t{ms} * static_cast<uint64_t>(rate) + 999) / 1000);
}

// The steps up to and including `ms`, less one.
uint32_t StepAt(uint32_t ms, int rate) {
    return static_cast<uint32_t>(((uint64_t{ms} + 1) * static_cast<uint64_t>(rate) + 999) / 1000 -
                                 1);
}

uint32_t StepsDue(int64_t showTime, int rate) {
    int64_t early = showTime + HalfPeriod(rate);
    if (early < 0) return 0;
    int64_t ms = early / NanosecondsPerMillisecond + 1;
    return StepsBefore(ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms), rate);
}

int64_t StepDueAt(uint32_t step, int rate) {
    return int64_t{StepMilliseconds(step, rate)} * NanosecondsPerMillisecond - HalfPeriod(rate);
}

int64_t ClockNanoseconds() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
}

void SleepUntil(int64_t time) {
    int64_t now = ClockNanoseconds();
    if (time > now) std::this_thread::sleep_for(std::chrono::nanoseconds(time - now));
}
