// The launcher's configuration block and its two readers. A generic launcher carries the
// block all zero; `publish brand` fills it in a copy, and a build with UPDATE_BASE_URL and
// UPDATE_PUBLIC_KEY fills it at compile time. Either way the launcher reads it here.
#include <string>

#include "branding/ConfigBlock.h"
#include "launcher/SignedUpdate.h"
#include "launcher/uStarter.h"

#ifndef UPDATE_BASE_URL
#define UPDATE_BASE_URL ""
#endif
#ifndef UPDATE_PUBLIC_KEY_BYTES
#define UPDATE_PUBLIC_KEY_BYTES 0
#endif

namespace {

struct ConfigBlock {
    char marker[branding::kMarkerSize];
    char url[branding::kUrlSize];
    unsigned char key[branding::kKeySize];
    unsigned char rest[branding::kBlockSize - branding::kKeyOffset - branding::kKeySize];
};
static_assert(sizeof(ConfigBlock) == branding::kBlockSize);

// Volatile: the compiler must read what the file holds, never fold in the build's values.
extern const volatile ConfigBlock launcherConfig;
__attribute__((used)) const volatile ConfigBlock launcherConfig = {
    BRANDING_MARKER, UPDATE_BASE_URL, {UPDATE_PUBLIC_KEY_BYTES}, {}};

struct Config {
    branding::BlockState state = branding::BlockState::Unset;
    std::string url, key;
};

const Config& Read() {
    static const Config config = [] {
        std::string block(branding::kBlockSize, '\0');
        const volatile char* bytes = reinterpret_cast<const volatile char*>(&launcherConfig);
        for (size_t i = 0; i < block.size(); ++i) block[i] = bytes[i];
        Config c;
        c.state = branding::ReadBlock(block, c.url, c.key);
        return c;
    }();
    return config;
}

}  // namespace

const char* UpdateBaseUrl() {
    // A damaged block points nowhere rather than somewhere unintended.
    return Read().state == branding::BlockState::Set ? Read().url.c_str() : "";
}

std::string UpdatePublicKey() {
    // A damaged block accepts no update: "-" is no key at all.
    if (Read().state == branding::BlockState::Malformed) return "-";
    return Read().key;
}
