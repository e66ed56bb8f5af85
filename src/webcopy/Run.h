#pragma once
// One run of a TWebCopy as the driver and the operations share it: the component's options
// and events, the network session, the FTP connection kept for the next job, the progress
// reporting and the cancel state. Each operation is a function of a Run and a Job.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "framework/DateTime.h"
#include "framework/Strings.h"
#include "platform/NetTypes.h"
#include "webcopy/ProgressView.h"
#include "webcopy/WebCopy.h"

namespace webcopy {

// A job's inputs, copied from its item so that an event handler that edits Items cannot
// pull them away while the operation works, and its results, which the driver stores on
// the item afterwards.
struct Job {
    Job(int index, const TWebCopyItem& item);

    const int Index;  // in Items, 0-based: what the events report
    const std::string URL, TargetDir, TargetFilename;
    const TWebCopyProtocol Protocol;
    const TWebCopyHTTPCommand HTTPCommand;
    const std::string FTPHost, FTPUserID, FTPPassword;
    const int32_t FTPPort;
    const bool CopyNewerOnly;
    const TWebCopyAuthentication Authenticate;
    const std::string HTTPUserID, HTTPPassword;
    const bool Resume;
    const std::string ResumeKey;
    const bool AllowUnconfirmedLength;
    bool KeepConnection = false;  // the next job may go on over this job's FTP connection

    // In: the item's FileDate. Out: the date found, stored as the item's FoundFileDate.
    TDateTime FileDate;
    bool NoNewerFile = false;
    // A listing's results; when set they replace the item's.
    std::unique_ptr<TStringList> FileList;
    std::unique_ptr<TFileDetailItems> FileDetails;
};

// The server and account an FTP connection was made for: a kept connection serves only a job
// with the same four values.
struct FtpKey {
    std::string host;
    int32_t port = 0;
    std::string user, password;
    bool operator==(const FtpKey& other) const {
        return host == other.host && port == other.port && user == other.user &&
               password == other.password;
    }
    bool operator!=(const FtpKey& other) const { return !(*this == other); }
};

class Run {
public:
    Run(TWebCopy& owner, ProgressView& view);
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    TWebCopy& wc;  // options and events
    ProgressView& view;

    // Declared before the FTP connection: WinInet closes children with their parent, so the
    // kept connection must go first.
    platform::InetHandle Session;
    platform::InetHandle CachedFtpConnection;
    std::optional<FtpKey> CachedFtpKey;  // set exactly while CachedFtpConnection is open
    std::string LastRemoteDir;

    int32_t CurrentFileNumber = 0;  // 1-based among the active jobs
    std::string LastTargetFile;     // what the open buttons offer at the end
    std::string LastTargetDir;

    bool Cancelled() const { return view.CancelRequested() || wc.CancelRequested(); }
    // The component's StallTimeout in milliseconds (0: none).
    uint32_t StallLimitMs() const;

    // The overwrite question and the unique-name rule for a local target that exists: false
    // when the question was refused, else `target` is what to write (LastTargetFile names it
    // too) and its missing folders are created.
    bool PrepareTarget(std::string& target);

    // OnError, then OnErrorInfo, and the job's record. After the user's cancel nothing is
    // reported: what fails then fails because of it. ReportError takes the component's own
    // codes, with the system's error behind one where it is known.
    void ReportError(int code, const std::function<std::string()>& text, uint32_t systemError = 0);
    // An answer with this status failed the job; the status is the code.
    void ReportHttpStatus(uint32_t status);
    // The network library's or the system's error failed the job; it is the code.
    void ReportSystemError(uint32_t error);
    // What the current job reported last; the driver moves it to the item.
    TWebCopyErrorRecord LastError;

    // The file line, once per file: the file name, the server word and text, and whether
    // the server part applies.
    void SetFileLine(const std::string& fileName, const std::string& serverWord,
                     const std::string& serverText, bool serverPart);

    // After every block: bar, progress line, OnCopyProgress, completion caption, rate,
    // time left and elapsed lines, then a yield to the user interface. `startTick` is the
    // tick count taken when the file's loop started. `paced`: OnCopyProgress still fires,
    // but the texts and the yield wait until kRepaintMs passed since they were last shown.
    void UpdateProgress(uint32_t done, uint32_t total, const std::string& operationWord,
                        uint32_t startTick, bool paced = false);
    // The file copy's order: OnCopyProgress first, a full bar for an empty file, the size
    // in the progress line always, the rate before the completion caption.
    void UpdateCopyProgress(uint32_t done, uint32_t total, uint32_t startTick, bool paced = false);
    // Shows the texts of a paced update that waited, without its event again.
    void FlushProgress();

    // At most this often a paced update shows its texts and lets the window work.
    static constexpr uint32_t kRepaintMs = 30;

private:
    void Report(TWebCopyErrorRecord record, const std::function<std::string()>& text);

    enum class Order { Transfer, Copy };
    struct Shown {
        uint32_t done, total;
        const std::string* operationWord;
        uint32_t startTick;
        Order order;
    };
    void Update(const Shown& values, bool paced);
    void Show(const Shown& values, bool fireEvent);
    void ShowProgressLine(uint32_t done, uint32_t total, bool withTotal);

    std::optional<Shown> waiting_;  // a paced update whose texts are not shown yet
    uint32_t shownTick_ = 0;

    // What the texts last derived from values that seldom change.
    int bar_ = 0;
    bool totalKnown_ = false;
    uint32_t total_ = 0;
    std::string ofTotal_;  // " " + DlgFileOfLabel + " " + SizeText(total)
    bool elapsedKnown_ = false;
    uint32_t elapsedMs_ = 0;
    std::string line_;  // the buffer every line is built in
};

// The blocks a transfer moves: small at first, so a short file reports every 4 KiB and a slow
// line shows its first bytes at once; once kSmallRun of them came whole the data streams,
// and a block is as large as kLargeBlock (a read still returns what has arrived) and shown
// paced.
class BlockPace {
public:
    static constexpr uint32_t kSmallBlock = 4096;
    static constexpr uint32_t kLargeBlock = 256 * 1024;

    uint32_t Size() const { return Streaming() ? kLargeBlock : kSmallBlock; }
    bool Streaming() const { return whole_ >= kSmallRun; }
    void Moved(uint32_t got, uint32_t asked) {
        if (!Streaming() && got == asked) ++whole_;
    }

private:
    static constexpr int kSmallRun = 8;
    int whole_ = 0;
};

// A byte count as the progress texts and OnCopyProgress take it: 32 bits, a count beyond
// them held at the largest value rather than wrapped.
inline uint32_t ProgressValue(uint64_t bytes) {
    return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}

using Operation = bool (*)(Run& run, Job& job);

}  // namespace webcopy
