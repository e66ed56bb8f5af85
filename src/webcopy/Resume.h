#pragma once
// A download kept after it broke off, so that a later try asks only for the rest. The part
// lies beside the target as "<target>.<hash>.partial", and "<target>.resume" records the
// exact key it belongs to (URL, the caller's key, the server's validator and the announced
// length); the hash in the name is the record's. At most one part per target: whatever else
// lies there under such names is removed before a part is taken up or started.
#include <cstdint>
#include <optional>
#include <string>

namespace webcopy {

struct PartialKey {
    std::string url;
    std::string owner;      // the job's ResumeKey
    std::string validator;  // strong ETag, else Last-Modified, as the server sent it
    uint64_t length = 0;    // of the whole file
    bool operator==(const PartialKey& o) const {
        return url == o.url && owner == o.owner && validator == o.validator && length == o.length;
    }
};

// The validator a part may be tied to: the ETag unless it is weak or absent, else the
// Last-Modified text; empty when neither serves.
std::string ResumeValidator(const std::string& etag, const std::string& lastModified);

// The record's text and its reading; a key with a line break in it has no record.
std::optional<std::string> KeyRecord(const PartialKey& key);
bool ParseKeyRecord(const std::string& text, PartialKey& key);

std::string RecordPath(const std::string& target);
std::string PartialPath(const std::string& target, const PartialKey& key);

// The request lines that ask for the rest from `offset`, given the part's validator.
std::string RangeHeaders(uint64_t offset, const std::string& validator);

struct ContentRange {
    uint64_t first = 0, last = 0, total = 0;
};
// "bytes FIRST-LAST/TOTAL" with first <= last < total; anything else is false.
bool ParseContentRange(const std::string& text, ContentRange& range);

// The kept part of one target, on the platform's file system.
class Partial {
public:
    Partial(std::string target, std::string url, std::string owner)
        : target_(std::move(target)), url_(std::move(url)), owner_(std::move(owner)) {}

    // The size of the part kept for this URL and owner (0 when there is none): a part whose
    // record names another URL or owner, or that is empty or not shorter than its file, is
    // removed with its record, and so is every other part of the target.
    uint64_t Load();
    // Starts a new part for `key`: the old ones go, the record is written. False when the
    // key cannot be recorded (the download then goes without resume).
    bool Begin(const PartialKey& key);
    // Removes the record and every part of the target.
    void Discard();
    // The part has taken the target's place: only the record is left to remove.
    void Finish();

    const std::optional<PartialKey>& Key() const { return key_; }
    std::string Path() const { return key_ ? PartialPath(target_, *key_) : std::string(); }

private:
    void RemoveParts(const std::string& except);

    std::string target_, url_, owner_;
    std::optional<PartialKey> key_;
};

}  // namespace webcopy
