// FTP download of one file: the look-up for size and date, the date rule, the local target
// written under a temporary name, and the block loop with progress and cancel.
#include <cstdint>
#include <optional>

#include "framework/Application.h"
#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/TargetFile.h"
#include "webcopy/WebCopyErrors.h"
#include "webcopy/WebCopyHelpers.h"
#include "webcopy/operations/FtpConnection.h"

namespace webcopy {

namespace {

// The date rule of a task with CopyNewerOnly or an OnFileDateCheck handler, over the listed
// date: false when the file is not to be fetched. A date outside the calendar is no date: no
// date rule, as for a file not listed.
bool DateAllows(Run& run, FtpFileTask& task, const platform::FindData* listed,
                const std::string& remoteName) {
    TWebCopy& wc = run.wc;
    TDateTime serverDate = 0;
    if (!listed || !(task.copyNewerOnly || wc.OnFileDateCheck) ||
        !TryFileTimeToDateTime(listed->ftLastWriteTime, serverDate))
        return true;
    if (wc.OnFileDateCheck) {
        bool allow = true;
        wc.OnFileDateCheck(&wc, task.index, serverDate, allow);
        task.fileDate = serverDate;
        return allow;
    }
    const bool newer = serverDate > task.fileDate;
    task.fileDate = serverDate;
    if (newer) return true;
    task.noNewerFile = true;
    if (wc.OnNoNewFileFound) wc.OnNoNewFileFound(&wc, remoteName, serverDate, serverDate);
    return false;
}

// Opens the remote file for reading and fills in its size where the open file tells it. 0 is
// also what a size query that does not work answers: it tells nothing.
platform::InetHandle OpenRemote(FtpLink& link, const std::string& remoteName,
                                std::optional<uint64_t>& size) {
    platform::Network& net = platform::Net();
    Application->ProcessMessages();
    platform::InetHandle remote = net.FtpOpenFile(link.get(), remoteName, platform::GENERIC_READ_,
                                                  platform::FTP_TRANSFER_TYPE_BINARY, 0);
    if (remote && !size) {
        uint32_t high = 0;
        const uint32_t low = net.FtpGetFileSize(remote.get(), &high);
        const uint64_t asked = (static_cast<uint64_t>(high) << 32) | low;
        if (low != 0xFFFFFFFFu && asked != 0) size = asked;
    }
    Application->ProcessMessages();
    return remote;
}

// Receives the open remote file into a temporary file beside `target` and puts it in place
// only when whole: closing the transfer reads the server's final reply, as a data connection
// that broke off reads as a normal end and only the reply or the size tells. Without a size
// only a reply of success does: a server that dies after its "150" sends none.
bool Receive(Run& run, const FtpFileTask& task, platform::InetHandle& remote,
             const std::string& target, std::optional<uint64_t> size) {
    TargetFile file(target);
    if (!file.Create()) {
        run.ReportError(ecCreateTarget, [&target] { return TextCreateTarget + target; });
        return false;
    }
    platform::Network& net = platform::Net();
    // A data connection that goes silent must not hold the run for ever.
    net.SetStallLimit(remote.get(), run.StallLimitMs());
    uint32_t readError = 0;
    const ReceivedBody body = ReceiveBody(
        run, file,
        [&net, &remote, &readError](unsigned char* buffer, uint32_t bytes, uint32_t& got) {
            if (net.InternetReadFile(remote.get(), buffer, bytes, &got)) return true;
            readError = platform::Sys().GetLastError();
            return false;
        },
        ProgressValue(size.value_or(0)), run.wc.DlgDwnload);
    const bool closed = remote.reset();
    const int reply = closed ? LastReplyCode() : 0;
    const bool confirmed = closed && (size ? ReplyAccepts(reply) : reply >= 200 && reply < 300);

    if (run.Cancelled()) return true;  // the file goes; an old target stays as it was
    if (body.readFailed || !confirmed || (size && body.bytes != *size)) {
        run.ReportError(ecReadSource, [&task] { return TextReadSource + task.url; }, readError);
        return false;
    }
    if (body.writeFailed || !file.Commit()) {
        run.ReportError(ecWriteTarget, [&target] { return TextWriteTarget + target; });
        return false;
    }
    return true;
}

}  // namespace

bool FtpDownloadFile(Run& run, const Job& job, FtpFileTask& task) {
    TWebCopy& wc = run.wc;
    task.noNewerFile = false;
    // "\" and "/" both separate folders, in the folder part and the name alike.
    const std::string path = BackslashesToSlashes(task.url);
    const std::string remoteName = FileNameFromPath(path);
    if (task.updateFileLabel)
        run.SetFileLine(remoteName, wc.DlgFromServerLabel, job.FTPHost, wc.ShowServer);

    FtpLink link(run, KeyOfJob(job), task.keep);
    if (!link.Open(FtpLink::Cache::LookUp)) return false;
    // Nothing is fetched from another folder than the one asked for.
    const std::string dir = FtpDirectoryPart(path);
    if (!dir.empty() && !link.ChangeDirectory(dir)) {
        ReportFolderFailed(run, job);
        return false;
    }

    // The listing gives the date, and a size only where SIZE gives none: a listing may hold
    // sizes of 2 GiB and more at 2147483647.
    platform::FindData found;
    const bool listed = static_cast<bool>(platform::Net().FtpFindFirstFile(link.get(), remoteName, found, 0, 0));
    if (run.Cancelled()) return true;
    if (!listed && platform::Sys().GetLastError() == platform::ERROR_INTERNET_TIMEOUT_) {
        run.ReportSystemError(platform::ERROR_INTERNET_TIMEOUT_);
        return false;
    }
    if (!DateAllows(run, task, listed ? &found : nullptr, remoteName)) return false;
    std::optional<uint64_t> size = link.SizeReply(remoteName);
    if (!size && listed && found.cFileName == remoteName && !IsCappedSize(found)) size = ListedSize(found);

    platform::InetHandle remote = OpenRemote(link, remoteName, size);
    if (!remote) {
        if (wc.OnURLNotFound && !run.Cancelled()) wc.OnURLNotFound(&wc, task.url);
        return false;
    }

    std::string target = JoinPath(task.targetDir, task.targetName.empty() ? remoteName : task.targetName);
    run.LastTargetFile = target;
    run.LastTargetDir = task.targetDir;
    if (!run.PrepareTarget(target)) return false;
    return Receive(run, task, remote, target, size);
}

bool FtpDownload(Run& run, Job& job) {
    FtpFileTask task = TaskOfJob(job);
    const bool result = FtpDownloadFile(run, job, task);
    job.FileDate = task.fileDate;
    job.NoNewerFile = task.noNewerFile;
    return result;
}

}  // namespace webcopy
