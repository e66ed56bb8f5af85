#pragma once
// The double of the registry: keys and values set by the test, read through counted calls.
#include <memory>
#include <string>

#include "doubles/FakeCalls.h"
#include "platform/Platform.h"

namespace platform::fake {

class FakeRegistry : public Registry, private FakeService {
public:
    explicit FakeRegistry(FakeCalls& calls);
    ~FakeRegistry() override;
    FakeRegistry(const FakeRegistry&) = delete;
    FakeRegistry& operator=(const FakeRegistry&) = delete;

    void AddRegKey(RegRoot root, const std::string& key);
    void SetRegValue(RegRoot root, const std::string& key, const std::string& name, uint32_t type,
                     const std::string& data);
    // Stores the text with its terminating zero, as the registry holds it.
    void SetRegString(RegRoot root, const std::string& key, const std::string& name,
                      const std::string& text, uint32_t type = REG_SZ_);
    void SetRegKeyUnopenable(RegRoot root, const std::string& key);
    void SetRegValueUnreadable(RegRoot root, const std::string& key, const std::string& name,
                               long code = 5);
    int OpenKeyCount() const;

    RegKey OpenKeyRead(RegRoot root, const std::string& subKey) override;
    long QueryValue(const RegKey& key, const std::string& name, uint32_t& type,
                    std::string& data) override;
    void CloseKey(void* key) override;

    struct State;

private:
    std::unique_ptr<State> reg_;
};

}  // namespace platform::fake
