#pragma once
// TWebCopy: the transfer component. The client fills Items with jobs, sets options and
// events, and calls Execute, which runs every active job in order on the user-interface
// thread while a progress dialog shows the work.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/DateTime.h"
#include "framework/Forms.h"
#include "framework/Strings.h"
#include "platform/NetTypes.h"

enum TWebCopyProtocol : uint8_t {
    wpHttp = 0, wpFtp = 1, wpFile = 2, wpFtpUpload = 3, wpHttpUpload = 4,
    wpMultiFtp = 5, wpMultiFtpUpload = 6, wpFtpDelete = 7, wpFtpList = 8
};
enum TWebCopyHTTPCommand : uint8_t { hcPost = 0, hcPut = 1 };
enum TWebCopyAuthentication : uint8_t { waNever = 0, waAlways = 1, waAuto = 2 };

// One entry of an FTP listing.
struct TFileDetailItem {
    uint32_t Attributes = 0;
    std::string FileName;
    uint32_t SizeLow = 0;
    uint32_t SizeHigh = 0;
    platform::FileTime FileTime;  // the find record's first time stamp (creation time)
};

class TFileDetailItems {
public:
    TFileDetailItem* Add();
    int Count() const { return static_cast<int>(items_.size()); }
    TFileDetailItem& operator[](int index);  // EListError when out of range
    void Clear() { items_.clear(); }

private:
    std::vector<std::unique_ptr<TFileDetailItem>> items_;
};

// Why a job failed, its parts kept apart: the code OnError got (the component's own code,
// an HTTP status of 300 or more, or a network-library error), which of the three it is, the
// server's status and the system's error behind it (a stall: 12002), and the text
// OnErrorInfo got (built only when that event is assigned). All zero and empty when nothing
// was reported.
struct TWebCopyErrorRecord {
    int Code = 0;
    bool ComponentCode = false;  // Code is a TWebCopyErrorCode
    uint32_t HttpStatus = 0;
    uint32_t SystemError = 0;
    std::string Text;
};

// One job.
class TWebCopyItem {
public:
    TWebCopyItem() = default;
    TWebCopyItem(const TWebCopyItem&) = delete;
    TWebCopyItem& operator=(const TWebCopyItem&) = delete;

    std::string URL;
    std::string TargetDir;
    std::string TargetFilename;
    TWebCopyProtocol Protocol = wpHttp;
    TWebCopyHTTPCommand HTTPCommand = hcPost;
    std::string FTPHost;
    std::string FTPUserID;
    std::string FTPPassword;
    int32_t FTPPort = 21;
    bool Active = true;
    bool Done = false;            // run result: operation succeeded and not cancelled
    bool CopyNewerOnly = false;
    TDateTime FileDate = 0;
    bool NoNewerFile = false;     // run result
    TDateTime FoundFileDate = 0;  // run result
    TWebCopyErrorRecord Error;    // run result: the job's last reported failure
    TWebCopyAuthentication Authenticate = waNever;
    std::string HTTPUserID;
    std::string HTTPPassword;
    // HTTP download: a body that breaks off is kept beside the target, tied to the URL, the
    // server's validator (ETag, else Last-Modified), the announced length and ResumeKey, and
    // the next run of the same job asks only for the rest; within a run a break is retried
    // twice from where it stopped. A server that announces no length or validator gets no
    // resume.
    bool Resume = false;
    // The caller's part of what a kept partial file is tied to (the launcher: its stamp); a
    // partial file made under another key is never taken up.
    std::string ResumeKey;
    // HTTP download: a body without an announced length (chunked, or ended by the server's
    // close) cannot be told from one cut short, as the network library reads either as an
    // end. Such a body is Done, and replaces the target, only when this allows it.
    bool AllowUnconfirmedLength = false;
    // Results of the last listing run; absent until then.
    std::unique_ptr<TStringList> FileList;
    std::unique_ptr<TFileDetailItems> FileDetails;
};

class TWebCopy;

class TWebCopyItems {
public:
    explicit TWebCopyItems(TWebCopy* owner) : owner_(owner) {}
    TWebCopy* Owner() const { return owner_; }
    TWebCopyItem* Add();  // appended, with the defaults
    int Count() const { return static_cast<int>(items_.size()); }
    TWebCopyItem& operator[](int index);  // 0-based; EListError when out of range
    TWebCopyItem& Items(int index) { return (*this)[index]; }
    int ActiveCount() const;
    void Clear() { items_.clear(); }
    void Delete(int index);

private:
    TWebCopy* owner_;
    std::vector<std::unique_ptr<TWebCopyItem>> items_;
};

// Events: Sender first; `var` arguments by reference.
using TWebCopyBeforeDialogShow = std::function<void(TObject* Sender, TForm* ADialog)>;
using TWebCopyFileStart = std::function<void(TObject* Sender, int idx)>;
using TWebCopyFileDone = std::function<void(TObject* Sender, int idx)>;
using TWebCopyThreadDone = std::function<void(TObject* Sender)>;
using TWebCopyCancel = std::function<void(TObject* Sender)>;
using TWebCopyProgress = std::function<void(TObject* Sender, int fileidx, uint32_t size, uint32_t totsize)>;
using TWebCopyOverwrite = std::function<void(TObject* Sender, const std::string& tgtfile, bool& allow)>;
using TWebCopyFileDateCheck = std::function<void(TObject* Sender, int idx, TDateTime newdate, bool& allow)>;
using TWebCopyNoNewFile = std::function<void(TObject* Sender, const std::string& tgtfile, TDateTime curdate, TDateTime newdate)>;
using TWebCopyError = std::function<void(TObject* Sender, int ErrorCode)>;
using TWebCopyErrorInfo = std::function<void(TObject* Sender, int ErrorCode, const std::string& ErrorInfo)>;
using TWebCopyConnectError = std::function<void(TObject* Sender)>;
using TWebCopyURLNotFound = std::function<void(TObject* Sender, const std::string& url)>;
using TWebCopyMultiFTPFileDone = std::function<void(TObject* Sender, const std::string& Filename)>;
using TWebRemoveFileDone = std::function<void(TObject* Sender, int idx)>;
using TWebRemoveFileFailed = std::function<void(TObject* Sender, int idx)>;

class TWebCopy : public TComponent {
public:
    explicit TWebCopy(TComponent* owner);
    ~TWebCopy() override;

    // Runs every active job and returns when the run has ended; the results are on the
    // items. User-interface thread only. False, at once and with nothing touched, when a run
    // of this component is in progress (a call from one of its event handlers).
    bool Execute();
    // From an event handler during a run: the run stops at the next block boundary as if
    // the user had clicked Cancel, and the file being received is not kept. The next
    // Execute starts without it.
    void Cancel() { cancelRequested_ = true; }
    bool CancelRequested() const { return cancelRequested_; }

    // --- published properties
    TWebCopyItems Items{this};
    std::string Agent = "WebCopy";
    std::string Proxy;
    std::string ProxyUserID;
    std::string ProxyPassword;
    bool FTPPassive = false;
    bool HTTPKeepAliveAuthentication = false;
    bool CreateUniqueFilenames = false;
    // Seconds a transfer may go without moving a byte before it fails with a read (write,
    // for uploads) error; 0: no limit.
    int StallTimeout = 30;
    // HTTP downloads: seconds from the request to the body's last byte (0: no limit), and
    // bytes that must arrive in every StallTimeout window (0: any byte will do). A download
    // past either fails as a stalled one does, so a trickle ends as a silence does.
    int TimeLimit = 0;
    uint32_t StallMinBytes = 0;
    std::string Version() const;                 // "2.1.0.0"
    void SetVersion(const std::string&) {}       // fixed information: writes are ignored

    bool ShowDialog = true;
    bool ShowDialogOnTop = true;
    bool AlwaysOnTop = false;
    bool ShowFileName = true;
    bool ShowServer = true;
    bool ShowTime = false;
    bool ShowElapsedTime = false;
    bool ShowCompletion = false;
    bool ShowOpenFile = false;
    bool ShowOpenFolder = false;
    bool DlgShowCancel = true;
    bool DlgShowCloseBtn = false;

    std::string DlgCaption = "Downloading";
    std::string DlgDwnload = "Downloading";
    std::string DlgCopying = "Copying";
    std::string DlgUpload = "Uploading";
    std::string DlgCompleted = "completed";
    std::string DlgCancel = "Cancel";
    std::string DlgClose = "Close";
    std::string DlgOpenFile = "Open file";
    std::string DlgOpenFolder = "Open folder";
    std::string DlgFileLabel = "File :";
    std::string DlgFileOfLabel = "of";
    std::string DlgFromServerLabel = "from";
    std::string DlgToServerLabel = "to";
    std::string DlgProgressLabel = "Progress :";
    std::string DlgRateLabel = "Transfer rate :";
    std::string DlgTimeLabel = "Estimated time left :";
    std::string DlgElapsedTimeLabel = "Elapsed time :";

    TWebCopyBeforeDialogShow OnBeforeDialogShow;
    TWebCopyFileStart OnFileStart;
    TWebCopyFileDone OnFileDone;
    TWebCopyThreadDone OnCopyDone;
    TWebCopyCancel OnCopyCancel;
    TWebCopyProgress OnCopyProgress;
    TWebCopyOverwrite OnCopyOverWrite;
    TWebCopyFileDateCheck OnFileDateCheck;
    TWebCopyNoNewFile OnNoNewFileFound;
    TWebCopyError OnError;
    TWebCopyErrorInfo OnErrorInfo;
    TWebCopyConnectError OnConnectError;
    TWebCopyURLNotFound OnURLNotFound;
    TWebCopyMultiFTPFileDone OnMultiFTPFileDone;
    TWebRemoveFileDone OnRemovedFile;
    TWebRemoveFileFailed OnRemovedFileFailed;

    // True while a dialog that a run left open (ShowOpenFile, ShowOpenFolder) is on screen;
    // a program that ends after Execute keeps its message loop going until then.
    bool DialogShowing() const;

private:
    bool running_ = false;
    bool threadDone_ = false;
    bool cancelRequested_ = false;
};
