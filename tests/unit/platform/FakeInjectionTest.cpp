#include <gtest/gtest.h>

#include <algorithm>

#include "doubles/FakePlatform.h"

namespace {

using namespace platform;
using namespace platform::fake;

// A small scenario over several services; returns what a caller would see.
std::string Scenario() {
    std::string seen;
    seen += Fs().CreateDirectory("C:\\app") ? "d" : "-";
    auto f = Fs().Open("C:\\app\\x.txt", OpenMode::CreateWrite);
    uint32_t n = 0;
    seen += f && f->Write("abc", 3, n) ? "w" : "-";
    seen += f && f->Close() ? "c" : "-";
    seen += Fs().MoveFile("C:\\app\\x.txt", "C:\\app\\y.txt") ? "m" : "-";
    InetHandle s = Net().InternetOpen("WebCopy", 0, nullptr, nullptr, 0);
    InetHandle r = Net().InternetOpenUrl(s.get(), "http://h/a", nullptr, 0, 0, 0);
    char buf[8];
    seen += r && Net().InternetReadFile(r.get(), buf, sizeof buf, &n) ? "r" : "-";
    return seen;
}

TEST(FakeInjection, EachCountedCallFailsExactlyOnceWhenChosen) {
    uint64_t total = 0;
    {
        ScopedFakePlatform fake;
        fake.SetHttp("http://h/a", {});
        EXPECT_EQ(Scenario(), "dwcmr");
        total = fake.CallCount();
        EXPECT_EQ(total, 10u);  // GetTickCount, GetLastError and SetLastError are not counted
        Sys().GetTickCount();
        Sys().SetLastError(1);
        EXPECT_EQ(fake.CallCount(), total);
    }
    // What the caller sees, and how many calls the run then makes (a failed open skips
    // the calls on what it would have opened).
    const std::pair<const char*, uint64_t> expected[] = {
        {"----r", 8},  {"d---r", 8},  {"d-cmr", 10}, {"dw-mr", 10}, {"dwc-r", 10},
        {"dwcm-", 7},  {"dwcm-", 8},  {"dwcm-", 10}, {"dwcmr", 10}, {"dwcmr", 10},
    };
    for (uint64_t n = 1; n <= total; ++n) {
        ScopedFakePlatform fake;
        fake.SetHttp("http://h/a", {});
        fake.FailCall(n);
        EXPECT_EQ(Scenario(), expected[n - 1].first) << "call " << n << ": " << fake.CallLog()[n - 1];
        EXPECT_EQ(fake.CallLog()[n - 1][0], '!');
        EXPECT_EQ(std::count_if(fake.CallLog().begin(), fake.CallLog().end(),
                                [](const std::string& c) { return c[0] == '!'; }),
                  1);
        EXPECT_EQ(fake.CallCount(), expected[n - 1].second) << "call " << n;
        EXPECT_EQ(fake.OpenHandleCount(), 0) << "call " << n;
        EXPECT_EQ(fake.OpenFileCount(), 0) << "call " << n;
    }
}

TEST(FakeInjection, FailuresLookLikeWin32AndNamedFailuresCountOccurrences) {
    ScopedFakePlatform fake;
    fake.WriteFile("C:\\a.txt", "a");
    fake.FailNextCall("DeleteFile", 2);
    EXPECT_TRUE(Fs().FileExists("C:\\a.txt"));
    fake.WriteFile("C:\\b.txt", "b");
    EXPECT_FALSE(Fs().DeleteFile("C:\\missing"));  // first DeleteFile: fails on its own
    EXPECT_EQ(Sys().GetLastError(), kErrFileNotFound);
    EXPECT_FALSE(Fs().DeleteFile("C:\\a.txt"));    // second: injected
    EXPECT_EQ(Sys().GetLastError(), kErrAccessDenied);
    EXPECT_TRUE(fake.Exists("C:\\a.txt"));
    EXPECT_TRUE(Fs().DeleteFile("C:\\a.txt"));     // only once
    EXPECT_EQ(fake.CallLog(), (std::vector<std::string>{"FileExists C:\\a.txt", "DeleteFile C:\\missing",
                                                        "!DeleteFile C:\\a.txt", "DeleteFile C:\\a.txt"}));

    fake.ResetCalls();
    fake.FailCall(1);
    EXPECT_EQ(Fs().GetFileAttributes("C:\\b.txt"), INVALID_FILE_ATTRIBUTES_);
    fake.FailCall(2);
    EXPECT_FALSE(Reg().OpenKeyRead(RegRoot::CurrentUser, "Software"));
    fake.FailCall(3);
    EXPECT_EQ(Sys().WinExec("C:\\app\\N.exe ", 2), kErrFileNotFound);
    EXPECT_EQ(fake.WinExecCalls().size(), 1u);
    fake.FailCall(4);
    EXPECT_EQ(Sys().GetFileVersionInfoSize("C:\\b.txt"), 0u);
    EXPECT_EQ(Sys().GetLastError(), kErrResourceDataNotFound);
    fake.FailCall(5);
    EXPECT_FALSE(Net().InternetOpen("a", 0, nullptr, nullptr, 0));
}

}  // namespace
