// Where the program's system libraries come from.
#pragma once

// Makes every later library load of the process search the system folder only (not the
// program's folder nor the current folder), and loads from there the libraries that system
// libraries load by name later on. Call it first thing in a program entry. The
// delay-imported system libraries (VERSION, MPR, WININET, COMCTL32, MSIMG32) are loaded from
// the system folder whether or not it was called; one that cannot be loaded is reported in a
// message box and ends the process with exit code 1.
void RestrictLibrarySearchToSystemFolder();

// Loads a library from the system folder only (an HMODULE; null when it cannot be loaded),
// for a library the program loads by hand.
void* LoadSystemLibrary(const char* name);

// Starts loading WinInet from the system folder on a thread of its own, so that the load
// overlaps the start of the user interface instead of following it; the first call into it
// then finds it loaded. Nothing is reported: a load that fails is reported when the library
// is first used.
void PreloadNetworkLibrary();
