// Resume of a broken HTTP download and the stall limit, against the scripted server.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "RunFixture.h"
#include "webcopy/Resume.h"

namespace {

using platform::fake::HttpRequest;
using platform::fake::HttpResponse;

const char kUrl[] = "http://srv/dir/a.bin";
const char kTarget[] = "C:\\dl\\a.bin";

// A server of one file that answers "Range: bytes=N-" with the rest when If-Range names its
// validator, and cuts the n-th answer's body off at the absolute offset cuts[n].
struct RangeServer {
    explicit RangeServer(std::string bytes) : body(std::move(bytes)) {}
    std::string body;
    std::string etag = "\"v1\"";
    std::map<size_t, uint64_t> cuts;
    bool ignoreIfRange = false;  // a server that sends the range whatever the validator
    size_t answered = 0;

    HttpResponse operator()(const HttpRequest& rq) {
        const size_t n = answered++;
        HttpResponse r;
        r.etag = etag;
        uint64_t from = 0;
        const size_t at = rq.headers.find("Range: bytes=");
        if (at != std::string::npos) {
            const uint64_t asked = std::stoull(rq.headers.substr(at + 13));
            const bool same = rq.headers.find("If-Range: " + etag + "\r\n") != std::string::npos;
            if (same || ignoreIfRange) from = asked;
        }
        if (from > 0) {
            r.status = 206;
            r.contentRange = "bytes " + std::to_string(from) + "-" +
                             std::to_string(body.size() - 1) + "/" + std::to_string(body.size());
        }
        r.body = body.substr(from);
        if (cuts.count(n)) r.failReadAfter = cuts[n] - from;
        return r;
    }
};

class Resume : public WebCopyRun {
protected:
    void SetUp() override {
        WebCopyRun::SetUp();
        RecordEvents();
    }
    void Serve(RangeServer& server) {
        fake.SetHttpHandler(kUrl, [&server](const HttpRequest& rq) { return server(rq); });
    }
    TWebCopyItem& AddJob(const std::string& key = "k1") {
        TWebCopyItem& item = AddHttp(kUrl);
        item.Resume = true;
        item.ResumeKey = key;
        return item;
    }
    // The names in C:\dl other than a.bin.
    std::vector<std::string> LeftOver() {
        std::vector<std::string> names = fake.ListFolder("C:\\dl");
        names.erase(std::remove(names.begin(), names.end(), "a.bin"), names.end());
        return names;
    }
    std::string PartialBytes() {
        for (const auto& name : LeftOver())
            if (name.size() > 8 && name.compare(name.size() - 8, 8, ".partial") == 0)
                return fake.ReadFile("C:\\dl\\" + name).value_or("");
        return "(none)";
    }
    std::vector<std::string> RangesAsked() {
        std::vector<std::string> ranges;
        for (const auto& rq : fake.HttpRequests()) ranges.push_back(rq.headers);
        return ranges;
    }
};

std::string RangeOf(uint64_t from, const std::string& etag = "\"v1\"") {
    return "Range: bytes=" + std::to_string(from) + "-\r\nIf-Range: " + etag + "\r\n";
}

TEST_F(Resume, BreaksAreContinuedInTheRunAndByTheNextRun) {
    fake.WriteFile(kTarget, "old");
    RangeServer server{Body(20000)};
    server.cuts = {{0, 4000}, {1, 9000}, {2, 12000}};  // three breaks: the first run gives up
    Serve(server);
    AddJob();
    wc->Execute();
    EXPECT_FALSE(wc->Items[0].Done);
    EXPECT_EQ(fake.ReadFile(kTarget), "old");
    EXPECT_EQ(RangesAsked(), (std::vector<std::string>{"", RangeOf(4000), RangeOf(9000)}));
    EXPECT_TRUE(PartialBytes() == Body(20000).substr(0, 12000)) << PartialBytes().size();
    EXPECT_GE(fake.TotalSleptMs(), 2000u) << "a pause before each of the two retries";
    EXPECT_EQ(std::count(events.begin(), events.end(),
                         "Info 4 Error reading source file " + std::string(kUrl)),
              1) << "reported once, after the last try";

    wc->Execute();  // the next run asks only for the rest
    EXPECT_TRUE(wc->Items[0].Done);
    EXPECT_EQ(RangesAsked().back(), RangeOf(12000));
    EXPECT_TRUE(fake.ReadFile(kTarget) == Body(20000));
    EXPECT_EQ(LeftOver(), std::vector<std::string>{}) << "the part and its record go";
}

TEST_F(Resume, ANewFileOnTheServerIsFetchedWhole) {
    RangeServer server{Body(20000)};
    server.cuts = {{0, 5000}, {1, 6000}, {2, 7000}};
    Serve(server);
    AddJob();
    wc->Execute();
    ASSERT_EQ(PartialBytes().size(), 7000u);

    // The file changed: If-Range no longer matches and the server sends all of it.
    RangeServer changed{std::string(15000, 'n')};
    changed.etag = "\"v2\"";
    Serve(changed);
    wc->Execute();
    EXPECT_TRUE(wc->Items[0].Done);
    EXPECT_EQ(RangesAsked().back(), RangeOf(7000));
    EXPECT_TRUE(fake.ReadFile(kTarget) == std::string(15000, 'n'));
    EXPECT_EQ(LeftOver(), std::vector<std::string>{});
}

TEST_F(Resume, ARangeThatIsNotTheRestAskedForIsRefused) {
    struct Case {
        const char* why;
        std::function<void(HttpResponse&)> spoil;
    };
    const Case cases[] = {
        {"another start", [](HttpResponse& r) { r.contentRange = "bytes 0-19999/20000"; }},
        {"another total", [](HttpResponse& r) { r.contentRange = "bytes 7000-29999/30000"; }},
        {"not to the end", [](HttpResponse& r) { r.contentRange = "bytes 7000-8999/20000"; }},
        {"no range", [](HttpResponse& r) { r.contentRange.reset(); }},
        {"another validator", [](HttpResponse& r) { r.etag = "\"v2\""; }},
        {"longer body", [](HttpResponse& r) { r.contentLength = 20000; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        wc->Items.Clear();
        fake.Remove("C:\\dl");
        fake.WriteFile(kTarget, "old");
        RangeServer server{Body(20000)};
        server.cuts = {{0, 5000}, {1, 6000}, {2, 7000}};
        Serve(server);
        AddJob();
        wc->Execute();
        ASSERT_EQ(PartialBytes().size(), 7000u);

        fake.SetHttpHandler(kUrl, [&server, &c](const HttpRequest& rq) {
            HttpResponse r = server(rq);
            c.spoil(r);
            return r;
        });
        events.clear();
        wc->Execute();
        EXPECT_FALSE(wc->Items[0].Done);
        EXPECT_EQ(fake.ReadFile(kTarget), "old");
        EXPECT_EQ(LeftOver(), std::vector<std::string>{}) << "the part is not trusted again";
        EXPECT_EQ(events, (std::vector<std::string>{"BeforeDialogShow", "FileStart 0", "Error 206",
                                                    "Info 206 Returned http error code 206",
                                                    "FileDone 0", "CopyDone"}));
    }
}

TEST_F(Resume, ARestWithoutLengthThatRunsPastTheEndIsRefused) {
    fake.WriteFile(kTarget, "old");
    RangeServer server{Body(20000)};
    server.cuts = {{0, 5000}, {1, 6000}, {2, 7000}};
    Serve(server);
    AddJob();
    wc->Execute();
    fake.SetHttpHandler(kUrl, [&server](const HttpRequest& rq) {
        HttpResponse r = server(rq);
        r.hasContentLength = false;
        r.body += "trailing bytes";
        return r;
    });
    wc->Execute();
    EXPECT_FALSE(wc->Items[0].Done);
    EXPECT_EQ(fake.ReadFile(kTarget), "old");
    EXPECT_EQ(LeftOver(), std::vector<std::string>{});
}

TEST_F(Resume, ARangeNobodyAskedForIsNoFile) {
    fake.WriteFile(kTarget, "old");
    HttpResponse r;
    r.status = 206;
    r.etag = "\"v1\"";
    r.contentRange = "bytes 0-99/20000";
    r.body = Body(100);
    fake.SetHttp(kUrl, r);
    AddHttp(kUrl);  // without resume as well
    wc->Execute();
    EXPECT_FALSE(wc->Items[0].Done);
    EXPECT_EQ(fake.ReadFile(kTarget), "old");
}

TEST_F(Resume, APartIsTakenUpOnlyForItsUrlAndKey) {
    RangeServer server{Body(20000)};
    server.cuts = {{0, 5000}, {1, 6000}, {2, 7000}};
    Serve(server);
    AddJob("stamp 1");
    wc->Execute();
    ASSERT_EQ(PartialBytes().size(), 7000u);

    server.cuts.clear();
    wc->Items.Clear();
    AddJob("stamp 2");  // a new release: the part of the old one is not continued
    wc->Execute();
    EXPECT_TRUE(wc->Items[0].Done);
    EXPECT_EQ(RangesAsked().back(), "");
    EXPECT_TRUE(fake.ReadFile(kTarget) == Body(20000));
    EXPECT_EQ(LeftOver(), std::vector<std::string>{});

    // A part planted beside the target with a record for another URL is removed unread.
    const webcopy::PartialKey other{"http://evil/a.bin", "stamp 2", "\"v1\"", 20000};
    fake.WriteFile(webcopy::RecordPath(kTarget), *webcopy::KeyRecord(other));
    fake.WriteFile(webcopy::PartialPath(kTarget, other), "planted");
    wc->Execute();
    EXPECT_EQ(RangesAsked().back(), "");
    EXPECT_TRUE(fake.ReadFile(kTarget) == Body(20000));
    EXPECT_EQ(LeftOver(), std::vector<std::string>{});
}

TEST_F(Resume, WithoutValidatorOrLengthNothingIsKeptOrRetried) {
    for (bool lengthKnown : {true, false}) {
        SCOPED_TRACE(lengthKnown ? "no validator" : "no length");
        wc->Items.Clear();
        fake.ResetCalls();
        const size_t before = fake.HttpRequests().size();
        HttpResponse r;
        r.body = Body(20000);
        r.failReadAfter = 5000;
        if (lengthKnown) {
            r.etag = "W/\"weak\"";  // a weak tag cannot tie bytes together
        } else {
            r.etag = "\"v1\"";
            r.hasContentLength = false;
        }
        fake.SetHttp(kUrl, r);
        AddJob();
        wc->Execute();
        EXPECT_FALSE(wc->Items[0].Done);
        EXPECT_EQ(fake.HttpRequests().size(), before + 1);
        EXPECT_EQ(LeftOver(), std::vector<std::string>{});
        EXPECT_FALSE(fake.Exists(kTarget));
    }
}

TEST_F(Resume, ATrickleEndsAtTheTimeLimitOrBelowTheMinimumRate) {
    struct Case {
        const char* why;
        int timeLimit;
        uint32_t minBytes;
        uint32_t bytesPerRead;
        uint32_t msPerRead;
        bool done;
        uint32_t maxSeconds;
    };
    const Case cases[] = {
        {"a stamp file a byte every 5 s, 30 s limit", 30, 0, 1, 5000, false, 31},
        {"a program 100 bytes every 5 s, 1 KiB per window", 0, 1024, 100, 5000, false, 41},
        {"a program 2 KiB every 5 s, 1 KiB per window", 0, 1024, 2048, 5000, true, 100},
        {"a program in whole blocks every 5 s, 1 KiB per window", 0, 1024, 4096, 5000, true, 100},
        {"a stamp file at once, 30 s limit", 30, 0, 4096, 10, true, 1},
        {"a byte every 5 s without limits", 0, 0, 100, 5000, true, 1100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        wc->Items.Clear();
        events.clear();
        HttpResponse r;
        r.body = Body(20000);
        r.readSize = c.bytesPerRead;
        r.onRead = [this, &c](uint64_t) { fake.AdvanceTicks(c.msPerRead); };
        fake.SetHttp(kUrl, r);
        AddHttp(kUrl);
        wc->StallTimeout = 20;
        wc->TimeLimit = c.timeLimit;
        wc->StallMinBytes = c.minBytes;
        const uint32_t ticks = fake.Ticks();
        const size_t before = fake.HttpRequests().size();
        wc->Execute();
        EXPECT_EQ(wc->Items[0].Done, c.done);
        EXPECT_LE(fake.Ticks() - ticks, c.maxSeconds * 1000u);
        EXPECT_EQ(fake.HttpRequests().size(), before + 1) << "a slow server is not asked again";
        EXPECT_EQ(std::count(events.begin(), events.end(), "Error 4"), c.done ? 0 : 1);
        EXPECT_EQ(wc->Items[0].Error.SystemError, c.done ? 0u : 12002u);
        fake.Remove("C:\\dl");
        fake.MakeDirectory("C:\\dl");
    }
}

TEST_F(Resume, ASilentServerFailsTheJobAfterTheStallLimit) {
    for (bool resume : {false, true}) {
        SCOPED_TRACE(resume ? "resume" : "plain");
        wc->Items.Clear();
        events.clear();
        fake.WriteFile(kTarget, "old");
        HttpResponse r;
        r.body = Body(20000);
        r.etag = "\"v1\"";
        r.stallAfter = 8192;
        fake.SetHttp(kUrl, r);
        AddHttp(kUrl).Resume = resume;
        wc->StallTimeout = 20;
        const size_t before = fake.HttpRequests().size();
        const uint32_t ticks = fake.Ticks();
        wc->Execute();
        EXPECT_FALSE(wc->Items[0].Done);
        EXPECT_EQ(fake.ReadFile(kTarget), "old");
        EXPECT_EQ(fake.HttpRequests().size(), before + 1) << "a stall is not retried";
        EXPECT_GE(fake.Ticks() - ticks, 20000u);
        EXPECT_LT(fake.Ticks() - ticks, 21000u);
        EXPECT_EQ(events[3], "Error 4");
        EXPECT_EQ(events[4], "Info 4 Error reading source file " + std::string(kUrl));
        // The report stays the read error; the record tells it was a stall.
        EXPECT_EQ(wc->Items[0].Error.Code, 4);
        EXPECT_TRUE(wc->Items[0].Error.ComponentCode);
        EXPECT_EQ(wc->Items[0].Error.SystemError, 12002u);
        // Kept for the next run, which a silent server is no reason to start from nothing.
        EXPECT_TRUE(PartialBytes() == (resume ? Body(8192) : "(none)")) << PartialBytes().size();
        fake.Remove("C:\\dl");
        fake.MakeDirectory("C:\\dl");
    }
    // A server that takes the request and never answers holds the job no longer either.
    wc->Items.Clear();
    events.clear();
    HttpResponse silent;
    silent.silent = true;
    fake.SetHttp(kUrl, silent);
    AddHttp(kUrl);
    const uint32_t ticks = fake.Ticks();
    wc->Execute();
    EXPECT_FALSE(wc->Items[0].Done);
    EXPECT_GE(fake.Ticks() - ticks, 20000u);
    EXPECT_EQ(events[2], "NotFound " + std::string(kUrl));
    // The session carries the limit as the library's own time-outs too.
    std::vector<std::string> timeouts;
    for (const auto& o : fake.OptionsSet())
        if (o.option == 2 || o.option == 5 || o.option == 6)
            timeouts.push_back(std::to_string(o.option) + "=" + o.value);
    EXPECT_EQ(timeouts, (std::vector<std::string>{"2=20000", "5=20000", "6=20000", "2=20000",
                                                  "5=20000", "6=20000", "2=20000", "5=20000",
                                                  "6=20000"}));
}

TEST_F(Resume, AnUploadTheServerStopsTakingFailsAsAStall) {
    fake.WriteFile("C:\\out\\a.txt", Body(20000));
    fake.AddHttpHost("srv");
    fake.SetUploadStallAfter(8192);
    TWebCopyItem* item = wc->Items.Add();
    item->Protocol = wpHttpUpload;
    item->URL = "http://srv/in/a.txt";
    item->TargetDir = "C:\\out";
    wc->StallTimeout = 5;
    const uint32_t ticks = fake.Ticks();
    wc->Execute();
    EXPECT_FALSE(wc->Items[0].Done);
    EXPECT_GE(fake.Ticks() - ticks, 5000u);
    EXPECT_EQ(events[2], "Error 12002");
    EXPECT_EQ(events[3], "Info 12002 The operation timed out\r\n");
}

TEST(ResumeRules, ContentRangeAndValidator) {
    const struct {
        const char* text;
        bool ok;
        uint64_t first, last, total;
    } ranges[] = {
        {"bytes 0-9/10", true, 0, 9, 10},
        {"bytes 7000-19999/20000", true, 7000, 19999, 20000},
        {"bytes 5-4/10", false, 0, 0, 0},
        {"bytes 0-10/10", false, 0, 0, 0},
        {"bytes */10", false, 0, 0, 0},
        {"bytes 0-9/*", false, 0, 0, 0},
        {"bytes -1-9/10", false, 0, 0, 0},
        {"items 0-9/10", false, 0, 0, 0},
        {"bytes 0-9/10 ", false, 0, 0, 0},
    };
    for (const auto& r : ranges) {
        webcopy::ContentRange parsed;
        EXPECT_EQ(webcopy::ParseContentRange(r.text, parsed), r.ok) << r.text;
        if (r.ok) {
            EXPECT_EQ(std::make_tuple(parsed.first, parsed.last, parsed.total),
                      std::make_tuple(r.first, r.last, r.total)) << r.text;
        }
    }
    const char* lm = "Tue, 08 Dec 2026 10:00:00 GMT";
    EXPECT_EQ(webcopy::ResumeValidator("\"a\"", lm), "\"a\"");
    EXPECT_EQ(webcopy::ResumeValidator("W/\"a\"", lm), lm);
    EXPECT_EQ(webcopy::ResumeValidator("", lm), lm);
    EXPECT_EQ(webcopy::ResumeValidator("W/\"a\"", ""), "");

    // A record holds its key exactly; a key with a line break in it has none.
    const webcopy::PartialKey key{"http://srv/a.bin", "stamp 2026-12-08 10:00:00", "\"a\"", 42};
    webcopy::PartialKey back;
    ASSERT_TRUE(webcopy::ParseKeyRecord(*webcopy::KeyRecord(key), back));
    EXPECT_TRUE(back == key);
    EXPECT_FALSE(webcopy::KeyRecord({"http://srv/a.bin", "x\ny", "\"a\"", 42}));
    EXPECT_NE(webcopy::PartialPath("C:\\a.bin", key),
              webcopy::PartialPath("C:\\a.bin", {key.url, key.owner, "\"b\"", 42}));
}

}  // namespace
