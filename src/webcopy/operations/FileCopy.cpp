// Copy of one local or network-share file: the share connection around the copy, the
// identical-path check, the date rule, the overwrite question, and the 1 MiB block loop
// into a target that is put in place only when the whole source has been copied.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Strings.h"
#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/Run.h"
#include "webcopy/TargetFile.h"
#include "webcopy/WebCopyErrors.h"
#include "webcopy/WebCopyHelpers.h"

namespace webcopy {
namespace {

// Large blocks: each read and write is a round trip to the Wine server, and each block a
// progress update; at 1 MiB a copy runs at the file system's speed.
constexpr uint32_t kBlockSize = 1 << 20;

// The dialog's origin of a local copy: the source's folder, without a trailing backslash
// unless it is a drive root.
std::string SourceFolder(const std::string& path) {
    std::string folder = FolderOfPath(path);
    const bool driveRoot = folder.size() == 3 && folder[1] == ':';
    if (!driveRoot && !folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

// The share connection of one copy. Only a connection this copy made is cancelled, and
// then without touching the user's profile and without forcing other programs' open files
// closed; a share the user had connected already is used as it is and left connected.
class ShareConnection {
public:
    explicit ShareConnection(const std::string& share) : share_(share) {}
    ShareConnection(const ShareConnection&) = delete;
    ShareConnection& operator=(const ShareConnection&) = delete;
    ~ShareConnection() {
        if (made_) platform::Sys().WNetCancelConnection2(share_, 0, false);
    }

    // False when the share cannot be reached.
    bool Connect(const std::string& user, const std::string& password) {
        const uint32_t code = platform::Sys().WNetAddConnection2(share_, password, user);
        made_ = code == 0;
        return made_ || code == platform::ERROR_ALREADY_ASSIGNED_ ||
               code == platform::ERROR_SESSION_CREDENTIAL_CONFLICT_;
    }
    // False when a connection this copy made could not be cancelled.
    bool Disconnect() {
        if (!made_) return true;
        made_ = false;
        return platform::Sys().WNetCancelConnection2(share_, 0, false) == 0;
    }

private:
    const std::string& share_;
    bool made_ = false;
};

// Everything between the connection and the disconnection; true when the target is in place.
bool CopyFile(Run& run, Job& job) {
    TWebCopy& wc = run.wc;
    platform::Files& fs = platform::Fs();

    const std::string source = job.FTPHost.empty() ? job.URL : JoinPath(job.FTPHost, job.URL);
    std::string target = JoinPath(
        job.TargetDir, job.TargetFilename.empty() ? FileNameFromPath(job.URL) : job.TargetFilename);
    run.LastTargetFile = target;
    run.LastTargetDir = job.TargetDir;

    // File names compare without regard to case, as the file system does.
    if (UpperCase(source) == UpperCase(target)) {
        run.ReportError(ecIdenticalFiles, [&source] { return TextIdenticalFiles + source; });
        return false;
    }

    std::unique_ptr<platform::File> input = fs.Open(source, platform::OpenMode::Read);
    if (!input) {
        run.ReportError(ecOpenSource, [&source] { return TextOpenSource + source; });
        return false;
    }
    const auto readFailed = [&] {
        run.ReportError(ecReadSource, [&source] { return TextReadSource + source; });
        return false;
    };

    if (job.CopyNewerOnly || wc.OnFileDateCheck) {
        platform::FileTime written, local;
        TDateTime sourceDate = 0;
        try {
            if (!input->GetLastWriteTime(written) || !fs.FileTimeToLocalFileTime(written, local))
                return readFailed();
            sourceDate = FileTimeToDateTime(local);
        } catch (const EConvertError&) {
            return readFailed();  // a time stamp outside the calendar
        }
        if (wc.OnFileDateCheck) {
            bool allow = true;
            wc.OnFileDateCheck(&wc, job.Index, sourceDate, allow);
            if (!allow) return false;
            job.FileDate = sourceDate;
        } else if (sourceDate > job.FileDate) {
            job.FileDate = sourceDate;
        } else {
            job.NoNewerFile = true;
            job.FileDate = sourceDate;
            input.reset();
            if (wc.OnNoNewFileFound) wc.OnNoNewFileFound(&wc, source, sourceDate, sourceDate);
            return false;
        }
    }

    const int64_t size = input->Seek(0, 2);
    if (size < 0 || input->Seek(0, 0) != 0) {
        input.reset();
        run.ReportError(ecZeroLength, [&source] { return TextZeroLength + source; });
        return false;
    }

    if (!run.PrepareTarget(target)) return false;
    TargetFile output(target);
    if (!output.Create()) {
        input.reset();
        run.ReportError(ecCreateTarget, [&target] { return TextCreateTarget + target; });
        return false;
    }
    const auto writeFailed = [&] {
        output.Discard();
        run.ReportError(ecWriteTarget, [&target] { return TextWriteTarget + target; });
        return false;
    };

    const uint32_t startTick = platform::Sys().GetTickCount();
    std::vector<unsigned char> buffer(kBlockSize);
    uint64_t copied = 0;
    uint32_t got = 0;
    do {
        if (!input->Read(buffer.data(), kBlockSize, got)) {
            output.Discard();
            return readFailed();
        }
        // A short write is a failure: the target would be a part taken for the whole.
        if (got > 0 && !output.Write(buffer.data(), got)) return writeFailed();
        copied += got;
        // The first block and the closing empty read are always shown, the others paced.
        run.UpdateCopyProgress(ProgressValue(copied), ProgressValue(static_cast<uint64_t>(size)),
                               startTick, got > 0 && copied > got);
    } while (got > 0 && !run.Cancelled());

    input.reset();
    if (run.Cancelled()) return false;  // the target stays as it was
    if (!output.Commit()) return writeFailed();
    return true;
}

}  // namespace

bool FileCopy(Run& run, Job& job) {
    TWebCopy& wc = run.wc;
    job.NoNewerFile = false;
    run.view.SetClip(Clip::Copy);
    run.SetFileLine(FileNameFromPath(job.URL), wc.DlgFromServerLabel,
                    job.FTPHost.empty() ? SourceFolder(job.URL) : job.FTPHost, true);

    if (job.FTPHost.empty()) return CopyFile(run, job);

    ShareConnection share(job.FTPHost);
    if (!share.Connect(job.FTPUserID, job.FTPPassword)) {
        if (wc.OnConnectError) wc.OnConnectError(&wc);
        return false;
    }
    bool result = CopyFile(run, job);
    if (!share.Disconnect()) {
        if (wc.OnConnectError) wc.OnConnectError(&wc);
        result = false;
    }
    return result;
}

}  // namespace webcopy
