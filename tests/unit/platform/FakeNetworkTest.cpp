#include <gtest/gtest.h>

#include <cstring>

#include "doubles/FakePlatform.h"

namespace {

using namespace platform;
using namespace platform::fake;

class FakeNetwork : public ::testing::Test {
protected:
    InetHandle Session() { return Net().InternetOpen("WebCopy", 0, nullptr, nullptr, 0); }

    // Reads in 4096-byte blocks until the end or a failure; the reads' counts.
    std::vector<uint32_t> ReadBlocks(HINTERNET h, std::string& body, bool& failed) {
        std::vector<uint32_t> counts;
        char buf[4096];
        failed = false;
        for (;;) {
            uint32_t n = 99;
            if (!Net().InternetReadFile(h, buf, sizeof buf, &n)) {
                failed = true;
                break;
            }
            counts.push_back(n);
            body.append(buf, n);
            if (n == 0) break;
        }
        return counts;
    }

    ScopedFakePlatform fake;
};

TEST_F(FakeNetwork, ScriptedResponseAnswersQueriesAndRecordsTheRequest) {
    HttpResponse r;
    r.body = std::string(5000, 'x');
    r.lastModified = MakeSystemTime(2013, 7, 18, 9, 0, 0);
    fake.SetHttp("http://srv/managedfiles/N.txt", r);
    InetHandle s = Session();
    const char headers[] = "Authorization: Basic dTpw\r\n\r\n";
    InetHandle h = Net().InternetOpenUrl(s.get(), "http://srv/managedfiles/N.txt", headers,
                                        static_cast<uint32_t>(std::strlen(headers)), 0x84400000u, 0);
    ASSERT_TRUE(h);
    ASSERT_EQ(fake.HttpRequests().size(), 1u);
    EXPECT_EQ(fake.HttpRequests()[0].headers, headers);
    EXPECT_EQ(fake.HttpRequests()[0].flags, 0x84400000u);

    uint32_t status = 0, len = 4;
    ASSERT_TRUE(Net().HttpQueryInfo(h.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr));
    EXPECT_EQ(status, 200u);
    uint32_t length = 0;
    len = 8;  // a number query wants exactly four bytes, as under Wine
    EXPECT_FALSE(Net().HttpQueryInfo(h.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &len, nullptr));
    len = 4;
    ASSERT_TRUE(Net().HttpQueryInfo(h.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &len, nullptr));
    EXPECT_EQ(length, 5000u);
    uint16_t st[8] = {};
    len = sizeof st;
    ASSERT_TRUE(Net().HttpQueryInfo(h.get(), HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, st, &len, nullptr));
    EXPECT_EQ(st[0], 2013);
    EXPECT_EQ(st[1], 7);
    EXPECT_EQ(st[2], 4);  // Thursday
    EXPECT_EQ(st[3], 18);
    EXPECT_EQ(st[4], 9);
    char text[64];
    len = sizeof text;
    ASSERT_TRUE(Net().HttpQueryInfo(h.get(), HTTP_QUERY_LAST_MODIFIED, text, &len, nullptr));
    EXPECT_STREQ(text, "Thu, 18 Jul 2013 09:00:00 GMT");

    std::string body;
    bool failed;
    EXPECT_EQ(ReadBlocks(h.get(), body, failed), (std::vector<uint32_t>{4096, 904, 0}));
    EXPECT_FALSE(failed);
    EXPECT_EQ(body, r.body);
    EXPECT_TRUE(h.reset());
    EXPECT_TRUE(s.reset());
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST_F(FakeNetwork, AbsentHeadersShortBodiesAndFailingReads) {
    HttpResponse plain;
    plain.body = "abc";
    plain.hasContentLength = false;
    HttpResponse shortBody;
    shortBody.body = std::string(6000, 's');
    shortBody.contentLength = 10000;
    HttpResponse broken;
    broken.body = std::string(9000, 'b');
    broken.failReadAfter = 5000;
    fake.SetHttp("http://srv/plain", plain);
    fake.SetHttp("http://srv/short", shortBody);
    fake.SetHttp("http://srv/broken", broken);
    InetHandle s = Session();

    InetHandle h = Net().InternetOpenUrl(s.get(), "http://srv/plain", nullptr, 0, 0, 0);
    uint32_t value = 7, len = 4;
    EXPECT_FALSE(Net().HttpQueryInfo(h.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value, &len, nullptr));
    EXPECT_EQ(Sys().GetLastError(), kErrHttpHeaderNotFound);
    EXPECT_EQ(value, 7u);  // untouched
    uint16_t st[8] = {};
    len = sizeof st;
    EXPECT_FALSE(Net().HttpQueryInfo(h.get(), HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, st, &len, nullptr));

    h = Net().InternetOpenUrl(s.get(), "http://srv/short", nullptr, 0, 0, 0);
    len = 4;
    ASSERT_TRUE(Net().HttpQueryInfo(h.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value, &len, nullptr));
    EXPECT_EQ(value, 10000u);
    std::string body;
    bool failed;
    EXPECT_EQ(ReadBlocks(h.get(), body, failed), (std::vector<uint32_t>{4096, 1904, 0}));  // ends as a normal end
    EXPECT_FALSE(failed);

    h = Net().InternetOpenUrl(s.get(), "http://srv/broken", nullptr, 0, 0, 0);
    body.clear();
    EXPECT_EQ(ReadBlocks(h.get(), body, failed), (std::vector<uint32_t>{4096, 904}));
    EXPECT_TRUE(failed);
    EXPECT_EQ(Sys().GetLastError(), kErrInternetConnectionAborted);

    EXPECT_FALSE(Net().InternetOpenUrl(s.get(), "http://srv/unknown", nullptr, 0, 0, 0));
    EXPECT_EQ(Sys().GetLastError(), kErrInternetNameNotResolved);
    fake.SetHttpFailure("http://srv/plain", kErrInternetCannotConnect);
    EXPECT_FALSE(Net().InternetOpenUrl(s.get(), "http://srv/plain", nullptr, 0, 0, 0));
    EXPECT_EQ(Sys().GetLastError(), kErrInternetCannotConnect);

    EXPECT_EQ(fake.OpenHandleCount(), 2);  // a handle that is replaced is closed
    EXPECT_TRUE(s.reset());  // children go with their parent
    EXPECT_EQ(fake.OpenHandleCount(), 0);
    EXPECT_FALSE(h.reset());
    EXPECT_EQ(Sys().GetLastError(), kErrInvalidHandle);
    EXPECT_EQ(fake.InvalidHandleUses(), 1);
}

TEST_F(FakeNetwork, ReadCallbackAndHandlerSeeEachRequest) {
    std::vector<uint64_t> seen;
    fake.SetHttpHandler("http://srv/auth", [&](const HttpRequest& req) {
        HttpResponse r;
        r.status = req.headers.empty() ? 401 : 200;
        r.body = "0123456789";
        r.onRead = [&seen](uint64_t delivered) { seen.push_back(delivered); };
        return r;
    });
    InetHandle s = Session();
    InetHandle h = Net().InternetOpenUrl(s.get(), "http://srv/auth", nullptr, 0, 0, 0);
    uint32_t status = 0, len = 4;
    Net().HttpQueryInfo(h.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr);
    EXPECT_EQ(status, 401u);
    h.reset();
    h = Net().InternetOpenUrl(s.get(), "http://srv/auth", "Authorization: x\r\n\r\n", 0xFFFFFFFFu, 0, 0);
    len = 4;
    Net().HttpQueryInfo(h.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr);
    EXPECT_EQ(status, 200u);
    char buf[4];
    uint32_t n;
    while (Net().InternetReadFile(h.get(), buf, sizeof buf, &n) && n > 0) {
    }
    EXPECT_EQ(seen, (std::vector<uint64_t>{0, 4, 8, 10}));
}

TEST_F(FakeNetwork, HttpUploadRecordsTheRequestAndBody) {
    fake.AddHttpHost("up.example");
    InetHandle s = Session();
    InetHandle c = Net().InternetConnect(s.get(), "up.example", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    InetHandle r = Net().HttpOpenRequest(c.get(), "PUT", "/in/a.bin", INTERNET_FLAG_NO_CACHE_WRITE, 0);
    ASSERT_TRUE(r);
    uint32_t n = 0;
    EXPECT_FALSE(Net().InternetWriteFile(r.get(), "x", 1, &n));  // before the request head went out
    ASSERT_TRUE(Net().HttpSendRequestEx(r.get(), 5, HSR_INITIATE));
    EXPECT_TRUE(Net().InternetWriteFile(r.get(), "hel", 3, &n));
    EXPECT_TRUE(Net().InternetWriteFile(r.get(), "lo", 2, &n));
    EXPECT_TRUE(Net().InternetWriteFile(r.get(), "", 0, &n));
    EXPECT_TRUE(Net().HttpEndRequest(r.get()));
    ASSERT_EQ(fake.HttpUploads().size(), 1u);
    const HttpUpload& u = fake.HttpUploads()[0];
    EXPECT_EQ(u.server, "up.example");
    EXPECT_EQ(u.port, 80);
    EXPECT_EQ(u.verb, "PUT");
    EXPECT_EQ(u.object, "/in/a.bin");
    EXPECT_EQ(u.totalLength, 5u);
    EXPECT_EQ(u.body, "hello");
    EXPECT_EQ(u.writeSizes, (std::vector<uint32_t>{3, 2, 0}));
    EXPECT_TRUE(u.ended);

    // A server text with a port is no host name.
    InetHandle c2 = Net().InternetConnect(s.get(), "up.example:8080", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    InetHandle r2 = Net().HttpOpenRequest(c2.get(), "POST", "/", 0, 0);
    EXPECT_FALSE(Net().HttpSendRequestEx(r2.get(), 0, HSR_INITIATE));
    EXPECT_EQ(Sys().GetLastError(), kErrInternetNameNotResolved);
}

TEST_F(FakeNetwork, FtpServerKeepsFoldersFilesAndADirectoryPerConnection) {
    fake.AddFtpServer("ftp.example", "user", "pw", "/home");
    fake.FtpWriteFile("ftp.example", "/pub/a.txt", "AAAA", MakeFileTime(2020, 5, 6));
    fake.FtpWriteFile("ftp.example", "/pub/b.txt", "B");
    fake.FtpWriteFile("ftp.example", "/pub/c.dat", "C");
    InetHandle s = Session();
    EXPECT_FALSE(Net().InternetConnect(s.get(), "ftp.example", 21, "user", "bad", INTERNET_SERVICE_FTP, 0, 0));
    EXPECT_EQ(Sys().GetLastError(), kErrInternetLoginFailure);
    EXPECT_FALSE(Net().InternetConnect(s.get(), "other", 21, nullptr, nullptr, INTERNET_SERVICE_FTP, 0, 0));
    InetHandle c = Net().InternetConnect(s.get(), "ftp.example", 21, "user", "pw", INTERNET_SERVICE_FTP,
                                        INTERNET_FLAG_PASSIVE, 0);
    ASSERT_TRUE(c);
    EXPECT_EQ(fake.ConnectCalls().back().flags, INTERNET_FLAG_PASSIVE);

    std::string dir;
    ASSERT_TRUE(Net().FtpGetCurrentDirectory(c.get(), dir));
    EXPECT_EQ(dir, "/home");
    EXPECT_FALSE(Net().FtpSetCurrentDirectory(c.get(), "nope"));
    ASSERT_TRUE(Net().FtpSetCurrentDirectory(c.get(), "../pub/"));
    ASSERT_TRUE(Net().FtpGetCurrentDirectory(c.get(), dir));
    EXPECT_EQ(dir, "/pub");

    FindData d;
    InetHandle f = Net().FtpFindFirstFile(c.get(), "?.txt", d, 0, 0);
    ASSERT_TRUE(f);
    EXPECT_EQ(d.cFileName, "a.txt");
    EXPECT_EQ(d.nFileSizeLow, 4u);
    EXPECT_EQ(d.ftLastWriteTime.dwLowDateTime, MakeFileTime(2020, 5, 6).dwLowDateTime);
    ASSERT_TRUE(Net().InternetFindNextFile(f.get(), d));
    EXPECT_EQ(d.cFileName, "b.txt");
    EXPECT_FALSE(Net().InternetFindNextFile(f.get(), d));
    EXPECT_EQ(Sys().GetLastError(), kErrNoMoreFiles);
    f.reset();
    EXPECT_FALSE(Net().FtpFindFirstFile(c.get(), "*.TXT", d, 0, 0));  // names are case-sensitive

    InetHandle r = Net().FtpOpenFile(c.get(), "a.txt", GENERIC_READ_, FTP_TRANSFER_TYPE_BINARY, 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(Net().FtpGetFileSize(r.get(), nullptr), 4u);
    EXPECT_FALSE(Net().FtpDeleteFile(c.get(), "b.txt"));  // one transfer at a time per connection
    EXPECT_EQ(Sys().GetLastError(), kErrFtpTransferInProgress);
    char buf[3];
    uint32_t n = 0;
    ASSERT_TRUE(Net().InternetReadFile(r.get(), buf, sizeof buf, &n));
    EXPECT_EQ(n, 3u);
    r.reset();

    ASSERT_TRUE(Net().FtpCreateDirectory(c.get(), "in"));
    EXPECT_FALSE(Net().FtpCreateDirectory(c.get(), "in"));
    InetHandle w = Net().FtpOpenFile(c.get(), "in/up.bin", GENERIC_WRITE_, FTP_TRANSFER_TYPE_BINARY, 0);
    ASSERT_TRUE(w);
    ASSERT_TRUE(Net().InternetWriteFile(w.get(), "xyz", 3, &n));
    w.reset();
    EXPECT_EQ(fake.FtpReadFile("ftp.example", "/pub/in/up.bin"), "xyz");
    EXPECT_TRUE(Net().FtpDeleteFile(c.get(), "/pub/b.txt"));
    EXPECT_FALSE(fake.FtpExists("ftp.example", "/pub/b.txt"));
    EXPECT_FALSE(Net().FtpOpenFile(c.get(), "b.txt", GENERIC_READ_, FTP_TRANSFER_TYPE_BINARY, 0));

    fake.SetFtpFileSizeAlwaysZero(true);
    r = Net().FtpOpenFile(c.get(), "a.txt", GENERIC_READ_, FTP_TRANSFER_TYPE_BINARY, 0);
    EXPECT_EQ(Net().FtpGetFileSize(r.get(), nullptr), 0u);
    r.reset();
    c.reset();
    s.reset();
    EXPECT_EQ(fake.OpenHandleCount(), 0);
    EXPECT_EQ(fake.InvalidHandleUses(), 0);
}

TEST_F(FakeNetwork, FormatMessageKnowsTheCommonCodes) {
    std::string text;
    ASSERT_TRUE(Net().FormatMessage(12007, text));
    EXPECT_EQ(text, "The server name or address could not be resolved\r\n");
    EXPECT_FALSE(Net().FormatMessage(5, text));
}

}  // namespace
