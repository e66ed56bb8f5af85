// The in-memory file system of the doubles: Windows path rules, sharing modes, locked
// (running) files.
#include "doubles/FakeFiles.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <stdexcept>

namespace platform::fake {

// A path split into its root ("C:", "\\srv\share") and folder/file names, as written.
struct ParsedPath {
    std::string root;
    std::vector<std::string> parts;
};

struct FsNode {
    std::string name;  // as created; the root's text for a root
    bool dir = false;
    std::string content;
    uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE; folders carry 0x10
    FileTime created, accessed, written;
    bool locked = false;
    struct Open {
        uint32_t access;  // kRead | kWrite
        uint32_t share;
    };
    std::map<uint64_t, Open> opens;
};

inline constexpr uint32_t kRead = 1, kWrite = 2;

struct FakeFiles::State {
    std::map<std::string, std::shared_ptr<FsNode>> nodes;  // by PathKey
    ParsedPath cwd{"C:", {}};
    FileTime now = MakeFileTime(2024, 1, 2, 3, 4, 5);
    int biasMinutes = 0;
    uint64_t nextOpenId = 1;
    int openFiles = 0;
    uint64_t maxFileSize = UINT64_MAX;
    bool hardLinks = true;
};

using FsState = FakeFiles::State;

std::string UpperName(const std::string& s) {
    std::string r = s;
    for (char& c : r) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7))
            c = static_cast<char>(u - 0x20);
        else if (u == 0x9A || u == 0x9C || u == 0x9E)
            c = static_cast<char>(u - 0x10);
        else if (u == 0xFF)
            c = static_cast<char>(0x9F);
    }
    return r;
}

namespace {

bool ValidName(const std::string& name, bool wildcards) {
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || std::strchr("<>:\"|", c)) return false;
        if ((c == '*' || c == '?') && !wildcards) return false;
    }
    return true;
}

// Resolves `path` against the current folder ("." and ".." removed); the Win32 error code of
// a bad path (3 empty, 123 bad name), 0 when it parses.
uint32_t ParsePathCode(const FsState& fs, const std::string& path, ParsedPath& out,
                       bool allowWildcards) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    if (p.empty()) return kErrPathNotFound;
    ParsedPath r;
    size_t i = 0;
    if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
        const size_t server = p.find('\\', 2);
        if (server == std::string::npos || server == 2) return kErrInvalidName;
        size_t share = p.find('\\', server + 1);
        if (share == std::string::npos) share = p.size();
        if (share == server + 1) return kErrInvalidName;
        r.root = p.substr(0, share);
        i = share;
    } else if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]))) {
        r.root = p.substr(0, 2);
        i = 2;
        // "C:name" is relative to the current folder when that is on drive C:.
        if ((i == p.size() || p[i] != '\\') && UpperName(r.root) == UpperName(fs.cwd.root))
            r.parts = fs.cwd.parts;
    } else if (p[0] == '\\') {
        r.root = fs.cwd.root;
    } else {
        r = fs.cwd;
    }
    std::vector<std::string> names;
    size_t start = i;
    for (size_t j = i; j <= p.size(); ++j) {
        if (j < p.size() && p[j] != '\\') continue;
        names.push_back(p.substr(start, j - start));
        start = j + 1;
    }
    for (size_t k = 0; k < names.size(); ++k) {
        std::string name = names[k];
        const bool last = k + 1 == names.size();
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (!r.parts.empty()) r.parts.pop_back();
            continue;
        }
        const bool wildcards = allowWildcards && last;
        // Windows drops trailing dots and blanks of a name (not of a search pattern).
        if (!(wildcards && name.find_first_of("*?") != std::string::npos)) {
            while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
            if (name.empty()) continue;
        }
        if (!ValidName(name, wildcards)) return kErrInvalidName;
        r.parts.push_back(name);
    }
    out = r;
    return 0;
}

bool ParsePath(const FsState& fs, const std::string& path, ParsedPath& out, bool allowWildcards = false) {
    return ParsePathCode(fs, path, out, allowWildcards) == 0;
}

std::string PathKey(const ParsedPath& p) {
    std::string key = UpperName(p.root);
    for (const auto& part : p.parts) key += "\\" + UpperName(part);
    return key;
}

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& name, bool ignoreCase) {
    const std::string pat = ignoreCase ? UpperName(pattern) : pattern;
    const std::string str = ignoreCase ? UpperName(name) : name;
    size_t p = 0, s = 0, star = std::string::npos, mark = 0;
    while (s < str.size()) {
        if (p < pat.size() && (pat[p] == '?' || pat[p] == str[s])) {
            ++p;
            ++s;
        } else if (p < pat.size() && pat[p] == '*') {
            star = p++;
            mark = s;
        } else if (star != std::string::npos) {
            p = star + 1;
            s = ++mark;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

namespace {

std::shared_ptr<FsNode> Find(const FsState& fs, const std::string& key) {
    auto it = fs.nodes.find(key);
    return it == fs.nodes.end() ? nullptr : it->second;
}

std::shared_ptr<FsNode> Parent(const FsState& fs, const ParsedPath& p) {
    if (p.parts.empty()) return nullptr;
    ParsedPath parent = p;
    parent.parts.pop_back();
    auto n = Find(fs, PathKey(parent));
    return n && n->dir ? n : nullptr;
}

// Error of a path that names nothing: 2 when its folder exists, 3 when it does not.
uint32_t MissingError(const FsState& fs, const ParsedPath& p) {
    return Parent(fs, p) ? kErrFileNotFound : kErrPathNotFound;
}

bool SharingAllows(const FsNode& n, uint32_t access, uint32_t share) {
    for (const auto& entry : n.opens) {
        if (access & ~entry.second.share) return false;
        if (entry.second.access & ~share) return false;
    }
    return true;
}

std::shared_ptr<FsNode> NewNode(const FsState& fs, const std::string& name, bool dir) {
    auto n = std::make_shared<FsNode>();
    n->name = name;
    n->dir = dir;
    n->attributes = dir ? FILE_ATTRIBUTE_DIRECTORY_ : 0x20;
    n->created = n->accessed = n->written = fs.now;
    return n;
}

// Keys of the entries directly inside folder `key`, in key order.
std::vector<std::string> ChildKeys(const FsState& fs, const std::string& key) {
    std::vector<std::string> keys;
    const std::string prefix = key + "\\";
    for (auto it = fs.nodes.lower_bound(prefix);
         it != fs.nodes.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->first.find('\\', prefix.size()) == std::string::npos) keys.push_back(it->first);
    }
    return keys;
}

bool IsInside(const std::string& key, const std::string& folder) {
    return key.size() > folder.size() && key.compare(0, folder.size(), folder) == 0 &&
           key[folder.size()] == '\\';
}

FindData ToFindData(const FsNode& n, const std::string& name) {
    FindData d;
    d.dwFileAttributes = n.attributes;
    d.ftCreationTime = n.created;
    d.ftLastAccessTime = n.accessed;
    d.ftLastWriteTime = n.written;
    const uint64_t size = n.dir ? 0 : n.content.size();
    d.nFileSizeHigh = static_cast<uint32_t>(size >> 32);
    d.nFileSizeLow = static_cast<uint32_t>(size);
    d.cFileName = name;
    return d;
}

ParsedPath MustParse(const FsState& fs, const std::string& path) {
    ParsedPath p;
    if (!ParsePath(fs, path, p)) throw std::invalid_argument("fake file system: bad path " + path);
    return p;
}

class FakeFile final : public File {
public:
    FakeFile(FakeFiles& files, FakeCalls& calls, FsState& fs, std::shared_ptr<FsNode> node,
             uint64_t id, uint32_t access, std::string path, bool renamable)
        : files_(files), calls_(calls), fs_(fs), node_(std::move(node)), id_(id), access_(access),
          path_(std::move(path)), renamable_(renamable) {}
    ~FakeFile() override { Release(); }

    bool Read(void* buf, uint32_t size, uint32_t& got) override {
        got = 0;
        if (calls_.Fails("File.Read", path_, 30)) return false;  // ERROR_READ_FAULT
        if (!Usable(kRead)) return false;
        const auto& c = node_->content;
        const uint64_t avail = pos_ < static_cast<int64_t>(c.size()) ? c.size() - static_cast<size_t>(pos_) : 0;
        got = static_cast<uint32_t>(std::min<uint64_t>(size, avail));
        if (got) std::memcpy(buf, c.data() + pos_, got);
        pos_ += got;
        return true;
    }
    bool Write(const void* buf, uint32_t size, uint32_t& written) override {
        written = 0;
        if (calls_.Fails("File.Write", path_, kErrDiskFull)) return false;
        if (!Usable(kWrite)) return false;
        auto& c = node_->content;
        const auto at = static_cast<size_t>(pos_);
        if (at + size > fs_.maxFileSize)
            size = at >= fs_.maxFileSize ? 0 : static_cast<uint32_t>(fs_.maxFileSize - at);
        if (c.size() < at + size) c.resize(at + size, '\0');
        if (size) std::memcpy(&c[at], buf, size);
        pos_ += size;
        written = size;
        node_->written = fs_.now;
        return true;
    }
    int64_t Seek(int64_t offset, int origin) override {
        if (calls_.Fails("File.Seek", path_, kErrInvalidParameter)) return -1;
        if (!Usable(0)) return -1;
        int64_t base = 0;
        if (origin == 1)
            base = pos_;
        else if (origin == 2)
            base = static_cast<int64_t>(node_->content.size());
        else if (origin != 0)
            return Error(kErrInvalidParameter, int64_t{-1});
        if (base + offset < 0) return Error(131, int64_t{-1});  // ERROR_NEGATIVE_SEEK
        pos_ = base + offset;
        return pos_;
    }
    int64_t Size() override {
        if (calls_.Fails("File.Size", path_, kErrAccessDenied)) return -1;
        if (!Usable(0)) return -1;
        return static_cast<int64_t>(node_->content.size());
    }
    bool GetLastWriteTime(FileTime& ft) override {
        if (calls_.Fails("File.GetLastWriteTime", path_, kErrAccessDenied)) return false;
        if (!Usable(0)) return false;
        ft = node_->written;
        return true;
    }
    // An injected failure (a failed flush) still closes the handle.
    bool Close() override {
        const bool fail = calls_.Fails("File.Close", path_, kErrDiskFull);
        if (!open_) return Error(kErrInvalidHandle, false);
        Release();
        return !fail;
    }
    bool RenameTo(const std::string& to) override {
        if (calls_.Fails("File.Rename", path_ + " -> " + to, kErrAccessDenied)) return false;
        if (!Usable(0)) return false;
        if (!renamable_) return Error(kErrAccessDenied, false);
        // This handle's own open does not stand in its way; anyone else's does.
        const auto self = node_->opens.at(id_);
        node_->opens.erase(id_);
        const bool renamed = files_.RenameUncounted(path_, to);
        node_->opens[id_] = self;
        if (renamed) path_ = to;
        return renamed;
    }

private:
    template <class T>
    T Error(uint32_t code, T result) {
        calls_.SetError(code);
        return result;
    }
    bool Usable(uint32_t access) {
        if (!open_) return Error(kErrInvalidHandle, false);
        if ((access_ & access) != access) return Error(kErrAccessDenied, false);
        return true;
    }
    void Release() {
        if (!open_) return;
        node_->opens.erase(id_);
        --fs_.openFiles;
        open_ = false;
    }

    FakeFiles& files_;
    FakeCalls& calls_;
    FsState& fs_;
    std::shared_ptr<FsNode> node_;
    uint64_t id_;
    uint32_t access_;
    std::string path_;
    bool renamable_;
    int64_t pos_ = 0;
    bool open_ = true;
};

}  // namespace

FakeFiles::FakeFiles(FakeCalls& calls) : FakeService(calls), fs_(std::make_unique<State>()) {
    AddRoot("C:");
}

FakeFiles::~FakeFiles() = default;

// ---- Files interface

uint32_t FakeFiles::GetFileAttributes(const std::string& path) {
    if (Fails("GetFileAttributes", path, kErrAccessDenied)) return INVALID_FILE_ATTRIBUTES_;
    ParsedPath p;
    if (uint32_t e = ParsePathCode(*fs_, path, p, false)) return Failed(e, INVALID_FILE_ATTRIBUTES_);
    auto n = Find(*fs_, PathKey(p));
    if (!n) return Failed(MissingError(*fs_, p), INVALID_FILE_ATTRIBUTES_);
    return n->attributes;
}

bool FakeFiles::FileExists(const std::string& path) {
    if (Fails("FileExists", path, kErrAccessDenied)) return false;
    ParsedPath p;
    if (!ParsePath(*fs_, path, p)) return false;
    auto n = Find(*fs_, PathKey(p));
    return n && !n->dir;
}

bool FakeFiles::DirectoryExists(const std::string& path) {
    if (Fails("DirectoryExists", path, kErrAccessDenied)) return false;
    ParsedPath p;
    if (!ParsePath(*fs_, path, p)) return false;
    auto n = Find(*fs_, PathKey(p));
    return n && n->dir;
}

bool FakeFiles::CreateDirectory(const std::string& path) {
    if (Fails("CreateDirectory", path, kErrAccessDenied)) return false;
    ParsedPath p;
    if (uint32_t e = ParsePathCode(*fs_, path, p, false)) return Failed(e, false);
    const std::string key = PathKey(p);
    if (Find(*fs_, key)) return Failed(kErrAlreadyExists, false);
    if (!Parent(*fs_, p)) return Failed(kErrPathNotFound, false);
    fs_->nodes[key] = NewNode(*fs_, p.parts.back(), true);
    return true;
}

bool FakeFiles::DeleteFile(const std::string& path) {
    if (Fails("DeleteFile", path, kErrAccessDenied)) return false;
    ParsedPath p;
    if (uint32_t e = ParsePathCode(*fs_, path, p, false)) return Failed(e, false);
    const std::string key = PathKey(p);
    auto n = Find(*fs_, key);
    if (!n) return Failed(MissingError(*fs_, p), false);
    if (n->dir || (n->attributes & 1) || n->locked) return Failed(kErrAccessDenied, false);
    if (!n->opens.empty()) return Failed(kErrSharingViolation, false);
    fs_->nodes.erase(key);
    return true;
}

bool FakeFiles::RenameUncounted(const std::string& from, const std::string& to) {
    return Rename(from, to);
}

bool FakeFiles::MoveFile(const std::string& from, const std::string& to) {
    if (Fails("MoveFile", from + " -> " + to, kErrAccessDenied)) return false;
    return Rename(from, to);
}

bool FakeFiles::Rename(const std::string& from, const std::string& to) {
    ParsedPath src, dst;
    if (uint32_t e = ParsePathCode(*fs_, from, src, false)) return Failed(e, false);
    if (uint32_t e = ParsePathCode(*fs_, to, dst, false)) return Failed(e, false);
    const std::string srcKey = PathKey(src), dstKey = PathKey(dst);
    auto n = Find(*fs_, srcKey);
    if (!n) return Failed(MissingError(*fs_, src), false);
    if (src.parts.empty() || dst.parts.empty()) return Failed(kErrAccessDenied, false);
    if (!n->opens.empty()) return Failed(kErrSharingViolation, false);
    if (dstKey == srcKey) {  // a change of letter case only
        n->name = dst.parts.back();
        return true;
    }
    if (Find(*fs_, dstKey)) return Failed(kErrAlreadyExists, false);
    if (!Parent(*fs_, dst)) return Failed(kErrPathNotFound, false);
    std::vector<std::string> moving{srcKey};
    if (n->dir) {
        if (IsInside(dstKey, srcKey)) return Failed(kErrAccessDenied, false);
        for (const auto& entry : fs_->nodes) {
            if (!IsInside(entry.first, srcKey)) continue;
            if (!entry.second->opens.empty()) return Failed(kErrAccessDenied, false);
            moving.push_back(entry.first);
        }
    }
    for (const auto& key : moving) {
        auto node = fs_->nodes[key];
        fs_->nodes.erase(key);
        fs_->nodes[dstKey + key.substr(srcKey.size())] = node;
    }
    n->name = dst.parts.back();
    return true;
}

bool FakeFiles::ReplaceFile(const std::string& from, const std::string& to) {
    if (Fails("ReplaceFile", from + " -> " + to, kErrAccessDenied)) return false;
    ParsedPath src, dst;
    if (uint32_t e = ParsePathCode(*fs_, from, src, false)) return Failed(e, false);
    if (uint32_t e = ParsePathCode(*fs_, to, dst, false)) return Failed(e, false);
    auto n = Find(*fs_, PathKey(src));
    if (!n || n->dir) return Failed(n ? kErrAccessDenied : MissingError(*fs_, src), false);
    if (!n->opens.empty()) return Failed(kErrSharingViolation, false);
    const std::string dstKey = PathKey(dst);
    if (dstKey != PathKey(src)) {
        if (auto old = Find(*fs_, dstKey)) {
            if (old->dir || old->locked) return Failed(kErrAccessDenied, false);
            if (!old->opens.empty()) return Failed(kErrSharingViolation, false);
            fs_->nodes.erase(dstKey);
        }
    }
    return Rename(from, to);  // the replaced file is gone: the rest is a plain rename
}

bool FakeFiles::CreateHardLink(const std::string& link, const std::string& existing) {
    if (Fails("CreateHardLink", link + " -> " + existing, kErrAccessDenied)) return false;
    ParsedPath src, dst;
    if (uint32_t e = ParsePathCode(*fs_, existing, src, false)) return Failed(e, false);
    if (uint32_t e = ParsePathCode(*fs_, link, dst, false)) return Failed(e, false);
    auto s = Find(*fs_, PathKey(src));
    if (!s) return Failed(MissingError(*fs_, src), false);
    if (s->dir) return Failed(kErrAccessDenied, false);
    // A node keeps one name: a link under another name fails as on a file system without
    // links (ERROR_INVALID_FUNCTION), and so does one to another root.
    if (!fs_->hardLinks || src.root != dst.root || UpperName(s->name) != UpperName(dst.parts.back()))
        return Failed(1u, false);
    const std::string dstKey = PathKey(dst);
    if (Find(*fs_, dstKey)) return Failed(kErrAlreadyExists, false);
    if (!Parent(*fs_, dst)) return Failed(kErrPathNotFound, false);
    fs_->nodes[dstKey] = s;
    return true;
}

bool FakeFiles::RemoveDirectory(const std::string& path) {
    if (Fails("RemoveDirectory", path, kErrAccessDenied)) return false;
    ParsedPath p;
    if (uint32_t e = ParsePathCode(*fs_, path, p, false)) return Failed(e, false);
    const std::string key = PathKey(p);
    auto n = Find(*fs_, key);
    if (!n) return Failed(MissingError(*fs_, p), false);
    if (!n->dir || p.parts.empty()) return Failed(n->dir ? kErrAccessDenied : 267u, false);  // ERROR_DIRECTORY
    for (const auto& entry : fs_->nodes)
        if (entry.first != key && IsInside(entry.first, key)) return Failed(kErrDirNotEmpty, false);
    fs_->nodes.erase(key);
    return true;
}

void FakeFiles::SetHardLinks(bool supported) { fs_->hardLinks = supported; }

bool FakeFiles::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
    if (Fails("CopyFile", from + " -> " + to, kErrAccessDenied)) return false;
    ParsedPath src, dst;
    if (uint32_t e = ParsePathCode(*fs_, from, src, false)) return Failed(e, false);
    if (uint32_t e = ParsePathCode(*fs_, to, dst, false)) return Failed(e, false);
    auto s = Find(*fs_, PathKey(src));
    if (!s) return Failed(MissingError(*fs_, src), false);
    if (s->dir) return Failed(kErrAccessDenied, false);
    if (!SharingAllows(*s, kRead, kRead)) return Failed(kErrSharingViolation, false);
    const std::string dstKey = PathKey(dst);
    auto d = Find(*fs_, dstKey);
    if (d) {
        if (failIfExists) return Failed(kErrFileExists, false);
        if (d->dir || (d->attributes & 1)) return Failed(kErrAccessDenied, false);
        if (d->locked || !d->opens.empty() || d == s) return Failed(kErrSharingViolation, false);
    } else {
        if (!Parent(*fs_, dst)) return Failed(kErrPathNotFound, false);
        d = NewNode(*fs_, dst.parts.back(), false);
        fs_->nodes[dstKey] = d;
    }
    d->content = s->content;
    d->attributes = s->attributes | 0x20;
    d->written = s->written;
    return true;
}

std::unique_ptr<File> FakeFiles::Open(const std::string& path, OpenMode mode) {
    if (Fails("Open", path, kErrSharingViolation)) return nullptr;
    uint32_t access = 0, share = 0;
    bool create = false;
    switch (mode) {
    case OpenMode::Read: access = kRead; break;
    case OpenMode::ReadShared: access = kRead; share = kRead | kWrite; break;
    case OpenMode::ReadWrite: access = kRead | kWrite; share = kRead | kWrite; break;
    case OpenMode::CreateWrite: access = kWrite; share = kRead; create = true; break;
    case OpenMode::CreateReadWrite: access = kRead | kWrite; create = true; break;
    case OpenMode::ReadLocked: access = kRead; share = kRead; break;
    }
    ParsedPath p;
    if (uint32_t e = ParsePathCode(*fs_, path, p, false)) return Failed(e, nullptr);
    const std::string key = PathKey(p);
    auto n = Find(*fs_, key);
    if (n) {
        if (n->dir) return Failed(kErrAccessDenied, nullptr);
        if ((access & kWrite) && (n->attributes & 1)) return Failed(kErrAccessDenied, nullptr);
        if ((access & kWrite) && n->locked) return Failed(kErrSharingViolation, nullptr);
        if (!SharingAllows(*n, access, share)) return Failed(kErrSharingViolation, nullptr);
        if (create) {
            n->content.clear();
            n->written = fs_->now;
        }
    } else {
        if (!create) return Failed(MissingError(*fs_, p), nullptr);
        if (!Parent(*fs_, p)) return Failed(kErrPathNotFound, nullptr);
        n = NewNode(*fs_, p.parts.back(), false);
        fs_->nodes[key] = n;
    }
    const uint64_t id = fs_->nextOpenId++;
    n->opens[id] = {access, share};
    ++fs_->openFiles;
    return std::make_unique<FakeFile>(*this, calls_, *fs_, n, id, access, path, mode == OpenMode::ReadLocked);
}

bool FakeFiles::FindFiles(const std::string& mask, std::vector<FindData>& found) {
    found.clear();
    if (Fails("FindFiles", mask, kErrAccessDenied)) return false;
    if (!mask.empty() && (mask.back() == '\\' || mask.back() == '/'))
        return Failed(kErrFileNotFound, false);
    ParsedPath p;
    if (uint32_t e = ParsePathCode(*fs_, mask, p, true)) return Failed(e, false);
    if (p.parts.empty()) return Failed(kErrFileNotFound, false);
    std::string pattern = p.parts.back();
    if (pattern == "*.*") pattern = "*";
    ParsedPath folder = p;
    folder.parts.pop_back();
    const std::string folderKey = PathKey(folder);
    auto dir = Find(*fs_, folderKey);
    if (!dir || !dir->dir) return Failed(kErrPathNotFound, false);
    if (!folder.parts.empty()) {
        ParsedPath up = folder;
        up.parts.pop_back();
        auto parent = Find(*fs_, PathKey(up));
        if (WildcardMatch(pattern, ".", true)) found.push_back(ToFindData(*dir, "."));
        if (parent && WildcardMatch(pattern, "..", true)) found.push_back(ToFindData(*parent, ".."));
    }
    for (const auto& key : ChildKeys(*fs_, folderKey)) {
        const auto& n = *fs_->nodes[key];
        if (WildcardMatch(pattern, n.name, true)) found.push_back(ToFindData(n, n.name));
    }
    if (found.empty()) return Failed(kErrFileNotFound, false);
    return true;
}

bool FakeFiles::FileTimeToLocalFileTime(const FileTime& in, FileTime& out) {
    if (Fails("FileTimeToLocalFileTime", "", kErrInvalidParameter)) return false;
    const uint64_t v = (uint64_t{in.dwHighDateTime} << 32) | in.dwLowDateTime;
    const int64_t shift = int64_t{fs_->biasMinutes} * 60 * 10000000;
    if (v > 0x7FFFFFFFFFFFFFFFull) return Failed(kErrInvalidParameter, false);
    const int64_t local = static_cast<int64_t>(v) + shift;
    if (local < 0) return Failed(kErrInvalidParameter, false);
    out.dwLowDateTime = static_cast<uint32_t>(static_cast<uint64_t>(local));
    out.dwHighDateTime = static_cast<uint32_t>(static_cast<uint64_t>(local) >> 32);
    return true;
}

bool FakeFiles::FileTimeToSystemTime(const FileTime& in, SystemTime& out) {
    if (Fails("FileTimeToSystemTime", "", kErrInvalidParameter)) return false;
    if (!ToSystemTime(in, out)) return Failed(kErrInvalidParameter, false);
    return true;
}

// ---- Scene helpers

namespace {

// Creates the root and every folder of `p` that is missing.
void EnsureFolder(FsState& fs, const ParsedPath& p, const std::string& path) {
    ParsedPath partial{p.root, {}};
    auto& root = fs.nodes[PathKey(partial)];
    if (!root) root = NewNode(fs, p.root, true);
    for (const auto& part : p.parts) {
        partial.parts.push_back(part);
        auto& n = fs.nodes[PathKey(partial)];
        if (!n) n = NewNode(fs, part, true);
        if (!n->dir) throw std::invalid_argument("fake file system: a file is in the way: " + path);
    }
}

}  // namespace

void FakeFiles::AddRoot(const std::string& root) {
    ParsedPath p = MustParse(*fs_, root);
    p.parts.clear();
    EnsureFolder(*fs_, p, root);
}

void FakeFiles::SetCurrentDirectory(const std::string& path) { fs_->cwd = MustParse(*fs_, path); }

void FakeFiles::MakeDirectory(const std::string& path) { EnsureFolder(*fs_, MustParse(*fs_, path), path); }

void FakeFiles::WriteFile(const std::string& path, const std::string& bytes) {
    const ParsedPath p = MustParse(*fs_, path);
    if (p.parts.empty()) throw std::invalid_argument("fake file system: not a file: " + path);
    ParsedPath folder = p;
    folder.parts.pop_back();
    EnsureFolder(*fs_, folder, path);
    auto& n = fs_->nodes[PathKey(p)];
    if (!n) n = NewNode(*fs_, p.parts.back(), false);
    if (n->dir) throw std::invalid_argument("fake file system: a folder is in the way: " + path);
    n->content = bytes;
    n->written = fs_->now;
}

std::optional<std::string> FakeFiles::ReadFile(const std::string& path) const {
    ParsedPath p;
    if (!ParsePath(*fs_, path, p)) return std::nullopt;
    auto n = Find(*fs_, PathKey(p));
    if (!n || n->dir) return std::nullopt;
    return n->content;
}

bool FakeFiles::Exists(const std::string& path) const {
    ParsedPath p;
    return ParsePath(*fs_, path, p) && Find(*fs_, PathKey(p)) != nullptr;
}

bool FakeFiles::IsDirectory(const std::string& path) const {
    ParsedPath p;
    if (!ParsePath(*fs_, path, p)) return false;
    auto n = Find(*fs_, PathKey(p));
    return n && n->dir;
}

void FakeFiles::Remove(const std::string& path) {
    const std::string key = PathKey(MustParse(*fs_, path));
    for (auto it = fs_->nodes.begin(); it != fs_->nodes.end();) {
        if (it->first == key || IsInside(it->first, key))
            it = fs_->nodes.erase(it);
        else
            ++it;
    }
}

std::vector<std::string> FakeFiles::ListFolder(const std::string& path) const {
    std::vector<std::string> names;
    for (const auto& key : ChildKeys(*fs_, PathKey(MustParse(*fs_, path))))
        names.push_back(fs_->nodes.at(key)->name);
    return names;
}

namespace {
std::shared_ptr<FsNode> MustFind(const FsState& fs, const std::string& path) {
    auto n = Find(fs, PathKey(MustParse(fs, path)));
    if (!n) throw std::invalid_argument("fake file system: no such file: " + path);
    return n;
}
}  // namespace

void FakeFiles::Lock(const std::string& path, bool locked) { MustFind(*fs_, path)->locked = locked; }

void FakeFiles::SetLastWriteTime(const std::string& path, const FileTime& t) {
    MustFind(*fs_, path)->written = t;
}

std::optional<FileTime> FakeFiles::LastWriteTime(const std::string& path) const {
    ParsedPath p;
    if (!ParsePath(*fs_, path, p)) return std::nullopt;
    auto n = Find(*fs_, PathKey(p));
    if (!n) return std::nullopt;
    return n->written;
}

void FakeFiles::SetAttributes(const std::string& path, uint32_t attributes) {
    auto n = MustFind(*fs_, path);
    n->attributes = (attributes & ~FILE_ATTRIBUTE_DIRECTORY_) | (n->dir ? FILE_ATTRIBUTE_DIRECTORY_ : 0);
}

void FakeFiles::SetNow(const FileTime& t) { fs_->now = t; }
FileTime FakeFiles::Now() const { return fs_->now; }
void FakeFiles::SetTimeZoneBias(int minutes) { fs_->biasMinutes = minutes; }
int FakeFiles::OpenFileCount() const { return fs_->openFiles; }

std::string FakeFiles::FileKey(const std::string& path) const {
    ParsedPath p;
    return ParsePath(*fs_, path, p) ? PathKey(p) : UpperName(path);
}
void FakeFiles::SetMaxFileSize(uint64_t bytes) { fs_->maxFileSize = bytes; }

}  // namespace platform::fake
