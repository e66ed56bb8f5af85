#pragma once
// A release as the server announces it in N.txt, and the checks a downloaded program must
// pass before it is installed: the stamp's one form, the stated size and SHA-256, and a
// Windows program. Also the record of releases that would not start (N.bad).
#include <cstdint>
#include <string>

#include "platform/Platform.h"

// The stamp in the first line of a stamp file's bytes: "YYYY-MM-DD hh:mm:ss", digits where
// the form has them. A UTF-8 byte-order mark before it and blanks or CRs after it are
// ignored. Empty when the first line holds no stamp (a portal's page, a hand-made typo).
std::string StampOf(const std::string& bytes);
bool IsStamp(const std::string& text);

// What N.txt announces. With a manifest (stamp, SHA-256, size: the three lines publish
// writes) the program must match it; without, the program is only as long as the server
// says it is.
struct ReleaseInfo {
    std::string stamp;
    std::string sha256;  // empty without a manifest
    uint64_t size = 0;   // 0 without a manifest
    bool HasManifest() const { return !sha256.empty(); }
};

// N.txt's bytes as a release: a manifest, or any other text whose first line is a stamp
// (only that line counts). False, `out` untouched, when the first line is no stamp.
bool ReadRelease(const std::string& bytes, ReleaseInfo& out);

// True when `head`, the first `size` bytes of a file of `fileSize` bytes, begins a Windows
// program: an MZ header whose PE offset lies inside the file and points at "PE\0\0", and a
// file header that marks an executable image that is not a library. The PE header must lie
// within `head` (ProgramMatches gives the first 64 KiB; linkers put it in the first few
// hundred bytes).
bool IsWindowsProgram(const char* head, size_t size, uint64_t fileSize);

// True when `file` holds exactly the program the release stands for: its size (the
// manifest's, else `announced`, the length the server sent; an unknown length never
// matches), its SHA-256 when the manifest states one, and a Windows program. Reads the
// file from its start through, never more than one block past that size.
bool ProgramMatches(platform::File& file, const ReleaseInfo& release, uint64_t announced);
// The same, saying which check failed.
enum class ProgramCheck { Matches, NoLength, SizeMismatch, HashMismatch, NotAProgram, Unreadable };
ProgramCheck CheckProgram(platform::File& file, const ReleaseInfo& release, uint64_t announced);

// platform::ReadSmallFile; with `raise` a file that cannot be opened raises the framework's
// open error instead of giving false.
bool ReadSmallFile(const std::string& path, std::string& bytes, size_t limit, bool raise);

// What N.bad records of a release that would not start: its stamp, and its SHA-256 when
// it had one.
std::string BadReleaseRecord(const ReleaseInfo& release);
// True when `record` (N.bad's bytes) names `release`: the same stamp, and the same SHA-256
// where both state one.
bool IsBadRelease(const std::string& record, const ReleaseInfo& release);
