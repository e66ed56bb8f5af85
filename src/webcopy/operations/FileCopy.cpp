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

// The date rule of a job with CopyNewerOnly or an OnFileDateCheck handler, over the source's
// date. Go on, stop (as the events say), or the source's date could not be read.
enum class DateRule { Go, Stop, Unreadable };

DateRule CheckDate(Run& run, Job& job, platform::File& input) {
    TWebCopy& wc = run.wc;
    if (!job.CopyNewerOnly && !wc.OnFileDateCheck) return DateRule::Go;
    platform::FileTime written, local;
    TDateTime sourceDate = 0;
    try {
        if (!input.GetLastWriteTime(written) || !platform::Fs().FileTimeToLocalFileTime(written, local))
            return DateRule::Unreadable;
        sourceDate = FileTimeToDateTime(local);
    } catch (const EConvertError&) {
        return DateRule::Unreadable;  // a time stamp outside the calendar
    }
    if (wc.OnFileDateCheck) {
        bool allow = true;
        wc.OnFileDateCheck(&wc, job.Index, sourceDate, allow);
        if (!allow) return DateRule::Stop;
        job.FileDate = sourceDate;
        return DateRule::Go;
    }
    const bool newer = sourceDate > job.FileDate;
    job.FileDate = sourceDate;
    if (newer) return DateRule::Go;
    job.NoNewerFile = true;
    return DateRule::Stop;
}

enum class Copied { Whole, ReadFailed, WriteFailed, Cancelled };

// The blocks of `input` into `output`, with progress: the first block and the closing empty
// read are always shown, the others paced.
Copied CopyBlocks(Run& run, platform::File& input, TargetFile& output, int64_t size) {
    const uint32_t startTick = platform::Sys().GetTickCount();
    std::vector<unsigned char> buffer(kBlockSize);
    uint64_t copied = 0;
    uint32_t got = 0;
    do {
        if (!input.Read(buffer.data(), kBlockSize, got)) return Copied::ReadFailed;
        // A short write is a failure: the target would be a part taken for the whole.
        if (got > 0 && !output.Write(buffer.data(), got)) return Copied::WriteFailed;
        copied += got;
        run.UpdateCopyProgress(ProgressValue(copied), ProgressValue(static_cast<uint64_t>(size)),
                               startTick, got > 0 && copied > got);
    } while (got > 0 && !run.Cancelled());
    return run.Cancelled() ? Copied::Cancelled : Copied::Whole;
}

// Everything between the connection and the disconnection; true when the target is in place.
bool CopyFile(Run& run, Job& job) {
    TWebCopy& wc = run.wc;
    const std::string source = job.FTPHost.empty() ? job.URL : JoinPath(job.FTPHost, job.URL);
    std::string target = JoinPath(
        job.TargetDir, job.TargetFilename.empty() ? FileNameFromPath(job.URL) : job.TargetFilename);
    run.LastTargetFile = target;
    run.LastTargetDir = job.TargetDir;
    const auto report = [&run](int code, const char* text, const std::string& operand) {
        run.ReportError(code, [text, &operand] { return text + operand; });
        return false;
    };

    // File names compare without regard to case, as the file system does.
    if (UpperCase(source) == UpperCase(target)) return report(ecIdenticalFiles, TextIdenticalFiles, source);
    std::unique_ptr<platform::File> input = platform::Fs().Open(source, platform::OpenMode::Read);
    if (!input) return report(ecOpenSource, TextOpenSource, source);
    switch (CheckDate(run, job, *input)) {
        case DateRule::Go:
            break;
        case DateRule::Unreadable:
            return report(ecReadSource, TextReadSource, source);
        case DateRule::Stop:
            input.reset();
            if (job.NoNewerFile && wc.OnNoNewFileFound)
                wc.OnNoNewFileFound(&wc, source, job.FileDate, job.FileDate);
            return false;
    }

    const int64_t size = input->Seek(0, 2);
    if (size < 0 || input->Seek(0, 0) != 0) {
        input.reset();
        return report(ecZeroLength, TextZeroLength, source);
    }
    if (!run.PrepareTarget(target)) return false;
    TargetFile output(target);
    if (!output.Create()) {
        input.reset();
        return report(ecCreateTarget, TextCreateTarget, target);
    }
    switch (CopyBlocks(run, *input, output, size)) {
        case Copied::ReadFailed:
            output.Discard();
            return report(ecReadSource, TextReadSource, source);
        case Copied::WriteFailed:
            output.Discard();
            return report(ecWriteTarget, TextWriteTarget, target);
        case Copied::Cancelled:
            input.reset();
            return false;  // the target stays as it was
        case Copied::Whole:
            break;
    }
    input.reset();
    if (!output.Commit()) return report(ecWriteTarget, TextWriteTarget, target);
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
