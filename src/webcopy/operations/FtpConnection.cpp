// The FTP connection of one routine, the cache that keeps it for the next job, and the
// working folder a kept connection gets back.
#include "webcopy/operations/FtpConnection.h"

#include <cctype>

#include "framework/Application.h"
#include "platform/Platform.h"
#include "webcopy/WebCopyErrors.h"
#include "webcopy/WebCopyHelpers.h"

namespace webcopy {
namespace {
constexpr uint32_t kErrorNoMoreFiles = 18;
}

FtpFileTask TaskOfJob(const Job& job) {
    FtpFileTask task;
    task.index = job.Index;
    task.url = job.URL;
    task.targetDir = job.TargetDir;
    task.targetName = job.TargetFilename;
    task.copyNewerOnly = job.CopyNewerOnly;
    task.fileDate = job.FileDate;
    task.keep = job.KeepConnection;
    return task;
}

FtpKey KeyOfJob(const Job& job) {
    return FtpKey{job.FTPHost, job.FTPPort, job.FTPUserID, job.FTPPassword};
}

bool FtpLink::Open(Cache cache, void (*beforeNew)(Run&)) {
    Application->ProcessMessages();
    if (cache == Cache::LookUp && run_.CachedFtpKey && *run_.CachedFtpKey == key_ &&
        run_.CachedFtpConnection) {
        // Whether kept or not, this routine now answers for the cached connection.
        open_ = true;
        if (!keep_) {
            own_ = std::move(run_.CachedFtpConnection);
            run_.CachedFtpKey.reset();
        }
        Application->ProcessMessages();
        return true;
    }
    if (beforeNew) beforeNew(run_);
    // A port the connect call cannot take is not wrapped into one it can.
    if (key_.port < 1 || key_.port > 65535) {
        const std::string host = key_.host;
        run_.ReportError(ecConnect, [&host] { return TextConnectFtp + host; });
        return false;
    }
    const bool login = !key_.user.empty() && !key_.password.empty();
    platform::InetHandle connection = platform::Net().InternetConnect(
        run_.Session.get(), key_.host, static_cast<uint16_t>(key_.port),
        login ? key_.user.c_str() : nullptr, login ? key_.password.c_str() : nullptr,
        platform::INTERNET_SERVICE_FTP, run_.wc.FTPPassive ? platform::INTERNET_FLAG_PASSIVE : 0, 0);
    if (!connection) {
        const std::string host = key_.host;
        run_.ReportError(ecConnect, [&host] { return TextConnectFtp + host; });
        return false;
    }
    open_ = true;
    if (keep_) {
        run_.CachedFtpConnection = std::move(connection);  // closes what the cache held
        run_.CachedFtpKey = key_;
    } else {
        own_ = std::move(connection);
    }
    Application->ProcessMessages();
    return true;
}

platform::HINTERNET FtpLink::get() const {
    if (!open_) return nullptr;
    return keep_ ? run_.CachedFtpConnection.get() : own_.get();
}

void FtpLink::SaveDirectory() {
    if (saved_) return;
    saved_ = true;
    if (!platform::Net().FtpGetCurrentDirectory(get(), savedDir_)) savedDir_.clear();
}

bool FtpLink::ChangeDirectory(const std::string& dir) {
    SaveDirectory();
    return platform::Net().FtpSetCurrentDirectory(get(), dir);
}

bool FtpLink::EnterCreating(const std::string& dir) {
    if (dir.empty()) return true;
    if (ChangeDirectory(dir)) return true;
    platform::Network& net = platform::Net();
    run_.LastRemoteDir.clear();
    std::string rest = BackslashesToSlashes(dir);
    // Each part is taken from where the last one led: a leading "/" does not go to the root.
    while (!rest.empty()) {
        const size_t slash = rest.find('/');
        const std::string part = rest.substr(0, slash);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        if (part.empty()) continue;
        if (net.FtpSetCurrentDirectory(get(), part)) continue;
        if (!net.FtpCreateDirectory(get(), part) || !net.FtpSetCurrentDirectory(get(), part))
            return false;
    }
    return true;
}

std::optional<uint64_t> FtpLink::SizeReply(const std::string& name) {
    platform::Network& net = platform::Net();
    // Some servers give sizes only in binary type; some answer SIZE not at all.
    if (net.FtpCommand(get(), platform::FTP_TRANSFER_TYPE_BINARY, "TYPE I") &&
        net.FtpCommand(get(), platform::FTP_TRANSFER_TYPE_BINARY, "SIZE " + name)) {
        uint32_t error = 0;
        std::string reply;
        if (net.InternetGetLastResponseInfo(error, reply)) return SizeFromReply(reply);
    }
    return std::nullopt;
}

std::optional<uint64_t> FtpLink::RemoteSize(const std::string& name) {
    if (const std::optional<uint64_t> size = SizeReply(name)) return size;
    platform::Network& net = platform::Net();
    platform::FindData found;
    platform::InetHandle search = net.FtpFindFirstFile(get(), name, found, 0, 0);
    // A listing names what it lists: a folder's entries or a name cut short tell nothing.
    if (search && found.cFileName == name && !(found.dwFileAttributes & platform::FILE_ATTRIBUTE_DIRECTORY_) &&
        !IsCappedSize(found))
        return ListedSize(found);
    return std::nullopt;
}

FtpLink::~FtpLink() {
    if (!open_) return;
    if (keep_) {
        // Every job on a kept connection starts where the first one did.
        // A connection that cannot go back is no use to the next job: it connects afresh.
        if (saved_ && run_.CachedFtpKey && *run_.CachedFtpKey == key_ && run_.CachedFtpConnection &&
            !platform::Net().FtpSetCurrentDirectory(run_.CachedFtpConnection.get(),
                                                    savedDir_.empty() ? "/" : savedDir_)) {
            run_.CachedFtpConnection.reset();
            run_.CachedFtpKey.reset();
        }
        return;
    }
    own_.reset();
    run_.CachedFtpConnection.reset();
    run_.CachedFtpKey.reset();
}

void ForgetLastRemoteDir(Run& run) { run.LastRemoteDir.clear(); }

void ReportFolderFailed(Run& run, const Job& job) {
    const std::string& host = job.FTPHost;
    run.ReportError(ecConnect, [&host] { return TextConnectFtp + host; });
}

uint64_t ListedSize(const platform::FindData& found) {
    return (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

std::optional<uint64_t> SizeFromReply(const std::string& reply) {
    std::string text = reply;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.size() < 5 || text.compare(0, 4, "213 ") != 0) return std::nullopt;
    const std::string digits = text.substr(4);
    // At most 19 digits: every such number fits in 64 bits.
    if (digits.empty() || digits.size() > 19 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(digits);
}

int ReplyCode(const std::string& reply) {
    // A reply of several lines ends with the line "nnn text"; the lines before it say more.
    int code = 0;
    size_t start = 0;
    while (start < reply.size()) {
        size_t end = reply.find('\n', start);
        if (end == std::string::npos) end = reply.size();
        const std::string line = reply.substr(start, end - start);
        if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
            std::isdigit(static_cast<unsigned char>(line[1])) &&
            std::isdigit(static_cast<unsigned char>(line[2])) && (line.size() == 3 || line[3] != '-'))
            code = std::stoi(line.substr(0, 3));
        start = end + 1;
    }
    return code;
}

int LastReplyCode() {
    uint32_t error = 0;
    std::string reply;
    if (!platform::Net().InternetGetLastResponseInfo(error, reply)) return 0;
    return ReplyCode(reply);
}

std::string FtpDirectoryPart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("\\/:") == std::string::npos;
}

bool ListPlainEntries(Run& run, const Job& job, FtpLink& link, const std::string& url,
                      const std::function<void(const platform::FindData&)>& take) {
    const std::string mask = BackslashesToSlashes(url);
    const std::string dir = FtpDirectoryPart(mask);
    if (!dir.empty() && !link.ChangeDirectory(dir)) {
        ReportFolderFailed(run, job);
        return false;
    }
    platform::FindData found;
    platform::InetHandle search =
        platform::Net().FtpFindFirstFile(link.get(), FileNameFromPath(mask), found, 0, 0);
    if (!search) {
        // No match is an empty listing (error 0, or no more files); anything else is the
        // server refusing the listing or going quiet.
        const uint32_t code = platform::Sys().GetLastError();
        if (code == 0 || code == kErrorNoMoreFiles) return true;
        run.ReportSystemError(code);
        return false;
    }
    size_t entries = 0, bytes = 0;
    do {
        if (++entries > kMaxListedEntries || (bytes += found.cFileName.size()) > kMaxListedBytes) {
            const std::string where = job.FTPHost;
            run.ReportError(ecReadSource, [&where] { return TextReadSource + where; });
            return false;
        }
        // A name is only ever an entry of this folder, never a path out of the target.
        if (IsPlainName(found.cFileName)) {
            take(found);
        } else {
            const std::string name = found.cFileName;
            run.ReportError(ecRefusedName, [&name] { return TextRefusedName + name; });
        }
    } while (platform::Net().InternetFindNextFile(search.get(), found));
    // The end of the entries, or a failure to get the next one.
    const uint32_t code = platform::Sys().GetLastError();
    if (code != 0 && code != kErrorNoMoreFiles) {
        run.ReportSystemError(code);
        return false;
    }
    return true;
}

}  // namespace webcopy
