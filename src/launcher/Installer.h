#pragma once
// Installing a checked program in place of N.exe, keeping the program it replaces as
// N.prev.exe (one, the latest replaced), and putting that one back when the new release will
// not start. N.exe is never absent longer than between its removal and the rename, and never
// anything but a whole program.
#include <string>

#include "platform/Platform.h"

struct StarterNames;

enum class InstallResult {
    Installed,
    NotInstalled,    // nothing changed (the old program, if any, is in place)
    ProgramRunning   // N.exe could not be removed, typically because it runs: nothing changed
};

// Renames `download` (open ReadLocked, already checked) onto N.exe through its handle.
InstallResult InstallProgram(const StarterNames& n, platform::File& download);

// Puts N.prev.exe back as N.exe after the release in N.exe would not start; false when there
// is no previous program or it cannot be put back.
bool RollBack(const StarterNames& n);
