#include "components/PBSystem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "doubles/FakePlatform.h"
#include "framework/Exceptions.h"

namespace {

using platform::RegRoot;

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kMachine[] = "Software\\Microsoft\\Windows\\CurrentVersion";

struct Expansion {
    const char* text;
    const char* expected;
};

TEST(ExpandOneVariable, LastCompletePairIsReplaced) {
    platform::fake::ScopedFakePlatform fake;
    fake.SetEnv("USERPROFILE", "C:\\Documents and Settings\\ulla");
    fake.SetEnv("A", "aa");
    fake.SetEnv("B", "bb");
    fake.SetEnv("FITS", std::string(259, 'f'));    // 259 characters and the zero: 260
    fake.SetEnv("TOOLONG", std::string(260, 'x'));
    const std::string fits(259, 'f');
    const std::vector<Expansion> cases = {
        {"", ""},
        {"%USERPROFILE%\\Application Data", "C:\\Documents and Settings\\ulla\\Application Data"},
        {"C:\\%A%\\x", "C:\\aa\\x"},
        {"%A%\\%B%", "%A%\\bb"},
        {"%A%\\50%", "%A%\\50%"},         // unpaired "%" after the last pair
        {"%A", "%A"},
        {"%UNSET%\\x", "%UNSET%\\x"},
        {"%%\\x", "%%\\x"},               // the empty name is never set
        {"%TOOLONG%\\x", "%TOOLONG%\\x"}, // does not fit the buffer: left as it is
        {"no reference", "no reference"},
    };
    for (const Expansion& c : cases) EXPECT_EQ(ExpandOneVariable(c.text), c.expected) << c.text;
    EXPECT_EQ(ExpandOneVariable("%FITS%!"), fits + "!");
}

class PBSystemPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake.SetWindowsDirectory("C:\\WINNT");
        fake.SetSystemDirectory("C:\\WINNT\\system32");
        fake.SetTempPath("C:\\TEMP\\");
        for (const char* name : kUserNames) User(name, std::string("C:\\u\\") + name);
        for (const char* name : kMachineNames) Machine(name, std::string("D:\\m\\") + name);
        fake.ResetCalls();
    }
    void User(const std::string& name, const std::string& text, uint32_t type = platform::REG_SZ_) {
        fake.SetRegString(RegRoot::CurrentUser, kShellFolders, name, text, type);
    }
    void Machine(const std::string& name, const std::string& text) {
        fake.SetRegString(RegRoot::LocalMachine, kMachine, name, text);
    }
    // The message of the error that leaves the constructor; the owner must not keep the
    // half-built component and no key may stay open.
    std::string ConstructionError() {
        TComponent owner(nullptr);
        try {
            new TPBSystemPath(&owner);
        } catch (const ERegistryException& e) {
            EXPECT_EQ(owner.ComponentCount(), 0);
            EXPECT_EQ(fake.OpenKeyCount(), 0);
            return e.Message();
        }
        return "(no error)";
    }

    static constexpr const char* kUserNames[] = {
        "AppData", "Cache", "Cookies", "DeskTop", "Favorites", "Fonts", "History",
        "NetHood", "Personal", "PrintHood", "Programs", "Recent", "SendTo", "Start Menu",
        "StartUp", "Templates", "My Pictures", "Local Settings", "Local AppData", "Content"};
    static constexpr const char* kMachineNames[] = {
        "CommonFilesDir", "ConfigPath", "DevicePath", "MediaPath", "OtherDevicePath",
        "ProgramFilesPath", "SystemRoot", "WallPaperDir"};

    platform::fake::ScopedFakePlatform fake;
};

TEST_F(PBSystemPathTest, EveryPropertyComesFromItsSource) {
    TPBSystemPath p(nullptr);
    const std::vector<std::pair<std::string, std::string>> got = {
        {p.AppData(), "C:\\u\\AppData"},           {p.Cache(), "C:\\u\\Cache"},
        {p.Cookies(), "C:\\u\\Cookies"},           {p.DeskTop(), "C:\\u\\DeskTop"},
        {p.Favorites(), "C:\\u\\Favorites"},       {p.Fonts(), "C:\\u\\Fonts"},
        {p.History(), "C:\\u\\History"},           {p.NetHood(), "C:\\u\\NetHood"},
        {p.Personal(), "C:\\u\\Personal"},         {p.PrintHood(), "C:\\u\\PrintHood"},
        {p.Programs(), "C:\\u\\Programs"},         {p.Recent(), "C:\\u\\Recent"},
        {p.SendTo(), "C:\\u\\SendTo"},             {p.StartMenu(), "C:\\u\\Start Menu"},
        {p.StartUp(), "C:\\u\\StartUp"},           {p.Templates(), "C:\\u\\Templates"},
        {p.Windows(), "C:\\WINNT"},                {p.System(), "C:\\WINNT\\system32"},
        {p.Temp(), "C:\\TEMP\\"},                  {p.CommonFiles(), "D:\\m\\CommonFilesDir"},
        {p.Config(), "D:\\m\\ConfigPath"},         {p.Device(), "D:\\m\\DevicePath"},
        {p.Media(), "D:\\m\\MediaPath"},           {p.OtherDevice(), "D:\\m\\OtherDevicePath"},
        {p.ProgramFiles(), "D:\\m\\ProgramFilesPath"}, {p.SystemRoot(), "D:\\m\\SystemRoot"},
        {p.WallPaper(), "D:\\m\\WallPaperDir"},    {p.ComponentVersion(), "4.00.00.00"},
        {p.MyPictures(), "C:\\u\\My Pictures"},    {p.LocalSettings(), "C:\\u\\Local Settings"},
        {p.LocalAppData(), "C:\\u\\Local AppData"}, {p.Content(), "C:\\u\\Content"}};
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].first, got[i].second) << "property " << i;
    EXPECT_EQ(fake.OpenKeyCount(), 0);
}

// Both keys are opened for reading only, so a user without write access to the machine key
// still gets its folders; the values are read in their fixed order.
TEST_F(PBSystemPathTest, KeysAreOpenedReadOnlyAndReadInOrder) {
    TPBSystemPath p(nullptr);
    std::vector<std::string> registry;
    for (const std::string& call : fake.CallLog())
        if (call.rfind("OpenKeyRead", 0) == 0 || call.rfind("QueryValue", 0) == 0) registry.push_back(call);
    std::vector<std::string> expected = {std::string("OpenKeyRead ") + kShellFolders};
    for (const char* name : kUserNames) expected.push_back(std::string("QueryValue ") + name);
    expected.push_back(std::string("OpenKeyRead ") + kMachine);
    for (const char* name : kMachineNames) expected.push_back(std::string("QueryValue ") + name);
    EXPECT_EQ(registry, expected);
}

TEST_F(PBSystemPathTest, RegistryValuesAreExpandedOnce) {
    fake.SetEnv("USERPROFILE", "C:\\Documents and Settings\\ulla");
    fake.SetEnv("SystemRoot", "C:\\WINNT");
    User("AppData", "%USERPROFILE%\\Application Data", platform::REG_EXPAND_SZ_);
    User("Cache", std::string("C:\\cache\0junk", 13));  // text ends at its first zero
    Machine("MediaPath", "%SystemRoot%\\Media");
    TPBSystemPath p(nullptr);
    EXPECT_EQ(p.AppData(), "C:\\Documents and Settings\\ulla\\Application Data");
    EXPECT_EQ(p.Cache(), "C:\\cache");
    EXPECT_EQ(p.Media(), "C:\\WINNT\\Media");
}

// A shell folders key without "Content", with an empty value, and no machine key.
TEST(PBSystemPath, MissingOrEmptyValuesGiveEmptyText) {
    platform::fake::ScopedFakePlatform fake;
    fake.SetRegString(RegRoot::CurrentUser, kShellFolders, "AppData", "C:\\a");
    fake.SetRegValue(RegRoot::CurrentUser, kShellFolders, "Cookies", platform::REG_DWORD_, "");
    TPBSystemPath p(nullptr);
    EXPECT_EQ(p.AppData(), "C:\\a");
    EXPECT_EQ(p.Cookies(), "");
    EXPECT_EQ(p.Content(), "");
    EXPECT_EQ(p.SystemRoot(), "");
    EXPECT_EQ(p.ComponentVersion(), "4.00.00.00");
}

TEST_F(PBSystemPathTest, KeyThatCannotBeOpenedLeavesItsGroupEmpty) {
    fake.SetRegKeyUnopenable(RegRoot::CurrentUser, kShellFolders);
    TPBSystemPath p(nullptr);
    EXPECT_EQ(p.AppData(), "");
    EXPECT_EQ(p.Content(), "");
    EXPECT_EQ(p.CommonFiles(), "D:\\m\\CommonFilesDir");
    EXPECT_EQ(p.Windows(), "C:\\WINNT");
}

TEST_F(PBSystemPathTest, BadValuesLeaveTheConstructor) {
    fake.SetRegValue(RegRoot::CurrentUser, kShellFolders, "Fonts", platform::REG_DWORD_,
                     std::string("\x01\0\0\0", 4));
    EXPECT_EQ(ConstructionError(), "Invalid data type for 'Fonts'");

    User("Fonts", "C:\\Fonts");
    fake.SetRegValue(RegRoot::LocalMachine, kMachine, "WallPaperDir", platform::REG_BINARY_, "C:\\");
    EXPECT_EQ(ConstructionError(), "Invalid data type for 'WallPaperDir'");

    Machine("WallPaperDir", "C:\\wp");
    fake.SetRegValueUnreadable(RegRoot::CurrentUser, kShellFolders, "Local AppData");
    EXPECT_EQ(ConstructionError(), "Failed to get data for 'Local AppData'");
}

TEST_F(PBSystemPathTest, WritesAreIgnored) {
    TPBSystemPath p(nullptr);
    p.SetAppData("X:\\elsewhere");
    p.SetComponentVersion("5");
    p.SetTemp("");
    EXPECT_EQ(p.AppData(), "C:\\u\\AppData");
    EXPECT_EQ(p.ComponentVersion(), "4.00.00.00");
    EXPECT_EQ(p.Temp(), "C:\\TEMP\\");
}

}  // namespace
