#include "shell/pacing.h"

#include <chrono>
#include <thread>

constexpr int64_t NanosecondsPerSecond = 1'000'000'000;

// Counted from the anchor, not added up, so a period that is not a whole
// number of nanoseconds does not drift.
static int64_t Deadline(const Pacer& pacer) {
    return pacer.anchor + pacer.periods * NanosecondsPerSecond / pacer.refreshRate;
}

static void Anchor(Pacer& pacer, int64_t now) {
    pacer.anchor = now;
    pacer.periods = 1;
}

void StartPacer(Pacer& pacer, int refreshRate, int64_t now) {
    pacer.refreshRate = refreshRate > 0 ? refreshRate : DefaultRefreshRate;
    Anchor(pacer, now);
}

int64_t NextFrameStart(Pacer& pacer, int64_t now) {
    // A display that syncs held the frame until its refresh, so it is shown
    // about its deadline, and the next period starts from it.
    int64_t deadline = Deadline(pacer);
    if (now >= deadline) {
        Anchor(pacer, now);
        return now;
    }
    ++pacer.periods;
    return deadline;
}

int64_t ClockNanoseconds() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
}

void StartPacer(Pacer& pacer, int refreshRate) {
    StartPacer(pacer, refreshRate, ClockNanoseconds());
}

void WaitForNextFrame(Pacer& pacer) {
    int64_t now = ClockNanoseconds();
    std::this_thread::sleep_for(std::chrono::nanoseconds(NextFrameStart(pacer, now) - now));
}
