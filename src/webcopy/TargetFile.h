#pragma once
// A transfer's local target, written under a temporary name in the target's folder and put
// in place only by Commit: a failed or cancelled transfer never leaves part of a file under
// the target's name, and a file already there survives it.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace webcopy {

class TargetFile {
public:
    explicit TargetFile(std::string target) : target_(std::move(target)) {}
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;
    ~TargetFile() { Discard(); }

    // Creates the temporary file beside the target (the folder must exist); false when it
    // cannot be created.
    bool Create();
    // The whole block, or false.
    bool Write(const void* data, uint32_t size);
    // Closes the temporary file and renames it over the target; false when either fails, and
    // then the temporary file is gone and the target is as it was.
    bool Commit();
    // Closes and deletes the temporary file (nothing when committed or never created).
    void Discard();

    const std::string& Target() const { return target_; }
    const std::string& TemporaryPath() const { return temp_; }

private:
    std::string target_;
    std::string temp_;
    std::unique_ptr<platform::File> file_;
};

}  // namespace webcopy
