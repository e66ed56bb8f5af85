#pragma once
// The launcher's configuration block: the update server's base URL and the vendor's public
// key, in a fixed-size block that a generic launcher carries all zero and `publish brand`
// fills in a copy of the program file. Portable: bytes in, values out.
//
// Layout (kBlockSize bytes): the marker (kMarkerSize bytes, found once in a launcher file),
// the URL (kUrlSize bytes: up to 255 bytes, then zeros), the key (kKeySize bytes: the
// SubjectPublicKeyInfo DER of a P-256 key, or all zero), then zeros.
#include <cstddef>
#include <string>

namespace branding {

// Fifteen bytes and a zero; a byte above 0x7F first, so no text in a program matches it.
#define BRANDING_MARKER "\xc5STARTER-CONFIG"
inline constexpr size_t kMarkerSize = 16;
inline constexpr size_t kUrlSize = 256;
inline constexpr size_t kKeySize = 91;
inline constexpr size_t kUrlOffset = kMarkerSize;
inline constexpr size_t kKeyOffset = kUrlOffset + kUrlSize;
inline constexpr size_t kBlockSize = 384;
static_assert(kKeyOffset + kKeySize <= kBlockSize);

// True for an http:// or https:// URL with a host, ending in "/", at most 255 bytes, of
// printable ASCII without blanks and without the characters a URL never holds unescaped
// (" \ < > ^ ` { | }): what a launcher may be pointed at.
bool IsUpdateUrl(const std::string& url);

enum class BlockState {
    Unset,      // everything after the marker is zero: a generic launcher
    Set,        // a valid URL, and no key or a P-256 key
    Malformed,  // anything else
};

// Reads a block (kBlockSize bytes from the marker on). `url` and `key` (DER, or empty) are
// filled only when the block is Set.
BlockState ReadBlock(const std::string& block, std::string& url, std::string& key);

// The block's bytes after the marker for `url` and `key` (DER, or empty); the caller has
// checked both.
std::string BlockBody(const std::string& url, const std::string& key);

}  // namespace branding
