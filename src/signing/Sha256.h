#pragma once
// SHA-256 (FIPS 180-4), fed in pieces: the launcher hashes a downloaded program through the
// handle it keeps open while it installs it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace signing {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, size_t size);
    // The 32-byte digest; the object starts over afterwards.
    std::string Finish();

private:
    void Blocks(const unsigned char* p, size_t blocks);
    void Block(const unsigned char* p);
    void Reset();

    uint32_t h_[8];
    unsigned char pending_[64];
    size_t pendingSize_ = 0;
    uint64_t total_ = 0;
};

// Whether the processor's SHA instructions hash (the default where it has them; the portable
// code otherwise, and always after UseCpuSha256(false)). Returns whether they are in use.
bool UseCpuSha256(bool use);

// The digest of `bytes` as 64 lower-case hex digits.
std::string Sha256Hex(const std::string& bytes);
// Lower-case hex of any bytes.
std::string ToHex(const std::string& bytes);

}  // namespace signing
