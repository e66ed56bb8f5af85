// The doubles' core (call counting, failure injection, installation), the registry and
// the process services.
#include "platform/fake/FakePlatform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/fake/FakeState.h"

namespace platform::fake {

FakePlatform::FakePlatform()
    : calls_(std::make_unique<Calls>()), fs_(std::make_unique<FsState>()),
      reg_(std::make_unique<RegState>()), sys_(std::make_unique<SysState>()),
      net_(std::make_unique<NetState>()) {
    fs_->now = MakeFileTime(2024, 1, 2, 3, 4, 5);
    AddRoot("C:");
    net_->messages = {
        {12002, "The operation timed out\r\n"},
        {12007, "The server name or address could not be resolved\r\n"},
        {12029, "A connection with the server could not be established\r\n"},
    };
}

FakePlatform::~FakePlatform() = default;

void FakePlatform::Install() { platform::Install(this, this, this, this); }
void FakePlatform::Uninstall() { platform::Install(nullptr, nullptr, nullptr, nullptr); }

// ---- Call counting and failure injection

bool FakePlatform::Fails(const char* name, const std::string& detail, uint32_t error) {
    Calls& c = *calls_;
    const uint64_t n = ++c.count;
    if (c.hook) c.hook(n);
    bool fail = c.failAt.erase(n) > 0;
    for (auto it = c.named.begin(); it != c.named.end();) {
        if (it->name == name && --it->remaining == 0) {
            fail = true;
            it = c.named.erase(it);
        } else {
            ++it;
        }
    }
    c.log.push_back((fail ? "!" : "") + std::string(name) + (detail.empty() ? "" : " " + detail));
    if (fail && error != 0) lastError_ = error;
    return fail;
}

void FakePlatform::FailCall(uint64_t n) { calls_->failAt.insert(n); }
void FakePlatform::SetCallHook(std::function<void(uint64_t)> hook) { calls_->hook = std::move(hook); }

void FakePlatform::FailNextCall(const std::string& name, int occurrence) {
    calls_->named.push_back({name, occurrence < 1 ? 1 : occurrence});
}

uint64_t FakePlatform::CallCount() const { return calls_->count; }
const std::vector<std::string>& FakePlatform::CallLog() const { return calls_->log; }

void FakePlatform::ResetCalls() { *calls_ = Calls(); }

// ---- Registry

namespace {

std::string KeyName(const std::string& key) {
    size_t b = 0, e = key.size();
    while (b < e && key[b] == '\\') ++b;
    while (e > b && key[e - 1] == '\\') --e;
    return UpperName(key.substr(b, e - b));
}

}  // namespace

void FakePlatform::AddRegKey(RegRoot root, const std::string& key) {
    const std::string name = KeyName(key);
    // The parents exist too, as in the registry.
    for (size_t pos = name.find('\\'); pos != std::string::npos; pos = name.find('\\', pos + 1))
        reg_->keys[{static_cast<int>(root), name.substr(0, pos)}];
    reg_->keys[{static_cast<int>(root), name}];
}

void FakePlatform::SetRegValue(RegRoot root, const std::string& key, const std::string& name,
                               uint32_t type, const std::string& data) {
    AddRegKey(root, key);
    reg_->keys[{static_cast<int>(root), KeyName(key)}].values[UpperName(name)] = {type, data, 0};
}

void FakePlatform::SetRegString(RegRoot root, const std::string& key, const std::string& name,
                                const std::string& text, uint32_t type) {
    SetRegValue(root, key, name, type, text + std::string(1, '\0'));
}

void FakePlatform::SetRegKeyUnopenable(RegRoot root, const std::string& key) {
    AddRegKey(root, key);
    reg_->keys[{static_cast<int>(root), KeyName(key)}].unopenable = true;
}

void FakePlatform::SetRegValueUnreadable(RegRoot root, const std::string& key,
                                         const std::string& name, long code) {
    AddRegKey(root, key);
    auto& values = reg_->keys[{static_cast<int>(root), KeyName(key)}].values;
    auto it = values.find(UpperName(name));
    if (it == values.end()) it = values.emplace(UpperName(name), RegValue{REG_SZ_, std::string(1, '\0'), 0}).first;
    it->second.readError = code;
}

int FakePlatform::OpenKeyCount() const { return static_cast<int>(reg_->open.size()); }

platform::RegKey FakePlatform::OpenKeyRead(RegRoot root, const std::string& subKey) {
    if (Fails("OpenKeyRead", subKey, kErrAccessDenied)) return nullptr;
    const std::pair<int, std::string> id{static_cast<int>(root), KeyName(subKey)};
    auto it = reg_->keys.find(id);
    if (it == reg_->keys.end()) return Failed(kErrFileNotFound, nullptr);
    if (it->second.unopenable) return Failed(kErrAccessDenied, nullptr);
    void* h = reinterpret_cast<void*>(static_cast<uintptr_t>(0x20000 + 0x10 * reg_->nextHandle++));
    reg_->open[h] = id;
    return OwnKey(h);
}

long FakePlatform::QueryValue(const platform::RegKey& key, const std::string& name, uint32_t& type,
                              std::string& data) {
    if (Fails("QueryValue", name, kErrAccessDenied)) return static_cast<long>(kErrAccessDenied);
    auto h = reg_->open.find(key.get());
    if (h == reg_->open.end()) return static_cast<long>(kErrInvalidHandle);
    const auto& values = reg_->keys[h->second].values;
    auto it = values.find(UpperName(name));
    if (it == values.end()) return static_cast<long>(kErrFileNotFound);
    if (it->second.readError != 0) return it->second.readError;
    type = it->second.type;
    data = it->second.data;
    return 0;
}

// RegCloseKey's result is not part of the interface: an injected failure changes nothing.
void FakePlatform::CloseKey(void* key) {
    Fails("CloseKey", "", 0);
    reg_->open.erase(key);
}

// ---- Process and system

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

void FakePlatform::SetEnv(const std::string& name, const std::string& value) {
    sys_->env[UpperName(name)] = {name, value};
}
void FakePlatform::UnsetEnv(const std::string& name) { sys_->env.erase(UpperName(name)); }
void FakePlatform::SetWindowsDirectory(const std::string& path) { sys_->windowsDir = path; }
void FakePlatform::SetSystemDirectory(const std::string& path) { sys_->systemDir = path; }
void FakePlatform::SetTempPath(const std::string& path) { sys_->tempPath = path; }
void FakePlatform::SetModuleFileName(const std::string& path) { sys_->moduleFileName = path; }
void FakePlatform::SetCommandLine(const std::string& cmdLine) { sys_->commandLine = cmdLine; }
void FakePlatform::SetWinExecResult(uint32_t result) { sys_->winExecResult = result; }
const std::vector<WinExecCall>& FakePlatform::WinExecCalls() const { return sys_->winExecCalls; }
uint64_t FakePlatform::TotalSleptMs() const { return sys_->sleptMs; }
const std::vector<uint32_t>& FakePlatform::Sleeps() const { return sys_->sleeps; }
void FakePlatform::SetTicks(uint32_t ticks) { sys_->ticks = ticks; }
void FakePlatform::AdvanceTicks(uint32_t ms) { sys_->ticks += ms; }
void FakePlatform::SetTickStep(uint32_t ms) { sys_->tickStep = ms; }
uint32_t FakePlatform::Ticks() const { return sys_->ticks; }
void FakePlatform::SetLocalTime(const SystemTime& t) { sys_->localTime = t; }
uint32_t FakePlatform::LastError() const { return lastError_; }

void FakePlatform::SetVersionInfo(const std::string& path, const VersionInfo& info) {
    sys_->versions[PathKey(*fs_, path)] = {info, 0};
}
void FakePlatform::SetVersionInfoError(const std::string& path, uint32_t lastError) {
    sys_->versions[PathKey(*fs_, path)] = {std::nullopt, lastError};
}
const std::vector<std::string>& FakePlatform::ShellOpenCalls() const { return sys_->shellOpens; }
void FakePlatform::SetWNetAddResult(uint32_t code) { sys_->wnetAddResult = code; }
void FakePlatform::SetWNetCancelResult(uint32_t code) { sys_->wnetCancelResult = code; }
const std::vector<WNetAddCall>& FakePlatform::WNetAddCalls() const { return sys_->wnetAdds; }
const std::vector<WNetCancelCall>& FakePlatform::WNetCancelCalls() const { return sys_->wnetCancels; }

uint32_t FakePlatform::GetEnvironmentVariable(const std::string& name, char* buf, uint32_t size) {
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

std::string FakePlatform::GetWindowsDirectory() {
    return Fails("GetWindowsDirectory", "", kErrAccessDenied) ? std::string() : sys_->windowsDir;
}
std::string FakePlatform::GetSystemDirectory() {
    return Fails("GetSystemDirectory", "", kErrAccessDenied) ? std::string() : sys_->systemDir;
}
std::string FakePlatform::GetTempPath() {
    return Fails("GetTempPath", "", kErrAccessDenied) ? std::string() : sys_->tempPath;
}
std::string FakePlatform::ModuleFileName() {
    return Fails("ModuleFileName", "", kErrAccessDenied) ? std::string() : sys_->moduleFileName;
}

// GetCommandLineA, Sleep and GetLocalTime cannot fail: injected failures change nothing.
std::string FakePlatform::CommandLine() {
    Fails("CommandLine", "", 0);
    return sys_->commandLine;
}

uint32_t FakePlatform::WinExec(const std::string& cmdLine, unsigned show) {
    const bool fail = Fails("WinExec", cmdLine, kErrFileNotFound);
    sys_->winExecCalls.push_back({cmdLine, show, std::string()});
    return fail ? kErrFileNotFound : sys_->winExecResult;
}

namespace {

// A started program of the doubles: its time passes with the machine's ticks.
class FakeProcess final : public Process {
public:
    FakeProcess(FakePlatform& os, const ProgramBehaviour& b) : os_(os), b_(b), start_(os.Ticks()) {}
    bool Wait(uint32_t ms) override {
        if (os_.Fails("Process.Wait", std::to_string(ms), kErrInvalidHandle)) return false;
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
    FakePlatform& os_;
    ProgramBehaviour b_;
    uint32_t start_;
};

// The program's path at the head of a command line: quoted, or up to the first blank.
std::string ProgramOf(const std::string& cmdLine) {
    if (!cmdLine.empty() && cmdLine[0] == '"') return cmdLine.substr(1, cmdLine.find('"', 1) - 1);
    return cmdLine.substr(0, cmdLine.find(' '));
}

}  // namespace

void FakePlatform::SetProgramBehaviour(const std::string& fileBytes, const ProgramBehaviour& behaviour) {
    sys_->programs[fileBytes] = behaviour;
}
const std::vector<std::pair<std::string, bool>>& FakePlatform::ProcessStarts() const {
    return sys_->processStarts;
}

std::unique_ptr<Process> FakePlatform::StartProcess(const std::string& cmdLine, unsigned show,
                                                    bool quietFailures, const std::string& folder) {
    const bool fail = Fails("StartProcess", cmdLine, kErrFileNotFound);
    sys_->winExecCalls.push_back({cmdLine, show, folder});
    sys_->processStarts.emplace_back(cmdLine, quietFailures);
    if (fail) return nullptr;
    const auto bytes = ReadFile(ProgramOf(cmdLine));
    if (!bytes) return Failed(kErrFileNotFound, std::unique_ptr<Process>());
    ProgramBehaviour behaviour;
    if (auto it = sys_->programs.find(*bytes); it != sys_->programs.end()) behaviour = it->second;
    if (behaviour.startFails) return Failed(193u, std::unique_ptr<Process>());
    return std::make_unique<FakeProcess>(*this, behaviour);
}

void FakePlatform::Sleep(uint32_t ms) {
    Fails("Sleep", std::to_string(ms), 0);
    sys_->sleeps.push_back(ms);
    sys_->sleptMs += ms;
    sys_->ticks += ms;
}

uint32_t FakePlatform::GetTickCount() {
    const uint32_t now = sys_->ticks;
    sys_->ticks += sys_->tickStep;
    return now;
}

uint32_t FakePlatform::GetLastError() { return lastError_; }
void FakePlatform::SetLastError(uint32_t code) { lastError_ = code; }

SystemTime FakePlatform::GetLocalTime() {
    Fails("GetLocalTime", "", 0);
    return sys_->localTime;
}

uint32_t FakePlatform::GetFileVersionInfoSize(const std::string& path) {
    if (Fails("GetFileVersionInfoSize", path, kErrResourceDataNotFound)) return 0;
    auto it = sys_->versions.find(PathKey(*fs_, path));
    if (it == sys_->versions.end())
        return Failed(Exists(path) ? ERROR_RESOURCE_TYPE_NOT_FOUND_ : kErrFileNotFound, 0u);
    if (!it->second.info) return Failed(it->second.error, 0u);
    return static_cast<uint32_t>(SerializeVersion(*it->second.info).size());
}

bool FakePlatform::GetFileVersionInfo(const std::string& path, std::vector<uint8_t>& data) {
    if (Fails("GetFileVersionInfo", path, kErrResourceDataNotFound)) return false;
    auto it = sys_->versions.find(PathKey(*fs_, path));
    if (it == sys_->versions.end())
        return Failed(Exists(path) ? ERROR_RESOURCE_TYPE_NOT_FOUND_ : kErrFileNotFound, false);
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

bool FakePlatform::VerQueryValue(const std::vector<uint8_t>& data, const std::string& subBlock,
                                 std::string& value) {
    if (Fails("VerQueryValue", subBlock, ERROR_RESOURCE_TYPE_NOT_FOUND_)) return false;
    bool valid = false;
    if (FindVersionBlock(data, BlockKey(subBlock), value, valid)) return true;
    return Failed(valid ? ERROR_RESOURCE_TYPE_NOT_FOUND_ : kErrInvalidParameter, false);
}

// ShellExecuteA's result is not part of the interface: every call is recorded.
void FakePlatform::ShellOpen(const std::string& path) {
    Fails("ShellOpen", path, 0);
    sys_->shellOpens.push_back(path);
}

uint32_t FakePlatform::WNetAddConnection2(const std::string& remoteName, const std::string& password,
                                          const std::string& userName) {
    const bool fail = Fails("WNetAddConnection2", remoteName, 1222);  // ERROR_NO_NETWORK
    sys_->wnetAdds.push_back({remoteName, password, userName});
    return fail ? 1222 : sys_->wnetAddResult;
}

uint32_t FakePlatform::WNetCancelConnection2(const std::string& name, uint32_t flags, bool force) {
    const bool fail = Fails("WNetCancelConnection2", name, 2250);  // ERROR_NOT_CONNECTED
    sys_->wnetCancels.push_back({name, flags, force});
    return fail ? 2250 : sys_->wnetCancelResult;
}

}  // namespace platform::fake
