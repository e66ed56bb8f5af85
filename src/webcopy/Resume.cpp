#include "webcopy/Resume.h"

#include <cstdio>
#include <vector>

#include "platform/Platform.h"
#include "platform/SmallFile.h"
#include "webcopy/WebCopyHelpers.h"

namespace webcopy {
namespace {

constexpr const char* kRecordHeader = "resume 1";
constexpr size_t kMaxRecord = 16 * 1024;

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

bool ParseNumber(const std::string& s, uint64_t& value) {
    if (s.empty() || s.size() > 19 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoull(s);
    return true;
}

// FNV-1a: a short name for the record, which is compared in full anyway.
std::string ShortHash(const std::string& text) {
    uint32_t h = 2166136261u;
    for (unsigned char c : text) {
        h ^= c;
        h *= 16777619u;
    }
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(h));
    return buf;
}

int64_t FileSize(const std::string& path) {
    auto file = platform::Fs().Open(path, platform::OpenMode::Read);
    if (!file) return -1;
    const int64_t size = file->Size();
    file->Close();
    return size;
}

}  // namespace

std::string ResumeValidator(const std::string& etag, const std::string& lastModified) {
    // A weak tag says "about the same": a range of it could be spliced onto other bytes.
    if (!etag.empty() && etag.compare(0, 2, "W/") != 0 && !HasLineBreak(etag)) return etag;
    if (!lastModified.empty() && !HasLineBreak(lastModified)) return lastModified;
    return std::string();
}

std::optional<std::string> KeyRecord(const PartialKey& key) {
    if (HasLineBreak(key.url) || HasLineBreak(key.owner) || HasLineBreak(key.validator) ||
        key.validator.empty() || key.length == 0)
        return std::nullopt;
    return std::string(kRecordHeader) + "\n" + key.url + "\n" + key.owner + "\n" + key.validator +
           "\n" + std::to_string(key.length) + "\n";
}

bool ParseKeyRecord(const std::string& text, PartialKey& key) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    if (start != text.size() || lines.size() != 5 || lines[0] != kRecordHeader) return false;
    PartialKey parsed{lines[1], lines[2], lines[3], 0};
    if (!ParseNumber(lines[4], parsed.length) || parsed.length == 0 || parsed.validator.empty())
        return false;
    key = parsed;
    return true;
}

std::string RecordPath(const std::string& target) { return target + ".resume"; }

std::string PartialPath(const std::string& target, const PartialKey& key) {
    return target + "." + ShortHash(KeyRecord(key).value_or(std::string())) + ".partial";
}

std::string RangeHeaders(uint64_t offset, const std::string& validator) {
    return "Range: bytes=" + std::to_string(offset) + "-\r\nIf-Range: " + validator + "\r\n";
}

bool ParseContentRange(const std::string& text, ContentRange& range) {
    if (text.compare(0, 6, "bytes ") != 0) return false;
    const size_t dash = text.find('-', 6);
    const size_t slash = text.find('/', 6);
    if (dash == std::string::npos || slash == std::string::npos || dash > slash) return false;
    ContentRange r;
    if (!ParseNumber(text.substr(6, dash - 6), r.first) ||
        !ParseNumber(text.substr(dash + 1, slash - dash - 1), r.last) ||
        !ParseNumber(text.substr(slash + 1), r.total))
        return false;
    if (r.first > r.last || r.last >= r.total) return false;
    range = r;
    return true;
}

uint64_t Partial::Load() {
    std::string text;
    PartialKey key;
    if (platform::ReadSmallFile(RecordPath(target_), text, kMaxRecord) && ParseKeyRecord(text, key) && key.url == url_ &&
        key.owner == owner_) {
        const std::string path = PartialPath(target_, key);
        const int64_t size = FileSize(path);
        if (size > 0 && static_cast<uint64_t>(size) < key.length) {
            key_ = key;
            RemoveParts(path);
            return static_cast<uint64_t>(size);
        }
    }
    Discard();
    return 0;
}

bool Partial::Begin(const PartialKey& key) {
    Discard();
    const std::optional<std::string> record = KeyRecord(key);
    if (!record) return false;
    platform::Files& fs = platform::Fs();
    auto file = fs.Open(RecordPath(target_), platform::OpenMode::CreateWrite);
    uint32_t written = 0;
    const bool ok = file &&
                    file->Write(record->data(), static_cast<uint32_t>(record->size()), written) &&
                    written == record->size();
    const bool closed = file && file->Close();
    if (!ok || !closed) {
        fs.DeleteFile(RecordPath(target_));
        return false;
    }
    key_ = key;
    return true;
}

void Partial::Discard() {
    platform::Fs().DeleteFile(RecordPath(target_));
    RemoveParts(std::string());
    key_.reset();
}

void Partial::Finish() {
    platform::Fs().DeleteFile(RecordPath(target_));
    key_.reset();
}

void Partial::RemoveParts(const std::string& except) {
    platform::Files& fs = platform::Fs();
    std::vector<platform::FindData> found;
    if (!fs.FindFiles(target_ + ".*.partial", found)) return;
    const std::string folder = FolderOfPath(target_);
    for (const auto& entry : found) {
        if (entry.dwFileAttributes & platform::FILE_ATTRIBUTE_DIRECTORY_) continue;
        const std::string path = folder + entry.cFileName;
        if (path != except) fs.DeleteFile(path);
    }
}

}  // namespace webcopy
