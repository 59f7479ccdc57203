#include "shell/pacing.h"

#include <chrono>
#include <thread>

constexpr int64_t NanosecondsPerSecond = 1'000'000'000;

// Counted from the anchor, not added up, so a period that is not a whole
// number of nanoseconds does not drift.
static int64_t Deadline(const Pacer& pacer) {
    return pacer.anchor + pacer.periods * NanosecondsPerSecond / pacer.stepRate;
}

int StepRate(int refreshRate, int askedRate) {
    int display = refreshRate > 0 ? refreshRate : DefaultRefreshRate;
    return askedRate < display ? askedRate : display;
}

static void Anchor(Pacer& pacer, int64_t now) {
    pacer.anchor = now;
    pacer.periods = 1;
}

void StartPacer(Pacer& pacer, int stepRate, int64_t now) {
    pacer.stepRate = stepRate > 0 ? stepRate : DefaultStepRate;
    Anchor(pacer, now);
}

int64_t NextFrameStart(Pacer& pacer, int64_t now) {
    // A display that syncs held the frame until its refresh, less than a
    // period after its deadline on any display of at least the step rate.
    int64_t deadline = Deadline(pacer);
    ++pacer.periods;
    if (now < deadline) return deadline;
    if (now - deadline >= NanosecondsPerSecond / pacer.stepRate) Anchor(pacer, now);
    return now;
}

int64_t ClockNanoseconds() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
}

void StartPacer(Pacer& pacer, int stepRate) {
    StartPacer(pacer, stepRate, ClockNanoseconds());
}

void WaitForNextFrame(Pacer& pacer) {
    int64_t now = ClockNanoseconds();
    std::this_thread::sleep_for(std::chrono::nanoseconds(NextFrameStart(pacer, now) - now));
}
