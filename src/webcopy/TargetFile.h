#pragma once
// A transfer's local target, written under a temporary name in the target's folder and put
// in place only by Commit: a failed or cancelled transfer never leaves part of a file under
// the target's name, and a file already there survives it. ReceiveBody is the block loop
// of the downloads that write one.
#include <cstdint>
#include <functional>
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
    // Writes into the named file beside the target instead (a download's kept part): a new
    // one when `keep` is 0, else the existing one from its end, which must be `keep` bytes.
    bool CreateAt(const std::string& path, uint64_t keep);
    // The whole block, or false.
    bool Write(const void* data, uint32_t size);
    // Closes the temporary file and renames it over the target; false when either fails, and
    // then the temporary file is gone and the target is as it was.
    bool Commit();
    // Closes and deletes the temporary file (nothing when committed or never created).
    void Discard();
    // Closes the temporary file and leaves it where it is; false when the close failed
    // (the file is deleted then, as what it holds is not known).
    bool Keep();

    const std::string& Target() const { return target_; }
    const std::string& TemporaryPath() const { return temp_; }

private:
    std::string target_;
    std::string temp_;
    std::unique_ptr<platform::File> file_;
};

class Run;

// How a download's block loop ended.
struct ReceivedBody {
    uint64_t bytes = 0;
    bool readFailed = false;
    bool writeFailed = false;
};

// Reads a body into `file` in blocks paced by BlockPace until its end (a read of 0 bytes), a
// failure or the user's cancel, with OnCopyProgress after every block, the closing empty read
// included. `read` returns what has arrived, up to `size` bytes, in `got`; false when the
// read failed.
// `before`: bytes of the file that an earlier try received, counted in the progress.
ReceivedBody ReceiveBody(Run& run, TargetFile& file,
                         const std::function<bool(unsigned char* buffer, uint32_t size,
                                                  uint32_t& got)>& read,
                         uint32_t total, const std::string& operationWord, uint64_t before = 0);

}  // namespace webcopy
