#include "components/PBSystem.h"

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

    {
        KeyReader user(platform::RegRoot::CurrentUser, kShellFoldersKey);
        if (user.IsOpen()) {
            AppData_ = user.ReadPath("AppData");
            Cache_ = user.ReadPath("Cache");
            Cookies_ = user.ReadPath("Cookies");
            DeskTop_ = user.ReadPath("DeskTop");
            Favorites_ = user.ReadPath("Favorites");
            Fonts_ = user.ReadPath("Fonts");
            History_ = user.ReadPath("History");
            NetHood_ = user.ReadPath("NetHood");
            Personal_ = user.ReadPath("Personal");
            PrintHood_ = user.ReadPath("PrintHood");
            Programs_ = user.ReadPath("Programs");
            Recent_ = user.ReadPath("Recent");
            SendTo_ = user.ReadPath("SendTo");
            StartMenu_ = user.ReadPath("Start Menu");
            StartUp_ = user.ReadPath("StartUp");
            Templates_ = user.ReadPath("Templates");
            MyPictures_ = user.ReadPath("My Pictures");
            LocalSettings_ = user.ReadPath("Local Settings");
            LocalAppData_ = user.ReadPath("Local AppData");
            Content_ = user.ReadPath("Content");
        }
    }
    {
        KeyReader machine(platform::RegRoot::LocalMachine, kMachineKey);
        if (machine.IsOpen()) {
            CommonFiles_ = machine.ReadPath("CommonFilesDir");
            Config_ = machine.ReadPath("ConfigPath");
            Device_ = machine.ReadPath("DevicePath");
            Media_ = machine.ReadPath("MediaPath");
            OtherDevice_ = machine.ReadPath("OtherDevicePath");
            ProgramFiles_ = machine.ReadPath("ProgramFilesPath");
            SystemRoot_ = machine.ReadPath("SystemRoot");
            WallPaper_ = machine.ReadPath("WallPaperDir");
        }
    }
    ComponentVersion_ = "4.00.00.00";
}
