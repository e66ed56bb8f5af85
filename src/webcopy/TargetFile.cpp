#include "webcopy/TargetFile.h"

#include <vector>

#include "webcopy/Run.h"

namespace webcopy {

bool TargetFile::Create() {
    platform::Files& fs = platform::Fs();
    // A name no file has: a left-over of an earlier run is never opened, let alone kept.
    for (int n = 0; n < 1000 && !file_; ++n) {
        temp_ = target_ + ".part" + (n == 0 ? std::string() : std::to_string(n));
        if (fs.GetFileAttributes(temp_) != platform::INVALID_FILE_ATTRIBUTES_) continue;
        file_ = fs.Open(temp_, platform::OpenMode::CreateWrite);
        if (!file_) break;
    }
    if (!file_) temp_.clear();
    return file_ != nullptr;
}

bool TargetFile::CreateAt(const std::string& path, uint64_t keep) {
    Discard();
    platform::Files& fs = platform::Fs();
    file_ = fs.Open(path, keep == 0 ? platform::OpenMode::CreateWrite : platform::OpenMode::ReadWrite);
    if (file_ && keep > 0 && file_->Seek(0, 2) != static_cast<int64_t>(keep)) {
        file_->Close();
        file_.reset();
    }
    if (file_) temp_ = path;
    return file_ != nullptr;
}

bool TargetFile::Keep() {
    if (!file_) return false;
    const bool closed = file_->Close();
    file_.reset();
    if (!closed) {
        Discard();
        return false;
    }
    temp_.clear();
    return true;
}

bool TargetFile::Write(const void* data, uint32_t size) {
    uint32_t written = 0;
    return file_ && file_->Write(data, size, written) && written == size;
}

bool TargetFile::Commit() {
    if (!file_) return false;
    const bool closed = file_->Close();
    file_.reset();
    if (closed && platform::Fs().ReplaceFile(temp_, target_)) {
        temp_.clear();
        return true;
    }
    Discard();
    return false;
}

ReceivedBody ReceiveBody(Run& run, TargetFile& file,
                         const std::function<bool(unsigned char*, uint32_t, uint32_t&)>& read,
                         uint32_t total, const std::string& operationWord, uint64_t before) {
    ReceivedBody body;
    const uint32_t startTick = platform::Sys().GetTickCount();
    std::vector<unsigned char> buffer(BlockPace::kLargeBlock);
    BlockPace pace;
    while (!run.Cancelled()) {
        const uint32_t size = pace.Size();
        uint32_t got = 0;
        if (!read(buffer.data(), size, got)) {
            body.readFailed = true;
            break;
        }
        if (got > 0 && !file.Write(buffer.data(), got)) {
            body.writeFailed = true;
            break;
        }
        body.bytes += got;
        // The closing empty read is always shown: the dialog ends on the whole count.
        run.UpdateProgress(ProgressValue(before + body.bytes), total, operationWord, startTick,
                           pace.Streaming() && got > 0);
        if (got == 0) break;
        pace.Moved(got, size);
    }
    if (!run.Cancelled()) run.FlushProgress();
    return body;
}

void TargetFile::Discard() {
    if (file_) file_->Close();
    file_.reset();
    if (!temp_.empty()) platform::Fs().DeleteFile(temp_);
    temp_.clear();
}

}  // namespace webcopy
