#include "signing/Signature.h"

#include <cstdint>
#include <utility>

namespace signing {
namespace {

constexpr unsigned char kSequence = 0x30, kInteger = 0x02, kBitString = 0x03, kOctetString = 0x04,
                        kOid = 0x06;

// 1.2.840.10045.2.1 id-ecPublicKey and 1.2.840.10045.3.1.7 prime256v1, with tag and length.
const std::string kEcPublicKeyOid("\x06\x07\x2a\x86\x48\xce\x3d\x02\x01", 9);
const std::string kPrime256v1Oid("\x06\x08\x2a\x86\x48\xce\x3d\x03\x01\x07", 10);

// The order n of the P-256 group, big-endian.
const unsigned char kOrder[kScalarSize] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};

// Reads DER elements from a byte range. Every read checks what it consumes; a failed read
// leaves the reader unusable (ok() false), so a parser can check once at the end.
class DerReader {
public:
    explicit DerReader(std::string bytes) : data_(std::move(bytes)), pos_(0), end_(data_.size()) {}

    bool ok() const { return ok_; }
    bool atEnd() const { return ok_ && pos_ == end_; }

    // The content of the next element, which must have tag `tag`.
    std::string Next(unsigned char tag) {
        if (!ok_ || pos_ + 2 > end_ || static_cast<unsigned char>(data_[pos_]) != tag) return Fail();
        size_t p = pos_ + 1;
        size_t len = static_cast<unsigned char>(data_[p++]);
        if (len & 0x80) {
            const size_t count = len & 0x7F;
            // Long form only where the short one cannot say it, without leading zero bytes.
            if (count == 0 || count > 2 || p + count > end_) return Fail();
            len = 0;
            for (size_t i = 0; i < count; ++i) len = (len << 8) | static_cast<unsigned char>(data_[p++]);
            if (len < 0x80 || (count == 2 && len < 0x100)) return Fail();
        }
        if (len > end_ - p) return Fail();
        pos_ = p + len;
        return data_.substr(p, len);
    }

    // The element as it is encoded, tag and length included.
    std::string NextEncoded(unsigned char tag) {
        const size_t start = pos_;
        Next(tag);
        return ok_ ? data_.substr(start, pos_ - start) : std::string();
    }

    bool PeekTag(unsigned char tag) const {
        return ok_ && pos_ < end_ && static_cast<unsigned char>(data_[pos_]) == tag;
    }

private:
    std::string Fail() {
        ok_ = false;
        return std::string();
    }

    const std::string data_;  // a copy: readers are made from temporaries
    size_t pos_, end_;
    bool ok_ = true;
};

// A 32-byte big-endian value in [1, n-1].
bool InGroupRange(const std::string& v) {
    if (v.size() != kScalarSize) return false;
    bool zero = true;
    for (char c : v) zero = zero && c == 0;
    if (zero) return false;
    for (size_t i = 0; i < kScalarSize; ++i) {
        const auto b = static_cast<unsigned char>(v[i]);
        if (b != kOrder[i]) return b < kOrder[i];
    }
    return false;  // equal to n
}

// An INTEGER's content as a 32-byte big-endian value in [1, n-1]. DER allows exactly one
// encoding: no leading zero unless the next byte has its top bit set, never negative.
bool ScalarFromInteger(const std::string& content, std::string& out) {
    if (content.empty()) return false;
    const auto first = static_cast<unsigned char>(content[0]);
    if (first & 0x80) return false;
    std::string v = content;
    if (first == 0) {
        if (v.size() == 1 || !(static_cast<unsigned char>(v[1]) & 0x80)) return false;
        v.erase(0, 1);
    }
    if (v.size() > kScalarSize) return false;
    v.insert(0, kScalarSize - v.size(), '\0');
    if (!InGroupRange(v)) return false;
    out = v;
    return true;
}

std::string Encode(unsigned char tag, const std::string& content) {
    std::string out(1, static_cast<char>(tag));
    const size_t n = content.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else if (n < 0x100) {
        out += '\x81';
        out += static_cast<char>(n);
    } else {
        out += '\x82';
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(n & 0xFF);
    }
    return out + content;
}

std::string MinimalInteger(const std::string& bigEndian) {
    size_t i = 0;
    while (i + 1 < bigEndian.size() && bigEndian[i] == 0) ++i;
    std::string v = bigEndian.substr(i);
    if (static_cast<unsigned char>(v[0]) & 0x80) v.insert(0, 1, '\0');
    return Encode(kInteger, v);
}

std::string AlgorithmIdentifier() { return Encode(kSequence, kEcPublicKeyOid + kPrime256v1Oid); }

bool IsUncompressedPoint(const std::string& point) {
    return point.size() == kPointSize && point[0] == '\x04';
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool Base64Decode(const std::string& text, std::string& out) {
    out.clear();
    uint32_t acc = 0;
    int bits = 0, pad = 0;
    size_t digits = 0;
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        if (c == '=') {
            ++pad;
            ++digits;
            continue;
        }
        const int v = Base64Value(c);
        if (v < 0 || pad > 0) return false;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        ++digits;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    // Whole groups of four, at most two '=', and no stray bits in the last digit.
    return digits % 4 == 0 && pad <= 2 && (acc & ((1u << bits) - 1)) == 0 && !out.empty();
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(const std::string& bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kBase64[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kBase64[v & 63] : '=';
    }
    return out;
}

// ECPrivateKey (SEC 1): version 1, d, optional [0] curve, [1] public point.
bool FromEcPrivateKey(const std::string& der, bool curveRequired, std::string& d, std::string& point) {
    DerReader outer(der);
    DerReader key(outer.Next(kSequence));
    if (!outer.atEnd()) return false;
    if (key.Next(kInteger) != std::string(1, '\x01')) return false;
    const std::string secret = key.Next(kOctetString);
    if (!key.ok() || secret.size() != kScalarSize) return false;
    if (!InGroupRange(secret)) return false;
    if (key.PeekTag(0xA0)) {
        DerReader params(key.Next(0xA0));
        if (params.NextEncoded(kOid) != kPrime256v1Oid || !params.atEnd()) return false;
    } else if (curveRequired) {
        return false;
    }
    if (!key.PeekTag(0xA1)) return false;
    DerReader pub(key.Next(0xA1));
    const std::string bits = pub.Next(kBitString);
    if (!pub.atEnd() || !key.atEnd() || bits.size() != kPointSize + 1 || bits[0] != 0) return false;
    point = bits.substr(1);
    if (!IsUncompressedPoint(point)) return false;
    d = secret;
    return true;
}

}  // namespace

bool PemToDer(const std::string& pem, const std::string& label, std::string& der) {
    const std::string begin = "-----BEGIN " + label + "-----";
    const std::string end = "-----END " + label + "-----";
    const size_t b = pem.find(begin);
    if (b == std::string::npos) return false;
    const size_t start = b + begin.size();
    const size_t e = pem.find(end, start);
    if (e == std::string::npos) return false;
    return Base64Decode(pem.substr(start, e - start), der);
}

std::string DerToPem(const std::string& der, const std::string& label) {
    const std::string text = Base64Encode(der);
    std::string out = "-----BEGIN " + label + "-----\n";
    for (size_t i = 0; i < text.size(); i += 64) out += text.substr(i, 64) + "\n";
    return out + "-----END " + label + "-----\n";
}

bool P256PublicKeyFromDer(const std::string& spki, std::string& point) {
    DerReader outer(spki);
    DerReader info(outer.Next(kSequence));
    DerReader algorithm(info.Next(kSequence));
    if (algorithm.NextEncoded(kOid) != kEcPublicKeyOid) return false;
    if (algorithm.NextEncoded(kOid) != kPrime256v1Oid || !algorithm.atEnd()) return false;
    const std::string bits = info.Next(kBitString);
    if (!info.atEnd() || !outer.atEnd()) return false;
    // No unused bits, then the uncompressed point.
    if (bits.size() != kPointSize + 1 || bits[0] != 0) return false;
    const std::string p = bits.substr(1);
    if (!IsUncompressedPoint(p)) return false;
    point = p;
    return true;
}

bool P256PublicKeyFromPem(const std::string& pem, std::string& point) {
    std::string der;
    return PemToDer(pem, "PUBLIC KEY", der) && P256PublicKeyFromDer(der, point);
}

std::string P256PublicKeyToDer(const std::string& point) {
    return Encode(kSequence, AlgorithmIdentifier() + Encode(kBitString, std::string(1, '\0') + point));
}

std::string P256PublicKeyToPem(const std::string& point) {
    return DerToPem(P256PublicKeyToDer(point), "PUBLIC KEY");
}

bool P256PrivateKeyFromPem(const std::string& pem, std::string& d, std::string& point) {
    std::string der;
    if (PemToDer(pem, "EC PRIVATE KEY", der)) return FromEcPrivateKey(der, true, d, point);
    if (!PemToDer(pem, "PRIVATE KEY", der)) return false;
    // PrivateKeyInfo: version 0, the algorithm with its curve, the ECPrivateKey in an octet
    // string; optional attributes after it.
    DerReader outer(der);
    DerReader info(outer.Next(kSequence));
    if (info.Next(kInteger) != std::string(1, '\0')) return false;
    if (info.NextEncoded(kSequence) != AlgorithmIdentifier()) return false;
    const std::string inner = info.Next(kOctetString);
    if (info.PeekTag(0xA0)) info.Next(0xA0);
    if (!info.atEnd() || !outer.atEnd()) return false;
    return FromEcPrivateKey(inner, false, d, point);
}

std::string P256PrivateKeyToPem(const std::string& d, const std::string& point) {
    const std::string ecKey =
        Encode(kSequence, Encode(kInteger, std::string(1, '\x01')) + Encode(kOctetString, d) +
                              Encode(0xA1, Encode(kBitString, std::string(1, '\0') + point)));
    const std::string info = Encode(kSequence, Encode(kInteger, std::string(1, '\0')) +
                                                   AlgorithmIdentifier() + Encode(kOctetString, ecKey));
    return DerToPem(info, "PRIVATE KEY");
}

bool P256SignatureFromDer(const std::string& der, std::string& rs) {
    DerReader outer(der);
    DerReader seq(outer.Next(kSequence));
    const std::string r = seq.Next(kInteger);
    const std::string s = seq.Next(kInteger);
    if (!seq.atEnd() || !outer.atEnd()) return false;
    std::string r32, s32;
    if (!ScalarFromInteger(r, r32) || !ScalarFromInteger(s, s32)) return false;
    rs = r32 + s32;
    return true;
}

std::string P256SignatureToDer(const std::string& rs) {
    return Encode(kSequence,
                  MinimalInteger(rs.substr(0, kScalarSize)) + MinimalInteger(rs.substr(kScalarSize)));
}

bool FromHex(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2 != 0) return false;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    bytes = out;
    return true;
}

}  // namespace signing
