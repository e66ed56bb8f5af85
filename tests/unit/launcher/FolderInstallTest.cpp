// Building a version folder: what is reused (linked or copied, always checked), what is
// fetched, what is refused, and that the folder holds exactly the release afterwards; and
// removing versions that are no longer kept.
#include <gtest/gtest.h>

#include <map>

#include "doubles/FakePlatform.h"
#include "launcher/FolderInstall.h"
#include "signing/Sha256.h"

namespace {

using platform::fake::ScopedFakePlatform;

const std::string kApp = "C:\\Data\\Brakven\\Applikationer\\";

struct Release {
    std::map<std::string, std::string> files;  // release path -> bytes
    FolderManifest Manifest(const std::string& stamp = "2026-12-08 10:00:00") const {
        std::vector<FolderFile> list;
        for (const auto& f : files) list.push_back({signing::Sha256Hex(f.second), f.second.size(), f.first});
        FolderManifest m;
        std::string why;
        EXPECT_TRUE(ParseFolderManifest(FormatFolderManifest(stamp, list), "Kassa.exe", m, &why)) << why;
        return m;
    }
};

class FolderInstallTest : public ::testing::Test {
protected:
    // Fetches from `server` (sha256 -> bytes) as the download would: the object's bytes under
    // the target's name, or nothing when the server has no such object.
    FetchObjects Server(std::map<std::string, std::string> server) {
        return [this, server](const std::vector<ObjectFetch>& objects) {
            for (const auto& o : objects) {
                requested.push_back(o.sha256);
                auto it = server.find(o.sha256);
                if (it != server.end()) os.WriteFile(o.folder + o.name, it->second);
            }
        };
    }
    std::map<std::string, std::string> Objects(const Release& r) {
        std::map<std::string, std::string> objects;
        for (const auto& f : r.files) objects[signing::Sha256Hex(f.second)] = f.second;
        return objects;
    }
    // The folder's files, relative path -> bytes.
    std::map<std::string, std::string> Tree(const std::string& folder, const std::string& rel = "") {
        std::map<std::string, std::string> tree;
        for (const auto& name : os.ListFolder(folder + rel)) {
            const std::string path = rel + name;
            if (os.IsDirectory(folder + path)) {
                for (const auto& e : Tree(folder, path + "\\")) tree.insert(e);
            } else {
                tree[path] = *os.ReadFile(folder + path);
            }
        }
        return tree;
    }
    static std::map<std::string, std::string> Local(const Release& r) {
        std::map<std::string, std::string> local;
        for (const auto& f : r.files) local[LocalReleasePath(f.first)] = f.second;
        return local;
    }

    ScopedFakePlatform os;
    std::vector<std::string> requested;
};

const Release kV1{{{"Kassa.exe", "MZ program v1"}, {"lib/a.dll", std::string(70000, 'a')},
                   {"lib/b.dll", "library b"}, {"data/tom.ini", ""}, {"data/same.txt", "library b"}}};

TEST_F(FolderInstallTest, FetchesOnlyWhatNoInstalledFileHoldsAndChecksEveryByte) {
    const std::string v1 = VersionFolder(kApp, "Kassa", "manifest one");
    EXPECT_EQ(v1, kApp + "Kassa\\" + signing::Sha256Hex("manifest one").substr(0, 16) + "\\");
    BuildStats stats;
    ASSERT_TRUE(BuildVersion(kV1.Manifest(), v1, {}, Server(Objects(kV1)), &stats));
    EXPECT_EQ(Tree(v1), Local(kV1));
    // Each object once (two files hold "library b"); the empty file is made, not fetched.
    EXPECT_EQ(requested, (std::vector<std::string>{signing::Sha256Hex("MZ program v1"), signing::Sha256Hex("library b"),
                                                   signing::Sha256Hex(std::string(70000, 'a'))}));
    EXPECT_EQ(stats.fetchedBytes, 13u + 9 + 70000);
    EXPECT_FALSE(os.Exists(StagingFolder(v1))) << "nothing left beside it";

    // The next release changes one file and moves one: the changed one alone travels. The
    // installed files are offered, one of them tampered with since it was installed.
    Release v2 = kV1;
    v2.files["Kassa.exe"] = "MZ program v2";
    v2.files.erase("lib/b.dll");
    v2.files["lib/c/b.dll"] = "library b";
    os.WriteFile(v1 + "lib\\a.dll", std::string(70000, 'x'));  // not what it was
    std::vector<InstalledFile> installed;
    for (const auto& f : kV1.files) installed.push_back({v1 + LocalReleasePath(f.first), signing::Sha256Hex(f.second)});
    const std::string v2Folder = VersionFolder(kApp, "Kassa", "manifest two");
    requested.clear();
    ASSERT_TRUE(BuildVersion(v2.Manifest(), v2Folder, installed, Server(Objects(v2)), &stats));
    EXPECT_EQ(Tree(v2Folder), Local(v2));
    EXPECT_EQ(requested, (std::vector<std::string>{signing::Sha256Hex("MZ program v2"),
                                                   signing::Sha256Hex(std::string(70000, 'a'))}));
    EXPECT_EQ(stats.fetchedBytes, 70000u + 13);
    // Linked under the same name, copied under another.
    EXPECT_EQ(stats.linked, 1u);
    EXPECT_EQ(stats.copied, 2u);  // lib\c\b.dll and the empty file
    os.WriteFile(v1 + "data\\same.txt", "changed");
    EXPECT_EQ(*os.ReadFile(v2Folder + "data\\same.txt"), "changed") << "a link, not a copy";

    // Without links everything is copied.
    os.SetHardLinks(false);
    const std::string v3 = VersionFolder(kApp, "Kassa", "manifest three");
    installed.clear();
    for (const auto& f : v2.files) installed.push_back({v2Folder + LocalReleasePath(f.first), signing::Sha256Hex(f.second)});
    requested.clear();
    Release v3Release = v2;
    v3Release.files["data/same.txt"] = "library b";
    ASSERT_TRUE(BuildVersion(v3Release.Manifest(), v3, installed, Server({}), &stats));
    EXPECT_TRUE(requested.empty());
    EXPECT_EQ(stats.linked, 0u);
    EXPECT_EQ(Tree(v3), Local(v3Release));
}

TEST_F(FolderInstallTest, AnInterruptedBuildIsFinishedAndCleanedNextTime) {
    const std::string v1 = VersionFolder(kApp, "Kassa", "manifest one");
    auto objects = Objects(kV1);
    // The server hands out a wrong object for lib/a.dll and lacks another.
    objects[signing::Sha256Hex(std::string(70000, 'a'))] = std::string(70000, 'b');
    objects.erase(signing::Sha256Hex("MZ program v1"));
    ASSERT_FALSE(BuildVersion(kV1.Manifest(), v1, {}, Server(objects)));
    EXPECT_FALSE(os.Exists(v1 + "lib\\a.dll")) << "a wrong object is not kept";
    EXPECT_FALSE(os.Exists(v1 + "Kassa.exe"));
    EXPECT_EQ(*os.ReadFile(v1 + "lib\\b.dll"), "library b") << "checked files stay for the next try";

    // Meanwhile something was planted beside the program and a file was changed.
    os.WriteFile(v1 + "version.dll", "planted");
    os.WriteFile(v1 + "plugins\\x\\evil.dll", "planted");
    os.WriteFile(v1 + "data\\same.txt", "library B");
    os.WriteFile(v1 + "LIB\\a.dll.0123.partial", "part");
    EXPECT_TRUE(os.Exists(StagingFolder(v1))) << "kept for the next try";
    BuildStats stats;
    requested.clear();
    ASSERT_TRUE(BuildVersion(kV1.Manifest(), v1, {}, Server(Objects(kV1)), &stats));
    EXPECT_EQ(Tree(v1), Local(kV1));
    EXPECT_EQ(stats.kept, 2u);  // lib\b.dll and data\tom.ini
    EXPECT_EQ(requested.size(), 3u);

    // A folder that cannot be made, or a file in the way that cannot go, is a failed build.
    os.Lock(v1 + "Kassa.exe");
    Release v2 = kV1;
    v2.files["Kassa.exe"] = "MZ program v2";
    EXPECT_FALSE(BuildVersion(v2.Manifest(), v1, {}, Server(Objects(v2))));
    os.WriteFile(kApp + "Kassa\\blocked", "a file where a folder must go");
    EXPECT_FALSE(BuildVersion(kV1.Manifest(), kApp + "Kassa\\blocked\\", {}, Server(Objects(kV1))));
}

TEST_F(FolderInstallTest, OnlyTheKeptVersionsStayAndAFolderInUseWaits) {
    const std::string versions = kApp + "Kassa\\";
    os.WriteFile(versions + "1111111111111111\\Kassa.exe", "current");
    os.WriteFile(versions + "2222222222222222\\Kassa.exe", "previous");
    os.WriteFile(versions + "3333333333333333\\lib\\x.dll", "older");
    os.WriteFile(versions + "3333333333333333\\Kassa.exe", "older");
    os.WriteFile(versions + "4444444444444444\\Kassa.exe", "older, running");
    os.WriteFile(versions + "4444444444444444\\data\\x.txt", "older");
    os.WriteFile(versions + "5555555555555555\\lib\\half.dll", "an interrupted build");
    os.WriteFile(versions + "stray.tmp", "left");
    os.Lock(versions + "4444444444444444\\Kassa.exe");
    RemoveOtherVersions(kApp, "Kassa", {"1111111111111111", "2222222222222222"});
    EXPECT_EQ(os.ListFolder(versions), (std::vector<std::string>{"1111111111111111", "2222222222222222",
                                                                  "4444444444444444"}));
    EXPECT_EQ(Tree(versions + "4444444444444444\\").size(), 2u) << "a running program keeps its files";
    os.Lock(versions + "4444444444444444\\Kassa.exe", false);
    RemoveOtherVersions(kApp, "Kassa", {"1111111111111111", "2222222222222222"});
    EXPECT_EQ(os.ListFolder(versions).size(), 2u);
    EXPECT_EQ(*os.ReadFile(versions + "2222222222222222\\Kassa.exe"), "previous");
}

TEST_F(FolderInstallTest, AnInstalledVersionIsOnlyWhatItsManifestAndFolderSay) {
    const std::string text = FormatFolderManifest("2026-12-08 10:00:00", kV1.Manifest().files);
    const std::string folder = VersionFolder(kApp, "Kassa", text);
    os.WriteFile(kApp + "Kassa.dat", text);
    FolderVersion v;
    EXPECT_FALSE(ReadFolderVersion(kApp + "Kassa.dat", kApp, "Kassa", v)) << "its folder has no program";
    os.WriteFile(folder + "KASSA.EXE", "MZ program v1");
    ASSERT_TRUE(ReadFolderVersion(kApp + "Kassa.dat", kApp, "Kassa", v));
    EXPECT_EQ(v.folder, folder);
    EXPECT_EQ(v.program, folder + "Kassa.exe");
    std::vector<InstalledFile> files;
    AddInstalledFiles(v, files);
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(files[4].path, folder + "lib\\b.dll");
    EXPECT_EQ(FileSha256(folder + "Kassa.exe"), signing::Sha256Hex("MZ program v1"));
    EXPECT_EQ(FileSha256(folder + "absent.exe"), "");
    for (const std::string& other : {std::string("2026-12-08 10:00:00\r\n"),
                                     "2026-12-08 10:00:00\r\nsha256 " + std::string(64, 'a') + "\r\nsize 5\r\n",
                                     text + "file broken\r\n", text + std::string(kMaxFolderManifestSize, 'x')}) {
        os.WriteFile(kApp + "Kassa.dat", other);
        EXPECT_FALSE(ReadFolderVersion(kApp + "Kassa.dat", kApp, "Kassa", v)) << other.substr(0, 60);
    }
}

}  // namespace
