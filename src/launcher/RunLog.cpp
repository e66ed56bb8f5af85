#include "launcher/RunLog.h"

#include <algorithm>

#include "framework/Exceptions.h"
#include "launcher/Release.h"
#include "platform/Platform.h"
#include "webcopy/TargetFile.h"

namespace {

constexpr const char* kSeparator = " | ";
constexpr size_t kMaxLineBytes = 1024;

// One field's text: nothing that could end the line or look like a separator.
std::string Field(const std::string& text) {
    if (text.empty()) return "-";
    std::string out = text.substr(0, kMaxLineBytes);
    for (char& c : out) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) c = '?';
        if (c == '|') c = '/';
    }
    return out;
}

// A line this log wrote: its time stamp, the first separator, no control character. Anything
// else (a planted file's bytes, a line cut by the tail's start) is not kept.
bool IsLogLine(const std::string& line) {
    if (line.size() < 22 || !IsStamp(line.substr(0, 19)) || line.compare(19, 3, kSeparator) != 0) return false;
    return std::none_of(line.begin(), line.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

// The last kMaxLogBytes of the log; `whole` when that is all of it. False when it is there
// but cannot be read (then it is left alone); an absent log reads as empty.
bool ReadTail(const std::string& path, std::string& tail, bool& whole) {
    auto& fs = platform::Fs();
    tail.clear();
    whole = true;
    auto file = fs.Open(path, platform::OpenMode::Read);
    if (!file) return fs.GetFileAttributes(path) == platform::INVALID_FILE_ATTRIBUTES_;
    const int64_t size = file->Size();
    if (size < 0) return false;
    whole = size <= static_cast<int64_t>(kMaxLogBytes);
    if (!whole && file->Seek(size - static_cast<int64_t>(kMaxLogBytes), 0) < 0) return false;
    tail.resize(kMaxLogBytes);
    uint32_t total = 0;
    while (total < kMaxLogBytes) {
        uint32_t got = 0;
        if (!file->Read(&tail[total], static_cast<uint32_t>(kMaxLogBytes) - total, got)) return false;
        if (got == 0) break;
        total += got;
    }
    tail.resize(total);
    return true;
}

// The log's new bytes: the log lines of `old` and then `line`, less the oldest lines until
// the whole is under kMaxLogBytes. A tail read from inside the file begins with a cut line.
std::string LogWithLine(const std::string& old, bool whole, const std::string& line) {
    std::string bytes;
    size_t at = whole ? 0 : std::min(old.find('\n'), old.size() - 1) + 1;
    // A last line without its line end was never finished: not kept.
    for (size_t end; at < old.size() && (end = old.find('\n', at)) != std::string::npos; at = end + 1) {
        const size_t length = end - at - (end > at && old[end - 1] == '\r' ? 1 : 0);
        if (IsLogLine(old.substr(at, length))) bytes.append(old, at, length).append("\r\n");
    }
    bytes += line + "\r\n";
    if (bytes.size() < kMaxLogBytes) return bytes;
    // The first whole line from which on the rest fits.
    const size_t cut = bytes.find('\n', bytes.size() - kMaxLogBytes) + 1;
    return bytes.substr(cut);
}

}  // namespace

std::string ScrubUrl(const std::string& url) {
    std::string out = url;
    // Credentials stand before the last "@" ahead of the path; a "?" or "#" among them does
    // not end them here, so that no part of a password is left.
    const size_t scheme = out.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t path = std::min(out.find_first_of("/\\", start), out.size());
    const size_t at = out.find_last_of('@', path == 0 ? 0 : path - 1);
    if (at != std::string::npos && at >= start && at < path) out.erase(start, at + 1 - start);
    return out.substr(0, out.find_first_of("?#"));
}

void RunLog::Begin(const platform::SystemTime& at, const std::string& baseUrl) {
    time_ = Format("%04u-%02u-%02u %02u:%02u:%02u", unsigned(at.wYear), unsigned(at.wMonth),
                   unsigned(at.wDay), unsigned(at.wHour), unsigned(at.wMinute), unsigned(at.wSecond));
    from_ = ScrubUrl(baseUrl);
}

void RunLog::Fetched(const std::string& name, uint64_t bytes, const std::string& note) {
    if (!fetched_.empty()) fetched_ += ", ";
    fetched_ += name + " " + std::to_string(bytes) + (note.empty() ? "" : " " + note);
}

std::string RunLog::Line() const {
    std::string line = Field(time_) + kSeparator + Field(outcome_.empty() ? "failed: unknown" : outcome_) +
                       kSeparator + "local " + Field(local_) + kSeparator + "server " + Field(server_) +
                       kSeparator + "fetched " + Field(fetched_) + kSeparator + "from " + Field(from_);
    return line.substr(0, kMaxLineBytes);
}

void RunLog::Write(const std::string& path) const {
    try {
        std::string old;
        bool whole = true;
        if (!ReadTail(path, old, whole)) return;
        const std::string bytes = LogWithLine(old, whole, Line());
        // A temporary file a killed launcher left; one still being written stays (it is open).
        platform::Fs().DeleteFile(path + ".part");
        webcopy::TargetFile file(path);
        if (file.Create() && file.Write(bytes.data(), static_cast<uint32_t>(bytes.size()))) file.Commit();
    } catch (...) {
        // The log never changes what the launcher does.
    }
}
