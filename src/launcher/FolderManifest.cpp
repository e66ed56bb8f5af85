#include "launcher/FolderManifest.h"

#include <set>

namespace {

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsExactStamp(const std::string& s) {
    static const char kForm[] = "dddd-dd-dd dd:dd:dd";
    if (s.size() != sizeof kForm - 1) return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (kForm[i] == 'd' ? !IsDigit(s[i]) : s[i] != kForm[i]) return false;
    return true;
}

bool ParseSize(const std::string& text, uint64_t& size) {
    if (text.empty() || text.size() > 10 || (text[0] == '0' && text.size() > 1)) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > kMaxReleaseFileSize) return false;
    size = value;
    return true;
}

bool Fail(std::string* why, const std::string& text) {
    if (why) *why = text;
    return false;
}

// Splits `path` at '/'; false when a part is no plain Windows name.
bool SplitPath(const std::string& path, std::vector<std::string>& parts) {
    size_t at = 0;
    for (;;) {
        const size_t end = path.find('/', at);
        parts.push_back(path.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (!IsPlainWindowsName(parts.back())) return false;
        if (end == std::string::npos) return true;
        at = end + 1;
    }
}

// One file line without its end: "file <hex> <size> <path>".
bool ParseFileLine(const std::string& line, FolderFile& file, std::string* why) {
    static const std::string kFile = "file ";
    if (line.compare(0, kFile.size(), kFile) != 0) return Fail(why, "a line that is not a file line");
    const size_t hexAt = kFile.size(), sizeAt = hexAt + 65;
    if (line.size() < sizeAt || line[sizeAt - 1] != ' ') return Fail(why, "a file line without its SHA-256");
    for (size_t i = hexAt; i < hexAt + 64; ++i)
        if (!IsLowerHex(line[i])) return Fail(why, "a SHA-256 that is not 64 lower-case hex digits");
    const size_t blank = line.find(' ', sizeAt);
    if (blank == std::string::npos) return Fail(why, "a file line without its path");
    if (!ParseSize(line.substr(sizeAt, blank - sizeAt), file.size))
        return Fail(why, "a size that is not a decimal number below 4 GiB");
    file.sha256 = line.substr(hexAt, 64);
    file.path = line.substr(blank + 1);
    return true;
}

}  // namespace

bool IsFolderManifestText(const std::string& bytes) {
    for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1))
        if (bytes.compare(at + 1, 5, "file ") == 0) return true;
    return false;
}

std::string FoldCase(const std::string& text) {
    std::string out = text;
    for (char& ch : out) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
            ch = static_cast<char>(c + 0x20);
        } else if (c == 0x8A || c == 0x8C || c == 0x8E) {  // Š Œ Ž
            ch = static_cast<char>(c + 0x10);
        } else if (c == 0x9F) {  // Ÿ
            ch = static_cast<char>(0xFF);
        }
    }
    return out;
}

bool IsPlainWindowsName(const std::string& part) {
    if (part.empty() || part == "." || part == "..") return false;
    for (char ch : part) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return false;
    }
    if (part.find_first_of("\\/:*?\"<>|") != std::string::npos) return false;
    if (part.back() == '.' || part.back() == ' ') return false;
    // Windows opens a device for its name with any extension and blanks before the dot.
    std::string base = FoldCase(part.substr(0, part.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const std::set<std::string> kDevices = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    if (kDevices.count(base)) return false;
    if (base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0)) {
        const unsigned char d = static_cast<unsigned char>(base[3]);
        if (IsDigit(base[3]) || d == 0xB9 || d == 0xB2 || d == 0xB3) return false;  // ¹ ² ³
    }
    return true;
}

bool ParseFolderManifest(const std::string& bytes, const std::string& program, FolderManifest& out,
                         std::string* why) {
    if (bytes.empty()) return Fail(why, "empty");
    if (bytes.size() > kMaxFolderManifestSize) return Fail(why, "larger than 1 MiB");
    const std::string eol = bytes.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::vector<std::string> lines;
    for (size_t at = 0; at < bytes.size();) {
        const size_t end = bytes.find(eol, at);
        if (end == std::string::npos) return Fail(why, "a last line without its line end");
        lines.push_back(bytes.substr(at, end - at));
        at = end + eol.size();
    }
    // A lone CR, or a CR in an LF file, is a control character like any other.
    for (const auto& line : lines)
        for (char c : line)
            if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f')
                return Fail(why, "a control character or mixed line ends");
    if (!IsExactStamp(lines[0])) return Fail(why, "a first line that is not a stamp YYYY-MM-DD hh:mm:ss");
    if (lines.size() < 2) return Fail(why, "no file");
    if (lines.size() - 1 > kMaxFolderFiles) return Fail(why, "more than 10000 files");

    FolderManifest m;
    m.stamp = lines[0];
    std::set<std::string> folded, folders;
    bool hasProgram = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        FolderFile file;
        if (!ParseFileLine(lines[i], file, why)) return false;
        const std::string& path = file.path;
        if (path.size() > kMaxReleasePathLength) return Fail(why, "a path longer than 240 characters: " + path);
        std::vector<std::string> parts;
        if (!SplitPath(path, parts)) return Fail(why, "a path that is not plain Windows names: " + path);
        if (!m.files.empty() && !(m.files.back().path < path))
            return Fail(why, "paths not in ascending order, or one twice: " + path);
        const std::string key = FoldCase(path);
        if (!folded.insert(key).second) return Fail(why, "two paths that differ only in case: " + path);
        for (size_t cut = key.find('/'); cut != std::string::npos; cut = key.find('/', cut + 1))
            folders.insert(key.substr(0, cut));
        if (parts.size() == 1 && key == FoldCase(program)) hasProgram = true;
        m.files.push_back(std::move(file));
    }
    for (const auto& folder : folders)
        if (folded.count(folder)) return Fail(why, "a path that is also a folder of another: " + folder);
    if (!hasProgram) return Fail(why, program + " is not at the top");
    out = std::move(m);
    return true;
}

std::string FormatFolderManifest(const std::string& stamp, const std::vector<FolderFile>& files) {
    std::string text = stamp + "\r\n";
    for (const auto& f : files) text += "file " + f.sha256 + " " + std::to_string(f.size) + " " + f.path + "\r\n";
    return text;
}

std::string LocalReleasePath(const std::string& path) {
    std::string local = path;
    for (char& c : local)
        if (c == '/') c = '\\';
    return local;
}
