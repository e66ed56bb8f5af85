#pragma once
// What the FTP operations share: the connection with its cache rules, the working folder
// that a kept connection gets back, the checks on names a server sends, and the single-file
// transfers that the multi-file jobs run once per file.
#include <functional>
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

// What an upload or a deletion does before it makes a new connection.
void ForgetLastRemoteDir(Run& run);

// The directory part of a remote path: up to and including its last "/"; empty without one.
std::string FtpDirectoryPart(const std::string& path);

// A name from a server's listing that can only name an entry of the folder it came from:
// not empty, no "\", "/" or ":", not "." or "..".
bool IsPlainName(const std::string& name);
// Enters the folder part of the remote mask `url` ("\" or "/" separated; a wrong folder lists
// the login folder) and passes each entry that matches its file part to `take`. An entry
// whose name is a path is reported and passed over. The search is closed on return.
void ListPlainEntries(Run& run, FtpLink& link, const std::string& url,
                      const std::function<void(const platform::FindData&)>& take);

// The single-file transfers; each returns true when its transfer completed.
bool FtpDownloadFile(Run& run, const Job& job, FtpFileTask& task);
bool FtpUploadFile(Run& run, const Job& job, FtpFileTask& task);

}  // namespace webcopy
