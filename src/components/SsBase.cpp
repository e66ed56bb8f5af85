#include "components/SsBase.h"

#include "components/SsConst.h"
#include "framework/Strings.h"
#include "platform/Platform.h"

namespace {

// The program's own path as a 256-character buffer holds it.
std::string OwnProgramFile() {
    std::string path = platform::Sys().ModuleFileName();
    if (path.size() > 256) path.resize(256);
    return path;
}

[[noreturn]] void RaiseVersionInfoError(int code) { throw ESsVersionInfoError(code); }

uint32_t Dword(const std::string& bytes, size_t offset) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset])) |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 3])) << 24;
}

// Offsets in the fixed version block (VS_FIXEDFILEINFO); only its first 52 bytes are used.
constexpr size_t kFixedInfoSize = 52;
constexpr size_t kFileVersionMS = 8, kFileVersionLS = 12;
constexpr size_t kProductVersionMS = 16, kProductVersionLS = 20;
constexpr size_t kFileOS = 32;

// A string entry of the version resource, up to its first zero; empty when it is missing.
std::string QueryText(const std::vector<uint8_t>& data, const std::string& subBlock) {
    std::string value;
    if (!platform::Sys().VerQueryValue(data, subBlock, value)) return std::string();
    return value.substr(0, value.find('\0'));
}

}  // namespace

ESsException::ESsException(int code) : ESsException(MessageText(code), code) {}

TSsCustomVersionInfo::TSsCustomVersionInfo() { SetFileName(std::string()); }

void TSsCustomVersionInfo::SetFileName(const std::string& name) {
    if (!name.empty() && !platform::Fs().FileExists(name)) RaiseVersionInfoError(ssErrOpenFile);
    if (name != fileName_) loaded_ = false;
    fileName_ = name.empty() ? OwnProgramFile() : name;
}

void TSsCustomVersionInfo::Load() {
    platform::System& sys = platform::Sys();
    uint32_t size = sys.GetFileVersionInfoSize(fileName_);
    if (size == 0) {
        uint32_t error = sys.GetLastError();
        if (error == platform::ERROR_RESOURCE_TYPE_NOT_FOUND_) RaiseVersionInfoError(ssErrNoVersionInfo);
        if (error == 0) RaiseVersionInfoError(ssErrReadVersionInfo);
        // Any other error: reading the resource below fails and reports it.
    }
    std::vector<uint8_t> data(size);
    if (size == 0 || !sys.GetFileVersionInfo(fileName_, data)) RaiseVersionInfoError(ssErrReadVersionInfo);

    std::string value;
    if (!sys.VerQueryValue(data, "\\VarFileInfo\\Translation", value) || value.size() < 4)
        RaiseVersionInfoError(ssErrReadVersionInfo);
    translations_.clear();
    for (size_t i = 0; i + 4 <= value.size(); i += 4) translations_.push_back(Dword(value, i));
    loaded_ = true;
    const std::string prefix = Format("StringFileInfo\\%.4X%.4X\\", translations_[0] & 0xFFFFu,
                                      translations_[0] >> 16);

    if (!sys.VerQueryValue(data, "\\", value) || value.size() < kFixedInfoSize)
        RaiseVersionInfoError(ssErrReadVersionInfo);
    fileVersionMS_ = Dword(value, kFileVersionMS);
    fileVersionLS_ = Dword(value, kFileVersionLS);
    productVersionMS_ = Dword(value, kProductVersionMS);
    productVersionLS_ = Dword(value, kProductVersionLS);
    fileOS_ = Dword(value, kFileOS);

    fileVersion_ = QueryText(data, prefix + "FileVersion");
    fileVersionNumber_ = fileVersion_.empty() ? 0 : VersionNumber(fileVersion_);
    productVersion_ = QueryText(data, prefix + "ProductVersion");
    productVersionNumber_ = productVersion_.empty() ? 0 : VersionNumber(productVersion_);
}

double TSsCustomVersionInfo::VersionNumber(const std::string& text) {
    double number = 0;
    if (TryStrToFloat(text, number, '.')) return number;
    // "major.minor.build..." : keep major.minor, in the locale's notation.
    std::string local = text;
    int dots = 0;
    for (size_t i = 0; i + 1 < local.size(); ++i) {
        if (local[i] != '.') continue;
        local[i] = DecimalSeparator;
        if (++dots < 2) continue;
        if (i + 1 > 6) return 0;
        return TryStrToFloat(local.substr(0, i), number, DecimalSeparator) ? number : 0;
    }
    return 0;
}

uint32_t TSsCustomVersionInfo::FileVersionMS() { EnsureLoaded(); return fileVersionMS_; }
uint32_t TSsCustomVersionInfo::FileVersionLS() { EnsureLoaded(); return fileVersionLS_; }
uint32_t TSsCustomVersionInfo::FileOS() { EnsureLoaded(); return fileOS_; }
std::string TSsCustomVersionInfo::FileVersion() { EnsureLoaded(); return fileVersion_; }
double TSsCustomVersionInfo::FileVersionNumber() { EnsureLoaded(); return fileVersionNumber_; }
uint32_t TSsCustomVersionInfo::ProductVersionMS() { EnsureLoaded(); return productVersionMS_; }
uint32_t TSsCustomVersionInfo::ProductVersionLS() { EnsureLoaded(); return productVersionLS_; }
std::string TSsCustomVersionInfo::ProductVersion() { EnsureLoaded(); return productVersion_; }
double TSsCustomVersionInfo::ProductVersionNumber() { EnsureLoaded(); return productVersionNumber_; }

TSsShellComponent::TSsShellComponent(TComponent* owner) : TSsComponent(owner) {
    TSsVersionInfo info;
    info.SetFileName(platform::Sys().GetSystemDirectory() + "\\shell32.dll");
    shellVersion_ = info.FileVersionNumber();
}
