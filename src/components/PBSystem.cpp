#include "components/PBSystem.h"

#include <iterator>

#include "framework/Exceptions.h"
#include "platform/Platform.h"

namespace {

const char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kMachineKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr uint32_t kEnvBufferSize = 260;
constexpr long kErrorSuccess = 0, kErrorFileNotFound = 2;

// Text values of one registry key.
class KeyReader {
public:
    // Read access only: ordinary users may read, but not write, the machine key.
    KeyReader(platform::RegRoot root, const char* subKey) : key_(platform::Reg().OpenKeyRead(root, subKey)) {}

    bool IsOpen() const { return static_cast<bool>(key_); }

    // Missing or empty values give empty text; text values are taken up to their first
    // zero byte, unexpanded.
    std::string ReadString(const std::string& name) const {
        uint32_t type = 0;
        std::string data;
        long rc = platform::Reg().QueryValue(key_, name, type, data);
        if (rc == kErrorFileNotFound) return std::string();
        if (rc != kErrorSuccess)
            throw ERegistryException(Format(rtl_messages::RegGetDataFailed, name.c_str()));
        if (data.empty()) return std::string();
        if (type != platform::REG_SZ_ && type != platform::REG_EXPAND_SZ_)
            throw ERegistryException(Format(rtl_messages::InvalidRegType, name.c_str()));
        return data.substr(0, data.find('\0'));
    }

    std::string ReadPath(const std::string& name) const { return ExpandOneVariable(ReadString(name)); }

private:
    platform::RegKey key_;  // closed on every path out (a bad value throws mid-read)
};

}  // namespace

std::string ExpandOneVariable(const std::string& text) {
    if (text.empty()) return text;
    // 1-based positions of the last opening and the last closing "%"; 0: none seen.
    size_t opening = 0, closing = 0;
    bool inside = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        inside = !inside;
        (inside ? opening : closing) = i + 1;
    }
    if (opening == 0 || closing <= opening) return text;

    const std::string name = text.substr(opening, closing - opening - 1);
    char buffer[kEnvBufferSize];
    uint32_t length = platform::Sys().GetEnvironmentVariable(name, buffer, kEnvBufferSize);
    if (length == 0) return text;
    // A value that does not fit the buffer comes back as the size it needs, with nothing
    // filled in; rather than insert a cut or stale text we leave the reference unexpanded.
    if (length >= kEnvBufferSize) return text;
    return text.substr(0, opening - 1) + std::string(buffer, length) + text.substr(closing);
}

TPBSystemPath::TPBSystemPath(TComponent* owner) : TComponent(owner) {
    platform::System& sys = platform::Sys();
    Windows_ = sys.GetWindowsDirectory();
    System_ = sys.GetSystemDirectory();
    Temp_ = sys.GetTempPath();

    // One table per key: each entry's value read into its member.
    struct Entry {
        const char* name;
        std::string TPBSystemPath::*field;
    };
    static const Entry kUser[] = {
        {"AppData", &TPBSystemPath::AppData_},
        {"Cache", &TPBSystemPath::Cache_},
        {"Cookies", &TPBSystemPath::Cookies_},
        {"DeskTop", &TPBSystemPath::DeskTop_},
        {"Favorites", &TPBSystemPath::Favorites_},
        {"Fonts", &TPBSystemPath::Fonts_},
        {"History", &TPBSystemPath::History_},
        {"NetHood", &TPBSystemPath::NetHood_},
        {"Personal", &TPBSystemPath::Personal_},
        {"PrintHood", &TPBSystemPath::PrintHood_},
        {"Programs", &TPBSystemPath::Programs_},
        {"Recent", &TPBSystemPath::Recent_},
        {"SendTo", &TPBSystemPath::SendTo_},
        {"Start Menu", &TPBSystemPath::StartMenu_},
        {"StartUp", &TPBSystemPath::StartUp_},
        {"Templates", &TPBSystemPath::Templates_},
        {"My Pictures", &TPBSystemPath::MyPictures_},
        {"Local Settings", &TPBSystemPath::LocalSettings_},
        {"Local AppData", &TPBSystemPath::LocalAppData_},
        {"Content", &TPBSystemPath::Content_}};
    static const Entry kMachine[] = {
        {"CommonFilesDir", &TPBSystemPath::CommonFiles_},
        {"ConfigPath", &TPBSystemPath::Config_},
        {"DevicePath", &TPBSystemPath::Device_},
        {"MediaPath", &TPBSystemPath::Media_},
        {"OtherDevicePath", &TPBSystemPath::OtherDevice_},
        {"ProgramFilesPath", &TPBSystemPath::ProgramFiles_},
        {"SystemRoot", &TPBSystemPath::SystemRoot_},
        {"WallPaperDir", &TPBSystemPath::WallPaper_}};
    const auto read = [this](platform::RegRoot root, const char* key, const Entry* from, const Entry* to) {
        KeyReader reader(root, key);
        if (!reader.IsOpen()) return;
        for (const Entry* e = from; e != to; ++e) this->*(e->field) = reader.ReadPath(e->name);
    };
    read(platform::RegRoot::CurrentUser, kShellFoldersKey, std::begin(kUser), std::end(kUser));
    read(platform::RegRoot::LocalMachine, kMachineKey, std::begin(kMachine), std::end(kMachine));
    ComponentVersion_ = "4.00.00.00";
}
