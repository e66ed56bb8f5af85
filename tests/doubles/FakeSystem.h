#pragma once
// The double of the process and system services: environment, folders, program starts
// (scripted by the started file's bytes), the tick counter, named mutexes, version
// resources, shares and the signature check. The scene helpers are not counted.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "doubles/FakeCalls.h"
#include "doubles/FakeFiles.h"
#include "platform/Platform.h"

namespace platform::fake {

struct WinExecCall {
    std::string cmdLine;
    unsigned show = 0;
    std::string folder;  // StartProcess's working folder (empty: the caller's)
};

// How a program started with StartProcess behaves, chosen by the bytes of its file.
struct ProgramBehaviour {
    bool startFails = false;               // CreateProcess fails with 193 (not a valid program)
    std::optional<uint32_t> endsAfterMs;   // ends this long after its start; unset: runs on
    uint32_t exitCode = 0;                 // when it ends
};

struct WNetAddCall {
    std::string remoteName;
    std::string password;
    std::string userName;
};

struct WNetCancelCall {
    std::string name;
    uint32_t flags = 0;
    bool force = false;
};

// Version resource of one file: sub-block ("\", "\VarFileInfo\Translation",
// "\StringFileInfo\041D04E4\FileVersion", ...) -> the value's bytes as VerQueryValue gives
// them (texts without their zero). Look-ups ignore case and a leading backslash.
struct VersionInfo {
    std::map<std::string, std::string> blocks;
};
// The 52 bytes of a VS_FIXEDFILEINFO.
std::string FixedFileInfoBytes(uint32_t fileVersionMS, uint32_t fileVersionLS,
                               uint32_t productVersionMS, uint32_t productVersionLS,
                               uint32_t fileOS = 0x40004);
// A typical resource: translation (language, code page), the fixed block with the numbers
// of the version texts (a.b.c.d, where they parse), FileVersion and ProductVersion.
// Empty texts are left out.
VersionInfo MakeVersionInfo(const std::string& fileVersion, const std::string& productVersion,
                            uint16_t language = 0x041D, uint16_t codePage = 0x04E4);

class FakeSystem : public System, private FakeService {
public:
    // Program starts and version resources look at `files`.
    FakeSystem(FakeCalls& calls, FakeFiles& files);
    ~FakeSystem() override;
    FakeSystem(const FakeSystem&) = delete;
    FakeSystem& operator=(const FakeSystem&) = delete;

    void SetEnv(const std::string& name, const std::string& value);
    void UnsetEnv(const std::string& name);
    void SetWindowsDirectory(const std::string& path);
    void SetSystemDirectory(const std::string& path);
    void SetTempPath(const std::string& path);
    void SetModuleFileName(const std::string& path);
    void SetCommandLine(const std::string& cmdLine);
    void SetWinExecResult(uint32_t result);  // 33 unless set
    // Every program start, by WinExec and by StartProcess, in order.
    const std::vector<WinExecCall>& WinExecCalls() const;
    // StartProcess of a file holding exactly `fileBytes`; any other existing file runs on,
    // a missing one cannot be started (2).
    void SetProgramBehaviour(const std::string& fileBytes, const ProgramBehaviour& behaviour);
    // The commands StartProcess was given, and whether crash dialogs were off for them.
    const std::vector<std::pair<std::string, bool>>& ProcessStarts() const;
    uint64_t TotalSleptMs() const;
    const std::vector<uint32_t>& Sleeps() const;
    void SetTicks(uint32_t ticks);
    void AdvanceTicks(uint32_t ms);
    void SetTickStep(uint32_t ms);  // added after every GetTickCount; 10 unless set
    uint32_t Ticks() const;
    void SetLocalTime(const SystemTime& t);
    void SetVersionInfo(const std::string& path, const VersionInfo& info);
    void SetVersionInfoError(const std::string& path, uint32_t lastError);  // size 0, this error
    const std::vector<std::string>& ShellOpenCalls() const;
    void SetProcessId(uint32_t id);  // 4242 unless set
    // Another process holds the named mutex `name`; it lets go after `waits` Wait calls
    // of this process (never when -1). Each Wait that finds it held lets its time pass.
    void HoldNamedMutex(const std::string& name, int waits = -1);
    bool NamedMutexHeld(const std::string& name);  // by this process or another
    // Names passed to CreateNamedMutex, in order.
    const std::vector<std::string>& NamedMutexNames() const;
    void SetWNetAddResult(uint32_t code);
    void SetWNetCancelResult(uint32_t code);
    const std::vector<WNetAddCall>& WNetAddCalls() const;
    const std::vector<WNetCancelCall>& WNetCancelCalls() const;

    uint32_t GetEnvironmentVariable(const std::string& name, char* buf, uint32_t size) override;
    std::string GetWindowsDirectory() override;
    std::string GetSystemDirectory() override;
    std::string GetTempPath() override;
    std::string ModuleFileName() override;
    std::string CommandLine() override;
    uint32_t WinExec(const std::string& cmdLine, unsigned show) override;
    std::unique_ptr<Process> StartProcess(const std::string& cmdLine, unsigned show,
                                          bool quietFailures, const std::string& folder) override;
    void Sleep(uint32_t ms) override;
    uint32_t GetTickCount() override;
    uint32_t GetLastError() override;
    void SetLastError(uint32_t code) override;
    uint32_t GetCurrentProcessId() override;
    std::unique_ptr<NamedMutex> CreateNamedMutex(const std::string& name) override;
    SystemTime GetLocalTime() override;
    uint32_t GetFileVersionInfoSize(const std::string& path) override;
    bool GetFileVersionInfo(const std::string& path, std::vector<uint8_t>& data) override;
    bool VerQueryValue(const std::vector<uint8_t>& data, const std::string& subBlock,
                       std::string& value) override;
    void ShellOpen(const std::string& path) override;
    uint32_t WNetAddConnection2(const std::string& remoteName, const std::string& password,
                                const std::string& userName) override;
    uint32_t WNetCancelConnection2(const std::string& name, uint32_t flags, bool force) override;
    // A real check (OpenSSL), counted as "VerifyP256Sha256"; an injected failure says no.
    bool VerifyP256Sha256(const std::string& point, const std::string& message,
                          const std::string& signature) override;

    // Internal: the named mutexes.
    struct MutexState {
        bool ours = false;        // held by a NamedMutex of this process
        bool other = false;       // held by another process
        int otherWaits = -1;      // Wait calls until the other one lets go; -1: never
    };
    MutexState& Mutex(const std::string& name);

    struct State;

private:
    FakeFiles& files_;
    std::unique_ptr<State> sys_;
};

}  // namespace platform::fake
