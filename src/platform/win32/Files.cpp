// Local files through the ANSI file functions.
#include <cstring>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Win.h"

namespace platform::win32 {
namespace {

// Writes are gathered into 64 KiB before they reach the file (small WriteFile calls are
// costly under Wine). Any other operation flushes first; a failed flush fails that
// operation, Close included.
class Win32File final : public File {
public:
    explicit Win32File(HANDLE h) : h_(h) {}
    ~Win32File() override {
        if (h_ == INVALID_HANDLE_VALUE) return;
        Flush();
        ::CloseHandle(h_);
    }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    bool Read(void* buf, uint32_t size, uint32_t& got) override {
        got = 0;
        if (!Flush()) return false;
        DWORD n = 0;
        const BOOL ok = ::ReadFile(h_, buf, size, &n, nullptr);
        got = n;
        return ok != FALSE;
    }
    bool Write(const void* buf, uint32_t size, uint32_t& written) override {
        written = 0;
        if (size == 0) return true;
        if (pending_ + size > kWriteBuffer && !Flush()) return false;
        if (size >= kWriteBuffer) {
            DWORD n = 0;
            const BOOL ok = ::WriteFile(h_, buf, size, &n, nullptr);
            written = n;
            return ok != FALSE;
        }
        if (!buffer_) buffer_.reset(new char[kWriteBuffer]);
        std::memcpy(buffer_.get() + pending_, buf, size);
        pending_ += size;
        written = size;
        return true;
    }
    int64_t Seek(int64_t offset, int origin) override {
        if (!Flush()) return -1;
        if (origin < 0 || origin > 2) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
        }
        LARGE_INTEGER distance, pos;
        distance.QuadPart = offset;
        if (!::SetFilePointerEx(h_, distance, &pos, static_cast<DWORD>(origin))) return -1;
        return pos.QuadPart;
    }
    int64_t Size() override {
        LARGE_INTEGER size;
        if (!Flush() || !::GetFileSizeEx(h_, &size)) return -1;
        return size.QuadPart;
    }
    bool GetLastWriteTime(FileTime& ft) override {
        FILETIME w;
        if (!Flush() || !::GetFileTime(h_, nullptr, nullptr, &w)) return false;
        ft = ToFileTime(w);
        return true;
    }
    bool Close() override {
        if (h_ == INVALID_HANDLE_VALUE) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        const bool flushed = Flush();
        const DWORD flushError = ::GetLastError();
        const BOOL closed = ::CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        if (!flushed) {
            ::SetLastError(flushError);
            return false;
        }
        return closed != FALSE;
    }
    bool RenameTo(const std::string& to) override {
        if (!Flush()) return false;
        const int chars = ::MultiByteToWideChar(CP_ACP, 0, to.c_str(), -1, nullptr, 0);
        if (chars <= 0) return false;
        // The structure ends in the name; room for it and its zero.
        std::vector<char> bytes(sizeof(FILE_RENAME_INFO) + sizeof(WCHAR) * static_cast<size_t>(chars));
        auto* info = reinterpret_cast<FILE_RENAME_INFO*>(bytes.data());
        info->ReplaceIfExists = FALSE;
        info->RootDirectory = nullptr;
        if (::MultiByteToWideChar(CP_ACP, 0, to.c_str(), -1, info->FileName, chars) != chars)
            return false;
        info->FileNameLength = static_cast<DWORD>(sizeof(WCHAR) * static_cast<size_t>(chars - 1));
        // Looked up, not imported: a system without it still runs the program, and a rename
        // through a handle then fails like any other.
        using SetInfoFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
        static const auto setInfo = reinterpret_cast<SetInfoFn>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle")));
        if (!setInfo) {
            ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return false;
        }
        return setInfo(h_, FileRenameInfo, info, static_cast<DWORD>(bytes.size())) != FALSE;
    }

private:
    static constexpr DWORD kWriteBuffer = 64 * 1024;

    // Drops the gathered bytes also when they cannot be written, so a failure is reported once.
    bool Flush() {
        if (pending_ == 0) return true;
        DWORD n = 0;
        BOOL ok = ::WriteFile(h_, buffer_.get(), pending_, &n, nullptr);
        if (ok && n != pending_) {
            ok = FALSE;
            ::SetLastError(ERROR_DISK_FULL);
        }
        pending_ = 0;
        return ok != FALSE;
    }

    HANDLE h_;
    std::unique_ptr<char[]> buffer_;
    DWORD pending_ = 0;
};

class Win32Files final : public Files {
public:
    uint32_t GetFileAttributes(const std::string& path) override {
        return ::GetFileAttributesA(path.c_str());
    }
    bool FileExists(const std::string& path) override {
        const DWORD a = ::GetFileAttributesA(path.c_str());
        return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool DirectoryExists(const std::string& path) override {
        const DWORD a = ::GetFileAttributesA(path.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool CreateDirectory(const std::string& path) override {
        return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE;
    }
    bool DeleteFile(const std::string& path) override { return ::DeleteFileA(path.c_str()) != FALSE; }
    bool MoveFile(const std::string& from, const std::string& to) override {
        return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
    }

    bool ReplaceFile(const std::string& from, const std::string& to) override {
        return ::MoveFileExA(from.c_str(), to.c_str(),
                             MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override {
        return ::CopyFileA(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != FALSE;
    }
    bool CreateHardLink(const std::string& link, const std::string& existing) override {
        return ::CreateHardLinkA(link.c_str(), existing.c_str(), nullptr) != FALSE;
    }
    bool RemoveDirectory(const std::string& path) override { return ::RemoveDirectoryA(path.c_str()) != FALSE; }
    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
        DWORD access = 0, share = 0, disposition = 0;
        switch (mode) {
        case OpenMode::Read:
            access = GENERIC_READ;
            disposition = OPEN_EXISTING;
            break;
        case OpenMode::ReadShared:
            access = GENERIC_READ;
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            disposition = OPEN_EXISTING;
            break;
        case OpenMode::ReadWrite:
            access = GENERIC_READ | GENERIC_WRITE;
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            disposition = OPEN_EXISTING;
            break;
        case OpenMode::CreateWrite:
            // Others may watch a file while it is being written.
            access = GENERIC_WRITE;
            share = FILE_SHARE_READ;
            disposition = CREATE_ALWAYS;
            break;
        case OpenMode::CreateReadWrite:
            access = GENERIC_READ | GENERIC_WRITE;
            disposition = CREATE_ALWAYS;
            break;
        case OpenMode::ReadLocked:
            // DELETE for the rename through this handle; no one else may share write or delete.
            access = GENERIC_READ | DELETE;
            share = FILE_SHARE_READ;
            disposition = OPEN_EXISTING;
            break;
        }
        HANDLE h = ::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<Win32File>(h);
    }
    bool FindFiles(const std::string& mask, std::vector<FindData>& found) override {
        found.clear();
        WIN32_FIND_DATAA data;
        HANDLE h = ::FindFirstFileA(mask.c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) return false;
        do {
            found.push_back(ToFindData(data));
        } while (::FindNextFileA(h, &data));
        ::FindClose(h);
        return true;
    }
    bool FileTimeToLocalFileTime(const FileTime& in, FileTime& out) override {
        const FILETIME utc = ToFILETIME(in);
        FILETIME local;
        if (!::FileTimeToLocalFileTime(&utc, &local)) return false;
        out = ToFileTime(local);
        return true;
    }
    bool FileTimeToSystemTime(const FileTime& in, SystemTime& out) override {
        const FILETIME ft = ToFILETIME(in);
        SYSTEMTIME st;
        if (!::FileTimeToSystemTime(&ft, &st)) return false;
        out = ToSystemTime(st);
        return true;
    }
};

}  // namespace

}  // namespace platform::win32

namespace platform {

Files& DefaultFiles() {
    static win32::Win32Files files;
    return files;
}

}  // namespace platform
