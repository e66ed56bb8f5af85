#include "platform/win32/Waits.h"

#include <cstring>
#include <memory>

namespace platform::win32 {
namespace {
// Short enough that Cancel takes effect well within half a second.
constexpr std::chrono::milliseconds kSlice{50};
// A call that is about to end when Cancel is clicked (a transfer's close waiting for the
// server's verdict, the deletion of what it left) gets this long to end by itself: what it
// cleans up stays clean, and the cancel still ends the wait within half a second.
constexpr std::chrono::milliseconds kCancelGrace{400};

DWORD WINAPI RunDetached(LPVOID work) {  // owns `work`
    std::unique_ptr<std::function<void()>> w(static_cast<std::function<void()>*>(work));
    (*w)();
    return 0;
}
}

void StartDetached(std::function<void()> work) {
    auto* owned = new std::function<void()>(std::move(work));
    HANDLE thread = ::CreateThread(nullptr, 0, RunDetached, owned, 0, nullptr);
    if (!thread) {
        // No thread: the work runs here, so that a caller is never left waiting for nothing.
        std::unique_ptr<std::function<void()>> w(owned);
        (*w)();
        return;
    }
    ::CloseHandle(thread);
}

bool WaitSliced(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                const std::function<bool()>& done,
                const std::function<std::chrono::steady_clock::time_point()>& lastProgress,
                const WaitRules& rules) {
    const auto limit = std::chrono::milliseconds(rules.limitMs);
    std::chrono::steady_clock::time_point cancelSeen{};
    bool seen = false;
    for (;;) {
        if (cv.wait_for(lock, kSlice, done)) return true;
        bool cancelled = false;
        if (rules.cancelled) {
            lock.unlock();
            cancelled = rules.cancelled();
            lock.lock();
            if (done()) return true;
        }
        if (cancelled && !seen) {
            seen = true;
            cancelSeen = std::chrono::steady_clock::now();
        }
        if (cancelled && std::chrono::steady_clock::now() - cancelSeen >= kCancelGrace) {
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
    StartDetached([shared, call = std::move(call), orphan = std::move(orphan)] {
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
    });
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
