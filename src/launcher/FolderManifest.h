#pragma once
// A folder release's N.txt: the stamp, then one line per file of the program, sorted by path:
//   2026-12-08 10:00:00
//   file <64 lower-case hex SHA-256> <size, decimal> <path>
// Paths are relative, '/'-separated, Windows-1252 bytes. Everything a line names becomes a
// file under the version folder, so the rules below are what keeps a release inside it and
// makes its folder creatable on every Windows: a manifest that breaks one is refused whole.
// Portable (no platform calls): publish checks what it writes with the same code.
#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint32_t kMaxFolderManifestSize = 1024 * 1024;
inline constexpr size_t kMaxFolderFiles = 10000;
inline constexpr size_t kMaxReleasePathLength = 240;
// The transfer component counts a body's bytes in 32 bits.
inline constexpr uint64_t kMaxReleaseFileSize = 0xFFFFFFFFu;

struct FolderFile {
    std::string sha256;  // 64 lower-case hex digits
    uint64_t size = 0;
    std::string path;    // as in the manifest, '/'-separated
};

struct FolderManifest {
    std::string stamp;
    std::vector<FolderFile> files;  // sorted by path, byte by byte
};

// True when `bytes` claims to be a folder manifest: a line after the first begins with
// "file ". Such a text is a folder release or nothing; it is never read as a plain stamp.
bool IsFolderManifestText(const std::string& bytes);

// Parses and checks `bytes` as the folder release of `program` (N.exe): at most
// kMaxFolderManifestSize bytes; the first line exactly a stamp "YYYY-MM-DD hh:mm:ss"; then
// 1 to kMaxFolderFiles file lines in strictly ascending byte order; every line ended by
// CR LF, or every line by LF. Each path: at most kMaxReleasePathLength bytes, parts that are
// plain Windows names (IsPlainWindowsName), no two equal when case is ignored, none that is
// also a folder of another; `program` at the top. Sizes: decimal without sign or leading
// zero, at most kMaxReleaseFileSize. False with the broken rule in `why` (when given) and
// `out` untouched.
bool ParseFolderManifest(const std::string& bytes, const std::string& program, FolderManifest& out,
                         std::string* why = nullptr);

// The manifest text (CR LF line ends) for `stamp` and `files`, which the caller has sorted.
std::string FormatFolderManifest(const std::string& stamp, const std::vector<FolderFile>& files);

// One part of a path as Windows takes it literally: not empty, "." or "..", no control
// character or \ / : * ? " < > |, no trailing dot or blank, not a device name (CON, PRN,
// AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$; also with an extension).
bool IsPlainWindowsName(const std::string& part);

// `text` with the Windows-1252 letters folded to lower case, as Windows compares names.
std::string FoldCase(const std::string& text);

// The path with '\' for '/', as it is joined to a local folder.
std::string LocalReleasePath(const std::string& path);
