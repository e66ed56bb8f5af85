// The checks of a signed release: only a manifest signed by the built-in key passes, and a
// program only with the manifest's size and digest. Signed here with OpenSSL's libcrypto.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <map>
#include <memory>

#include "LauncherFixture.h"
#include "launcher/Release.h"
#include "launcher/SignedUpdate.h"
#include "signing/Sha256.h"

namespace launcher_test {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Key NewKey() { return Key(EVP_EC_gen("P-256"), EVP_PKEY_free); }

std::string PublicDer(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int n = i2d_PUBKEY(key, &der);
    std::string out(reinterpret_cast<char*>(der), n > 0 ? n : 0);
    OPENSSL_free(der);
    return out;
}

std::string SignDer(EVP_PKEY* key, const std::string& message) {
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

const std::string kProgram = Program("new program");
const std::string kManifest = "2026-12-08 10:00:00\r\nsha256 " + signing::Sha256Hex(kProgram) +
                              "\r\nsize " + std::to_string(kProgram.size()) + "\r\n";

class SignedUpdateTest : public LauncherTest {
protected:
    void SetUp() override {
        LauncherTest::SetUp();
        names = MakeStarterNames(kLauncher, kAppData, UpdateBaseUrl());
        os.MakeDirectory(kFolder);
    }

    // Checks `manifest`; the "server" answers N.sig with `served` (nothing when unset).
    bool Check(const std::string& publicKey, const std::string& manifest) {
        fetched.clear();
        out = ReleaseManifest{};
        return VerifyManifest(names, publicKey, manifest, [this](const std::string& url) {
            fetched.push_back(url);
            if (served) os.WriteFile(names.signature, *served);
        }, out);
    }

    Key key = NewKey();
    StarterNames names;
    std::optional<std::string> served;
    std::vector<std::string> fetched;
    ReleaseManifest out;
};

TEST_F(SignedUpdateTest, ASignatureOverTheManifestPassesWithItsFields) {
    served = SignDer(key.get(), kManifest);
    os.WriteFile(names.signature, "left from an earlier run");
    EXPECT_TRUE(Check(PublicDer(key.get()), kManifest));
    EXPECT_EQ(fetched, std::vector<std::string>{ServerUrl("Kassa.sig")});
    EXPECT_EQ(out.stamp, "2026-12-08 10:00:00");
    EXPECT_EQ(out.sha256, signing::Sha256Hex(kProgram));
    EXPECT_EQ(out.size, kProgram.size());
    EXPECT_FALSE(Has("Kassa.sig"));
}

TEST_F(SignedUpdateTest, AnythingElseIsRefusedAndTheSignatureRemoved) {
    Key other = NewKey();
    const std::string publicKey = PublicDer(key.get());
    struct Case {
        const char* why;
        std::optional<std::string> sig;   // served N.sig
        std::string manifest;             // N.txt's bytes
        std::string key = "";             // built-in key, when not `publicKey`
        bool failVerify = false;
    };
    const std::string good = SignDer(key.get(), kManifest);
    std::string changedStamp = kManifest;
    changedStamp[18] = '1';
    // Signed, but no manifest: the old format's stamp line alone.
    const std::string oldFormat = "2026-12-08 10:00:00\r\n";
    const Case cases[] = {
        {"stamp changed after signing", good, changedStamp},
        {"manifest with a byte added", good, kManifest + "\r\n"},
        {"signed by another key", SignDer(other.get(), kManifest), kManifest},
        {"a validly signed text that is no manifest", SignDer(key.get(), oldFormat), oldFormat},
        {"no signature arrived", std::nullopt, kManifest},
        {"empty signature", std::string(), kManifest},
        {"signature with a byte after it", good + '\0', kManifest},
        {"a huge signature file", good + std::string(100000, '\0'), kManifest},
        {"raw r||s instead of DER", std::string(64, '\x01'), kManifest},
        {"the check itself fails", good, kManifest, "", true},
        {"a key that is not P-256", good, kManifest, "not a key"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        served = c.sig;
        if (c.failVerify) os.FailNextCall("VerifyP256Sha256");
        EXPECT_FALSE(Check(c.key.empty() ? publicKey : c.key, c.manifest));
        EXPECT_FALSE(Has("Kassa.sig"));
        EXPECT_EQ(out.size, 0u);
    }
}

TEST_F(SignedUpdateTest, AStaleSignatureNeverStandsInForAMissingOne) {
    // The signature of exactly this manifest, left by an earlier run whose install failed;
    // this run's download of N.sig fails, so nothing vouches for it now.
    os.WriteFile(names.signature, SignDer(key.get(), kManifest));
    EXPECT_FALSE(Check(PublicDer(key.get()), kManifest));
    EXPECT_FALSE(Has("Kassa.sig"));
}

TEST_F(SignedUpdateTest, AProgramMatchesOnlyWithItsExactSizeAndDigest) {
    ReleaseInfo m;
    ASSERT_TRUE(ReadRelease(kManifest, m));
    ASSERT_TRUE(m.HasManifest());
    std::string flipped = kProgram;
    flipped[kProgram.size() - 3] ^= 1;
    const std::string big = Program(std::string(200000, 'B'));
    const ReleaseInfo bigManifest{"s", signing::Sha256Hex(big), big.size()};
    const std::string notAProgram(kProgram.size(), 'x');
    const ReleaseInfo notAProgramManifest{"s", signing::Sha256Hex(notAProgram), notAProgram.size()};
    struct Case {
        const char* why;
        std::string content;
        const ReleaseInfo& manifest;
        bool matches;
    };
    const Case cases[] = {
        {"the program", kProgram, m, true},
        {"a program over several reads", big, bigManifest, true},
        {"one byte changed", flipped, m, false},
        {"one byte more", kProgram + "x", m, false},
        {"one byte less", kProgram.substr(1), m, false},
        {"the right size, other bytes", notAProgram, m, false},
        {"the manifest's bytes, but no Windows program", notAProgram, notAProgramManifest, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        os.WriteFile(kFolder + "p.bin", c.content);
        auto file = os.Open(kFolder + "p.bin", platform::OpenMode::ReadLocked);
        ASSERT_TRUE(file);
        EXPECT_EQ(ProgramMatches(*file, c.manifest, 0), c.matches);
    }
    auto file = os.Open(kFolder + "p.bin", platform::OpenMode::ReadLocked);
    os.FailNextCall("File.Read", 3);
    EXPECT_FALSE(ProgramMatches(*file, bigManifest, 0)) << "a read that fails";
}

}  // namespace
}  // namespace launcher_test
