#pragma once
// The splash form and the update-and-start sequence: bring the managed program in the
// application folder up to date from the update server, start it with the launcher's own
// arguments, record the stamp of what is installed, and end.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/Forms.h"
#include "launcher/FolderRelease.h"
#include "launcher/Installer.h"
#include "launcher/Release.h"
#include "launcher/RunLog.h"

class TStFileOperation;
class TWinXP;
class TPBSystemPath;
class TWebCopy;

// The names the sequence derives from the launcher's file name.
struct StarterNames {
    std::string baseName;     // file name without folder and last extension
    std::string folder;       // AppData + "\Brakven\Applikationer\"
    std::string localStamp;   // N.dat
    std::string previousStamp;  // N.prev.dat, the folder release's manifest N.dat last held
    std::string serverStamp;  // N.txt
    std::string newProgram;   // N.bin
    std::string managed;      // N.exe
    std::string signature;    // N.sig
    std::string previous;     // N.prev.exe, the program the last update replaced
    std::string bad;          // N.bad, the last release that would not start
    std::string pending;      // N.pending: an installed release whose start is not judged yet
    std::string log;          // N.log, one line per run
    std::string stampUrl;     // base URL + "managedfiles/N.txt"
    std::string programUrl;   // ... N.bin
    std::string signatureUrl; // ... N.sig
    std::string objectsUrl;   // ... N.files/ (a folder release's objects, by SHA-256)
};
class TForm1 : public TForm {
public:
    explicit TForm1(TComponent* owner);

    TLabel* Label1;
    TStFileOperation* stRen;
    TWinXP* WinXP1;
    TPBSystemPath* PBSystemPath1;
    TTimer* Timer1;
    TWebCopy* WebCopy1;

    // The whole sequence; ends the application. Run once, from Timer1Timer.
    void FormShow(TObject* Sender);
    // First paint arms the one-shot timer; Tag marks that it has fired.
    void FormPaint(TObject* Sender);
    void Timer1Timer(TObject* Sender);

private:
    // What one download may take and how it is told apart from a partial one.
    struct FetchLimits {
        uint64_t maxBytes = 0;    // a body that grows past it, or announces more, is not kept
        bool needLength = false;  // a body whose length the server does not announce is not kept
        int timeLimit = 0;        // seconds from the request to the last byte (0: none)
        uint32_t minBytes = 0;    // bytes that must arrive in every stall window (0: any)
        bool dialog = false;      // the progress dialog: only for the program, the one
                                  // download that takes long enough to be watched
    };
    // How a run of WebCopy1 ended, for the log.
    struct FetchResult {
        std::string name;        // the file's name on the server
        uint64_t bytes = 0;      // what arrived of it
        bool done = false;
        bool answered = false;   // the server sent a status
        int httpStatus = 0;      // an error status it sent
        bool tooLarge = false, noLength = false, cancelled = false, stalled = false;
    };
    // Follows the next Execute into `r` (its cancel) until Ended, which reads the jobs' error
    // records; Arrived from its progress.
    void Watch(FetchResult& r);
    static void Arrived(FetchResult& r, uint64_t size);
    void Ended(FetchResult& r, bool done);
    // The log's outcome for a download that did not end done.
    static std::string FetchFailure(const FetchResult& r);
    // Notes for the log that the installed program did not start (`what`).
    void NoteNotStarted(const char* what);
    // Notes `outcome` for the log; NotInstalled.
    InstallResult NotInstalled(const std::string& outcome);
    // The body of FormShow once this launcher holds the program's mutex.
    void UpdateAndStart();
    // What N.dat says is installed (loads folders_): its stamp, empty when none.
    std::string InstalledStamp();

    // Runs one download into the application folder (as `fileName` when given); true when
    // the job ended done. `announced`: the body's length as the server sent it (0: unknown).
    // A non-empty `resumeKey` lets a body that breaks off be continued later under it.
    bool Fetch(const std::string& url, const std::string& fileName, const FetchLimits& limits,
               uint64_t* announced = nullptr, const std::string& resumeKey = std::string());
    // Fetches N.txt: true with the release when its first line is a stamp.
    bool FetchRelease(std::string& bytes, ReleaseInfo& release);
    // In a build with a key: N.sig over N.txt (`txt`); a single-file release then takes its
    // size and SHA-256 from the manifest. False when the vendor did not sign it.
    bool SignedByVendor(const std::string& txt, bool folder, ReleaseInfo& release);
    // Brings the release in; Installed when it is N.exe now (a folder release: when its
    // version folder is complete and checked).
    InstallResult Update(const std::string& txt, ReleaseInfo& release);
    // Downloads a folder release's objects in one run, each no longer than stated.
    void FetchObjects(const std::vector<ObjectFetch>& objects);
    // Starts the release just installed and watches it; true when it runs and no rollback is
    // owed any more. When it will not start it is recorded in N.bad and the previous program,
    // if any, is back and started.
    bool StartNewRelease(const ReleaseInfo& release);
    // Starts the installed program as it always was (a folder release's from its folder);
    // false when there is none (reported).
    bool StartInstalled();
    // The command the managed program is started with.
    std::string Command() const;
    void ReportNotStarted(const std::string& program);
    // Shows `text` on the splash at once.
    void ShowCaption(const char* text);
    void ProcessMessages(int times);
    // Without a base URL: says so and starts the installed program, if there is one.
    void StartWithoutUpdate();

    StarterNames n_;
    RunLog log_;
    FetchResult lastFetch_;  // the last single download
    FolderReleases folders_;
    bool folderUpdate_ = false;  // this run built a folder release
};

extern TForm1* Form1;

// The launcher's arguments, each followed by one blank ("" without arguments), quoted where
// needed so each reaches the started program as it was given.
std::string ArgumentText();
// The arguments after the program name, split as the Windows C runtime does: blanks and tabs
// separate, quotes group and are removed, 2n backslashes before a quote give n and a grouping
// quote, 2n+1 give n and a plain quote, other backslashes are plain, "" inside quotes is a
// plain quote. The text ends at a zero byte.
std::vector<std::string> CommandLineArguments(const std::string& commandLine);
// `arg` unchanged when it is non-empty and holds no blank, tab or quote; otherwise quoted so
// that CommandLineArguments gives it back.
std::string QuoteArgument(const std::string& arg);

StarterNames MakeStarterNames(const std::string& programPath, const std::string& appData,
                              const std::string& baseUrl);

// The name of the mutex that launchers of one managed program (application folder and base
// name, letter case aside) share.
std::string LauncherMutexName(const std::string& folder, const std::string& baseName);
// How long a launcher waits for another one of the same program before it goes on.
inline constexpr uint32_t kLauncherWaitMs = 120000;
// Where a signed release's program is downloaded: N.sha256-<first 16 hex digits>.bin.
std::string ReleaseProgramName(const std::string& baseName, const std::string& sha256);

// True when `server` is greater than `local`, comparing bytes unsigned; a longer text that
// begins with the other is greater.
bool StampIsNewer(const std::string& server, const std::string& local);
// The command the program is started with: its path (quoted when it holds a blank), a blank,
// and the argument text.
std::string StartCommand(const std::string& program, const std::string& argumentText);

// The update server's base URL from the launcher's configuration block; empty in a generic
// launcher (and when the block is damaged).
const char* UpdateBaseUrl();
