// The registry of the doubles.
#include "doubles/FakeRegistry.h"

#include <map>

#include "doubles/FakeFiles.h"

namespace platform::fake {

struct RegValue {
    uint32_t type = 0;
    std::string data;
    long readError = 0;
};

struct FakeRegKey {
    bool unopenable = false;
    std::map<std::string, RegValue> values;  // by upper-cased name
};

struct FakeRegistry::State {
    std::map<std::pair<int, std::string>, FakeRegKey> keys;
    std::map<void*, std::pair<int, std::string>> open;
    uint64_t nextHandle = 1;
};

FakeRegistry::FakeRegistry(FakeCalls& calls) : FakeService(calls), reg_(std::make_unique<State>()) {}
FakeRegistry::~FakeRegistry() = default;

namespace {

std::string KeyName(const std::string& key) {
    size_t b = 0, e = key.size();
    while (b < e && key[b] == '\\') ++b;
    while (e > b && key[e - 1] == '\\') --e;
    return UpperName(key.substr(b, e - b));
}

}  // namespace

void FakeRegistry::AddRegKey(RegRoot root, const std::string& key) {
    const std::string name = KeyName(key);
    // The parents exist too, as in the registry.
    for (size_t pos = name.find('\\'); pos != std::string::npos; pos = name.find('\\', pos + 1))
        reg_->keys[{static_cast<int>(root), name.substr(0, pos)}];
    reg_->keys[{static_cast<int>(root), name}];
}

void FakeRegistry::SetRegValue(RegRoot root, const std::string& key, const std::string& name,
                               uint32_t type, const std::string& data) {
    AddRegKey(root, key);
    reg_->keys[{static_cast<int>(root), KeyName(key)}].values[UpperName(name)] = {type, data, 0};
}

void FakeRegistry::SetRegString(RegRoot root, const std::string& key, const std::string& name,
                                const std::string& text, uint32_t type) {
    SetRegValue(root, key, name, type, text + std::string(1, '\0'));
}

void FakeRegistry::SetRegKeyUnopenable(RegRoot root, const std::string& key) {
    AddRegKey(root, key);
    reg_->keys[{static_cast<int>(root), KeyName(key)}].unopenable = true;
}

void FakeRegistry::SetRegValueUnreadable(RegRoot root, const std::string& key,
                                         const std::string& name, long code) {
    AddRegKey(root, key);
    auto& values = reg_->keys[{static_cast<int>(root), KeyName(key)}].values;
    auto it = values.find(UpperName(name));
    if (it == values.end()) it = values.emplace(UpperName(name), RegValue{REG_SZ_, std::string(1, '\0'), 0}).first;
    it->second.readError = code;
}

int FakeRegistry::OpenKeyCount() const { return static_cast<int>(reg_->open.size()); }

RegKey FakeRegistry::OpenKeyRead(RegRoot root, const std::string& subKey) {
    if (Fails("OpenKeyRead", subKey, kErrAccessDenied)) return nullptr;
    const std::pair<int, std::string> id{static_cast<int>(root), KeyName(subKey)};
    auto it = reg_->keys.find(id);
    if (it == reg_->keys.end()) return Failed(kErrFileNotFound, nullptr);
    if (it->second.unopenable) return Failed(kErrAccessDenied, nullptr);
    void* h = reinterpret_cast<void*>(static_cast<uintptr_t>(0x20000 + 0x10 * reg_->nextHandle++));
    reg_->open[h] = id;
    return OwnKey(h);
}

long FakeRegistry::QueryValue(const RegKey& key, const std::string& name, uint32_t& type,
                              std::string& data) {
    if (Fails("QueryValue", name, kErrAccessDenied)) return static_cast<long>(kErrAccessDenied);
    auto h = reg_->open.find(key.get());
    if (h == reg_->open.end()) return static_cast<long>(kErrInvalidHandle);
    const auto& values = reg_->keys[h->second].values;
    auto it = values.find(UpperName(name));
    if (it == values.end()) return static_cast<long>(kErrFileNotFound);
    if (it->second.readError != 0) return it->second.readError;
    type = it->second.type;
    data = it->second.data;
    return 0;
}

// RegCloseKey's result is not part of the interface: an injected failure changes nothing.
void FakeRegistry::CloseKey(void* key) {
    Fails("CloseKey", "", 0);
    reg_->open.erase(key);
}

}  // namespace platform::fake
