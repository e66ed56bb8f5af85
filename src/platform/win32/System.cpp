// Process, environment, version resources, shell and network shares.
#include "platform/Platform.h"
#include "platform/win32/Crypto.h"
#include "platform/win32/Win.h"

namespace platform::win32 {
namespace {

constexpr UINT kPathBuffer = 260;

// A folder function's result, taken up to its first zero byte.
std::string FolderText(const char* buf, size_t size) { return std::string(buf, strnlen(buf, size)); }

// String entries are texts; other blocks ("\", the translation list) are raw bytes.
bool IsStringEntry(const std::string& subBlock) {
    static const char kPrefix[] = "stringfileinfo\\";
    size_t i = 0;
    while (i < subBlock.size() && subBlock[i] == '\\') ++i;
    if (subBlock.size() - i < sizeof kPrefix - 1) return false;
    return ::_strnicmp(subBlock.c_str() + i, kPrefix, sizeof kPrefix - 1) == 0;
}

class Win32Mutex final : public NamedMutex {
public:
    explicit Win32Mutex(HANDLE h) : h_(h) {}
    ~Win32Mutex() override {
        if (held_) ::ReleaseMutex(h_);
        ::CloseHandle(h_);
    }
    Win32Mutex(const Win32Mutex&) = delete;
    Win32Mutex& operator=(const Win32Mutex&) = delete;
    bool Wait(uint32_t ms) override {
        if (held_) return true;
        const DWORD r = ::WaitForSingleObject(h_, ms);
        held_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
        return held_;
    }

private:
    HANDLE h_;
    bool held_ = false;
};

class Win32Process final : public Process {
public:
    explicit Win32Process(HANDLE h) : h_(h) {}
    ~Win32Process() override { ::CloseHandle(h_); }
    Win32Process(const Win32Process&) = delete;
    Win32Process& operator=(const Win32Process&) = delete;
    bool Wait(uint32_t ms) override { return ::WaitForSingleObject(h_, ms) == WAIT_OBJECT_0; }
    uint32_t ExitCode() override {
        DWORD code = STILL_ACTIVE;
        return ::GetExitCodeProcess(h_, &code) ? code : STILL_ACTIVE;
    }

private:
    HANDLE h_;
};

class Win32System final : public System {
public:
    uint32_t GetEnvironmentVariable(const std::string& name, char* buf, uint32_t size) override {
        return ::GetEnvironmentVariableA(name.c_str(), buf, size);
    }
    std::string GetWindowsDirectory() override {
        char buf[kPathBuffer] = {};
        ::GetWindowsDirectoryA(buf, kPathBuffer);
        return FolderText(buf, sizeof buf);
    }
    std::string GetSystemDirectory() override {
        char buf[kPathBuffer] = {};
        ::GetSystemDirectoryA(buf, kPathBuffer);
        return FolderText(buf, sizeof buf);
    }
    std::string GetTempPath() override {
        char buf[kPathBuffer] = {};
        ::GetTempPathA(kPathBuffer, buf);
        return FolderText(buf, sizeof buf);
    }
    std::string ModuleFileName() override {
        char buf[MAX_PATH + 1] = {};
        const DWORD n = ::GetModuleFileNameA(nullptr, buf, MAX_PATH);
        return std::string(buf, n < MAX_PATH ? n : strnlen(buf, MAX_PATH));
    }
    std::string CommandLine() override {
        const char* cmd = ::GetCommandLineA();
        return cmd ? cmd : "";
    }
    uint32_t WinExec(const std::string& cmdLine, unsigned show) override {
        return ::WinExec(cmdLine.c_str(), show);
    }
    std::unique_ptr<Process> StartProcess(const std::string& cmdLine, unsigned show,
                                          bool quietFailures, const std::string& folder) override {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = static_cast<WORD>(show);
        PROCESS_INFORMATION pi = {};
        std::string command = cmdLine;  // CreateProcessA may write into it
        // The child inherits the error mode in force when it is created; ours is put back
        // at once.
        const UINT before = quietFailures
                                ? ::SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS)
                                : 0;
        const BOOL ok = ::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                         folder.empty() ? nullptr : folder.c_str(), &si, &pi);
        const DWORD error = ::GetLastError();
        if (quietFailures) ::SetErrorMode(before);
        if (!ok) {
            ::SetLastError(error);
            return nullptr;
        }
        ::CloseHandle(pi.hThread);
        return std::make_unique<Win32Process>(pi.hProcess);
    }
    void Sleep(uint32_t ms) override { ::Sleep(ms); }
    uint32_t GetTickCount() override { return ::GetTickCount(); }
    uint32_t GetLastError() override { return ::GetLastError(); }
    void SetLastError(uint32_t code) override { ::SetLastError(code); }
    uint32_t GetCurrentProcessId() override { return ::GetCurrentProcessId(); }
    std::unique_ptr<NamedMutex> CreateNamedMutex(const std::string& name) override {
        if (name.empty() || name.size() > 200 || name.find('\\') != std::string::npos) return nullptr;
        HANDLE h = ::CreateMutexA(nullptr, FALSE, ("Local\\" + name).c_str());
        if (!h) return nullptr;
        return std::make_unique<Win32Mutex>(h);
    }
    SystemTime GetLocalTime() override {
        SYSTEMTIME st;
        ::GetLocalTime(&st);
        return ToSystemTime(st);
    }

    // Nothing may run after the call: the caller reads its last error.
    uint32_t GetFileVersionInfoSize(const std::string& path) override {
        DWORD handle = 0;
        return ::GetFileVersionInfoSizeA(path.c_str(), &handle);
    }
    // `data` sized by the caller is read with that size; an empty one is sized here.
    bool GetFileVersionInfo(const std::string& path, std::vector<uint8_t>& data) override {
        if (data.empty()) {
            DWORD handle = 0;
            const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &handle);
            if (size == 0) return false;
            data.resize(size);
        }
        return ::GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) !=
               FALSE;
    }
    bool VerQueryValue(const std::vector<uint8_t>& data, const std::string& subBlock,
                       std::string& value) override {
        if (data.empty()) return false;
        // The ANSI query may convert texts into the block's spare area: work on a copy.
        std::vector<uint8_t> block(data);
        void* p = nullptr;
        UINT len = 0;
        if (!::VerQueryValueA(block.data(), subBlock.c_str(), &p, &len) || !p) return false;
        const char* bytes = static_cast<const char*>(p);
        if (IsStringEntry(subBlock))
            value.assign(bytes, strnlen(bytes, len));
        else
            value.assign(bytes, len);
        return true;
    }

    void ShellOpen(const std::string& path) override {
        ::ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    }
    uint32_t WNetAddConnection2(const std::string& remoteName, const std::string& password,
                                const std::string& userName) override {
        char localName[1] = {0};
        char provider[1] = {0};
        std::vector<char> remote(remoteName.begin(), remoteName.end());
        remote.push_back('\0');
        NETRESOURCEA res = {};
        res.dwScope = 0;
        res.dwType = RESOURCETYPE_DISK;
        res.dwDisplayType = 0;
        res.dwUsage = 0;
        res.lpLocalName = localName;
        res.lpRemoteName = remote.data();
        res.lpComment = nullptr;
        res.lpProvider = provider;
        return ::WNetAddConnection2A(&res, password.c_str(), userName.c_str(), 0);
    }
    uint32_t WNetCancelConnection2(const std::string& name, uint32_t flags, bool force) override {
        return ::WNetCancelConnection2A(name.c_str(), flags, force ? TRUE : FALSE);
    }
    bool VerifyP256Sha256(const std::string& point, const std::string& message,
                          const std::string& signature) override {
        return VerifyP256Sha256Cng(point, message, signature);
    }
};

}  // namespace

}  // namespace platform::win32

namespace platform {

System& DefaultSystem() {
    static win32::Win32System sys;
    return sys;
}

}  // namespace platform
