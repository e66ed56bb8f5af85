#pragma once
// What the FTP operations share: the connection with its cache rules, the working folder
// that a kept connection gets back, the checks on names a server sends, and the single-file
// transfers that the multi-file jobs run once per file.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/NetTypes.h"
#include "webcopy/Run.h"

namespace webcopy {

// One file of an FTP transfer: a job's own values, or the values a multi-file job gives
// each of its files.
struct FtpFileTask {
    int index = 0;          // reported by OnFileDateCheck
    std::string url;        // remote path (download) or local source (upload)
    std::string targetDir;  // local folder (download) or remote folder (upload)
    std::string targetName; // empty: the file name of url
    bool copyNewerOnly = false;
    TDateTime fileDate = 0;  // in: the reference date; out: the date found, when checked
    bool noNewerFile = false;
    bool keep = false;       // the connection stays open and cached for the next transfer
    bool updateFileLabel = true;  // the download writes the dialog's file line itself
};

FtpFileTask TaskOfJob(const Job& job);
FtpKey KeyOfJob(const Job& job);

// One routine's use of an FTP connection. The connection is the cached one when the routine
// looks the cache up and the key matches, else a new one; a kept connection goes into the
// cache. On destruction the link releases: a kept connection gets its working folder back
// (when the routine changed it), any other is closed together with whatever the cache held.
// Declare the link before any handle opened on it, so those close first.
class FtpLink {
public:
    enum class Cache { LookUp, Ignore };
    FtpLink(Run& run, FtpKey key, bool keep) : run_(run), key_(std::move(key)), keep_(keep) {}
    FtpLink(const FtpLink&) = delete;
    FtpLink& operator=(const FtpLink&) = delete;
    ~FtpLink();

    // Yields before connecting and after. False (error 6 reported, nothing cached or closed)
    // when no connection could be made. `beforeNew` runs just before a new connection is made.
    bool Open(Cache cache, void (*beforeNew)(Run&) = nullptr);
    platform::HINTERNET get() const;

    // Sets the server's working folder to `dir` (relative to where the connection is), after
    // saving the folder it had the first time; the result of the change.
    bool ChangeDirectory(const std::string& dir);
    // Enters `dir` at once, or part by part ("\" and "/" separate parts), creating what is
    // missing; false when a part can be neither entered nor created.
    bool EnterCreating(const std::string& dir);

    // The server's size of `name` in the working folder: SIZE in binary type, else the
    // listing; nothing when neither tells. The connection must have no transfer open.
    std::optional<uint64_t> RemoteSize(const std::string& name);
    // SIZE's answer alone (in binary type); nothing when the server gives none.
    std::optional<uint64_t> SizeReply(const std::string& name);

private:
    void SaveDirectory();

    Run& run_;
    FtpKey key_;
    bool keep_;
    platform::InetHandle own_;  // a connection that is not kept
    bool open_ = false;
    bool saved_ = false;
    std::string savedDir_;
};

// Error 6 for a remote folder that cannot be entered: the job goes nowhere else instead.
void ReportFolderFailed(Run& run, const Job& job);

// The size a listing entry gives, all 64 bits.
uint64_t ListedSize(const platform::FindData& found);
// A listed size that may stand for any size from 2 GiB up (the network library caps them).
inline bool IsCappedSize(const platform::FindData& found) {
    return found.nFileSizeHigh == 0 && found.nFileSizeLow == 0x7FFFFFFFu;
}
// Most entries one listing may bring, and most bytes of names: a server that lists without
// end fails the job.
inline constexpr size_t kMaxListedEntries = 100000;
inline constexpr size_t kMaxListedBytes = 16u << 20;
// The number of a "213 <digits>" reply (to SIZE); nothing for any other text.
std::optional<uint64_t> SizeFromReply(const std::string& reply);
// The code of a reply's final line ("226 Transfer complete." gives 226); 0 without one.
int ReplyCode(const std::string& reply);
// The code of the last reply the network library read on this thread: after a transfer's
// handle is closed, the server's verdict on the transfer. 0 when unknown.
int LastReplyCode();
// A transfer ended well as far as the server said: no 4xx or 5xx final reply.
inline bool ReplyAccepts(int code) { return code < 400; }

// What an upload or a deletion does before it makes a new connection.
void ForgetLastRemoteDir(Run& run);

// The directory part of a remote path: up to and including its last "/"; empty without one.
std::string FtpDirectoryPart(const std::string& path);

// A name from a server's listing that can only name an entry of the folder it came from:
// not empty, no "\", "/" or ":", not "." or "..".
bool IsPlainName(const std::string& name);
// Enters the folder part of the remote mask `url` ("\" or "/" separated) and passes each
// entry that matches its file part to `take`. An entry whose name is a path is reported and
// passed over. The search is closed on return. False (reported) when the folder cannot be
// entered (error 6), the server refuses the listing, it stalls or it has more than the caps.
bool ListPlainEntries(Run& run, const Job& job, FtpLink& link, const std::string& url,
                      const std::function<void(const platform::FindData&)>& take);

// The single-file transfers; each returns true when its transfer completed.
bool FtpDownloadFile(Run& run, const Job& job, FtpFileTask& task);
bool FtpUploadFile(Run& run, const Job& job, FtpFileTask& task);

}  // namespace webcopy
