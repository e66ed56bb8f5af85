#include <gtest/gtest.h>

#include "doubles/FakePlatform.h"

namespace {

using namespace platform;
using namespace platform::fake;

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

TEST(FakeSystem, EnvironmentVariablesHaveTheWin32Shape) {
    ScopedFakePlatform fake;
    fake.SetEnv("UserProfile", "C:\\Users\\kim");
    char buf[16] = "untouched";
    EXPECT_EQ(Sys().GetEnvironmentVariable("USERPROFILE", buf, sizeof buf), 12u);
    EXPECT_STREQ(buf, "C:\\Users\\kim");
    char small[12] = "untouched";
    EXPECT_EQ(Sys().GetEnvironmentVariable("userprofile", small, sizeof small), 13u);  // needed size
    EXPECT_STREQ(small, "untouched");
    EXPECT_EQ(Sys().GetEnvironmentVariable("NOPE", buf, sizeof buf), 0u);
    EXPECT_EQ(Sys().GetLastError(), kErrEnvVarNotFound);
}

TEST(FakeSystem, RegistryKeysAndValues) {
    ScopedFakePlatform fake;
    fake.SetRegString(RegRoot::CurrentUser, kShellFolders, "AppData", "%USERPROFILE%\\AppData", REG_EXPAND_SZ_);
    fake.SetRegValue(RegRoot::CurrentUser, kShellFolders, "Bin", REG_DWORD_, std::string("\1\0\0\0", 4));
    fake.SetRegValueUnreadable(RegRoot::CurrentUser, kShellFolders, "Cache", 234);
    fake.SetRegKeyUnopenable(RegRoot::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion");

    EXPECT_FALSE(Reg().OpenKeyRead(RegRoot::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion"));
    EXPECT_FALSE(Reg().OpenKeyRead(RegRoot::LocalMachine, "Software\\None"));
    RegKey key = Reg().OpenKeyRead(RegRoot::CurrentUser, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\shell folders");
    ASSERT_TRUE(key);
    EXPECT_TRUE(Reg().OpenKeyRead(RegRoot::CurrentUser, "Software\\Microsoft"));  // parents exist; closed at once
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(Reg().QueryValue(key, "appdata", type, data), 0);
    EXPECT_EQ(type, REG_EXPAND_SZ_);
    EXPECT_EQ(data, std::string("%USERPROFILE%\\AppData\0", 22));
    ASSERT_EQ(Reg().QueryValue(key, "Bin", type, data), 0);
    EXPECT_EQ(type, REG_DWORD_);
    EXPECT_EQ(Reg().QueryValue(key, "Content", type, data), 2);
    EXPECT_EQ(Reg().QueryValue(key, "Cache", type, data), 234);
    EXPECT_EQ(fake.OpenKeyCount(), 1);
    key.reset();
    EXPECT_EQ(fake.OpenKeyCount(), 0);
}

TEST(FakeSystem, VersionResourcesAnswerTheUsualQueries) {
    ScopedFakePlatform fake;
    const std::string shell = "C:\\WINDOWS\\system32\\shell32.dll";
    fake.WriteFile(shell, "MZ");
    fake.WriteFile("C:\\plain.dll", "MZ");
    fake.SetVersionInfo(shell, MakeVersionInfo("6.00.2900.5512 (xpsp.080413-2111)", "6.00.2900.5512"));

    const uint32_t size = Sys().GetFileVersionInfoSize("c:\\windows\\SYSTEM32\\shell32.dll");
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> data(size);
    ASSERT_TRUE(Sys().GetFileVersionInfo(shell, data));
    std::string value;
    ASSERT_TRUE(Sys().VerQueryValue(data, "\\VarFileInfo\\Translation", value));
    EXPECT_EQ(value, std::string("\x1d\x04\xe4\x04", 4));
    ASSERT_TRUE(Sys().VerQueryValue(data, "\\", value));
    ASSERT_EQ(value.size(), 52u);
    EXPECT_EQ(value.substr(8, 8), std::string("\x00\x00\x06\x00\x88\x15\x54\x0b", 8));  // 6.0.2900.5512
    ASSERT_TRUE(Sys().VerQueryValue(data, "StringFileInfo\\041D04E4\\FileVersion", value));
    EXPECT_EQ(value, "6.00.2900.5512 (xpsp.080413-2111)");
    EXPECT_FALSE(Sys().VerQueryValue(data, "StringFileInfo\\041D04E4\\Comments", value));

    EXPECT_EQ(Sys().GetFileVersionInfoSize("C:\\plain.dll"), 0u);
    EXPECT_EQ(Sys().GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND_);
    EXPECT_EQ(Sys().GetFileVersionInfoSize("C:\\missing.dll"), 0u);
    EXPECT_EQ(Sys().GetLastError(), kErrFileNotFound);
    fake.SetVersionInfoError("C:\\plain.dll", 0);
    Sys().SetLastError(99);
    EXPECT_EQ(Sys().GetFileVersionInfoSize("C:\\plain.dll"), 0u);
    EXPECT_EQ(Sys().GetLastError(), 0u);
}

TEST(FakeSystem, ClockSleepAndProcessCalls) {
    ScopedFakePlatform fake;
    fake.SetTicks(1000);
    fake.SetTickStep(5);
    EXPECT_EQ(Sys().GetTickCount(), 1000u);
    EXPECT_EQ(Sys().GetTickCount(), 1005u);
    Sys().Sleep(100);
    Sys().Sleep(300);
    EXPECT_EQ(fake.TotalSleptMs(), 400u);
    EXPECT_EQ(Sys().GetTickCount(), 1410u);

    EXPECT_EQ(Sys().WinExec("C:\\app\\N.exe /x ", 2), 33u);
    ASSERT_EQ(fake.WinExecCalls().size(), 1u);
    EXPECT_EQ(fake.WinExecCalls()[0].cmdLine, "C:\\app\\N.exe /x ");
    EXPECT_EQ(fake.WinExecCalls()[0].show, 2u);

    fake.SetWNetAddResult(1326);
    EXPECT_EQ(Sys().WNetAddConnection2("\\\\srv\\share", "", "kim"), 1326u);
    EXPECT_EQ(fake.WNetAddCalls()[0].userName, "kim");
    EXPECT_EQ(Sys().WNetCancelConnection2("\\\\srv\\share", 0, false), 0u);
}

}  // namespace
