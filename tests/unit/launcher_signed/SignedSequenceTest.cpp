// The update-and-start sequence of a launcher built with a key: only a release whose manifest
// the key signed, and whose program matches the manifest, is installed; only its manifest is
// ever recorded. Signed with the test key that the build made.
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>

#include "launcher/LauncherFixture.h"
#include "signing/Sha256.h"
#include "webcopy/Resume.h"

namespace launcher_test {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Key LoadKey(const char* path) {
    std::FILE* f = std::fopen(path, "r");
    EVP_PKEY* key = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) std::fclose(f);
    return Key(key, EVP_PKEY_free);
}

std::string Sign(EVP_PKEY* key, const std::string& message) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    size_t size = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(message.data());
    EXPECT_EQ(EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key), 1);
    EXPECT_EQ(EVP_DigestSign(ctx.get(), nullptr, &size, data, message.size()), 1);
    std::string sig(size, '\0');
    EXPECT_EQ(EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(&sig[0]), &size, data,
                             message.size()), 1);
    sig.resize(size);
    return sig;
}

std::string Manifest(const std::string& stamp, const std::string& program) {
    return stamp + "\r\nsha256 " + signing::Sha256Hex(program) + "\r\nsize " +
           std::to_string(program.size()) + "\r\n";
}

// The download name launchers before release-named downloads used (N.<process id>.bin).
std::string PrivateProgramName(const std::string& baseName, uint32_t processId) {
    return baseName + "." + std::to_string(processId) + ".bin";
}

const std::string kOld = Program("old program");
const std::string kNew = Program(std::string(10000, 'N') + "new program");
const std::string kInstalled = Manifest("2013-07-18 10:00:00", kOld);
const std::string kNewer = "2013-07-18 11:00:00";

class SignedLauncherTest : public LauncherTest {
protected:
    void SetUp() override {
        LauncherTest::SetUp();
        ASSERT_TRUE(key) << "no test key at " << TEST_UPDATE_KEY;
        os.WriteFile(kFolder + "Kassa.exe", kOld);
        os.WriteFile(kFolder + "Kassa.dat", kInstalled);
    }

    // N.txt, N.sig (by default the test key's over N.txt) and N.bin.
    void Publish(const std::string& txt, const std::string& program,
                 std::optional<std::string> sig = std::nullopt) {
        Serve(os, "Kassa.txt", txt);
        Serve(os, "Kassa.bin", program);
        Serve(os, "Kassa.sig", sig ? *sig : Sign(key.get(), txt));
    }

    std::vector<std::string> Asked() const {
        std::vector<std::string> names;
        for (const auto& r : os.HttpRequests()) names.push_back(r.url.substr(r.url.rfind('/') + 1));
        return names;
    }

    Key key = LoadKey(TEST_UPDATE_KEY);
};

TEST_F(SignedLauncherTest, InstallsASignedReleaseAndRecordsItsManifest) {
    const std::string txt = Manifest(kNewer, kNew);
    Publish(txt, kNew);
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(Asked(), (std::vector<std::string>{"Kassa.txt", "Kassa.sig", "Kassa.bin"}));
    EXPECT_EQ(File("Kassa.exe"), kNew);
    EXPECT_EQ(File("Kassa.dat"), txt);
    EXPECT_EQ(os.ListFolder(kFolder), (std::vector<std::string>{"Kassa.dat", "Kassa.exe", "Kassa.log", "Kassa.prev.exe"}));
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_TRUE(headless::MessageBoxCalls().empty());
    EXPECT_EQ(os.OpenFileCount(), 0);
}

TEST_F(SignedLauncherTest, AReleaseThatCrashesIsRolledBackAndNamedByItsDigest) {
    const std::string txt = Manifest(kNewer, kNew);
    Publish(txt, kNew);
    os.SetProgramBehaviour(kNew, {false, 300, 0xC0000005u});
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(File("Kassa.exe"), kOld);
    EXPECT_EQ(File("Kassa.dat"), kInstalled);
    EXPECT_EQ(File("Kassa.bad"), kNewer + "\r\nsha256 " + signing::Sha256Hex(kNew) + "\r\n");
    EXPECT_TRUE(headless::MessageBoxCalls().empty());

    // Not fetched again; the vendor's fixed build under the same stamp is.
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(Asked(), (std::vector<std::string>{"Kassa.txt", "Kassa.sig", "Kassa.bin", "Kassa.txt", "Kassa.sig"}));
    const std::string fixed = Program("fixed build");
    Publish(Manifest(kNewer, fixed), fixed);
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(File("Kassa.exe"), fixed);
    EXPECT_EQ(File("Kassa.dat"), Manifest(kNewer, fixed));
}

TEST_F(SignedLauncherTest, AStampThatIsNotNewerIsNeverRecorded) {
    const std::string older = Manifest("2013-07-18 09:00:00", kNew);
    const std::string cases[] = {kInstalled, older, "0000", "0000\r\n" + std::string(100, 'x')};
    for (const auto& txt : cases) {
        SCOPED_TRACE(txt);
        Publish(txt, kNew);
        const size_t before = os.HttpRequests().size();
        const size_t starts = os.WinExecCalls().size();
        ASSERT_TRUE(RunLauncher());
        EXPECT_EQ(os.HttpRequests().size(), before + 1) << "only N.txt is asked for";
        EXPECT_EQ(File("Kassa.dat"), kInstalled);
        EXPECT_EQ(File("Kassa.exe"), kOld);
        EXPECT_FALSE(Has("Kassa.txt"));
        EXPECT_EQ(os.WinExecCalls().size(), starts + 1);
    }
    // The forged old stamp did not stick: an older genuine release is still older.
    Publish(older, kNew);
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(File("Kassa.exe"), kOld);
}

// The signature's refusals are VerifyManifest's (SignedUpdateTest); here the program's: the
// download stops past the manifest's size, and only the exact bytes are installed.
TEST_F(SignedLauncherTest, AProgramThatDoesNotMatchTheManifestKeepsTheOldOne) {
    const std::string txt = Manifest(kNewer, kNew);
    std::string flipped = kNew;
    flipped[100] ^= 1;
    const struct {
        const char* why;
        std::string txt, program;
        std::optional<std::string> sig = std::nullopt;  // default: the test key's over `txt`
    } cases[] = {
        {"program changed by one byte", txt, flipped},
        {"program one byte longer", txt, kNew + "x"},
        {"program cut short", txt, kNew.substr(0, kNew.size() - 1)},
        {"program much longer", txt, kNew + std::string(300000, 'x')},
        {"another release's program", txt, Program(std::string(9000, 'O') + "other signed release")},
        {"program bytes moved onto the manifest", txt + kNew.substr(0, 2), kNew.substr(2),
         Sign(key.get(), txt)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Publish(c.txt, c.program, c.sig);
        uint64_t delivered = 0;
        HttpResponse bin;
        bin.body = c.program;
        bin.onRead = [&delivered](uint64_t d) { delivered = d; };
        os.SetHttp(ServerUrl("Kassa.bin"), bin);
        const size_t starts = os.WinExecCalls().size();
        headless::Reset();
        ASSERT_TRUE(RunLauncher());
        EXPECT_EQ(File("Kassa.exe"), kOld);
        EXPECT_EQ(File("Kassa.dat"), kInstalled);
        EXPECT_EQ(os.WinExecCalls().size(), starts + 1);
        EXPECT_TRUE(headless::MessageBoxCalls().empty());
        for (const auto& name : os.ListFolder(kFolder))
            EXPECT_TRUE(name == "Kassa.exe" || name == "Kassa.dat" || name == "Kassa.txt" || name == "Kassa.log") << name;
        EXPECT_LE(delivered, kNew.size() + 65536) << "read on past the manifest's size";
    }
}

TEST_F(SignedLauncherTest, OnlyThisRunsOwnDownloadIsEverInstalled) {
    const std::string txt = Manifest(kNewer, kNew);
    Publish(txt, kNew);
    HttpResponse missing;
    missing.status = 404;
    os.SetHttp(ServerUrl("Kassa.bin"), missing);
    // Files under the shared name and under this run's own name, planted before the run.
    os.WriteFile(kFolder + "Kassa.bin", "MZ planted");
    os.WriteFile(kFolder + PrivateProgramName("Kassa", 4242), "MZ planted too");
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(File("Kassa.exe"), kOld);
    EXPECT_EQ(File("Kassa.dat"), kInstalled);
    EXPECT_FALSE(Has(PrivateProgramName("Kassa", 4242)));

    // A second launcher that puts its own file under the shared name, or under another
    // process's private name, while this one downloads changes nothing.
    HttpResponse bin;
    bin.body = kNew;
    bin.onRead = [this](uint64_t) {
        os.WriteFile(kFolder + "Kassa.bin", "MZ evil");
        os.WriteFile(kFolder + PrivateProgramName("Kassa", 4243), "MZ evil");
    };
    os.SetHttp(ServerUrl("Kassa.bin"), bin);
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(File("Kassa.exe"), kNew);
    EXPECT_EQ(File("Kassa.dat"), txt);
}

// One platform failure walked through every call of a signed update: the folder always
// holds a complete program, N.dat changes only to the manifest of the program installed, and
// this run's own download never stays.
TEST(SignedLauncherTorture, EveryFailingCallLeavesACompleteProgram) {
    const Key key = LoadKey(TEST_UPDATE_KEY);
    ASSERT_TRUE(key);
    const std::string txt = Manifest(kNewer, kNew);
    const std::string sig = Sign(key.get(), txt);
    int updated = 0, kept = 0;
    for (uint64_t n = 1;; ++n) {
        headless::Reset();
        FakePlatform os;
        os.Install();
        PrepareMachine(os);
        os.WriteFile(kFolder + "Kassa.exe", kOld);
        os.WriteFile(kFolder + "Kassa.dat", kInstalled);
        Serve(os, "Kassa.txt", txt);
        Serve(os, "Kassa.sig", sig);
        Serve(os, "Kassa.bin", kNew);
        os.ResetCalls();
        os.FailCall(n);
        headless::SetMessageBoxAnswer([](const headless::MessageBoxCall&) {
            headless::Post([] {
                if (Form1) Form1->Close();
            });
            return 1;
        });
        try {
            RunLauncher();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "run " << n << ": error escaped: " << e.what();
        }
        const std::string failed = n <= os.CallLog().size() ? os.CallLog()[n - 1] : "(none)";
        const auto program = os.ReadFile(kFolder + "Kassa.exe");
        const auto stamp = os.ReadFile(kFolder + "Kassa.dat");
        EXPECT_TRUE(program && (*program == kOld || *program == kNew)) << "run " << n << " failing " << failed;
        EXPECT_TRUE(stamp == kInstalled || (stamp == txt && program == kNew))
            << "run " << n << " failing " << failed;
        EXPECT_FALSE(os.Exists(kFolder + PrivateProgramName("Kassa", 4242))) << "run " << n << " failing " << failed;
        if (program == kNew) ++updated;
        if (program == kOld) ++kept;
        const bool noCallLeft = os.CallCount() < n;
        FakePlatform::Uninstall();
        if (noCallLeft) break;
        ASSERT_LT(n, 5000u) << "the run never ends";
    }
    headless::Reset();
    EXPECT_GT(updated, 0);
    EXPECT_GT(kept, 0);
}

// A part kept beside the program is continued only for the release whose hash it is named
// by; a part planted there costs one start, never installs anything unverified.
TEST_F(SignedLauncherTest, APlantedPartIsNeverInstalled) {
    const std::string txt = Manifest(kNewer, kNew);
    Publish(txt, kNew);
    const std::string sha = signing::Sha256Hex(kNew);
    const std::string download = kFolder + ReleaseProgramName("Kassa", sha);
    HttpResponse bin;
    bin.etag = "\"n1\"";
    bin.body = kNew;
    os.SetHttpHandler(ServerUrl("Kassa.bin"), [&bin](const platform::fake::HttpRequest& rq) {
        HttpResponse r = bin;
        if (rq.headers.find("Range: bytes=4000-\r\nIf-Range: \"n1\"\r\n") == 0) {
            r.status = 206;
            r.contentRange = "bytes 4000-" + std::to_string(kNew.size() - 1) + "/" + std::to_string(kNew.size());
            r.body = kNew.substr(4000);
        }
        return r;
    });
    const webcopy::PartialKey key{ServerUrl("Kassa.bin"), "sha256 " + sha, "\"n1\"", kNew.size()};
    os.WriteFile(download + ".resume", *webcopy::KeyRecord(key));
    os.WriteFile(webcopy::PartialPath(download, key), std::string(4000, 'E'));
    os.WriteFile(kFolder + "Kassa.sha256-0123456789abcdef.bin.1a2b3c4d.partial", "an older release's");

    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(os.HttpRequests().back().headers.find("Range: bytes=4000-"), 0u) << "the part was taken up";
    EXPECT_EQ(File("Kassa.exe"), kOld);
    EXPECT_EQ(File("Kassa.dat"), kInstalled);
    EXPECT_EQ(os.ListFolder(kFolder), (std::vector<std::string>{"Kassa.dat", "Kassa.exe", "Kassa.log", "Kassa.txt"}));

    ASSERT_TRUE(RunLauncher());  // nothing left to continue: the whole program, verified
    EXPECT_EQ(os.HttpRequests().back().headers, "");
    EXPECT_EQ(File("Kassa.exe"), kNew);
    EXPECT_EQ(File("Kassa.dat"), txt);
    EXPECT_EQ(os.ListFolder(kFolder), (std::vector<std::string>{"Kassa.dat", "Kassa.exe", "Kassa.log", "Kassa.prev.exe"}));
}

}  // namespace
}  // namespace launcher_test
