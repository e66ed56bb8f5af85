#pragma once
// Text helpers that take addresses and paths apart and put them together, and the
// conversions of platform time stamps to TDateTime. Searches compare bytes exactly and
// find the first occurrence unless a helper says otherwise.
#include <string>

#include "framework/DateTime.h"
#include "platform/NetTypes.h"

// The authority of a URL is the text after "://" (or from the start without one) up to the
// first "/", "?" or "#"; nothing in the path or query counts for the server.

// Server part of a URL: the authority without its user information (up to the last "@").
// A port stays attached ("host:8080").
std::string HostFromUrl(const std::string& url);

// Object path of a URL: from the end of the authority on, query included, with a "/" in
// front when it starts with "?" or "#". Without anything after the authority the authority
// itself comes back.
std::string PathFromUrl(const std::string& url);

// The URL without the user information of its authority ("user:password@"): what may be
// shown, named or reported.
std::string UrlWithoutCredentials(const std::string& url);

// Server text for the login prompt: the authority without its user information, cut at
// the first "\".
std::string ServerFromUrl(const std::string& url);

// "scheme://host:port" in lower case, the port filled in from the scheme (443 for https,
// else 80): what credentials given for a URL are bound to.
std::string UrlOrigin(const std::string& url);

// The absolute http or https URL a redirect's Location names, relative to `base`; empty
// when it names another scheme or holds control characters or backslashes.
std::string ResolveRedirect(const std::string& base, const std::string& location);
// Whether a redirect from `from` to `to` may be followed: it keeps the scheme or goes from
// http to https, never from https to anything else.
bool RedirectAllowed(const std::string& from, const std::string& to);

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
// created below a folder that could not be created. A chain ends at a drive ("C:", "C:\")
// or a share root ("\\server\share"); a relative folder is created whatever its length.
bool ForceDirectory(const std::string& path);

// Calendar conversion of a file time, no time-zone conversion. Raises EConvertError when the
// platform gives fields outside the calendar.
TDateTime FileTimeToDateTime(const platform::FileTime& ft);

// The same without raising: false (and `out` unchanged) for fields outside the calendar,
// as a server's listing can give them.
bool TryFileTimeToDateTime(const platform::FileTime& ft, TDateTime& out);

// An all-empty record (year and month 0) gives Now(); otherwise the encoded date and time.
// Raises EConvertError for fields outside the calendar.
TDateTime SystemTimeToDateTime(const platform::SystemTime& st);
