#pragma once
// N.log beside N.dat: one line per launcher run, newest last, for the vendor asked why a
// client does not update. The customer never sees it: a log that cannot be read or written
// changes nothing the launcher does.
//
//   2026-12-09 08:15:02 | installed | local 2026-12-01 10:00:00 | server 2026-12-08 10:00:00 |
//   fetched Kassa.txt 21, Kassa.bin 48640 | from http://updates.example.com/kassa/
//
// (one line). Fields are separated by " | " and always present, "-" when unknown.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/NetTypes.h"

// The whole file stays under this: the oldest lines go first.
inline constexpr size_t kMaxLogBytes = 64 * 1024;

// `url` without what must never reach a log: the user name and password before the host,
// the query and the fragment.
std::string ScrubUrl(const std::string& url);

class RunLog {
public:
    // Starts the line of a run that began at `at` (local time) against `baseUrl`.
    void Begin(const platform::SystemTime& at, const std::string& baseUrl);
    void Local(const std::string& stamp) { local_ = stamp; }
    void Server(const std::string& stamp) { server_ = stamp; }
    // One download: the file's name, the bytes that arrived and, for a run of many files,
    // how many of them came.
    void Fetched(const std::string& name, uint64_t bytes, const std::string& note = std::string());
    // What the run came to, in a fixed word set: "up to date", "installed", "offline",
    // "stalled", "refused: <why>", "rolled back: <why>", "failed: <why>". The last one set
    // counts.
    void Outcome(const std::string& text) { outcome_ = text; }
    const std::string& Outcome() const { return outcome_; }

    std::string Line() const;
    // Appends the line to the log at `path`, written under a temporary name and put in
    // place whole. Never throws; a failure leaves the log as it was.
    void Write(const std::string& path) const;

private:
    std::string time_, from_, local_, server_, fetched_, outcome_;
};
