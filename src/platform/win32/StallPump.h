#pragma once
// The blocking reads and writes of one request with a stall limit, made on a helper thread
// that the caller waits for (see Waits.h). A stall is the limit passing with no byte moved:
// the helper stamps every piece that arrives, so a slow but steady line never counts as one,
// however large the read. The helper touches only the request handle and the pump's own
// buffer; a pump given up on lets its helper finish the call on its own (closing the handle
// ends it on Windows, the server's close or the process's end under Wine) and the helper
// then frees what is left.
#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/win32/Waits.h"
#include "platform/win32/Win.h"

namespace platform::win32 {

class StallPump {
public:
    StallPump(HINTERNET request, WaitRules rules);
    ~StallPump();  // joins an idle helper; lets a blocked one go
    StallPump(const StallPump&) = delete;
    StallPump& operator=(const StallPump&) = delete;

    // Reads into `buffer` what has arrived, waiting for the first bytes: up to `size` of them
    // while they keep coming without a wait, fewer when the line pauses, 0 at the end. False
    // with the last error set on failure, ERROR_INTERNET_TIMEOUT after a stall and
    // ERROR_INTERNET_OPERATION_CANCELLED on the user's cancel (the pump is then spent: every
    // later call fails so).
    bool Read(void* buffer, DWORD size, DWORD& got);
    bool Write(const void* buffer, DWORD size, DWORD& written);

    void SetRules(WaitRules rules) { rules_ = std::move(rules); }
    // The error that spent the pump; 0 while it serves.
    DWORD SpentBy() const { return spent_; }
    // How long the helper spent inside the last read or write that ended, without the
    // hand-over between the threads.
    std::chrono::steady_clock::duration LastCallTime() const { return took_; }

    struct Shared;

private:
    bool Call(int op, DWORD size);

    std::shared_ptr<Shared> shared_;
    WaitRules rules_;
    DWORD spent_ = 0;  // the error that spent the pump
    std::chrono::steady_clock::duration took_{};
};

}  // namespace platform::win32
