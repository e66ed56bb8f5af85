#pragma once
// Starting the managed program: as it always was (WinExec, not watched), or after an update
// with a handle on its process, watched for a few seconds so that a release that crashes or
// cannot load is seen before its stamp is recorded.
#include <cstdint>
#include <string>

inline constexpr uint32_t kWatchMs = 5000;

enum class StartOutcome {
    Started,     // running after the watch, or ended with a code of its own
    NotStarted,  // could not be started at all
    Failed       // ended within the watch with a crash or loader status
};

// True for an exit code that Windows sets itself when a program crashes or cannot be
// loaded (an NTSTATUS error: 0xC0000005, 0xC0000135, 0xC000007B, 0xC0000409, ...; and a
// breakpoint), never for one a program returns by its own choice, such as -1 or 1.
bool IsFailureStatus(uint32_t exitCode);

// Starts `command` with WinExec and `show`; true when it started.
bool StartProgram(const std::string& command, unsigned show);

// Starts `command` with CreateProcess, `show` and `folder` as its working folder (empty:
// the launcher's); true when it started. Not watched.
bool StartProgramIn(const std::string& command, unsigned show, const std::string& folder);

// Starts `command` with CreateProcess and `show` (in `folder`, as above), crash dialogs off
// for that start, and watches it for kWatchMs, calling `idle` between looks (the splash
// stays painted). `exitCode`, when given, gets the code of a program that ended (0 otherwise).
StartOutcome StartAndWatch(const std::string& command, unsigned show, void (*idle)(),
                           const std::string& folder = std::string(), uint32_t* exitCode = nullptr);
