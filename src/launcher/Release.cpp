#include "launcher/Release.h"

#include <memory>

#include "framework/Exceptions.h"
#include "framework/Strings.h"
#include "launcher/Manifest.h"
#include "platform/SmallFile.h"
#include "signing/Sha256.h"

namespace {

constexpr const char* kStampForm = "dddd-dd-dd dd:dd:dd";
constexpr size_t kStampLength = 19;
constexpr uint32_t kBlock = 65536;
constexpr uint16_t kExecutableImage = 0x0002;  // IMAGE_FILE_EXECUTABLE_IMAGE
constexpr uint16_t kLibrary = 0x2000;          // IMAGE_FILE_DLL

uint32_t LittleEndian(const unsigned char* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

// The stamp's form at `at` in `text`.
bool StampAt(const std::string& text, size_t at) {
    if (text.size() < at + kStampLength) return false;
    for (size_t i = 0; i < kStampLength; ++i) {
        const char c = text[at + i];
        if (kStampForm[i] == 'd' ? (c < '0' || c > '9') : c != kStampForm[i]) return false;
    }
    return true;
}

}  // namespace

bool IsStamp(const std::string& text) {
    return text.size() == kStampLength && StampAt(text, 0);
}

std::string StampOf(const std::string& bytes) {
    size_t at = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    if (!StampAt(bytes, at)) return std::string();
    // Blanks may follow up to the line's end (a CR, LF or zero byte); anything else makes it
    // no stamp.
    for (size_t i = at + kStampLength; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' || bytes[i] == '\n' || bytes[i] == '\0') break;
        if (bytes[i] != ' ') return std::string();
    }
    return bytes.substr(at, kStampLength);
}

bool ReadRelease(const std::string& bytes, ReleaseInfo& out) {
    std::string stamp = StampOf(bytes);
    if (stamp.empty()) return false;
    ReleaseManifest manifest;
    if (!ParseReleaseManifest(bytes, manifest)) manifest = ReleaseManifest{};
    out.stamp = std::move(stamp);
    out.sha256 = std::move(manifest.sha256);
    out.size = manifest.size;
    return true;
}

bool IsWindowsProgram(const char* head, size_t size, uint64_t fileSize) {
    const auto* p = reinterpret_cast<const unsigned char*>(head);
    if (size < 64 || p[0] != 'M' || p[1] != 'Z') return false;
    // The PE signature and the file header after it lie inside the file.
    const uint64_t at = LittleEndian(p + 0x3C, 4);
    if (at < 64 || at + 24 > fileSize || at + 24 > size) return false;
    if (p[at] != 'P' || p[at + 1] != 'E' || p[at + 2] != 0 || p[at + 3] != 0) return false;
    const uint32_t characteristics = LittleEndian(p + at + 4 + 18, 2);
    return (characteristics & kExecutableImage) && !(characteristics & kLibrary);
}

bool ProgramMatches(platform::File& file, const ReleaseInfo& release, uint64_t announced) {
    return CheckProgram(file, release, announced) == ProgramCheck::Matches;
}

ProgramCheck CheckProgram(platform::File& file, const ReleaseInfo& release, uint64_t announced) {
    const uint64_t expected = release.HasManifest() ? release.size : announced;
    if (expected == 0) return ProgramCheck::NoLength;
    if (file.Size() != static_cast<int64_t>(expected)) return ProgramCheck::SizeMismatch;
    signing::Sha256 hash;
    uint64_t total = 0;
    const auto buf = std::make_unique<char[]>(kBlock);
    for (;;) {
        uint32_t got = 0;
        if (!file.Read(buf.get(), kBlock, got)) return ProgramCheck::Unreadable;
        if (got == 0) break;
        total += got;
        if (total == got && !IsWindowsProgram(buf.get(), got, expected)) return ProgramCheck::NotAProgram;
        if (total > expected) return ProgramCheck::SizeMismatch;
        hash.Update(buf.get(), got);
    }
    if (total != expected || total == 0) return ProgramCheck::SizeMismatch;
    return !release.HasManifest() || signing::ToHex(hash.Finish()) == release.sha256 ? ProgramCheck::Matches
                                                                                     : ProgramCheck::HashMismatch;
}

bool ReadSmallFile(const std::string& path, std::string& bytes, size_t limit, bool raise) {
    bool opened = false;
    if (platform::ReadSmallFile(path, bytes, limit, &opened)) return true;
    if (raise && !opened) throw EFOpenError(Format(rtl_messages::FOpenError, path.c_str()));
    return false;
}

std::string BadReleaseRecord(const ReleaseInfo& release) {
    std::string record = release.stamp + "\r\n";
    if (release.HasManifest()) record += "sha256 " + release.sha256 + "\r\n";
    return record;
}

bool IsBadRelease(const std::string& record, const ReleaseInfo& release) {
    const std::string head = release.stamp + "\r\n";
    if (release.stamp.empty() || record.compare(0, head.size(), head) != 0) return false;
    return record.size() == head.size() || !release.HasManifest() || record == BadReleaseRecord(release);
}
