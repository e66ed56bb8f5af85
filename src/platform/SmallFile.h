#pragma once
// Reading a small file whole, with a cap, through the installed Files service.
#include <cstddef>
#include <string>

namespace platform {

// Reads the file at `path` whole into `bytes`: false for one over `limit` bytes (no more
// than a block past it is read), one that cannot be read or closed, and one that cannot be
// opened (`opened`, when given, then says false; `bytes` is then untouched).
bool ReadSmallFile(const std::string& path, std::string& bytes, size_t limit, bool* opened = nullptr);

}  // namespace platform
