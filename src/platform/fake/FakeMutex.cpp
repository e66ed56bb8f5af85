// The doubles' named mutexes and process id: another process's hold is scripted, and a
// wait on a held mutex lets its time pass on the tick counter.
#include "platform/fake/FakeState.h"

namespace platform::fake {
namespace {

class FakeMutex final : public NamedMutex {
public:
    FakeMutex(FakePlatform& platform, std::string name) : platform_(platform), name_(std::move(name)) {}
    ~FakeMutex() override {
        if (held_) platform_.Mutex(name_).ours = false;
    }
    FakeMutex(const FakeMutex&) = delete;
    FakeMutex& operator=(const FakeMutex&) = delete;

    bool Wait(uint32_t ms) override {
        if (held_) return true;
        if (platform_.Fails("NamedMutex.Wait", name_, 6)) return false;  // ERROR_INVALID_HANDLE
        auto& m = platform_.Mutex(name_);
        if (m.other && m.otherWaits > 0 && --m.otherWaits == 0) m.other = false;
        if (m.other || m.ours) {
            platform_.AdvanceTicks(ms);
            return false;
        }
        m.ours = held_ = true;
        return true;
    }

private:
    FakePlatform& platform_;
    std::string name_;
    bool held_ = false;
};

}  // namespace

FakePlatform::MutexState& FakePlatform::Mutex(const std::string& name) { return sys_->mutexes[name]; }

void FakePlatform::SetProcessId(uint32_t id) { sys_->processId = id; }

void FakePlatform::HoldNamedMutex(const std::string& name, int waits) {
    auto& m = Mutex(name);
    m.other = waits != 0;
    m.otherWaits = waits;
}

bool FakePlatform::NamedMutexHeld(const std::string& name) {
    const auto& m = Mutex(name);
    return m.ours || m.other;
}

const std::vector<std::string>& FakePlatform::NamedMutexNames() const { return sys_->mutexNames; }

uint32_t FakePlatform::GetCurrentProcessId() {
    Fails("GetCurrentProcessId", "", 0);  // cannot fail
    return sys_->processId;
}

std::unique_ptr<NamedMutex> FakePlatform::CreateNamedMutex(const std::string& name) {
    if (Fails("CreateNamedMutex", name, kErrAccessDenied)) return nullptr;
    if (name.empty() || name.size() > 200 || name.find('\\') != std::string::npos)
        return Failed(kErrInvalidName, nullptr);
    sys_->mutexNames.push_back(name);
    return std::make_unique<FakeMutex>(*this, name);
}

}  // namespace platform::fake
