#include "launcher/Release.h"

#include <memory>

#include "launcher/Manifest.h"
#include "signing/Sha256.h"

namespace {

constexpr const char* kStampForm = "dddd-dd-dd dd:dd:dd";
constexpr size_t kStampLength = 19;
constexpr uint16_t kExecutableImage = 0x0002;  // IMAGE_FILE_EXECUTABLE_IMAGE
constexpr uint16_t kLibrary = 0x2000;          // IMAGE_FILE_DLL

uint32_t LittleEndian(const unsigned char* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

// Reads exactly `size` bytes at `offset`; false when the file is shorter or a call fails.
bool ReadAt(platform::File& file, int64_t offset, unsigned char* buf, uint32_t size) {
    if (file.Seek(offset, 0) != offset) return false;
    uint32_t got = 0;
    while (got < size) {
        uint32_t n = 0;
        if (!file.Read(buf + got, size - got, n) || n == 0) return false;
        got += n;
    }
    return true;
}

}  // namespace

bool IsStamp(const std::string& text) {
    if (text.size() != kStampLength) return false;
    for (size_t i = 0; i < kStampLength; ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kStampForm[i] == 'd' ? !digit : text[i] != kStampForm[i]) return false;
    }
    return true;
}

std::string StampOf(const std::string& bytes) {
    size_t at = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const std::string stamp = bytes.substr(at, kStampLength);
    if (!IsStamp(stamp)) return std::string();
    // Blanks and CRs may follow up to the line's end; anything else makes it no stamp.
    for (at += kStampLength; at < bytes.size() && bytes[at] != '\n' && bytes[at] != '\0'; ++at)
        if (bytes[at] != ' ' && bytes[at] != '\r') return std::string();
    return stamp;
}

bool ReadRelease(const std::string& bytes, ReleaseInfo& out) {
    ReleaseInfo release;
    release.stamp = StampOf(bytes);
    if (release.stamp.empty()) return false;
    ReleaseManifest manifest;
    if (ParseReleaseManifest(bytes, manifest)) {
        release.sha256 = manifest.sha256;
        release.size = manifest.size;
    }
    out = release;
    return true;
}

bool IsWindowsProgram(platform::File& file) {
    const int64_t size = file.Size();
    unsigned char dos[64], pe[24];
    bool ok = size >= 64 && ReadAt(file, 0, dos, sizeof dos) && dos[0] == 'M' && dos[1] == 'Z';
    if (ok) {
        // The PE signature and the file header after it lie inside the file.
        const int64_t at = LittleEndian(dos + 0x3C, 4);
        ok = at >= 64 && at + 24 <= size && ReadAt(file, at, pe, sizeof pe) &&
             pe[0] == 'P' && pe[1] == 'E' && pe[2] == 0 && pe[3] == 0;
        const uint32_t characteristics = ok ? LittleEndian(pe + 4 + 18, 2) : 0;
        ok = ok && (characteristics & kExecutableImage) && !(characteristics & kLibrary);
    }
    return file.Seek(0, 0) == 0 && ok;
}

bool ProgramMatches(platform::File& file, const ReleaseInfo& release, uint64_t announced) {
    const uint64_t expected = release.HasManifest() ? release.size : announced;
    if (expected == 0 || file.Size() != static_cast<int64_t>(expected)) return false;
    if (!IsWindowsProgram(file)) return false;
    signing::Sha256 hash;
    uint64_t total = 0;
    auto buf = std::make_unique<char[]>(65536);
    for (;;) {
        uint32_t got = 0;
        if (!file.Read(buf.get(), 65536, got)) return false;
        if (got == 0) break;
        total += got;
        if (total > expected) return false;
        hash.Update(buf.get(), got);
    }
    return total == expected &&
           (!release.HasManifest() || signing::ToHex(hash.Finish()) == release.sha256);
}

std::string BadReleaseRecord(const ReleaseInfo& release) {
    std::string record = release.stamp + "\r\n";
    if (release.HasManifest()) record += "sha256 " + release.sha256 + "\r\n";
    return record;
}

bool IsBadRelease(const std::string& record, const ReleaseInfo& release) {
    if (release.stamp.empty() || StampOf(record) != release.stamp) return false;
    const size_t at = record.find("\nsha256 ");
    const std::string sha = at == std::string::npos ? std::string() : record.substr(at + 8, 64);
    return sha.empty() || !release.HasManifest() || sha == release.sha256;
}
