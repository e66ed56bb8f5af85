// The process and system services of the doubles: environment, folders, program starts,
// ticks, version resources, shares and named mutexes.
#include "doubles/FakeSystem.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::fake {

struct VersionEntry {
    std::optional<VersionInfo> info;
    uint32_t error = 0;
};

struct FakeSystem::State {
    std::map<std::string, std::pair<std::string, std::string>> env;  // upper name -> (name, value)
    std::string windowsDir = "C:\\WINDOWS";
    std::string systemDir = "C:\\WINDOWS\\system32";
    std::string tempPath = "C:\\TEMP\\";
    std::string moduleFileName = "C:\\Program\\starter.exe";
    std::string commandLine = "\"C:\\Program\\starter.exe\"";
    uint32_t winExecResult = 33;
    std::vector<WinExecCall> winExecCalls;
    std::map<std::string, ProgramBehaviour> programs;  // by file bytes
    std::vector<std::pair<std::string, bool>> processStarts;
    std::vector<uint32_t> sleeps;
    uint64_t sleptMs = 0;
    uint32_t ticks = 100000;
    uint32_t tickStep = 10;
    SystemTime localTime = MakeSystemTime(2024, 1, 2, 3, 4, 5);
    std::map<std::string, VersionEntry> versions;  // by FileKey
    std::vector<std::string> shellOpens;
    uint32_t wnetAddResult = 0;
    uint32_t wnetCancelResult = 0;
    std::vector<WNetAddCall> wnetAdds;
    std::vector<WNetCancelCall> wnetCancels;
    uint32_t processId = 4242;
    std::map<std::string, MutexState> mutexes;
    std::vector<std::string> mutexNames;
};

FakeSystem::FakeSystem(FakeCalls& calls, FakeFiles& files)
    : FakeService(calls), files_(files), sys_(std::make_unique<State>()) {}
FakeSystem::~FakeSystem() = default;

namespace {

// Version resources travel through GetFileVersionInfo as this private layout:
// "FAKEVER1", then per sub-block a 32-bit key length, the key, a 32-bit value length, the value.
constexpr char kVersionMagic[] = "FAKEVER1";

std::string BlockKey(const std::string& subBlock) {
    size_t b = 0;
    while (b < subBlock.size() && subBlock[b] == '\\') ++b;
    return b == subBlock.size() ? "\\" : UpperName(subBlock.substr(b));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> SerializeVersion(const VersionInfo& info) {
    std::vector<uint8_t> out(kVersionMagic, kVersionMagic + 8);
    for (const auto& block : info.blocks) {
        const std::string key = BlockKey(block.first);
        PutU32(out, static_cast<uint32_t>(key.size()));
        out.insert(out.end(), key.begin(), key.end());
        PutU32(out, static_cast<uint32_t>(block.second.size()));
        out.insert(out.end(), block.second.begin(), block.second.end());
    }
    return out;
}

bool FindVersionBlock(const std::vector<uint8_t>& data, const std::string& key, std::string& value,
                      bool& valid) {
    valid = data.size() >= 8 && std::memcmp(data.data(), kVersionMagic, 8) == 0;
    size_t pos = 8;
    auto getU32 = [&](uint32_t& v) {
        if (data.size() - pos < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t{data[pos + i]} << (8 * i);
        pos += 4;
        return true;
    };
    while (valid && pos < data.size()) {
        uint32_t klen, vlen;
        if (!getU32(klen) || data.size() - pos < klen) return valid = false;
        const std::string k(data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + klen));
        pos += klen;
        if (!getU32(vlen) || data.size() - pos < vlen) return valid = false;
        if (k == key) {
            value.assign(data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + vlen));
            return true;
        }
        pos += vlen;
    }
    return false;
}

}  // namespace

std::string FixedFileInfoBytes(uint32_t fileVersionMS, uint32_t fileVersionLS,
                               uint32_t productVersionMS, uint32_t productVersionLS,
                               uint32_t fileOS) {
    const uint32_t fields[13] = {0xFEEF04BD, 0x00010000, fileVersionMS, fileVersionLS,
                                 productVersionMS, productVersionLS, 0x3F, 0, fileOS, 1, 0, 0, 0};
    std::vector<uint8_t> bytes;
    for (uint32_t f : fields) PutU32(bytes, f);
    return std::string(bytes.begin(), bytes.end());
}

VersionInfo MakeVersionInfo(const std::string& fileVersion, const std::string& productVersion,
                            uint16_t language, uint16_t codePage) {
    auto numbers = [](const std::string& text, uint32_t& ms, uint32_t& ls) {
        uint32_t part[4] = {};
        size_t pos = 0;
        for (int i = 0; i < 4 && pos < text.size(); ++i) {
            part[i] = static_cast<uint32_t>(std::strtoul(text.c_str() + pos, nullptr, 10)) & 0xFFFF;
            pos = text.find('.', pos);
            if (pos == std::string::npos) break;
            ++pos;
        }
        ms = part[0] << 16 | part[1];
        ls = part[2] << 16 | part[3];
    };
    uint32_t fms, fls, pms, pls;
    numbers(fileVersion, fms, fls);
    numbers(productVersion, pms, pls);
    VersionInfo info;
    info.blocks["\\"] = FixedFileInfoBytes(fms, fls, pms, pls);
    const char translation[4] = {static_cast<char>(language & 0xFF), static_cast<char>(language >> 8),
                                 static_cast<char>(codePage & 0xFF), static_cast<char>(codePage >> 8)};
    info.blocks["\\VarFileInfo\\Translation"] = std::string(translation, 4);
    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04X%04X\\", language, codePage);
    if (!fileVersion.empty()) info.blocks[prefix + std::string("FileVersion")] = fileVersion;
    if (!productVersion.empty()) info.blocks[prefix + std::string("ProductVersion")] = productVersion;
    return info;
}

void FakeSystem::SetEnv(const std::string& name, const std::string& value) {
    sys_->env[UpperName(name)] = {name, value};
}
void FakeSystem::UnsetEnv(const std::string& name) { sys_->env.erase(UpperName(name)); }
void FakeSystem::SetWindowsDirectory(const std::string& path) { sys_->windowsDir = path; }
void FakeSystem::SetSystemDirectory(const std::string& path) { sys_->systemDir = path; }
void FakeSystem::SetTempPath(const std::string& path) { sys_->tempPath = path; }
void FakeSystem::SetModuleFileName(const std::string& path) { sys_->moduleFileName = path; }
void FakeSystem::SetCommandLine(const std::string& cmdLine) { sys_->commandLine = cmdLine; }
void FakeSystem::SetWinExecResult(uint32_t result) { sys_->winExecResult = result; }
const std::vector<WinExecCall>& FakeSystem::WinExecCalls() const { return sys_->winExecCalls; }
uint64_t FakeSystem::TotalSleptMs() const { return sys_->sleptMs; }
const std::vector<uint32_t>& FakeSystem::Sleeps() const { return sys_->sleeps; }
void FakeSystem::SetTicks(uint32_t ticks) { sys_->ticks = ticks; }
void FakeSystem::AdvanceTicks(uint32_t ms) { sys_->ticks += ms; }
void FakeSystem::SetTickStep(uint32_t ms) { sys_->tickStep = ms; }
uint32_t FakeSystem::Ticks() const { return sys_->ticks; }
void FakeSystem::SetLocalTime(const SystemTime& t) { sys_->localTime = t; }

void FakeSystem::SetVersionInfo(const std::string& path, const VersionInfo& info) {
    sys_->versions[files_.FileKey(path)] = {info, 0};
}
void FakeSystem::SetVersionInfoError(const std::string& path, uint32_t lastError) {
    sys_->versions[files_.FileKey(path)] = {std::nullopt, lastError};
}
const std::vector<std::string>& FakeSystem::ShellOpenCalls() const { return sys_->shellOpens; }
void FakeSystem::SetWNetAddResult(uint32_t code) { sys_->wnetAddResult = code; }
void FakeSystem::SetWNetCancelResult(uint32_t code) { sys_->wnetCancelResult = code; }
const std::vector<WNetAddCall>& FakeSystem::WNetAddCalls() const { return sys_->wnetAdds; }
const std::vector<WNetCancelCall>& FakeSystem::WNetCancelCalls() const { return sys_->wnetCancels; }

uint32_t FakeSystem::GetEnvironmentVariable(const std::string& name, char* buf, uint32_t size) {
    if (Fails("GetEnvironmentVariable", name, kErrEnvVarNotFound)) return 0;
    auto it = sys_->env.find(UpperName(name));
    if (it == sys_->env.end()) return Failed(kErrEnvVarNotFound, 0u);
    const std::string& value = it->second.second;
    const auto length = static_cast<uint32_t>(value.size());
    if (!buf || size <= length) return length + 1;
    std::memcpy(buf, value.data(), length);
    buf[length] = '\0';
    return length;
}

std::string FakeSystem::GetWindowsDirectory() {
    return Fails("GetWindowsDirectory", "", kErrAccessDenied) ? std::string() : sys_->windowsDir;
}
std::string FakeSystem::GetSystemDirectory() {
    return Fails("GetSystemDirectory", "", kErrAccessDenied) ? std::string() : sys_->systemDir;
}
std::string FakeSystem::GetTempPath() {
    return Fails("GetTempPath", "", kErrAccessDenied) ? std::string() : sys_->tempPath;
}
std::string FakeSystem::ModuleFileName() {
    return Fails("ModuleFileName", "", kErrAccessDenied) ? std::string() : sys_->moduleFileName;
}

// GetCommandLineA, Sleep and GetLocalTime cannot fail: injected failures change nothing.
std::string FakeSystem::CommandLine() {
    Fails("CommandLine", "", 0);
    return sys_->commandLine;
}

uint32_t FakeSystem::WinExec(const std::string& cmdLine, unsigned show) {
    const bool fail = Fails("WinExec", cmdLine, kErrFileNotFound);
    sys_->winExecCalls.push_back({cmdLine, show, std::string()});
    return fail ? kErrFileNotFound : sys_->winExecResult;
}

namespace {

// A started program of the doubles: its time passes with the machine's ticks.
class FakeProcess final : public Process {
public:
    FakeProcess(FakeSystem& os, FakeCalls& calls, const ProgramBehaviour& b)
        : os_(os), calls_(calls), b_(b), start_(os.Ticks()) {}
    bool Wait(uint32_t ms) override {
        if (calls_.Fails("Process.Wait", std::to_string(ms), kErrInvalidHandle)) return false;
        const uint32_t ran = os_.Ticks() - start_;
        if (b_.endsAfterMs && *b_.endsAfterMs <= ran + ms) {
            if (*b_.endsAfterMs > ran) os_.AdvanceTicks(*b_.endsAfterMs - ran);
            return true;
        }
        os_.AdvanceTicks(ms);
        return false;
    }
    uint32_t ExitCode() override {
        const bool ended = b_.endsAfterMs && *b_.endsAfterMs <= os_.Ticks() - start_;
        return ended ? b_.exitCode : 259u;
    }

private:
    FakeSystem& os_;
    FakeCalls& calls_;
    ProgramBehaviour b_;
    uint32_t start_;
};

// The program's path at the head of a command line: quoted, or up to the first blank.
std::string ProgramOf(const std::string& cmdLine) {
    if (!cmdLine.empty() && cmdLine[0] == '"') return cmdLine.substr(1, cmdLine.find('"', 1) - 1);
    return cmdLine.substr(0, cmdLine.find(' '));
}

}  // namespace

void FakeSystem::SetProgramBehaviour(const std::string& fileBytes, const ProgramBehaviour& behaviour) {
    sys_->programs[fileBytes] = behaviour;
}
const std::vector<std::pair<std::string, bool>>& FakeSystem::ProcessStarts() const {
    return sys_->processStarts;
}

std::unique_ptr<Process> FakeSystem::StartProcess(const std::string& cmdLine, unsigned show,
                                                    bool quietFailures, const std::string& folder) {
    const bool fail = Fails("StartProcess", cmdLine, kErrFileNotFound);
    sys_->winExecCalls.push_back({cmdLine, show, folder});
    sys_->processStarts.emplace_back(cmdLine, quietFailures);
    if (fail) return nullptr;
    const auto bytes = files_.ReadFile(ProgramOf(cmdLine));
    if (!bytes) return Failed(kErrFileNotFound, std::unique_ptr<Process>());
    ProgramBehaviour behaviour;
    if (auto it = sys_->programs.find(*bytes); it != sys_->programs.end()) behaviour = it->second;
    if (behaviour.startFails) return Failed(193u, std::unique_ptr<Process>());
    return std::make_unique<FakeProcess>(*this, calls_, behaviour);
}

void FakeSystem::Sleep(uint32_t ms) {
    Fails("Sleep", std::to_string(ms), 0);
    sys_->sleeps.push_back(ms);
    sys_->sleptMs += ms;
    sys_->ticks += ms;
}

uint32_t FakeSystem::GetTickCount() {
    const uint32_t now = sys_->ticks;
    sys_->ticks += sys_->tickStep;
    return now;
}

uint32_t FakeSystem::GetLastError() { return calls_.LastError(); }
void FakeSystem::SetLastError(uint32_t code) { calls_.SetError(code); }

SystemTime FakeSystem::GetLocalTime() {
    Fails("GetLocalTime", "", 0);
    return sys_->localTime;
}

uint32_t FakeSystem::GetFileVersionInfoSize(const std::string& path) {
    if (Fails("GetFileVersionInfoSize", path, kErrResourceDataNotFound)) return 0;
    auto it = sys_->versions.find(files_.FileKey(path));
    if (it == sys_->versions.end())
        return Failed(files_.Exists(path) ? ERROR_RESOURCE_TYPE_NOT_FOUND_ : kErrFileNotFound, 0u);
    if (!it->second.info) return Failed(it->second.error, 0u);
    return static_cast<uint32_t>(SerializeVersion(*it->second.info).size());
}

bool FakeSystem::GetFileVersionInfo(const std::string& path, std::vector<uint8_t>& data) {
    if (Fails("GetFileVersionInfo", path, kErrResourceDataNotFound)) return false;
    auto it = sys_->versions.find(files_.FileKey(path));
    if (it == sys_->versions.end())
        return Failed(files_.Exists(path) ? ERROR_RESOURCE_TYPE_NOT_FOUND_ : kErrFileNotFound, false);
    if (!it->second.info) return Failed(it->second.error, false);
    const std::vector<uint8_t> blob = SerializeVersion(*it->second.info);
    if (data.empty())
        data = blob;
    else if (data.size() < blob.size())
        return Failed(122u, false);  // ERROR_INSUFFICIENT_BUFFER
    else
        std::copy(blob.begin(), blob.end(), data.begin());
    return true;
}

bool FakeSystem::VerQueryValue(const std::vector<uint8_t>& data, const std::string& subBlock,
                                 std::string& value) {
    if (Fails("VerQueryValue", subBlock, ERROR_RESOURCE_TYPE_NOT_FOUND_)) return false;
    bool valid = false;
    if (FindVersionBlock(data, BlockKey(subBlock), value, valid)) return true;
    return Failed(valid ? ERROR_RESOURCE_TYPE_NOT_FOUND_ : kErrInvalidParameter, false);
}

// ShellExecuteA's result is not part of the interface: every call is recorded.
void FakeSystem::ShellOpen(const std::string& path) {
    Fails("ShellOpen", path, 0);
    sys_->shellOpens.push_back(path);
}

uint32_t FakeSystem::WNetAddConnection2(const std::string& remoteName, const std::string& password,
                                          const std::string& userName) {
    const bool fail = Fails("WNetAddConnection2", remoteName, 1222);  // ERROR_NO_NETWORK
    sys_->wnetAdds.push_back({remoteName, password, userName});
    return fail ? 1222 : sys_->wnetAddResult;
}

uint32_t FakeSystem::WNetCancelConnection2(const std::string& name, uint32_t flags, bool force) {
    const bool fail = Fails("WNetCancelConnection2", name, 2250);  // ERROR_NOT_CONNECTED
    sys_->wnetCancels.push_back({name, flags, force});
    return fail ? 2250 : sys_->wnetCancelResult;
}

// ---- Named mutexes: another process's hold is scripted, and a wait on a held mutex lets
// its time pass on the tick counter.

namespace {

class FakeMutex final : public NamedMutex {
public:
    FakeMutex(FakeSystem& os, FakeCalls& calls, std::string name)
        : system_(os), calls_(calls), name_(std::move(name)) {}
    ~FakeMutex() override {
        if (held_) system_.Mutex(name_).ours = false;
    }
    FakeMutex(const FakeMutex&) = delete;
    FakeMutex& operator=(const FakeMutex&) = delete;

    bool Wait(uint32_t ms) override {
        if (held_) return true;
        if (calls_.Fails("NamedMutex.Wait", name_, 6)) return false;  // ERROR_INVALID_HANDLE
        auto& m = system_.Mutex(name_);
        if (m.other && m.otherWaits > 0 && --m.otherWaits == 0) m.other = false;
        if (m.other || m.ours) {
            system_.AdvanceTicks(ms);
            return false;
        }
        m.ours = held_ = true;
        return true;
    }

private:
    FakeSystem& system_;
    FakeCalls& calls_;
    std::string name_;
    bool held_ = false;
};

}  // namespace

FakeSystem::MutexState& FakeSystem::Mutex(const std::string& name) { return sys_->mutexes[name]; }

void FakeSystem::SetProcessId(uint32_t id) { sys_->processId = id; }

void FakeSystem::HoldNamedMutex(const std::string& name, int waits) {
    auto& m = Mutex(name);
    m.other = waits != 0;
    m.otherWaits = waits;
}

bool FakeSystem::NamedMutexHeld(const std::string& name) {
    const auto& m = Mutex(name);
    return m.ours || m.other;
}

const std::vector<std::string>& FakeSystem::NamedMutexNames() const { return sys_->mutexNames; }

uint32_t FakeSystem::GetCurrentProcessId() {
    Fails("GetCurrentProcessId", "", 0);  // cannot fail
    return sys_->processId;
}

std::unique_ptr<NamedMutex> FakeSystem::CreateNamedMutex(const std::string& name) {
    if (Fails("CreateNamedMutex", name, kErrAccessDenied)) return nullptr;
    if (name.empty() || name.size() > 200 || name.find('\\') != std::string::npos)
        return Failed(kErrInvalidName, nullptr);
    sys_->mutexNames.push_back(name);
    return std::make_unique<FakeMutex>(*this, calls_, name);
}

}  // namespace platform::fake
