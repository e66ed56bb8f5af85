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

bool FtpDownloadFile(Run& run, const Job& job, FtpFileTask& task) {
    platform::Network& net = platform::Net();
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
    const bool listed = static_cast<bool>(net.FtpFindFirstFile(link.get(), remoteName, found, 0, 0));
    if (run.Cancelled()) return true;
    if (!listed && platform::Sys().GetLastError() == platform::ERROR_INTERNET_TIMEOUT_) {
        run.ReportSystemError(platform::ERROR_INTERNET_TIMEOUT_);
        return false;
    }
    // A date outside the calendar is no date: no date rule, as for a file not listed.
    TDateTime serverDate = 0;
    if (listed && (task.copyNewerOnly || wc.OnFileDateCheck) &&
        TryFileTimeToDateTime(found.ftLastWriteTime, serverDate)) {
        if (wc.OnFileDateCheck) {
            bool allow = true;
            wc.OnFileDateCheck(&wc, task.index, serverDate, allow);
            task.fileDate = serverDate;
            if (!allow) return false;
        } else if (serverDate > task.fileDate) {
            task.fileDate = serverDate;
        } else {
            task.noNewerFile = true;
            task.fileDate = serverDate;
            if (wc.OnNoNewFileFound) wc.OnNoNewFileFound(&wc, remoteName, serverDate, serverDate);
            return false;
        }
    }
    std::optional<uint64_t> size = link.SizeReply(remoteName);
    if (!size && listed && found.cFileName == remoteName && !IsCappedSize(found)) size = ListedSize(found);

    Application->ProcessMessages();
    platform::InetHandle remote = net.FtpOpenFile(link.get(), remoteName, platform::GENERIC_READ_,
                                                  platform::FTP_TRANSFER_TYPE_BINARY, 0);
    if (remote && !size) {
        // 0 is also what a size query that does not work answers: it tells nothing.
        uint32_t high = 0;
        const uint32_t low = net.FtpGetFileSize(remote.get(), &high);
        const uint64_t asked = (static_cast<uint64_t>(high) << 32) | low;
        if (low != 0xFFFFFFFFu && asked != 0) size = asked;
    }
    Application->ProcessMessages();
    if (!remote) {
        if (wc.OnURLNotFound && !run.Cancelled()) wc.OnURLNotFound(&wc, task.url);
        return false;
    }

    std::string target = JoinPath(task.targetDir, task.targetName.empty() ? remoteName : task.targetName);
    run.LastTargetFile = target;
    run.LastTargetDir = task.targetDir;
    if (!run.PrepareTarget(target)) return false;
    TargetFile file(target);
    if (!file.Create()) {
        run.ReportError(ecCreateTarget, [&target] { return TextCreateTarget + target; });
        return false;
    }
    // A data connection that goes silent must not hold the run for ever.
    net.SetStallLimit(remote.get(), run.StallLimitMs());

    const ReceivedBody body = ReceiveBody(
        run, file,
        [&net, &remote](unsigned char* buffer, uint32_t bytes, uint32_t& got) {
            return net.InternetReadFile(remote.get(), buffer, bytes, &got);
        },
        ProgressValue(size.value_or(0)), wc.DlgDwnload);
    // Closing the transfer reads the server's final reply: a data connection that broke
    // off reads as a normal end, and only the reply or the size tells. Without a size only
    // a reply of success does: a server that dies after its "150" sends none.
    const bool closed = remote.reset();
    const int reply = closed ? LastReplyCode() : 0;
    const bool confirmed = closed && (size ? ReplyAccepts(reply) : reply >= 200 && reply < 300);

    if (run.Cancelled()) return true;  // the file goes; an old target stays as it was
    if (body.readFailed || !confirmed || (size && body.bytes != *size)) {
        run.ReportError(ecReadSource, [&task] { return TextReadSource + task.url; });
        return false;
    }
    if (body.writeFailed || !file.Commit()) {
        run.ReportError(ecWriteTarget, [&target] { return TextWriteTarget + target; });
        return false;
    }
    return true;
}

bool FtpDownload(Run& run, Job& job) {
    FtpFileTask task = TaskOfJob(job);
    const bool result = FtpDownloadFile(run, job, task);
    job.FileDate = task.fileDate;
    job.NoNewerFile = task.noNewerFile;
    return result;
}

}  // namespace webcopy
