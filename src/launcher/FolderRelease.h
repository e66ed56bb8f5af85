#pragma once
// The sequence's steps for a program of many files: which folder release is installed (N.dat),
// building a new one beside it, the switch (N.dat written in one step, the replaced manifest
// kept as N.prev.dat) and the removal of versions no longer kept.
#include <string>

#include "launcher/FolderInstall.h"
#include "launcher/Installer.h"
#include "launcher/Release.h"

struct StarterNames;

class FolderReleases {
public:
    // What N.dat (`dat`, its bytes as read; empty when absent or unreadable) says is
    // installed.
    void Load(const StarterNames& n, const std::string& dat);

    // N.dat names a folder release whose folder holds its program.
    bool Installed() const { return installed_; }
    const FolderVersion& Current() const { return current_; }
    // N.dat is a folder manifest, whether or not its folder is whole: never replaced by a
    // server's stamp that is not newer.
    bool CurrentIsFolder() const { return currentIsFolder_; }

    // Builds the folder release `txt` (signature, if any, already checked): its manifest
    // checked whole first, then its folder, with `fetch` for the objects no installed file
    // holds. Installed when the folder is complete, every file checked and its N.exe a
    // Windows program; NotInstalled otherwise (also for a release in N.bad).
    InstallResult Build(const std::string& txt, const ReleaseInfo& release, const FetchObjects& fetch);
    // The release Build made: its program, its folder (no trailing backslash) and what N.bad
    // records of it.
    const std::string& NewProgram() const { return built_.program; }
    std::string NewFolder() const { return built_.folder.substr(0, built_.folder.size() - 1); }
    const ReleaseInfo& BadRecord() const { return badRecord_; }
    // Why Build refused the release ("hostile manifest", "release marked bad", "not a Windows
    // program"); empty when it was not refused (also when its files did not all arrive).
    const char* Refusal() const { return refusal_; }

    // Makes the built release current: N.prev.dat gets the manifest N.dat holds, then N.dat
    // gets the new one. False when either cannot be read or written (nothing switched).
    bool Switch();
    // After a single-file release was recorded over a folder one: that one is the previous.
    void KeepAsPrevious();
    // Removes version folders that are neither current nor previous (but the one this run
    // built, or could not finish, for its next try), and the single-file program once
    // neither is one. Called before anything is started.
    void CleanUp();

private:
    const StarterNames* n_ = nullptr;
    bool installed_ = false, currentIsFolder_ = false;
    FolderVersion current_;
    std::string currentBytes_;  // N.dat as read (any form)
    FolderVersion built_;
    ReleaseInfo badRecord_;
    std::string unfinishedId_;  // a version folder Build left incomplete
    const char* refusal_ = "";
};
