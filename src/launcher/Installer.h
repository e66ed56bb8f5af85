#pragma once
// Installing a checked program in place of N.exe, keeping the program it replaces as
// N.prev.exe (one, the latest replaced), and putting that one back when the new release will
// not start. N.exe is never absent longer than between its removal and the rename, and never
// anything but a whole program.
//
// From the moment N.prev.exe is complete until the new release's start is judged, N.pending
// exists: a launcher killed in between (or a machine that went down) leaves it, and the next
// launcher puts N.prev.exe back first (ResumeInterruptedInstall), so an unjudged release never
// becomes the kept previous program and a missing N.exe is never final.
#include <string>

#include "platform/Platform.h"

struct StarterNames;

enum class InstallResult {
    Installed,
    NotInstalled,    // nothing changed (the old program, if any, is in place)
    ProgramRunning   // N.exe could not be removed, typically because it runs: nothing changed
};

// Renames `download` (open ReadLocked, already checked) onto N.exe through its handle.
// Installed leaves N.pending for the caller to remove once the start is judged and, if it
// failed, rolled back.
InstallResult InstallProgram(const StarterNames& n, platform::File& download);

// Puts N.prev.exe back as N.exe after the release in N.exe would not start; false when there
// is no previous program or it cannot be put back.
bool RollBack(const StarterNames& n);

// Called first, by the launcher that holds the program's mutex: an update left unjudged is
// rolled back. When that cannot be done yet (N.exe is held, e.g. the release runs), N.pending
// stays and InstallProgram installs nothing (ProgramRunning) until it is done.
void ResumeInterruptedInstall(const StarterNames& n);
