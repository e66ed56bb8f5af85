// FTP upload of one file: the remote folder entered or created part by part, the date rule
// against the server's copy, and the block loop with progress and cancel. The data goes to a
// temporary name beside the server's copy and takes its name only when the server holds all
// of it: a failed or cancelled upload leaves the server's file as it was.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "framework/Application.h"
#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/WebCopyErrors.h"
#include "webcopy/WebCopyHelpers.h"
#include "webcopy/operations/FtpConnection.h"

namespace webcopy {
namespace {


// Sends the whole block; a send that takes part of it is asked again for the rest.
bool SendBlock(platform::HINTERNET remote, const unsigned char* data, uint32_t size) {
    while (size > 0) {
        uint32_t written = 0;
        if (!platform::Net().InternetWriteFile(remote, data, size, &written) || written == 0 ||
            written > size)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// A name beside `name` that no other upload picks: two programs sending the same file at
// once must not write into one temporary file.
std::string RemoteTemporaryName(const std::string& name) {
    char tag[32];
    std::snprintf(tag, sizeof tag, ".%x-%x.part", static_cast<unsigned>(platform::Sys().GetCurrentProcessId()),
                  static_cast<unsigned>(platform::Sys().GetTickCount()));
    return name + tag;
}

// The upload's connection was given up on (a stall, or a cancel while the server was still
// answering): a fresh connection removes the temporary file it left. Nothing is reported;
// the upload has failed already.
void RemoveLeftover(Run& run, const Job& job, const std::string& folder, const std::string& name) {
    platform::Network& net = platform::Net();
    const uint32_t code = platform::Sys().GetLastError();
    if ((code != platform::ERROR_INTERNET_TIMEOUT_ && code != platform::ERROR_INTERNET_OPERATION_CANCELLED_) ||
        job.FTPPort < 1 || job.FTPPort > 65535)
        return;
    const bool login = !job.FTPUserID.empty() && !job.FTPPassword.empty();
    platform::InetHandle connection = net.InternetConnect(
        run.Session.get(), job.FTPHost, static_cast<uint16_t>(job.FTPPort), login ? job.FTPUserID.c_str() : nullptr,
        login ? job.FTPPassword.c_str() : nullptr, platform::INTERNET_SERVICE_FTP,
        run.wc.FTPPassive ? platform::INTERNET_FLAG_PASSIVE : 0, 0);
    if (!connection) return;
    const std::string dir = BackslashesToSlashes(folder);
    if (dir.empty() || net.FtpSetCurrentDirectory(connection.get(), dir)) net.FtpDeleteFile(connection.get(), name);
}

}  // namespace

bool FtpUploadFile(Run& run, const Job& job, FtpFileTask& task) {
    platform::Network& net = platform::Net();
    TWebCopy& wc = run.wc;
    task.noNewerFile = false;
    run.view.SetClip(Clip::Upload);
    run.SetFileLine(FileNameFromPath(task.url), wc.DlgToServerLabel, job.FTPHost, true);

    FtpLink link(run, KeyOfJob(job), task.keep);
    if (!link.Open(FtpLink::Cache::LookUp, ForgetLastRemoteDir)) return false;
    Application->ProcessMessages();
    run.LastRemoteDir = task.keep ? task.targetDir : std::string();
    if (!link.EnterCreating(task.targetDir)) {
        ReportFolderFailed(run, job);
        return false;
    }

    Application->ProcessMessages();
    const std::string remoteName =
        task.targetName.empty() ? FileNameFromPath(task.url) : task.targetName;
    if (task.copyNewerOnly || wc.OnFileDateCheck) {
        platform::FindData found;
        if (net.FtpFindFirstFile(link.get(), remoteName, found, 0, 0)) {
            bool allow = true;
            if (wc.OnCopyOverWrite) wc.OnCopyOverWrite(&wc, remoteName, allow);
            if (!allow) return false;
            // A date outside the calendar is no date: the upload goes ahead.
            TDateTime serverDate = 0;
            const bool dated = TryFileTimeToDateTime(found.ftLastWriteTime, serverDate);
            if (!dated) {
                // nothing to compare
            } else if (wc.OnFileDateCheck) {
                wc.OnFileDateCheck(&wc, task.index, serverDate, allow);
                task.fileDate = serverDate;
                if (!allow) return false;
            } else if (serverDate > task.fileDate) {
                task.fileDate = serverDate;
                task.noNewerFile = true;
                if (wc.OnNoNewFileFound) wc.OnNoNewFileFound(&wc, remoteName, serverDate, serverDate);
                return false;
            } else {
                task.fileDate = serverDate;
            }
        }
    }

    // Another program may hold the source open, writing to it (a log file).
    std::unique_ptr<platform::File> source =
        platform::Fs().Open(task.url, platform::OpenMode::ReadShared);
    const int64_t sourceSize = source ? source->Size() : -1;
    if (sourceSize < 0) {
        if (source) source->Close();
        if (wc.OnURLNotFound) wc.OnURLNotFound(&wc, task.url);
        run.ReportError(ecOpenSource, [&task] { return TextOpenSource + task.url; });
        return false;
    }
    const std::string temporary = RemoteTemporaryName(remoteName);
    platform::InetHandle remote = net.FtpOpenFile(link.get(), temporary, platform::GENERIC_WRITE_,
                                                  platform::FTP_TRANSFER_TYPE_BINARY, 0);
    if (!remote) {
        source->Close();
        if (wc.OnURLNotFound && !run.Cancelled()) wc.OnURLNotFound(&wc, task.url);
        return false;
    }
    net.SetStallLimit(remote.get(), run.StallLimitMs());
    Application->ProcessMessages();
    run.LastTargetFile = task.url;
    run.LastTargetDir = task.targetDir;

    const uint32_t total = ProgressValue(static_cast<uint64_t>(sourceSize));
    const uint32_t startTick = platform::Sys().GetTickCount();
    uint64_t sent = 0;
    std::vector<unsigned char> buffer(BlockPace::kLargeBlock);
    BlockPace pace;
    bool readFailed = false;
    bool sendFailed = false;
    uint32_t failure = 0;  // the network error that ended the transfer
    // Exactly the length the file had when it was opened: a log that grows meanwhile is
    // sent as it was then.
    const uint64_t length = static_cast<uint64_t>(sourceSize);
    while (!run.Cancelled()) {
        const uint32_t size = pace.Size();
        uint32_t got = 0;
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(size, length - sent));
        if (want > 0 && !source->Read(buffer.data(), want, got)) {
            readFailed = true;
            break;
        }
        if (got > 0 && !SendBlock(remote.get(), buffer.data(), got)) {
            sendFailed = true;
            failure = platform::Sys().GetLastError();
            break;
        }
        sent += got;
        run.UpdateProgress(ProgressValue(sent), total, wc.DlgUpload, startTick,
                           got > 0 && pace.Streaming());
        if (got == 0) break;
        pace.Moved(got, size);
    }
    if (!run.Cancelled()) run.FlushProgress();
    source->Close();
    if (!sendFailed && sent < length) readFailed = true;  // the file shrank
    // Closing the remote file ends the transfer; the server's final reply says whether it
    // kept the data (a full disk or a quota answers 150 first and refuses at the end).
    const bool closed = remote.reset();
    if (!closed && !failure) failure = platform::Sys().GetLastError();
    const bool accepted = closed && ReplyAccepts(LastReplyCode());
    bool complete = !run.Cancelled() && !readFailed && !sendFailed && accepted && sent == length;
    // Only what the server holds counts: its size of the file must be what was sent.
    if (complete) complete = link.RemoteSize(temporary) == std::optional<uint64_t>(sent);
    if (complete) complete = net.FtpRenameFile(link.get(), temporary, remoteName);
    if (!complete && !net.FtpDeleteFile(link.get(), temporary)) RemoveLeftover(run, job, task.targetDir, temporary);
    if (run.Cancelled()) return true;
    if (readFailed) {
        run.ReportError(ecReadSource, [&task] { return TextReadSource + task.url; });
        return false;
    }
    if (!complete && failure == platform::ERROR_INTERNET_TIMEOUT_) {
        run.ReportSystemError(failure);
        return false;
    }
    if (!complete) {
        run.ReportError(ecWriteTarget, [&remoteName] { return TextWriteTarget + remoteName; });
        return false;
    }
    return true;
}

bool FtpUpload(Run& run, Job& job) {
    FtpFileTask task = TaskOfJob(job);
    const bool result = FtpUploadFile(run, job, task);
    job.FileDate = task.fileDate;
    job.NoNewerFile = task.noNewerFile;
    return result;
}

}  // namespace webcopy
