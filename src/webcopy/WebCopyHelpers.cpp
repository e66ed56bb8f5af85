#include "webcopy/WebCopyHelpers.h"

#include <algorithm>
#include <cctype>

#include "framework/Strings.h"
#include "platform/Platform.h"
#include "webcopy/WebCopy.h"

namespace {

// Removes everything up to and including the first occurrence of `mark`, when it occurs.
void DropThroughFirst(std::string& text, const std::string& mark) {
    const size_t pos = text.find(mark);
    if (pos != std::string::npos) text.erase(0, pos + mark.size());
}

// The URL without its scheme, split where the authority ends (the first "/", "?" or "#"):
// what is in the path or query can never pass for the server.
struct UrlParts {
    std::string authority;  // user information included
    std::string rest;       // from the end of the authority on
};

UrlParts SplitUrl(const std::string& url) {
    std::string text = url;
    DropThroughFirst(text, "://");
    const size_t end = text.find_first_of("/?#");
    if (end == std::string::npos) return {text, std::string()};
    return {text.substr(0, end), text.substr(end)};
}

// The authority without its user information (up to the last "@").
std::string HostPart(const std::string& authority) {
    const size_t at = authority.rfind('@');
    return at == std::string::npos ? authority : authority.substr(at + 1);
}

std::string Scheme(const std::string& url) {
    const size_t mark = url.find("://");
    return mark == std::string::npos ? std::string() : LowerCase(url.substr(0, mark));
}

}  // namespace

std::string HostFromUrl(const std::string& url) { return HostPart(SplitUrl(url).authority); }

std::string PathFromUrl(const std::string& url) {
    const UrlParts parts = SplitUrl(url);
    if (parts.rest.empty()) return parts.authority;
    return parts.rest[0] == '/' ? parts.rest : "/" + parts.rest;
}

std::string UrlWithoutCredentials(const std::string& url) {
    const size_t mark = url.find("://");
    const size_t start = mark == std::string::npos ? 0 : mark + 3;
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
    if (at == std::string::npos || at < start || at >= end) return url;
    return url.substr(0, start) + url.substr(at + 1);
}

std::string ServerFromUrl(const std::string& url) {
    // Credentials never reach a dialog.
    std::string server = HostPart(SplitUrl(url).authority);
    const size_t backslash = server.find('\\');
    if (backslash != std::string::npos) server.erase(backslash);
    return server;
}

std::string UrlOrigin(const std::string& url) {
    const std::string scheme = Scheme(url);
    std::string host = LowerCase(HostFromUrl(url));
    std::string port;
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
        port = host.substr(colon + 1);
        host.erase(colon);
    }
    if (port.empty()) port = scheme == "https" ? "443" : "80";
    return scheme + "://" + host + ":" + port;
}

std::string ResolveRedirect(const std::string& base, const std::string& location) {
    std::string target = location;
    // Header values come with blanks around them at most; anything else is the server's text.
    while (!target.empty() && (target.back() == ' ' || target.back() == '\t')) target.pop_back();
    while (!target.empty() && (target[0] == ' ' || target[0] == '\t')) target.erase(0, 1);
    if (target.empty()) return std::string();
    for (char c : target)
        if (static_cast<unsigned char>(c) < 0x20 || c == '\\') return std::string();
    const std::string scheme = Scheme(target);
    if (!scheme.empty()) return scheme == "http" || scheme == "https" ? target : std::string();
    if (target.find(':') != std::string::npos && target.find(':') < target.find_first_of("/?#"))
        return std::string();  // another scheme, written without "//"
    const std::string baseScheme = Scheme(base);
    if (target.rfind("//", 0) == 0) return baseScheme + ":" + target;
    const std::string origin = baseScheme + "://" + SplitUrl(base).authority;
    if (target[0] == '/') return origin + target;
    // Relative to the base's folder (query and fragment of the base dropped).
    std::string path = SplitUrl(base).rest;
    path.erase(std::min(path.find_first_of("?#"), path.size()));
    const size_t slash = path.rfind('/');
    path = slash == std::string::npos ? "/" : path.substr(0, slash + 1);
    return origin + path + target;
}

bool RedirectAllowed(const std::string& from, const std::string& to) {
    const std::string next = Scheme(to);
    return Scheme(from) == next || next == "https";
}

std::string FileNameFromPath(const std::string& path) {
    std::string rest = path;
    // Dropping through the first "/" while one occurs ends just after the last one; the
    // same then for backslashes in what remains.
    const size_t slash = rest.rfind('/');
    if (slash != std::string::npos) rest.erase(0, slash + 1);
    const size_t backslash = rest.rfind('\\');
    if (backslash != std::string::npos) rest.erase(0, backslash + 1);
    return rest;
}

std::string BackslashesToSlashes(const std::string& path) {
    std::string out = path;
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '\\') return folder + name;
    return folder + "\\" + name;
}

std::string RemoveExtension(const std::string& path) {
    const size_t mark = path.find_last_of(".\\:");
    if (mark == std::string::npos || path[mark] != '.') return path;
    return path.substr(0, mark);
}

std::string UniqueFileName(const std::string& path) {
    const std::string base = RemoveExtension(path);
    const std::string ext = path.substr(base.size());
    for (long long n = 1;; ++n) {
        std::string candidate = base + "(" + IntToStr(n) + ")" + ext;
        if (!platform::Fs().FileExists(candidate)) return candidate;
    }
}

std::string FolderOfPath(const std::string& path) {
    const size_t mark = path.find_last_of("\\:");
    return mark == std::string::npos ? std::string() : path.substr(0, mark + 1);
}

bool DirExists(const std::string& path) {
    const uint32_t attributes = platform::Fs().GetFileAttributes(path);
    return attributes != platform::INVALID_FILE_ATTRIBUTES_ &&
           (attributes & platform::FILE_ATTRIBUTE_DIRECTORY_) != 0;
}

namespace {

// What no folder chain can create and every chain ends at: a drive ("C:") or a share
// ("\\server\share", "\\server"). A relative name is never the top, however short.
bool IsChainTop(const std::string& dir) {
    if (dir.size() == 2 && dir[1] == ':' && std::isalpha(static_cast<unsigned char>(dir[0]))) return true;
    if (dir.rfind("\\\\", 0) == 0) return std::count(dir.begin() + 2, dir.end(), '\\') <= 1;
    return false;
}

}  // namespace

bool ForceDirectory(const std::string& path) {
    std::string dir = path;
    if (!dir.empty() && dir.back() == '\\') dir.pop_back();
    // Empty: the current folder, or the root of the current drive ("\").
    if (dir.empty() || IsChainTop(dir) || DirExists(dir)) return true;
    const std::string parent = FolderOfPath(dir);
    if (parent == dir) return false;  // "x:": no folder of that name can be made
    if (!parent.empty() && !ForceDirectory(parent)) return false;
    return platform::Fs().CreateDirectory(dir);
}

TDateTime FileTimeToDateTime(const platform::FileTime& ft) {
    // A failed conversion leaves the record empty, which the date encoding rejects.
    platform::SystemTime st;
    platform::Fs().FileTimeToSystemTime(ft, st);
    return EncodeDate(st.wYear, st.wMonth, st.wDay) +
           EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

bool TryFileTimeToDateTime(const platform::FileTime& ft, TDateTime& out) {
    platform::SystemTime st;
    if (!platform::Fs().FileTimeToSystemTime(ft, st)) return false;
    TDateTime date = 0, time = 0;
    if (!TryEncodeDate(st.wYear, st.wMonth, st.wDay, date) ||
        !TryEncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, time))
        return false;
    out = date + time;
    return true;
}

TDateTime SystemTimeToDateTime(const platform::SystemTime& st) {
    // The network library leaves the record empty when the server sent no usable date.
    if (st.wYear == 0 && st.wMonth == 0) return Now();
    return EncodeDate(st.wYear, st.wMonth, st.wDay) +
           EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}
