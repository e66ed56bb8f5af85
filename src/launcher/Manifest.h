#pragma once
// The signed release's N.txt: the stamp, then the SHA-256 and the size of the N.bin it goes
// with, three lines, nothing else. The signature covers exactly these bytes.
#include <cstdint>
#include <string>

// Stamp files (N.txt, N.dat) larger than this are no stamp files, in every build.
inline constexpr uint32_t kMaxStampFileSize = 4096;

struct ReleaseManifest {
    std::string stamp;   // the first line, compared as the stamp
    std::string sha256;  // 64 lower-case hex digits
    uint64_t size = 0;   // bytes of N.bin, 1 to 4 GiB - 1
};

// Parses `bytes`: at most kMaxStampFileSize bytes of exactly
//   <stamp>\r\n  sha256 <64 lower-case hex>\r\n  size <decimal>\r\n
// with every line ended by CR LF, or every line by LF. The stamp is non-empty and holds no
// control character; the size has no sign, blank or leading zero, is not 0 and is below
// 4 GiB. False for
// anything else, `out` then untouched.
bool ParseReleaseManifest(const std::string& bytes, ReleaseManifest& out);
