#include <gtest/gtest.h>

#include "doubles/FakePlatform.h"

namespace {

using namespace platform;
using namespace platform::fake;

std::string ReadAll(File& f) {
    std::string out;
    char buf[3];
    uint32_t got = 0;
    while (f.Read(buf, sizeof buf, got) && got > 0) out.append(buf, got);
    return out;
}

class FakeFiles : public ::testing::Test {
protected:
    ScopedFakePlatform fake;
};

TEST_F(FakeFiles, PathsIgnoreCaseAndSeparatorStyle) {
    fake.WriteFile("C:\\Data\\Kassa.TXT", "v1");
    EXPECT_TRUE(Fs().FileExists("c:/data/kassa.txt"));
    EXPECT_TRUE(Fs().FileExists("C:\\DATA\\.\\x\\..\\KASSA.txt"));
    EXPECT_TRUE(Fs().DirectoryExists("c:\\data\\"));
    EXPECT_FALSE(Fs().FileExists("C:\\Data"));      // a folder is no file
    EXPECT_FALSE(Fs().DirectoryExists("C:\\Data\\Kassa.txt"));
    fake.WriteFile("C:\\data\\\xe4ndra.txt", "x");   // Windows-1252 letters fold too
    EXPECT_TRUE(Fs().FileExists("C:\\DATA\\\xc4NDRA.TXT"));
    EXPECT_EQ(fake.ListFolder("C:\\DATA"), (std::vector<std::string>{"Kassa.TXT", "\xe4ndra.txt"}));
    EXPECT_EQ(Fs().GetFileAttributes("C:\\data"), FILE_ATTRIBUTE_DIRECTORY_);
    EXPECT_EQ(Fs().GetFileAttributes("C:\\data\\none"), INVALID_FILE_ATTRIBUTES_);
    EXPECT_EQ(fake.LastError(), kErrFileNotFound);
    EXPECT_EQ(Fs().GetFileAttributes("C:\\nofolder\\none"), INVALID_FILE_ATTRIBUTES_);
    EXPECT_EQ(fake.LastError(), kErrPathNotFound);
}

TEST_F(FakeFiles, RelativePathsUseTheCurrentFolder) {
    fake.MakeDirectory("C:\\work");
    fake.SetCurrentDirectory("C:\\work");
    fake.WriteFile("a.txt", "1");
    EXPECT_TRUE(fake.Exists("C:\\work\\a.txt"));
    EXPECT_TRUE(Fs().CreateDirectory("\\Brakven"));  // rooted on the current drive
    EXPECT_TRUE(fake.IsDirectory("C:\\Brakven"));
}

TEST_F(FakeFiles, CreateFolderNeedsItsParentAndFailsWhenPresent) {
    EXPECT_FALSE(Fs().CreateDirectory("C:\\a\\b"));
    EXPECT_EQ(fake.LastError(), kErrPathNotFound);
    EXPECT_TRUE(Fs().CreateDirectory("C:\\a"));
    EXPECT_TRUE(Fs().CreateDirectory("C:\\a\\b"));
    EXPECT_FALSE(Fs().CreateDirectory("C:\\A"));
    EXPECT_EQ(fake.LastError(), kErrAlreadyExists);
    EXPECT_FALSE(Fs().CreateDirectory("Q:\\x"));  // no such drive
    EXPECT_EQ(fake.LastError(), kErrPathNotFound);
}

TEST_F(FakeFiles, MoveFileNeedsASourceAndAFreeTarget) {
    fake.WriteFile("C:\\app\\N.bin", "new");
    fake.WriteFile("C:\\app\\N.exe", "old");
    EXPECT_FALSE(Fs().MoveFile("C:\\app\\N.bin", "C:\\APP\\n.EXE"));
    EXPECT_EQ(fake.LastError(), kErrAlreadyExists);
    EXPECT_EQ(fake.ReadFile("C:\\app\\N.exe"), "old");

    ASSERT_TRUE(Fs().DeleteFile("C:\\app\\N.exe"));
    EXPECT_TRUE(Fs().MoveFile("C:\\app\\N.bin", "C:\\app\\N.exe"));
    EXPECT_EQ(fake.ReadFile("C:\\app\\N.exe"), "new");
    EXPECT_FALSE(fake.Exists("C:\\app\\N.bin"));

    EXPECT_FALSE(Fs().MoveFile("C:\\app\\N.bin", "C:\\app\\N2.exe"));
    EXPECT_EQ(fake.LastError(), kErrFileNotFound);
    EXPECT_FALSE(Fs().MoveFile("C:\\app\\N.exe", "C:\\none\\N.exe"));
    EXPECT_EQ(fake.LastError(), kErrPathNotFound);
}

TEST_F(FakeFiles, LockedFilesCannotBeDeletedOrWrittenButCanBeRead) {
    fake.WriteFile("C:\\app\\N.exe", "running");
    fake.Lock("C:\\app\\N.exe");
    EXPECT_FALSE(Fs().DeleteFile("c:\\APP\\n.exe"));
    EXPECT_EQ(fake.LastError(), kErrAccessDenied);
    EXPECT_EQ(Fs().Open("C:\\app\\N.exe", OpenMode::CreateWrite), nullptr);
    EXPECT_EQ(fake.LastError(), kErrSharingViolation);
    auto f = Fs().Open("C:\\app\\N.exe", OpenMode::Read);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ReadAll(*f), "running");
    f.reset();
    fake.Lock("C:\\app\\N.exe", false);
    EXPECT_TRUE(Fs().DeleteFile("C:\\app\\N.exe"));
    EXPECT_FALSE(Fs().DeleteFile("C:\\app\\N.exe"));
    EXPECT_EQ(fake.LastError(), kErrFileNotFound);
}

TEST_F(FakeFiles, OpenModesShareAsDeclared) {
    fake.WriteFile("C:\\f.txt", "abc");
    auto reader = Fs().Open("C:\\f.txt", OpenMode::Read);  // no sharing
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(Fs().Open("C:\\f.txt", OpenMode::Read), nullptr);
    EXPECT_EQ(fake.LastError(), kErrSharingViolation);
    EXPECT_FALSE(Fs().DeleteFile("C:\\f.txt"));
    EXPECT_EQ(fake.LastError(), kErrSharingViolation);
    EXPECT_TRUE(reader->Close());
    EXPECT_FALSE(reader->Close());

    auto rw1 = Fs().Open("C:\\f.txt", OpenMode::ReadWrite);  // shares read and write
    auto rw2 = Fs().Open("C:\\f.txt", OpenMode::ReadWrite);
    EXPECT_NE(rw1, nullptr);
    EXPECT_NE(rw2, nullptr);
    EXPECT_EQ(Fs().Open("C:\\f.txt", OpenMode::CreateReadWrite), nullptr);
    EXPECT_EQ(fake.OpenFileCount(), 2);
    rw1.reset();  // destruction closes
    rw2.reset();
    EXPECT_EQ(fake.OpenFileCount(), 0);

    EXPECT_EQ(Fs().Open("C:\\missing.txt", OpenMode::ReadWrite), nullptr);
    EXPECT_EQ(fake.LastError(), kErrFileNotFound);
    EXPECT_EQ(Fs().Open("C:\\nodir\\new.txt", OpenMode::CreateWrite), nullptr);
    EXPECT_EQ(fake.LastError(), kErrPathNotFound);
    fake.SetAttributes("C:\\f.txt", 1);  // read-only
    EXPECT_EQ(Fs().Open("C:\\f.txt", OpenMode::ReadWrite), nullptr);
    EXPECT_EQ(fake.LastError(), kErrAccessDenied);
}

TEST_F(FakeFiles, FileReadWriteSeekAndTimes) {
    fake.WriteFile("C:\\f.bin", "old contents");
    const FileTime stamp = MakeFileTime(2013, 7, 18, 10, 0, 0);
    fake.SetNow(stamp);
    auto f = Fs().Open("C:\\f.bin", OpenMode::CreateReadWrite);  // truncates
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Size(), 0);
    uint32_t n = 0;
    ASSERT_TRUE(f->Write("hello", 5, n));
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(f->Seek(0, 2), 5);
    EXPECT_EQ(f->Seek(7, 0), 7);
    ASSERT_TRUE(f->Write("!", 1, n));  // writing past the end fills with zeros
    EXPECT_EQ(f->Seek(-100, 1), -1);
    EXPECT_EQ(f->Seek(0, 0), 0);
    EXPECT_EQ(ReadAll(*f), std::string("hello\0\0!", 8));
    FileTime t;
    ASSERT_TRUE(f->GetLastWriteTime(t));
    EXPECT_EQ(t.dwLowDateTime, stamp.dwLowDateTime);
    EXPECT_EQ(t.dwHighDateTime, stamp.dwHighDateTime);
    EXPECT_TRUE(f->Close());

    auto r = Fs().Open("C:\\f.bin", OpenMode::Read);
    EXPECT_FALSE(r->Write("x", 1, n));
    EXPECT_EQ(fake.LastError(), kErrAccessDenied);
}

TEST_F(FakeFiles, FindFilesMatchesMasksAndListsDotEntries) {
    fake.WriteFile("C:\\up\\a.txt", "1");
    fake.WriteFile("C:\\up\\B.TXT", "22");
    fake.WriteFile("C:\\up\\c.dat", "");
    fake.MakeDirectory("C:\\up\\sub.txt");
    std::vector<FindData> found;
    ASSERT_TRUE(Fs().FindFiles("C:\\up\\*.txt", found));
    std::vector<std::string> names;
    for (const auto& d : found) names.push_back(d.cFileName);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "B.TXT", "sub.txt"}));
    EXPECT_EQ(found[1].nFileSizeLow, 2u);
    EXPECT_EQ(found[2].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY_, FILE_ATTRIBUTE_DIRECTORY_);

    ASSERT_TRUE(Fs().FindFiles("C:\\up\\*.*", found));
    ASSERT_EQ(found.size(), 6u);
    EXPECT_EQ(found[0].cFileName, ".");
    EXPECT_EQ(found[1].cFileName, "..");
    ASSERT_TRUE(Fs().FindFiles("C:\\up\\?.dat", found));
    EXPECT_EQ(found.size(), 1u);

    EXPECT_FALSE(Fs().FindFiles("C:\\up\\*.none", found));
    EXPECT_EQ(fake.LastError(), kErrFileNotFound);
    EXPECT_FALSE(Fs().FindFiles("C:\\nodir\\*", found));
    EXPECT_EQ(fake.LastError(), kErrPathNotFound);
}

TEST(FakeTime, FileTimesConvertToCalendarFields) {
    struct Case {
        int y, mo, d, h, mi, s, ms, dayOfWeek;
    };
    const Case cases[] = {
        {1601, 1, 1, 0, 0, 0, 0, 1},       {1899, 12, 30, 0, 0, 0, 0, 6},
        {2000, 2, 29, 23, 59, 59, 999, 2}, {2013, 7, 18, 10, 0, 0, 0, 4},
        {2100, 3, 1, 12, 30, 0, 5, 1},
    };
    for (const auto& c : cases) {
        const FileTime ft = MakeFileTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms);
        SystemTime st;
        ASSERT_TRUE(ToSystemTime(ft, st));
        EXPECT_EQ(st.wYear, c.y);
        EXPECT_EQ(st.wMonth, c.mo);
        EXPECT_EQ(st.wDay, c.d);
        EXPECT_EQ(st.wHour, c.h);
        EXPECT_EQ(st.wMinute, c.mi);
        EXPECT_EQ(st.wSecond, c.s);
        EXPECT_EQ(st.wMilliseconds, c.ms);
        EXPECT_EQ(st.wDayOfWeek, c.dayOfWeek) << c.y << "-" << c.mo << "-" << c.d;
    }
    // 1970-01-01 is 11644473600 s after 1601-01-01.
    const FileTime epoch = MakeFileTime(1970, 1, 1);
    EXPECT_EQ((uint64_t{epoch.dwHighDateTime} << 32) | epoch.dwLowDateTime, 116444736000000000ull);
    SystemTime st;
    EXPECT_FALSE(ToSystemTime(FileTime{0, 0x80000000u}, st));
    FileTime ft;
    EXPECT_FALSE(ToFileTime(MakeSystemTime(2001, 2, 29), ft));
}

TEST_F(FakeFiles, LocalFileTimeAddsTheBias) {
    fake.SetTimeZoneBias(120);
    FileTime local;
    ASSERT_TRUE(Fs().FileTimeToLocalFileTime(MakeFileTime(2024, 3, 1, 23, 30), local));
    SystemTime st;
    ASSERT_TRUE(Fs().FileTimeToSystemTime(local, st));
    EXPECT_EQ(st.wDay, 2);
    EXPECT_EQ(st.wHour, 1);
    EXPECT_EQ(st.wMinute, 30);
}

}  // namespace
