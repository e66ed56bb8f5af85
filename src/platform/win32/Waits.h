#pragma once
// How the user-interface thread waits for a network call made on a helper thread: in short
// slices, giving the run's hook a turn in each (it processes messages and says whether the
// user cancelled), for at most the stall limit since the last sign of progress. Under Wine
// neither WinInet's time-outs nor closing a handle wakes a blocked call, so the caller stops
// waiting instead and lets the helper finish on its own.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/win32/Win.h"

namespace platform::win32 {

struct WaitRules {
    DWORD limitMs = 0;                // 0: no limit
    std::function<bool()> cancelled;  // may be empty
    bool Active() const { return limitMs > 0 || static_cast<bool>(cancelled); }
};

// Waits until `done()` (checked under `lock`). False with the last error set when the limit
// passed since `lastProgress()` (ERROR_INTERNET_TIMEOUT) or the hook has said cancel for
// 0.4 s (ERROR_INTERNET_OPERATION_CANCELLED). The hook runs with `lock` released.
bool WaitSliced(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                const std::function<bool()>& done,
                const std::function<std::chrono::steady_clock::time_point()>& lastProgress,
                const WaitRules& rules);

// Runs `work` on a new thread nobody joins. A Win32 thread, not std::thread: under Wine a
// detached pthread of the MinGW runtime now and then ends before its routine runs.
void StartDetached(std::function<void()> work);

// What a call made on a helper thread left in that thread's state.
struct CallState {
    DWORD error = 0;
    bool replied = false;  // InternetGetLastResponseInfoA had something
    DWORD replyError = 0;
    std::string reply;
};

// Runs `call` on a helper thread under `rules`; true when it returned in time (`result` and
// `state` are then its own). A call given up on ends alone; `orphan` (may be empty) then
// disposes of its result.
bool CallBounded(const WaitRules& rules, std::function<intptr_t()> call,
                 std::function<void(intptr_t)> orphan, intptr_t& result, CallState& state);

}  // namespace platform::win32
