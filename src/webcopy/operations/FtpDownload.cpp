// FTP download of one file: the look-up for size and date, the date rule, the local target
// written under a temporary name, and the block loop with progress and cancel.
#include <cstdint>

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
    const std::string remoteName = FileNameFromPath(task.url);
    if (task.updateFileLabel)
        run.SetFileLine(remoteName, wc.DlgFromServerLabel, job.FTPHost, wc.ShowServer);

    FtpLink link(run, KeyOfJob(job), task.keep);
    if (!link.Open(FtpLink::Cache::LookUp)) return false;
    // A wrong folder shows up as a failed open below.
    const std::string dir = FtpDirectoryPart(task.url);
    if (!dir.empty()) link.ChangeDirectory(dir);

    // The listing gives size and date; some servers' size query answers 0 for every file.
    platform::FindData found;
    const bool listed = static_cast<bool>(net.FtpFindFirstFile(link.get(), remoteName, found, 0, 0));
    uint32_t size = listed ? found.nFileSizeLow : 0;
    if (listed && (task.copyNewerOnly || wc.OnFileDateCheck)) {
        const TDateTime serverDate = FileTimeToDateTime(found.ftLastWriteTime);
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

    Application->ProcessMessages();
    platform::InetHandle remote = net.FtpOpenFile(link.get(), remoteName, platform::GENERIC_READ_,
                                                  platform::FTP_TRANSFER_TYPE_BINARY, 0);
    if (remote && size == 0) {
        const uint32_t asked = net.FtpGetFileSize(remote.get(), nullptr);
        if (asked != 0xFFFFFFFFu) size = asked;
    }
    Application->ProcessMessages();
    if (!remote) {
        if (wc.OnURLNotFound) wc.OnURLNotFound(&wc, task.url);
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

    const ReceivedBody body = ReceiveBody(
        run, file,
        [&net, &remote](unsigned char* buffer, uint32_t bytes, uint32_t& got) {
            return net.InternetReadFile(remote.get(), buffer, bytes, &got);
        },
        size, wc.DlgDwnload);
    remote.reset();

    if (run.Cancelled()) return true;  // the file goes; an old target stays as it was
    // A data connection that breaks off can read as a normal end: the listed size tells.
    if (body.readFailed || (listed && body.bytes < size)) {
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
