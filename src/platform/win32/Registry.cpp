// Read-only registry access.
#include "platform/Platform.h"
#include "platform/win32/Win.h"

namespace platform::win32 {
namespace {

class Win32Registry final : public Registry {
public:
    RegKey OpenKeyRead(RegRoot root, const std::string& subKey) override {
        HKEY parent = root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        HKEY key = nullptr;
        const LONG rc = ::RegOpenKeyExA(parent, subKey.c_str(), 0, KEY_READ, &key);
        if (rc != ERROR_SUCCESS) {
            ::SetLastError(static_cast<DWORD>(rc));
            return nullptr;
        }
        return OwnKey(key);
    }

    long QueryValue(const RegKey& key, const std::string& name, uint32_t& type,
                    std::string& data) override {
        HKEY k = static_cast<HKEY>(key.get());
        // The value may grow between the size query and the read; ask again then.
        for (int attempt = 0; attempt < 4; ++attempt) {
            DWORD t = 0, size = 0;
            LONG rc = ::RegQueryValueExA(k, name.c_str(), nullptr, &t, nullptr, &size);
            if (rc != ERROR_SUCCESS) return rc;
            std::string buf(size, '\0');
            rc = ::RegQueryValueExA(k, name.c_str(), nullptr, &t,
                                    reinterpret_cast<BYTE*>(buf.empty() ? nullptr : &buf[0]),
                                    &size);
            if (rc == ERROR_MORE_DATA) continue;
            if (rc != ERROR_SUCCESS) return rc;
            buf.resize(size);
            type = t;
            data = std::move(buf);
            return ERROR_SUCCESS;
        }
        return ERROR_MORE_DATA;
    }

    void CloseKey(void* key) override {
        if (key) ::RegCloseKey(static_cast<HKEY>(key));
    }
};

}  // namespace

}  // namespace platform::win32

namespace platform {

Registry& DefaultRegistry() {
    static win32::Win32Registry reg;
    return reg;
}

}  // namespace platform
