#pragma once
// The blocking reads and writes of one request with a stall limit, made on a helper thread
// that the caller waits for at most that long. Under Wine neither WinInet's time-outs nor
// closing the handle from another thread wake a read that waits for its first byte, so the
// caller cannot be freed from inside the call: it stops waiting instead. The helper touches
// only the request handle and the pump's own buffer; a pump given up on lets its helper
// finish the call on its own (closing the handle ends it on Windows, the server's close or
// the process's end under Wine) and the helper then frees what is left.
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

    // Waits until some bytes are there (or the body ended) and reads up to `size` of them
    // into `buffer`. False with the last error set on failure, ERROR_INTERNET_TIMEOUT when
    // nothing arrived within the limit (the pump is then spent: every later call fails so).
    bool Read(void* buffer, DWORD size, DWORD& got);
    bool Write(const void* buffer, DWORD size, DWORD& written);

    void SetLimit(DWORD limitMs) { limit_ = limitMs; }

    struct Shared;

private:
    bool Call(int op, DWORD size);

    std::shared_ptr<Shared> shared_;
    DWORD limit_;
    bool spent_ = false;
};

}  // namespace platform::win32
