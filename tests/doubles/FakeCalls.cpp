// The doubles' call counter and failure injection, shared by all four services.
#include "doubles/FakeCalls.h"

namespace platform::fake {

bool FakeCalls::Fails(const char* name, const std::string& detail, uint32_t error) {
    const uint64_t n = ++count_;
    if (hook_) hook_(n);
    bool fail = failAt_.erase(n) > 0;
    for (auto it = named_.begin(); it != named_.end();) {
        if (it->name == name && --it->remaining == 0) {
            fail = true;
            it = named_.erase(it);
        } else {
            ++it;
        }
    }
    log_.push_back((fail ? "!" : "") + std::string(name) + (detail.empty() ? "" : " " + detail));
    if (fail && error != 0) lastError_ = error;
    return fail;
}

void FakeCalls::FailCall(uint64_t n) { failAt_.insert(n); }

void FakeCalls::FailNextCall(const std::string& name, int occurrence) {
    named_.push_back({name, occurrence < 1 ? 1 : occurrence});
}

// The last error is the machine's: it stays.
void FakeCalls::ResetCalls() {
    count_ = 0;
    log_.clear();
    failAt_.clear();
    named_.clear();
    hook_ = nullptr;
}

}  // namespace platform::fake
