#include "platform/win32/Waits.h"

#include <cstring>
#include <memory>
#include <thread>

namespace platform::win32 {
namespace {
// Short enough that Cancel takes effect well within half a second.
constexpr std::chrono::milliseconds kSlice{50};
}

bool WaitSliced(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                const std::function<bool()>& done,
                const std::function<std::chrono::steady_clock::time_point()>& lastProgress,
                const WaitRules& rules) {
    const auto limit = std::chrono::milliseconds(rules.limitMs);
    for (;;) {
        if (cv.wait_for(lock, kSlice, done)) return true;
        bool cancelled = false;
        if (rules.cancelled) {
            lock.unlock();
            cancelled = rules.cancelled();
            lock.lock();
            if (done()) return true;
        }
        if (cancelled) {
            ::SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
            return false;
        }
        if (rules.limitMs > 0 && std::chrono::steady_clock::now() - lastProgress() >= limit) {
            ::SetLastError(ERROR_INTERNET_TIMEOUT);
            return false;
        }
    }
}

bool CallBounded(const WaitRules& rules, std::function<intptr_t()> call,
                 std::function<void(intptr_t)> orphan, intptr_t& result, CallState& state) {
    struct Shared {
        std::mutex mu;
        std::condition_variable cv;
        bool done = false, abandoned = false;
        intptr_t result = 0;
        CallState state;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, call = std::move(call), orphan = std::move(orphan)] {
        const intptr_t r = call();
        CallState s;
        s.error = ::GetLastError();
        char text[1024] = {};
        DWORD length = sizeof text;
        if (::InternetGetLastResponseInfoA(&s.replyError, text, &length)) {
            s.replied = true;
            s.reply.assign(text, strnlen(text, sizeof text));
        }
        std::lock_guard<std::mutex> lock(shared->mu);
        if (shared->abandoned) {
            if (orphan) orphan(r);
            return;
        }
        shared->result = r;
        shared->state = std::move(s);
        shared->done = true;
        shared->cv.notify_all();
    }).detach();
    const auto began = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(shared->mu);
    if (!WaitSliced(lock, shared->cv, [&shared] { return shared->done; }, [began] { return began; },
                    rules)) {
        shared->abandoned = true;
        return false;
    }
    result = shared->result;
    state = shared->state;
    ::SetLastError(state.error);
    return true;
}

}  // namespace platform::win32
