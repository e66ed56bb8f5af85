#pragma once
// The one call counter of the doubles. Every service's double (files, registry, system,
// network) counts its calls here, in one sequence, so a torture test can run a scenario
// once, read CallCount(), and then rerun it with FailCall(n) for every n, whichever service
// the n-th call goes to. It also holds the machine's last error, which all services set.
//
// An injected failure looks like the Win32 failure of that call: false / null / INVALID /
// -1 / an error code, with the last error set. Calls without a failure result in Win32 or
// in the interface (CommandLine, Sleep, GetLocalTime, CloseKey, ShellOpen) are counted, but
// an injected failure changes nothing there. GetTickCount, GetLastError and SetLastError
// are not counted.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace platform::fake {

// Win32 error codes the doubles report.
inline constexpr uint32_t kErrFileNotFound = 2;
inline constexpr uint32_t kErrPathNotFound = 3;
inline constexpr uint32_t kErrAccessDenied = 5;
inline constexpr uint32_t kErrInvalidHandle = 6;
inline constexpr uint32_t kErrNoMoreFiles = 18;
inline constexpr uint32_t kErrSharingViolation = 32;
inline constexpr uint32_t kErrFileExists = 80;
inline constexpr uint32_t kErrInvalidParameter = 87;
inline constexpr uint32_t kErrDiskFull = 112;
inline constexpr uint32_t kErrDirNotEmpty = 145;
inline constexpr uint32_t kErrInvalidName = 123;
inline constexpr uint32_t kErrAlreadyExists = 183;
inline constexpr uint32_t kErrEnvVarNotFound = 203;
inline constexpr uint32_t kErrResourceDataNotFound = 1812;
inline constexpr uint32_t kErrInternetTimeout = 12002;
inline constexpr uint32_t kErrInternetNameNotResolved = 12007;
inline constexpr uint32_t kErrInternetLoginFailure = 12015;
inline constexpr uint32_t kErrInternetIncorrectHandleState = 12019;
inline constexpr uint32_t kErrInternetExtendedError = 12003;
inline constexpr uint32_t kErrInternetCannotConnect = 12029;
inline constexpr uint32_t kErrInternetConnectionAborted = 12030;
inline constexpr uint32_t kErrFtpTransferInProgress = 12110;
inline constexpr uint32_t kErrHttpHeaderNotFound = 12150;

class FakeCalls {
public:
    FakeCalls() = default;
    FakeCalls(const FakeCalls&) = delete;
    FakeCalls& operator=(const FakeCalls&) = delete;

    void FailCall(uint64_t n);  // the n-th counted call (1-based) fails, once
    // The occurrence-th counted call named `name` from now on fails, once ("DeleteFile",
    // "File.Write", "InternetReadFile", ...; the names of CallLog()).
    void FailNextCall(const std::string& name, int occurrence = 1);
    uint64_t CallCount() const { return count_; }
    // "Name detail" per counted call, e.g. "DeleteFile C:\a.txt"; a "!" marks injected failures.
    const std::vector<std::string>& CallLog() const { return log_; }
    void ResetCalls();  // counter and log back to zero; pending failures and hook dropped
    // Called with the number of every counted call before it takes effect: a test can take
    // the machine's state there, as a process killed at that call would leave it.
    void SetCallHook(std::function<void(uint64_t n)> hook) { hook_ = std::move(hook); }
    uint32_t LastError() const { return lastError_; }

    // For the services: counts a call; true when it must fail (the last error is then
    // `error`, unless that is 0).
    bool Fails(const char* name, const std::string& detail, uint32_t error);
    template <class T>
    T Failed(uint32_t code, T result) {
        lastError_ = code;
        return result;
    }
    void SetError(uint32_t code) { lastError_ = code; }

private:
    struct Named {
        std::string name;
        int remaining;
    };
    uint64_t count_ = 0;
    std::vector<std::string> log_;
    std::set<uint64_t> failAt_;
    std::vector<Named> named_;
    std::function<void(uint64_t)> hook_;
    uint32_t lastError_ = 0;
};

// The base of each service's double: its calls go to the machine's counter.
class FakeService {
protected:
    explicit FakeService(FakeCalls& calls) : calls_(calls) {}
    bool Fails(const char* name, const std::string& detail, uint32_t error) {
        return calls_.Fails(name, detail, error);
    }
    template <class T>
    T Failed(uint32_t code, T result) {
        return calls_.Failed(code, std::move(result));
    }

    FakeCalls& calls_;
};

}  // namespace platform::fake
