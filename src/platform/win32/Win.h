#pragma once
// Windows headers for the Win32 services. The seam's headers come first: NetTypes.h declares
// constants that <wininet.h> defines as macros. The A/W name macros that collide with the
// seam's method names are removed; the code here calls the ...A functions by name.
#include "platform/Platform.h"

#include <cstring>

#include <windows.h>
#include <shellapi.h>
#include <winnetwk.h>
#include <wininet.h>
#include <winver.h>

#undef GetFileAttributes
#undef CreateDirectory
#undef DeleteFile
#undef MoveFile
#undef ReplaceFile
#undef CopyFile
#undef CreateHardLink
#undef RemoveDirectory
#undef GetEnvironmentVariable
#undef GetWindowsDirectory
#undef GetSystemDirectory
#undef GetTempPath
#undef GetFileVersionInfoSize
#undef GetFileVersionInfo
#undef VerQueryValue
#undef WNetAddConnection2
#undef WNetCancelConnection2
#undef InternetOpen
#undef InternetSetOption
#undef InternetOpenUrl
#undef HttpQueryInfo
#undef InternetConnect
#undef HttpOpenRequest
#undef HttpSendRequestEx
#undef HttpSendRequest
#undef HttpEndRequest
#undef FtpGetCurrentDirectory
#undef FtpSetCurrentDirectory
#undef FtpCreateDirectory
#undef FtpFindFirstFile
#undef InternetFindNextFile
#undef FtpOpenFile
#undef FtpDeleteFile
#undef FtpRenameFile
#undef FtpCommand
#undef InternetGetLastResponseInfo
#undef FormatMessage

namespace platform::win32 {

inline FileTime ToFileTime(const FILETIME& f) { return {f.dwLowDateTime, f.dwHighDateTime}; }
inline FILETIME ToFILETIME(const FileTime& f) { return {f.dwLowDateTime, f.dwHighDateTime}; }

inline SystemTime ToSystemTime(const SYSTEMTIME& s) {
    SystemTime t;
    t.wYear = s.wYear;
    t.wMonth = s.wMonth;
    t.wDayOfWeek = s.wDayOfWeek;
    t.wDay = s.wDay;
    t.wHour = s.wHour;
    t.wMinute = s.wMinute;
    t.wSecond = s.wSecond;
    t.wMilliseconds = s.wMilliseconds;
    return t;
}

inline FindData ToFindData(const WIN32_FIND_DATAA& w) {
    FindData d;
    d.dwFileAttributes = w.dwFileAttributes;
    d.ftCreationTime = ToFileTime(w.ftCreationTime);
    d.ftLastAccessTime = ToFileTime(w.ftLastAccessTime);
    d.ftLastWriteTime = ToFileTime(w.ftLastWriteTime);
    d.nFileSizeHigh = w.nFileSizeHigh;
    d.nFileSizeLow = w.nFileSizeLow;
    d.cFileName.assign(w.cFileName, strnlen(w.cFileName, sizeof w.cFileName));
    return d;
}

}  // namespace platform::win32
