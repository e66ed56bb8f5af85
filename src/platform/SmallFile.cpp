#include "platform/SmallFile.h"

#include "platform/Platform.h"

namespace platform {

// Read in blocks to the end rather than trusting the size asked first: a file may grow
// while it is read, and the cap must hold for what is actually read.
bool ReadSmallFile(const std::string& path, std::string& bytes, size_t limit, bool* opened) {
    auto file = Fs().Open(path, OpenMode::Read);
    if (opened) *opened = file != nullptr;
    if (!file) return false;
    bytes.clear();
    char buf[4096];
    for (;;) {
        uint32_t got = 0;
        if (!file->Read(buf, sizeof buf, got)) return false;
        if (got == 0) break;
        bytes.append(buf, got);
        if (bytes.size() > limit) return false;
    }
    return file->Close();
}

}  // namespace platform
