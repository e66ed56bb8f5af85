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

// The date rule of a task with CopyNewerOnly or an OnFileDateCheck handler, over the file
// already on the server (whose overwrite is asked first): false when the upload is not to go
// on. A date outside the calendar is no date: the upload goes ahead.
bool DateAllows(Run& run, FtpFileTask& task, FtpLink& link, const std::string& remoteName) {
    TWebCopy& wc = run.wc;
    if (!task.copyNewerOnly && !wc.OnFileDateCheck) return true;
    platform::FindData found;
    if (!platform::Net().FtpFindFirstFile(link.get(), remoteName, found, 0, 0)) return true;
    bool allow = true;
    if (wc.OnCopyOverWrite) wc.OnCopyOverWrite(&wc, remoteName, allow);
    if (!allow) return false;
    TDateTime serverDate = 0;
    if (!TryFileTimeToDateTime(found.ftLastWriteTime, serverDate)) return true;
    if (wc.OnFileDateCheck) {
        wc.OnFileDateCheck(&wc, task.index, serverDate, allow);
        task.fileDate = serverDate;
        return allow;
    }
    // The server's copy is newer than the one the caller has: it stays.
    const bool serverNewer = serverDate > task.fileDate;
    task.fileDate = serverDate;
    if (!serverNewer) return true;
    task.noNewerFile = true;
    if (wc.OnNoNewFileFound) wc.OnNoNewFileFound(&wc, remoteName, serverDate, serverDate);
    return false;
}

// How the bytes of one upload went.
struct Sent {
    uint64_t bytes = 0;
    bool readFailed = false;
    bool sendFailed = false;
    uint32_t failure = 0;  // the network error that ended the transfer
};

// Sends exactly `length` bytes of `source`, the length the file had when it was opened: a
// log that grows meanwhile is sent as it was then.
Sent SendFile(Run& run, platform::File& source, platform::HINTERNET remote, uint64_t length) {
    const uint32_t total = ProgressValue(length);
    const uint32_t startTick = platform::Sys().GetTickCount();
    std::vector<unsigned char> buffer(BlockPace::kLargeBlock);
    BlockPace pace;
    Sent sent;
    while (!run.Cancelled()) {
        const uint32_t size = pace.Size();
        uint32_t got = 0;
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(size, length - sent.bytes));
        if (want > 0 && !source.Read(buffer.data(), want, got)) {
            sent.readFailed = true;
            break;
        }
        if (got > 0 && !SendBlock(remote, buffer.data(), got)) {
            sent.sendFailed = true;
            sent.failure = platform::Sys().GetLastError();
            break;
        }
        sent.bytes += got;
        run.UpdateProgress(ProgressValue(sent.bytes), total, run.wc.DlgUpload, startTick,
                           got > 0 && pace.Streaming());
        if (got == 0) break;
        pace.Moved(got, size);
    }
    if (!run.Cancelled()) run.FlushProgress();
    if (!sent.sendFailed && sent.bytes < length) sent.readFailed = true;  // the file shrank
    return sent;
}

// Ends the transfer and puts the file in place under its name only when the server kept all
// of it; otherwise its temporary file is removed. Closing the remote file reads the server's
// final reply (a full disk or a quota answers 150 first and refuses at the end), and only
// what the server holds counts: its size of the file must be what was sent.
bool Settle(Run& run, const Job& job, const FtpFileTask& task, FtpLink& link, platform::InetHandle& remote,
            const std::string& temporary, const std::string& remoteName, Sent sent, uint64_t length) {
    platform::Network& net = platform::Net();
    const bool closed = remote.reset();
    if (!closed && !sent.failure) sent.failure = platform::Sys().GetLastError();
    const bool accepted = closed && ReplyAccepts(LastReplyCode());
    bool complete = !run.Cancelled() && !sent.readFailed && !sent.sendFailed && accepted &&
                    sent.bytes == length;
    if (complete) complete = link.RemoteSize(temporary) == std::optional<uint64_t>(sent.bytes);
    if (complete) complete = net.FtpRenameFile(link.get(), temporary, remoteName);
    if (!complete && !net.FtpDeleteFile(link.get(), temporary)) RemoveLeftover(run, job, task.targetDir, temporary);
    if (run.Cancelled()) return true;
    if (sent.readFailed) {
        run.ReportError(ecReadSource, [&task] { return TextReadSource + task.url; });
        return false;
    }
    if (!complete && sent.failure == platform::ERROR_INTERNET_TIMEOUT_) {
        run.ReportSystemError(sent.failure);
        return false;
    }
    if (!complete) {
        run.ReportError(ecWriteTarget, [&remoteName] { return TextWriteTarget + remoteName; }, sent.failure);
        return false;
    }
    return true;
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
    if (!DateAllows(run, task, link, remoteName)) return false;

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

    const uint64_t length = static_cast<uint64_t>(sourceSize);
    Sent sent = SendFile(run, *source, remote.get(), length);
    source->Close();
    return Settle(run, job, task, link, remote, temporary, remoteName, sent, length);
}

bool FtpUpload(Run& run, Job& job) {
    FtpFileTask task = TaskOfJob(job);
    const bool result = FtpUploadFile(run, job, task);
    job.FileDate = task.fileDate;
    job.NoNewerFile = task.noNewerFile;
    return result;
}

}  // namespace webcopy
