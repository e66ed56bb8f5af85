#pragma once
// The blocking reads and writes of one request with a stall limit, made on a helper thread
// that the caller waits for at most that long. Under Wine neither WinInet's time-outs nor
// closing the handle from another thread wake a read that waits for its first byte, so the
// caller cannot be freed from inside the call: it stops waiting instead. The helper touches
// only the request handle and the pump's own buffer; a pump given up on lets its helper
// finish the call on its own (closing the handle ends it on Windows, the server's close or
// the process's end under Wine) and the helper then frees what is left.
#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/win32/Win.h"

namespace platform::win32 {

class StallPump {
public:
    StallPump(HINTERNET request, DWORD limitMs);
    ~StallPump();  // joins an idle helper; lets a blocked one go
    StallPump(const StallPump&) = delete;
    StallPump& operator=(const StallPump&) = delete;

    // Reads into `buffer`: with `onlyWhatIsThere`, waits until some bytes are there (or the
    // body ended) and takes up to `size` of them; else reads `size` bytes (fewer at the end),
    // which returns only when all have come. False with the last error set on failure,
    // ERROR_INTERNET_TIMEOUT when the call did not end within the limit (the pump is then
    // spent: every later call fails so).
    bool Read(void* buffer, DWORD size, DWORD& got, bool onlyWhatIsThere);
    bool Write(const void* buffer, DWORD size, DWORD& written);

    void SetLimit(DWORD limitMs) { limit_ = limitMs; }
    // How long the helper spent inside the last read or write that ended, without the
    // hand-over between the threads.
    std::chrono::steady_clock::duration LastCallTime() const { return took_; }

    struct Shared;

private:
    bool Call(int op, DWORD size, bool onlyWhatIsThere);

    std::shared_ptr<Shared> shared_;
    DWORD limit_;
    bool spent_ = false;
    std::chrono::steady_clock::duration took_{};
};

}  // namespace platform::win32
