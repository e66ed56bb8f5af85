// The folder release's manifest: what it takes, and every path, shape and limit rule refused
// whole with the rule it broke.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "launcher/FolderManifest.h"

namespace {

const std::string kStamp = "2026-12-08 10:00:00";
const std::string kA(64, 'a'), kB(64, 'b');

std::string Line(const std::string& path, const std::string& size = "10", const std::string& hex = kA) {
    return "file " + hex + " " + size + " " + path + "\r\n";
}

// A manifest of `paths` and the program, in order.
std::string Manifest(std::vector<std::string> paths) {
    paths.push_back("Kassa.exe");
    std::sort(paths.begin(), paths.end());
    std::string text = kStamp + "\r\n";
    for (const auto& p : paths) text += Line(p);
    return text;
}

TEST(FolderManifest, ReadsAProgramOfManyFiles) {
    for (const std::string& eol : {std::string("\r\n"), std::string("\n")}) {
        const std::string text = kStamp + eol + "file " + kA + " 4294967295 Data/Hj\xE4lp med blanka.chm" + eol +
                                 "file " + kB + " 0 Data/tom.ini" + eol + "file " + kA + " 1234 Kassa.exe" + eol +
                                 "file " + kB + " 7 lib/x64/a.dll" + eol;
        FolderManifest m;
        std::string why;
        ASSERT_TRUE(ParseFolderManifest(text, "Kassa.exe", m, &why)) << why;
        EXPECT_EQ(m.stamp, kStamp);
        ASSERT_EQ(m.files.size(), 4u);
        EXPECT_EQ(m.files[0].path, "Data/Hj\xE4lp med blanka.chm");
        EXPECT_EQ(m.files[0].size, 4294967295u);
        EXPECT_EQ(m.files[1].size, 0u);
        EXPECT_EQ(m.files[2].sha256, kA);
        EXPECT_EQ(LocalReleasePath(m.files[3].path), "lib\\x64\\a.dll");
    }
    // The program's name is matched as Windows matches it; a name at its very limits passes.
    FolderManifest m;
    EXPECT_TRUE(ParseFolderManifest(kStamp + "\r\n" + Line("KASSA.EXE"), "Kassa.exe", m));
    EXPECT_TRUE(ParseFolderManifest(Manifest({std::string(120, 'x') + "/" + std::string(119, 'y')}), "Kassa.exe", m));
    EXPECT_TRUE(ParseFolderManifest(Manifest({"com10", "lpt", "console.txt", "nul-fri", " a", "a.b.c"}), "Kassa.exe", m));
    // What publish writes is what the launcher reads.
    EXPECT_EQ(FormatFolderManifest(kStamp, m.files), Manifest({"com10", "lpt", "console.txt", "nul-fri", " a", "a.b.c"}));
}

TEST(FolderManifest, RefusesEveryBrokenRuleWhole) {
    const std::string head = kStamp + "\r\n", exe = Line("Kassa.exe");
    struct Case {
        std::string bytes, why;
    };
    const Case cases[] = {
        {"", "empty"},
        {head, "no file"},
        {head + Line("a.dll"), "Kassa.exe is not at the top"},
        {head + Line("bin/Kassa.exe"), "Kassa.exe is not at the top"},
        {"2026-12-08 10:00\r\n" + exe, "stamp"},
        {"\xEF\xBB\xBF" + head + exe, "stamp"},
        {kStamp + " \r\n" + exe, "stamp"},
        {head + exe.substr(0, exe.size() - 2), "line end"},
        {head + "\r\n" + exe, "not a file line"},
        {head + exe + "sha256 " + kA + "\r\n", "not a file line"},
        {head + "File " + kA + " 10 Kassa.exe\r\n", "not a file line"},
        {head + Line("Kassa.exe", "10", std::string(64, 'A')), "SHA-256"},
        {head + Line("Kassa.exe", "10", std::string(63, 'a')), "SHA-256"},
        {head + "file " + kA + "  10 Kassa.exe\r\n", "size"},
        {head + Line("Kassa.exe", "010"), "size"},
        {head + Line("Kassa.exe", "+10"), "size"},
        {head + Line("Kassa.exe", "4294967296"), "size"},
        {head + Line("Kassa.exe", "99999999999999999999"), "size"},
        {head + "file " + kA + " 10\r\n", "without its path"},
        {head + "file " + kA + " 10 \r\n", "plain Windows names"},
        {kStamp + "\n" + exe, "control"},                        // mixed line ends
        {head + Line("a\tb") + exe, "control"},
        {head + Line(std::string("a\0b", 3)) + exe, "control"},
        {head + exe + exe, "ascending"},
        {head + exe + Line("A.dll"), "ascending"},
        {head + Line("a.dll") + Line("A.DLL") + exe, "ascending"},  // 'A' sorts first
        {head + Line("A.DLL") + exe + Line("a.dll"), "differ only in case"},
        {head + Line("Data/\xC5r.txt") + exe + Line("data/\xE5r.txt"), "differ only in case"},
        {head + Line("Data") + Line("Data/x.txt") + exe, "also a folder"},
        {head + Line("DATA") + exe + Line("data/x.txt"), "also a folder"},
        {head + exe + Line(std::string(241, 'x')), "longer than 240"},
    };
    for (const auto& c : cases) {
        FolderManifest m;
        m.stamp = "untouched";
        std::string why;
        EXPECT_FALSE(ParseFolderManifest(c.bytes, "Kassa.exe", m, &why)) << c.bytes;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.bytes << " gave: " << why;
        EXPECT_EQ(m.stamp, "untouched");
    }
    // Every path rule, one bad path at a time in an otherwise good release.
    const std::string badPaths[] = {"/abs.dll", "a//b.dll", "dir/", ".", "..", "../up.dll", "a/../../up.dll",
                                    "./a.dll", "a\\b.dll", "C:x.dll", "c:/x.dll", "a*.dll", "a?.dll",
                                    "a\"b", "a<b", "a>b", "a|b", "ads.txt:stream", "trail.", "trail ",
                                    "dir./a", "CON", "con.txt", "Nul", "NUL .txt", "aux.dll", "prn",
                                    "COM1", "com9.log", "LPT1", "lpt0", "COM\xB9", "conin$", "CONOUT$.x",
                                    "sub/NUL", "a\x7f" "b", "a\x1f" "b"};
    for (const auto& bad : badPaths) {
        FolderManifest m;
        std::string why;
        EXPECT_FALSE(ParseFolderManifest(Manifest({bad}), "Kassa.exe", m, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST(FolderManifest, KeepsToItsLimits) {
    // 10,000 files and 1 MiB pass; one more file or one more byte does not.
    auto many = [](size_t n, size_t pad) {
        std::vector<std::string> paths;
        char name[32];
        for (size_t i = 1; i < n; ++i) {
            std::snprintf(name, sizeof name, "f%05zu", i);
            paths.push_back(name + std::string(pad, 'p'));
        }
        return Manifest(paths);
    };
    FolderManifest m;
    std::string why;
    EXPECT_TRUE(ParseFolderManifest(many(kMaxFolderFiles, 0), "Kassa.exe", m, &why)) << why;
    EXPECT_EQ(m.files.size(), kMaxFolderFiles);
    EXPECT_FALSE(ParseFolderManifest(many(kMaxFolderFiles + 1, 0), "Kassa.exe", m, &why));
    EXPECT_EQ(why, "more than 10000 files");

    std::string text = many(8665, 40);
    const size_t lastPath = kMaxFolderManifestSize - text.size() - Line("").size();
    ASSERT_LE(lastPath, kMaxReleasePathLength);
    text += Line("z" + std::string(lastPath - 1, 'z'));
    ASSERT_EQ(text.size(), kMaxFolderManifestSize);
    EXPECT_TRUE(ParseFolderManifest(text, "Kassa.exe", m, &why)) << why;
    EXPECT_FALSE(ParseFolderManifest(text + "\r\n", "Kassa.exe", m, &why));
    EXPECT_EQ(why, "larger than 1 MiB");
}

TEST(FolderManifest, TellsAFolderReleaseFromOtherStampFiles) {
    EXPECT_TRUE(IsFolderManifestText(kStamp + "\r\n" + Line("Kassa.exe")));
    EXPECT_TRUE(IsFolderManifestText(kStamp + "\nsha256 x\nfile broken\n"));
    EXPECT_FALSE(IsFolderManifestText(kStamp + "\r\nsha256 " + kA + "\r\nsize 10\r\n"));
    EXPECT_FALSE(IsFolderManifestText(kStamp + " file x\r\n"));
    EXPECT_FALSE(IsFolderManifestText("file " + kA + " 10 Kassa.exe"));
}

}  // namespace
