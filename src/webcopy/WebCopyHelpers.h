#pragma once
// Text helpers that take addresses and paths apart and put them together, and the
// conversions of platform time stamps to TDateTime. Searches compare bytes exactly and
// find the first occurrence unless a helper says otherwise.
#include <string>

#include "framework/DateTime.h"
#include "platform/NetTypes.h"

class TWebCopy;

// "http://" + ProxyUserID + ":" + ProxyPassword + "@" + rest when the URL starts with
// "HTTP://" (any case) and both proxy credentials are set; otherwise the URL unchanged.
std::string UrlWithProxyCredentials(const TWebCopy& webCopy, const std::string& url);

// Server part of a URL: scheme and user information removed, cut at the first "/".
// A port stays attached ("host:8080").
std::string HostFromUrl(const std::string& url);

// Object path of a URL from the first "/" after the server part, query included. Without
// such a "/" the server text itself comes back.
std::string PathFromUrl(const std::string& url);

// Server text for the login prompt: scheme removed, cut at the first "/" and then at the
// first "\". User information is kept.
std::string ServerFromUrl(const std::string& url);

// The text after the last "/" or "\" (empty when the text ends with one; all of it when it
// has none).
std::string FileNameFromPath(const std::string& path);

// Every "\" becomes "/".
std::string BackslashesToSlashes(const std::string& path);

// name when folder is empty; folder + name when folder ends with "\"; else folder + "\" + name.
std::string JoinPath(const std::string& folder, const std::string& name);

// The path without its extension: the text from the last "." that follows the last "\" or
// ":" to the end.
std::string RemoveExtension(const std::string& path);

// The first "base(n).ext", n = 1, 2, ..., for which no file exists (a folder of that name
// does not count). The path itself is not tested.
std::string UniqueFileName(const std::string& path);

// The text up to and including the last "\" or ":"; empty when there is neither. This is
// what callers pass to ForceDirectory for a target file.
std::string FolderOfPath(const std::string& path);

// True when the path exists and is a folder.
bool DirExists(const std::string& path);

// Creates the folder and any missing parents; true when it exists afterwards. Nothing is
// created below a folder that could not be created.
bool ForceDirectory(const std::string& path);

// Calendar conversion of a file time, no time-zone conversion. Raises EConvertError when the
// platform gives fields outside the calendar.
TDateTime FileTimeToDateTime(const platform::FileTime& ft);

// An all-empty record (year and month 0) gives Now(); otherwise the encoded date and time.
// Raises EConvertError for fields outside the calendar.
TDateTime SystemTimeToDateTime(const platform::SystemTime& st);
