// Key and signature parsing: what openssl writes is read, everything near it is refused.
#include <gtest/gtest.h>

#include <string>

#include "signing/Signature.h"

namespace {

using namespace signing;

std::string Hex(const char* hex) {
    std::string bytes;
    EXPECT_TRUE(FromHex(hex, bytes)) << hex;
    return bytes;
}

// `openssl pkey -pubout` of a P-256 key, and the same key's DER.
const char* kOpensslPem =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEGEWPYxtsWjsVl2y59VspO7HsAT3b\n"
    "uXbhbq/QOMUB4bmOYxbI05IUIU8qzf8DtZH7tYkw0kz73BGajfkCAl0pcQ==\n"
    "-----END PUBLIC KEY-----\n";
const char* kSpkiHeader = "3059301306072a8648ce3d020106082a8648ce3d030107034200";
const char* kPoint =
    "0418458f631b6c5a3b15976cb9f55b293bb1ec013ddbb976e16eafd038c501e1b98e6316c8d39214214f2acdff03b591fbb5"
    "8930d24cfbdc119a8df902025d2971";
// The same key on secp256k1 as openssl writes it.
const char* kSecp256k1Pem =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFYwEAYHKoZIzj0CAQYFK4EEAAoDQgAEGa4ZUF1gcwU+7vN86c4VhOCCZCksfjAs\n"
    "yEMA6H9fIJWnDcRNaYXnmJ8Mj3KPxyFN0FsLXXVZR07/gVWVoSjcEA==\n"
    "-----END PUBLIC KEY-----\n";

const std::string kN = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
const std::string kNMinus1 = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632550";

TEST(PublicKey, ReadsWhatOpensslWrites) {
    std::string point;
    ASSERT_TRUE(P256PublicKeyFromPem(kOpensslPem, point));
    EXPECT_EQ(point, Hex(kPoint));
    EXPECT_EQ(P256PublicKeyToDer(point), Hex(kSpkiHeader) + point);
    EXPECT_EQ(P256PublicKeyToPem(point), kOpensslPem);
    // CRLF line ends and text around the block are fine.
    std::string crlf;
    for (char c : std::string(kOpensslPem)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(P256PublicKeyFromPem("comment\r\n" + crlf + "trailer", point));
}

TEST(PublicKey, RefusesOtherKeysAndEncodings) {
    const std::string good = Hex(kSpkiHeader) + Hex(kPoint);
    std::string compressed = good;
    compressed[26] = '\x02';
    std::string unusedBits = good;
    unusedBits[25] = '\x01';
    std::string otherOid = good;  // id-ecPublicKey's last arc changed: another algorithm
    otherOid[12] = '\x02';
    struct Case { const char* why; std::string der; };
    const Case cases[] = {
        {"empty", ""},
        {"truncated", good.substr(0, good.size() - 1)},
        {"header only", good.substr(0, 26)},
        {"trailing byte", good + '\0'},
        {"padded inside", Hex("305a") + good.substr(2) + '\0'},
        {"long-form length that fits the short form", Hex("308159") + good.substr(2)},
        {"compressed point", compressed},
        {"unused bits in the bit string", unusedBits},
        {"another algorithm", otherOid},
        {"secp384r1 curve", Hex("3059301006072a8648ce3d020106052b81040022034200") + Hex(kPoint)},
    };
    for (const auto& c : cases) {
        std::string point = "unchanged";
        EXPECT_FALSE(P256PublicKeyFromDer(c.der, point)) << c.why;
        EXPECT_EQ(point, "unchanged") << c.why;
    }
    std::string point;
    EXPECT_FALSE(P256PublicKeyFromPem(kSecp256k1Pem, point)) << "secp256k1";
}

TEST(Pem, RefusesMalformedBlocks) {
    std::string der;
    const std::string body = "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEGEWPYxtsWjsVl2y59VspO7HsAT3b";
    auto block = [](const std::string& label, const std::string& text) {
        return "-----BEGIN " + label + "-----\n" + text + "\n-----END " + label + "-----\n";
    };
    EXPECT_TRUE(PemToDer(block("PUBLIC KEY", body), "PUBLIC KEY", der));
    EXPECT_FALSE(PemToDer(block("PUBLIC KEY", body), "PRIVATE KEY", der)) << "another label";
    EXPECT_FALSE(PemToDer("-----BEGIN PUBLIC KEY-----\n" + body, "PUBLIC KEY", der)) << "no end line";
    EXPECT_FALSE(PemToDer(block("PUBLIC KEY", body.substr(1)), "PUBLIC KEY", der)) << "not whole groups";
    EXPECT_FALSE(PemToDer(block("PUBLIC KEY", body + "!!!!"), "PUBLIC KEY", der)) << "not base64";
    EXPECT_FALSE(PemToDer(block("PUBLIC KEY", "QQ==QUFB"), "PUBLIC KEY", der)) << "data after padding";
    EXPECT_FALSE(PemToDer(block("PUBLIC KEY", "QR=="), "PUBLIC KEY", der)) << "stray bits before padding";
    EXPECT_FALSE(PemToDer(block("PUBLIC KEY", ""), "PUBLIC KEY", der)) << "empty";
    EXPECT_TRUE(PemToDer(block("X", "QUE="), "X", der));
    EXPECT_EQ(der, "AA");
}

// An ECDSA-Sig-Value from the INTEGER contents of r and s, given in hex.
std::string Sig(const std::string& r, const std::string& s) {
    const std::string ri = Hex(r.c_str()), si = Hex(s.c_str());
    std::string body = std::string("\x02") + char(ri.size()) + ri + "\x02" + char(si.size()) + si;
    return std::string("\x30") + char(body.size()) + body;
}

TEST(Signature, ReadsMinimalIntegersInRange) {
    struct Case { const char* why; std::string r, s; };
    const Case cases[] = {
        {"one byte each", "01", "7f"},
        {"top bit set needs a zero byte", "0080", "00" + kNMinus1},
        {"n - 1", "00" + kNMinus1, "01"},
        {"31 bytes", std::string(62, '1'), "05"},
    };
    for (const auto& c : cases) {
        std::string rs;
        ASSERT_TRUE(P256SignatureFromDer(Sig(c.r, c.s), rs)) << c.why;
        ASSERT_EQ(rs.size(), kSignatureSize);
        // Back to DER: the same bytes, so the encoding is the one DER allows.
        EXPECT_EQ(P256SignatureToDer(rs), Sig(c.r, c.s)) << c.why;
    }
}

TEST(Signature, RefusesOutOfRangeAndMalformed) {
    const std::string good = Sig("01", "02");
    struct Case { const char* why; std::string der; };
    const Case cases[] = {
        {"r zero", Sig("00", "02")},
        {"s zero", Sig("01", "00")},
        {"r equals n", Sig("00" + kN, "02")},
        {"s above n", Sig("01", "00" + std::string(64, 'f'))},
        {"r longer than 32 bytes", Sig("01" + std::string(64, '0'), "02")},
        {"negative r", Sig("80", "02")},
        {"non-minimal leading zero", Sig("0001", "02")},
        {"empty integer", Sig("", "02")},
        {"trailing byte", good + '\0'},
        {"padded inside the sequence", Hex("300802010102010200")},
        {"truncated", good.substr(0, good.size() - 1)},
        {"length beyond the end", Hex("3007020101020102")},
        {"one integer", Hex("3003020101")},
        {"three integers", Hex("3009020101020102020103")},
        {"long-form sequence length", Hex("308106020101020102")},
        {"not a sequence", Hex("3106020101020102")},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        std::string rs = "unchanged";
        EXPECT_FALSE(P256SignatureFromDer(c.der, rs)) << c.why;
        EXPECT_EQ(rs, "unchanged") << c.why;
    }
}

TEST(PrivateKey, Pkcs8RoundTripAndRange) {
    const std::string point = Hex(kPoint);
    const std::string d = Hex(("00" + kNMinus1.substr(2)).c_str());
    std::string d2, p2;
    ASSERT_TRUE(P256PrivateKeyFromPem(P256PrivateKeyToPem(d, point), d2, p2));
    EXPECT_EQ(d2, d);
    EXPECT_EQ(p2, point);
    EXPECT_FALSE(P256PrivateKeyFromPem(P256PrivateKeyToPem(std::string(32, '\0'), point), d2, p2))
        << "d zero";
    EXPECT_FALSE(P256PrivateKeyFromPem(P256PrivateKeyToPem(Hex(kN.c_str()), point), d2, p2)) << "d = n";
    EXPECT_FALSE(P256PrivateKeyFromPem(P256PrivateKeyToPem(d.substr(1), point), d2, p2)) << "short d";
    EXPECT_FALSE(P256PrivateKeyFromPem(kOpensslPem, d2, p2)) << "a public key";
}

TEST(Hex, TwoDigitsPerByte) {
    std::string bytes;
    EXPECT_TRUE(FromHex("00fFa0", bytes));
    EXPECT_EQ(bytes, std::string("\x00\xff\xa0", 3));
    EXPECT_FALSE(FromHex("abc", bytes));
    EXPECT_FALSE(FromHex("zz", bytes));
}

}  // namespace
