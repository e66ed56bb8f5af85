// What the launcher takes for a stamp, a release, a Windows program and a crash.
#include "LauncherFixture.h"
#include "launcher/ProgramStart.h"
#include "launcher/Release.h"

namespace launcher_test {
namespace {

const std::string kStamp = "2026-12-08 10:00:00";

TEST(Stamps, OneFormWithAMarkBeforeAndBlanksAfter) {
    struct Case { std::string bytes; std::string stamp; };
    const Case cases[] = {
        {kStamp, kStamp},
        {kStamp + "\r\nrest", kStamp},
        {kStamp + "\nrest", kStamp},
        {kStamp + "  \r \r\n", kStamp},
        {kStamp + "\rrest", kStamp},  // a CR alone ends the line too
        {kStamp + "  x\r\n", ""},
        {"\xEF\xBB\xBF" + kStamp + "\r\n", kStamp},
        {std::string(kStamp + '\0' + "junk"), kStamp},
        {"0000-00-00 00:00:00", "0000-00-00 00:00:00"},  // digits, not dates: the form is what orders
        {"", ""},
        {"\r\n" + kStamp, ""},
        {"<!DOCTYPE html>\r\n<html>", ""},
        {"2026-12-08 10:00", ""},
        {"2026-12-08T10:00:00", ""},
        {"2026-12-08 10:00:00x", ""},
        {"2026-12-08 10:00:00 x", ""},
        {"2026-12-08 10:00:00\t", ""},
        {" 2026-12-08 10:00:00", ""},
        {"2026-12-8 10:00:00", ""},
        {"2026-12-08 10:00:0a", ""},
        {"\xEF\xBB" + kStamp, ""},
        {"\xEF\xBB\xBF\xEF\xBB\xBF" + kStamp, ""},
        {"\x1F\x8B\x08", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(StampOf(c.bytes), c.stamp) << '"' << c.bytes << '"';
}

TEST(Releases, AManifestStatesTheProgramAnythingElseOnlyItsStamp) {
    const std::string sha(64, 'a');
    const std::string manifest = kStamp + "\r\nsha256 " + sha + "\r\nsize 1234\r\n";
    ReleaseInfo r;
    ASSERT_TRUE(ReadRelease(manifest, r));
    EXPECT_EQ(r.stamp, kStamp);
    EXPECT_EQ(r.sha256, sha);
    EXPECT_EQ(r.size, 1234u);

    for (const std::string& plain : {kStamp, kStamp + "\r\n", kStamp + "\r\nsha256 " + sha + "\r\n",
                                     manifest + "x\r\n", "\xEF\xBB\xBF" + kStamp + " \r\nnotes"}) {
        ReleaseInfo p;
        ASSERT_TRUE(ReadRelease(plain, p)) << plain;
        EXPECT_EQ(p.stamp, kStamp);
        EXPECT_FALSE(p.HasManifest()) << plain;
        EXPECT_EQ(p.size, 0u);
    }
    ReleaseInfo untouched{"x", "", 7};
    EXPECT_FALSE(ReadRelease("<html>" + manifest, untouched));
    EXPECT_EQ(untouched.stamp, "x");
}

// A PE image: MZ, e_lfanew, "PE\0\0" and a file header with `characteristics`.
std::string Image(uint32_t peOffset, uint16_t characteristics, size_t size = 0) {
    std::string bytes(std::max<size_t>(size, 0x40), '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(peOffset >> (8 * i));
    if (size == 0) {
        bytes.resize(std::max<size_t>(bytes.size(), peOffset + 24));
        bytes.replace(peOffset, 4, std::string("PE\0\0", 4));
        bytes[peOffset + 22] = static_cast<char>(characteristics);
        bytes[peOffset + 23] = static_cast<char>(characteristics >> 8);
    }
    return bytes;
}

TEST(Programs, OnlyAWindowsProgramIsOne) {
    struct Case { const char* why; std::string bytes; bool program; };
    std::string cutHeader = Image(0x80, 0x0102);
    cutHeader.resize(0x80 + 23);
    std::string notPe = Image(0x80, 0x0102);
    notPe[0x82] = 'X';
    const Case cases[] = {
        {"an executable", Image(0x80, 0x0102), true},
        {"the fixture's program", kNewExe, true},
        {"a header far into the file", Image(0x8000, 0x0002), true},
        {"a library", Image(0x80, 0x2102), false},
        {"an image not marked executable", Image(0x80, 0x0100), false},
        {"no MZ", "ZM" + Image(0x80, 0x0102).substr(2), false},
        {"PE signature missing", notPe, false},
        {"PE offset past the end", Image(0x1000, 0, 0x200), false},
        {"PE offset inside the DOS header", Image(0x20, 0, 0x200), false},
        {"PE offset near 4 GiB", Image(0xFFFFFFF0u, 0, 0x200), false},
        {"the file header cut short", cutHeader, false},
        {"shorter than a DOS header", "MZ" + std::string(20, '\0'), false},
        {"empty", "", false},
        {"a portal's page", "<!DOCTYPE html><html><body>Log in</body></html>" + std::string(100, ' '), false},
        {"gzip of a program", "\x1F\x8B\x08" + std::string(200, '\0'), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsWindowsProgram(c.bytes.data(), c.bytes.size(), c.bytes.size()), c.program) << c.why;
    // The header must lie in the part looked at, and in the file as it is announced.
    const std::string image = Image(0x80, 0x0102);
    EXPECT_FALSE(IsWindowsProgram(image.data(), 0x80 + 23, image.size()));
    EXPECT_FALSE(IsWindowsProgram(image.data(), image.size(), 0x80 + 23));
}

TEST_F(LauncherTest, WithoutAManifestOnlyTheAnnouncedLengthMatches) {
    const ReleaseInfo plain{kStamp, "", 0};
    os.WriteFile("C:\\p.bin", kNewExe);
    auto file = os.Open("C:\\p.bin", platform::OpenMode::ReadLocked);
    EXPECT_TRUE(ProgramMatches(*file, plain, kNewExe.size()));
    EXPECT_FALSE(ProgramMatches(*file, plain, 0)) << "a body of unknown length";
    EXPECT_FALSE(ProgramMatches(*file, plain, kNewExe.size() + 1)) << "cut short of its length";
}

TEST(Starts, OnlyWindowsOwnCrashAndLoaderCodesAreFailures) {
    struct Case { uint32_t code; bool failure; };
    const Case cases[] = {
        {0xC0000005u, true},  {0xC0000135u, true},  {0xC000007Bu, true}, {0xC0000409u, true},
        {0xC00000FDu, true},  {0xC0000142u, true},  {0x80000003u, true},
        {0u, false},          {1u, false},          {0xFFFFFFFFu, false}, {0xE06D7363u, false},
        {0x80004005u, false}, {259u, false},        {0x40010004u, false}, {3u, false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsFailureStatus(c.code), c.failure) << std::hex << c.code;
}

TEST(Releases, ABadReleaseIsTheSameStampAndTheSameDigestWhereBothHaveOne) {
    const ReleaseInfo plain{kStamp, "", 0};
    const ReleaseInfo a{kStamp, std::string(64, 'a'), 10};
    const ReleaseInfo b{kStamp, std::string(64, 'b'), 10};
    const ReleaseInfo later{"2026-12-08 10:00:01", "", 0};
    EXPECT_TRUE(IsBadRelease(BadReleaseRecord(plain), plain));
    EXPECT_TRUE(IsBadRelease(BadReleaseRecord(a), a));
    EXPECT_FALSE(IsBadRelease(BadReleaseRecord(a), b)) << "the vendor's fixed build under the same stamp";
    EXPECT_TRUE(IsBadRelease(BadReleaseRecord(plain), a));
    EXPECT_FALSE(IsBadRelease(BadReleaseRecord(plain), later));
    EXPECT_FALSE(IsBadRelease("", plain));
    EXPECT_FALSE(IsBadRelease("<html>", plain));
}

}  // namespace
}  // namespace launcher_test
