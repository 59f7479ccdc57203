#include "platform/thread.h"

#include <SDL.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <pthread.h>
#include <system_error>
#include <thread>

struct Signal {
    std::mutex lock;
    std::condition_variable arrived;
    bool sent;
};

Signal* CreateSignal() {
    return new (std::nothrow) Signal{};
}

void DestroySignal(Signal* signal) {
    delete signal;
}

void SendSignal(Signal* signal) {
    std::lock_guard hold(signal->lock);
    signal->sent = true;
    signal->arrived.notify_all();
}

bool WaitForSignalMilliseconds(Signal* signal, uint32_t milliseconds) {
    std::unique_lock hold(signal->lock);
    return signal->arrived.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                    [signal] { return signal->sent; });
}

bool StartThread(void (*entry)(), const char* name, bool raisedPriority) {
    try {
        // Nobody joins the thread: it reports its end with a signal.
        std::thread([=] {
            pthread_setname_np(pthread_self(), name);
            if (raisedPriority) SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);
            entry();
            SDL_TLSCleanup(); // what SDL keeps for this thread (its error text), as its own threads
                              // do
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void PauseMilliseconds(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
