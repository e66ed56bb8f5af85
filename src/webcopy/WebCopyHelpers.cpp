#include "webcopy/WebCopyHelpers.h"

#include "framework/Strings.h"
#include "platform/Platform.h"
#include "webcopy/WebCopy.h"

namespace {

// Removes everything up to and including the first occurrence of `mark`, when it occurs.
void DropThroughFirst(std::string& text, const std::string& mark) {
    const size_t pos = text.find(mark);
    if (pos != std::string::npos) text.erase(0, pos + mark.size());
}

// Removes the scheme ("...://") and the user information ("...@").
std::string WithoutSchemeAndUser(const std::string& url) {
    std::string rest = url;
    DropThroughFirst(rest, "://");
    DropThroughFirst(rest, "@");
    return rest;
}

}  // namespace

std::string UrlWithProxyCredentials(const TWebCopy& webCopy, const std::string& url) {
    static const std::string kScheme = "HTTP://";
    if (UpperCase(url.substr(0, kScheme.size())) != kScheme) return url;
    if (webCopy.ProxyUserID.empty() || webCopy.ProxyPassword.empty()) return url;
    return "http://" + webCopy.ProxyUserID + ":" + webCopy.ProxyPassword + "@" +
           url.substr(kScheme.size());
}

std::string HostFromUrl(const std::string& url) {
    std::string rest = WithoutSchemeAndUser(url);
    const size_t slash = rest.find('/');
    if (slash != std::string::npos) rest.erase(slash);
    return rest;
}

std::string PathFromUrl(const std::string& url) {
    std::string rest = WithoutSchemeAndUser(url);
    const size_t slash = rest.find('/');
    if (slash != std::string::npos) rest.erase(0, slash);
    return rest;
}

std::string ServerFromUrl(const std::string& url) {
    std::string rest = url;
    DropThroughFirst(rest, "://");
    const size_t slash = rest.find('/');
    if (slash != std::string::npos) rest.erase(slash);
    const size_t backslash = rest.find('\\');
    if (backslash != std::string::npos) rest.erase(backslash);
    return rest;
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

bool ForceDirectory(const std::string& path) {
    if (path.empty()) return true;
    std::string dir = path;
    if (dir.back() == '\\') dir.pop_back();
    if (dir.size() < 3 || DirExists(dir)) return true;
    const std::string parent = FolderOfPath(dir);
    // A drive ("C:") or a bare root cannot be created; it is there or the creation below fails.
    if (parent == dir) return true;
    return ForceDirectory(parent) && platform::Fs().CreateDirectory(dir);
}

TDateTime FileTimeToDateTime(const platform::FileTime& ft) {
    // A failed conversion leaves the record empty, which the date encoding rejects.
    platform::SystemTime st;
    platform::Fs().FileTimeToSystemTime(ft, st);
    return EncodeDate(st.wYear, st.wMonth, st.wDay) +
           EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

TDateTime SystemTimeToDateTime(const platform::SystemTime& st) {
    // The network library leaves the record empty when the server sent no usable date.
    if (st.wYear == 0 && st.wMonth == 0) return Now();
    return EncodeDate(st.wYear, st.wMonth, st.wDay) +
           EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}
