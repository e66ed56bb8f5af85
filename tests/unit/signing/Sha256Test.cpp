// SHA-256 against the published test vectors and OpenSSL's digest, fed whole and in pieces
// that straddle the 64-byte blocks and the padding boundary; with the processor's SHA
// instructions (where it has them) and with the portable code.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <string>

#include "signing/Sha256.h"

namespace {

using signing::Sha256;
using signing::Sha256Hex;
using signing::ToHex;

// Runs `check` with each way of hashing this machine has.
template <class F>
void EachWay(F check) {
    for (bool cpu : {true, false}) {
        const bool used = signing::UseCpuSha256(cpu);
        if (cpu && !used) continue;
        SCOPED_TRACE(used ? "SHA instructions" : "portable");
        check();
    }
    signing::UseCpuSha256(true);
}

TEST(Sha256, PublishedVectors) {
    EachWay([] {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    });
}

TEST(Sha256, AnySplitGivesOpenSslsDigest) {
    EachWay([] {
    std::string data;
    for (int i = 0; i < 70000; ++i) data += static_cast<char>(i * 7 + 3 + (i >> 8));
    for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 300u, 70000u}) {
        const std::string message = data.substr(0, length);
        unsigned char expected[SHA256_DIGEST_LENGTH];
        SHA256(reinterpret_cast<const unsigned char*>(message.data()), message.size(), expected);
        const std::string want(reinterpret_cast<char*>(expected), sizeof expected);
        for (size_t piece : {1u, 3u, 63u, 64u, 100u, 4096u}) {
            Sha256 hash;
            for (size_t at = 0; at < message.size(); at += piece)
                hash.Update(message.data() + at, std::min(piece, message.size() - at));
            EXPECT_EQ(ToHex(hash.Finish()), ToHex(want)) << length << " bytes in pieces of " << piece;
        }
    }
    });
}

TEST(Sha256, StartsOverAfterFinish) {
    Sha256 hash;
    hash.Update("abc", 3);
    hash.Finish();
    hash.Update("abc", 3);
    EXPECT_EQ(ToHex(hash.Finish()), Sha256Hex("abc"));
}

}  // namespace
