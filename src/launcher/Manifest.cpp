#include "launcher/Manifest.h"

#include <vector>

namespace {

// The transfer component counts a body's bytes in 32 bits.
constexpr uint64_t kMaxProgramSize = 0xFFFFFFFFu;

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// The lines of `bytes`, each ended by `eol`, the last one too; false when anything is left.
bool SplitLines(const std::string& bytes, const std::string& eol, std::vector<std::string>& lines) {
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t end = bytes.find(eol, at);
        if (end == std::string::npos) return false;
        lines.push_back(bytes.substr(at, end - at));
        at = end + eol.size();
    }
    return true;
}

bool ParseSize(const std::string& text, uint64_t& size) {
    if (text.empty() || text.size() > 10 || text[0] == '0') return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > kMaxProgramSize) return false;
    size = value;
    return true;
}

}  // namespace

bool ParseReleaseManifest(const std::string& bytes, ReleaseManifest& out) {
    if (bytes.empty() || bytes.size() > kMaxStampFileSize) return false;
    // One kind of line end throughout: a lone CR, or a CR in an LF file, is refused below
    // as a control character.
    const std::string eol = bytes.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::vector<std::string> lines;
    if (!SplitLines(bytes, eol, lines) || lines.size() != 3) return false;
    for (const auto& line : lines)
        for (char c : line)
            if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') return false;

    const std::string& stamp = lines[0];
    const std::string kSha = "sha256 ", kSize = "size ";
    if (stamp.empty()) return false;
    if (lines[1].size() != kSha.size() + 64 || lines[1].compare(0, kSha.size(), kSha) != 0) return false;
    const std::string hex = lines[1].substr(kSha.size());
    for (char c : hex)
        if (!IsLowerHex(c)) return false;
    if (lines[2].compare(0, kSize.size(), kSize) != 0) return false;
    uint64_t size = 0;
    if (!ParseSize(lines[2].substr(kSize.size()), size)) return false;

    out.stamp = stamp;
    out.sha256 = hex;
    out.size = size;
    return true;
}
