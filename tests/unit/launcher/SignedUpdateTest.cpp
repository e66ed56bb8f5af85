// The signature check of a downloaded program: only N.txt + N.bin signed by the built-in
// key passes; anything else removes N.bin and N.sig. Signed here with OpenSSL's libcrypto.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <map>
#include <memory>

#include "LauncherFixture.h"
#include "launcher/SignedUpdate.h"

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

const std::string kStamp = "2026-12-08 10:00:00\r\n";
const std::string kProgram = "MZ new program";

class SignedUpdateTest : public LauncherTest {
protected:
    void SetUp() override {
        LauncherTest::SetUp();
        names = MakeStarterNames(kLauncher, kAppData, UpdateBaseUrl());
        os.WriteFile(names.serverStamp, kStamp);
        os.WriteFile(names.newProgram, kProgram);
    }

    // Runs the check; the "server" answers N.sig with `served` (nothing when unset).
    bool Check(const std::string& publicKey) {
        fetched.clear();
        return SignatureAccepted(names, publicKey, [this](const std::string& url) {
            fetched.push_back(url);
            if (served) os.WriteFile(names.signature, *served);
        });
    }

    Key key = NewKey();
    StarterNames names;
    std::optional<std::string> served;
    std::vector<std::string> fetched;
};

TEST_F(SignedUpdateTest, WithoutAKeyEverythingPassesUnfetched) {
    EXPECT_TRUE(Check(""));
    EXPECT_TRUE(fetched.empty());
    EXPECT_EQ(File("Kassa.bin"), kProgram);
}

TEST_F(SignedUpdateTest, ASignatureOverStampAndProgramPasses) {
    served = SignDer(key.get(), kStamp + kProgram);
    os.WriteFile(names.signature, "left from an earlier run");
    EXPECT_TRUE(Check(PublicDer(key.get())));
    EXPECT_EQ(fetched, std::vector<std::string>{ServerUrl("Kassa.sig")});
    EXPECT_EQ(File("Kassa.bin"), kProgram);
    EXPECT_EQ(File("Kassa.txt"), kStamp);
    EXPECT_FALSE(Has("Kassa.sig"));
}

TEST_F(SignedUpdateTest, AnythingElseRemovesTheProgramAndTheSignature) {
    Key other = NewKey();
    const std::string publicKey = PublicDer(key.get());
    struct Case {
        const char* why;
        std::optional<std::string> sig;   // served N.sig
        std::string stamp, program;       // N.txt and N.bin in the folder
        std::string key = "";             // built-in key, when not `publicKey`
        bool failVerify = false;
    };
    const std::string good = SignDer(key.get(), kStamp + kProgram);
    std::string flipped = kProgram;
    flipped[3] ^= 1;
    const Case cases[] = {
        {"program changed by one byte", good, kStamp, flipped},
        {"stamp changed after signing", good, "2026-12-08 10:00:01\r\n", kProgram},
        {"signed by another key", SignDer(other.get(), kStamp + kProgram), kStamp, kProgram},
        {"older stamp with a newer program", SignDer(key.get(), "2026-01-01 00:00:00\r\n" + kProgram),
         kStamp, kProgram + "2"},
        {"no signature arrived", std::nullopt, kStamp, kProgram},
        {"empty signature", std::string(), kStamp, kProgram},
        {"signature with a byte after it", good + '\0', kStamp, kProgram},
        {"raw r||s instead of DER", std::string(64, '\x01'), kStamp, kProgram},
        {"the check itself fails", good, kStamp, kProgram, "", true},
        {"a key that is not P-256", good, kStamp, kProgram, "not a key"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        os.WriteFile(names.serverStamp, c.stamp);
        os.WriteFile(names.newProgram, c.program);
        served = c.sig;
        if (c.failVerify) os.FailNextCall("VerifyP256Sha256");
        EXPECT_FALSE(Check(c.key.empty() ? publicKey : c.key));
        EXPECT_FALSE(Has("Kassa.bin"));
        EXPECT_FALSE(Has("Kassa.sig"));
        EXPECT_EQ(File("Kassa.txt"), c.stamp);
    }
}

TEST_F(SignedUpdateTest, AStaleSignatureNeverStandsInForAMissingOne) {
    // The signature of exactly these files, left by an earlier run whose install failed;
    // this run's download of N.sig fails, so nothing vouches for what is here now.
    os.WriteFile(names.signature, SignDer(key.get(), kStamp + kProgram));
    EXPECT_FALSE(Check(PublicDer(key.get())));
    EXPECT_FALSE(Has("Kassa.bin"));
    EXPECT_FALSE(Has("Kassa.sig"));
}

}  // namespace
}  // namespace launcher_test
