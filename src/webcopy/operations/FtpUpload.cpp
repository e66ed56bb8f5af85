// FTP upload of one file: the remote folder entered or created part by part, the date rule
// against the server's copy, and the block loop with progress and cancel. The local source
// is opened before the server's copy is, so a missing source never costs the server its file.
#include <cstdint>
#include <memory>

#include "framework/Application.h"
#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/WebCopyErrors.h"
#include "webcopy/WebCopyHelpers.h"
#include "webcopy/operations/FtpConnection.h"

namespace webcopy {
namespace {

constexpr uint32_t kBlockSize = 4096;

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
    if (!link.EnterCreating(task.targetDir)) return false;

    Application->ProcessMessages();
    const std::string remoteName =
        task.targetName.empty() ? FileNameFromPath(task.url) : task.targetName;
    if (task.copyNewerOnly || wc.OnFileDateCheck) {
        platform::FindData found;
        if (net.FtpFindFirstFile(link.get(), remoteName, found, 0, 0)) {
            bool allow = true;
            if (wc.OnCopyOverWrite) wc.OnCopyOverWrite(&wc, remoteName, allow);
            if (!allow) return false;
            const TDateTime serverDate = FileTimeToDateTime(found.ftLastWriteTime);
            if (wc.OnFileDateCheck) {
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

    std::unique_ptr<platform::File> source = platform::Fs().Open(task.url, platform::OpenMode::Read);
    const int64_t sourceSize = source ? source->Size() : -1;
    if (sourceSize < 0) {
        if (source) source->Close();
        if (wc.OnURLNotFound) wc.OnURLNotFound(&wc, task.url);
        run.ReportError(ecOpenSource, [&task] { return TextOpenSource + task.url; });
        return false;
    }
    platform::InetHandle remote = net.FtpOpenFile(link.get(), remoteName, platform::GENERIC_WRITE_,
                                                  platform::FTP_TRANSFER_TYPE_BINARY, 0);
    if (!remote) {
        source->Close();
        if (wc.OnURLNotFound) wc.OnURLNotFound(&wc, task.url);
        return false;
    }
    Application->ProcessMessages();
    run.LastTargetFile = task.url;
    run.LastTargetDir = task.targetDir;

    const uint32_t total = static_cast<uint32_t>(sourceSize);
    const uint32_t startTick = platform::Sys().GetTickCount();
    uint32_t sent = 0;
    unsigned char buffer[kBlockSize];
    bool readFailed = false;
    bool sendFailed = false;
    while (!run.Cancelled()) {
        Application->ProcessMessages();
        uint32_t got = 0;
        if (!source->Read(buffer, kBlockSize, got)) {
            readFailed = true;
            break;
        }
        if (got > 0 && !SendBlock(remote.get(), buffer, got)) {
            sendFailed = true;
            break;
        }
        sent += got;
        run.UpdateProgress(sent, total, wc.DlgUpload, startTick);
        if (got == 0) break;
    }
    source->Close();
    // Closing the remote file completes it on the server.
    const bool closed = remote.reset();
    const bool complete = !run.Cancelled() && !readFailed && !sendFailed && closed;
    if (!complete) net.FtpDeleteFile(link.get(), remoteName);  // no part under the final name
    if (run.Cancelled()) return true;
    if (readFailed) {
        run.ReportError(ecReadSource, [&task] { return TextReadSource + task.url; });
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
