#include "components/StFileOp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/SsConst.h"
#include "doubles/FakePlatform.h"
#include "framework/Strings.h"

namespace {

using platform::fake::MakeVersionInfo;
using platform::fake::VersionInfo;

const char kShell32[] = "C:\\WINDOWS\\system32\\shell32.dll";

// Sets the locale's decimal separator for one test.
class SeparatorScope {
public:
    explicit SeparatorScope(char separator) : saved_(DecimalSeparator) { DecimalSeparator = separator; }
    ~SeparatorScope() { DecimalSeparator = saved_; }

private:
    char saved_;
};

struct VersionCase {
    const char* text;
    double number;
};

TEST(VersionNumber, WholeNumberOrMajorMinorOrZero) {
    const std::vector<VersionCase> cases = {
        {"6.00.2900.5512 (xpsp.080413-2111)", 6.0},
        {"5.0", 5.0},
        {"10.123.4.5", 0},     // second "." at position 7
        {"4.72.3110.1", 4.72},
        {"4.720.1", 4.72},     // second "." at position 6
        {"6", 6},
        {"1.2.", 0},           // the last character is not looked at
        {"6.x.1", 0},          // major.minor does not convert
        {"abc", 0},
    };
    for (char separator : {'.', ','}) {
        SeparatorScope scope(separator);
        for (const VersionCase& c : cases)
            EXPECT_DOUBLE_EQ(TSsVersionInfo::VersionNumber(c.text), c.number)
                << c.text << " with separator " << separator;
    }
}

TEST(VersionInfo, FileNameDefaultsToTheProgramAndReloadsOnChange) {
    platform::fake::ScopedFakePlatform fake;
    fake.SetModuleFileName("C:\\Program\\starter.exe");
    fake.WriteFile("C:\\a.dll", "MZ");
    fake.WriteFile("C:\\b.dll", "MZ");
    fake.SetVersionInfo("C:\\a.dll", MakeVersionInfo("1.5", "1.5"));
    fake.SetVersionInfo("C:\\b.dll", MakeVersionInfo("2.25.0.1", "2.25"));
    TSsVersionInfo info;
    EXPECT_EQ(info.FileName(), "C:\\Program\\starter.exe");
    info.SetFileName("C:\\a.dll");
    EXPECT_DOUBLE_EQ(info.FileVersionNumber(), 1.5);
    info.SetFileName("C:\\b.dll");
    EXPECT_DOUBLE_EQ(info.FileVersionNumber(), 2.25);
    EXPECT_EQ(info.FileVersion(), "2.25.0.1");
    EXPECT_EQ(info.FileVersionMS(), 0x00020019u);
    EXPECT_EQ(info.FileVersionLS(), 0x00000001u);
    EXPECT_DOUBLE_EQ(info.ProductVersionNumber(), 2.25);
}

class FileOperationTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake.WriteFile(kShell32, "MZ");
        fake.SetVersionInfo(kShell32, MakeVersionInfo("6.00.2900.5512 (xpsp.080413-2111)", "6.00.2900.5512"));
    }
    // The code of the error that leaves the constructor; the owner must not keep the
    // half-built component.
    int ConstructionErrorCode() {
        TComponent owner(nullptr);
        try {
            new TStFileOperation(&owner);
        } catch (const ESsVersionInfoError& e) {
            EXPECT_EQ(owner.ComponentCount(), 0);
            EXPECT_STREQ(e.ClassName(), "ESsVersionInfoError");
            EXPECT_EQ(e.Message(), MessageText(e.ErrorCode));
            return e.ErrorCode;
        }
        return -1;
    }

    platform::fake::ScopedFakePlatform fake;
};

TEST_F(FileOperationTest, DefaultsAndShellVersion) {
    TComponent owner(nullptr);
    auto* op = new TStFileOperation(&owner);
    EXPECT_DOUBLE_EQ(op->ShellVersion(), 6.0);
    EXPECT_TRUE(op->ConfirmFiles());
    EXPECT_EQ(op->Destination(), "");
    EXPECT_EQ(op->Operation(), fopCopy);
    EXPECT_EQ(op->Options(), 35);
    EXPECT_TRUE(HasFileOpOption(op->Options(), foRenameCollision));
    EXPECT_FALSE(HasFileOpOption(op->Options(), foNoConfirmation));
    EXPECT_EQ(op->SimpleText(), "");
    EXPECT_EQ(op->SourceFiles().Count(), 0);
    EXPECT_FALSE(op->OnError);
    EXPECT_EQ(owner.ComponentCount(), 1);
}

TEST_F(FileOperationTest, ShellVersionFollowsTheLocaleSeparator) {
    fake.SetVersionInfo(kShell32, MakeVersionInfo("4.72.3110.1", "4.72.3110.1"));
    SeparatorScope swedish(',');
    TStFileOperation op(nullptr);
    EXPECT_DOUBLE_EQ(op.ShellVersion(), 4.72);
}

TEST_F(FileOperationTest, MissingFileVersionGivesZero) {
    fake.SetVersionInfo(kShell32, MakeVersionInfo("", "6.00.2900.5512"));
    TStFileOperation op(nullptr);
    EXPECT_DOUBLE_EQ(op.ShellVersion(), 0);
}

TEST_F(FileOperationTest, DestinationLosesTrailingBackslashes) {
    TStFileOperation op(nullptr);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"C:\\Program Files\\App\\\\\\", "C:\\Program Files\\App"},
        {"\\", ""},
        {"C:\\a\\b", "C:\\a\\b"},
        {"\\\\srv\\share\\", "\\\\srv\\share"},
        {"C:\\a/", "C:\\a/"},
    };
    for (const auto& c : cases) {
        op.SetDestination(c.first);
        EXPECT_EQ(op.Destination(), c.second) << c.first;
    }
}

TEST_F(FileOperationTest, SourceFilesAreCopiedAndVersionIsFixed) {
    TStFileOperation op(nullptr);
    TStringList mine;
    mine.Add("C:\\a.txt");
    mine.Add("C:\\b.txt");
    op.SetSourceFiles(mine);
    mine.Clear();
    mine.Add("C:\\c.txt");
    ASSERT_EQ(op.SourceFiles().Count(), 2);
    EXPECT_EQ(op.SourceFiles()[1], "C:\\b.txt");
    EXPECT_EQ(mine.Count(), 1);

    op.SetVersion("9.99");
    EXPECT_EQ(op.Version(), "1.01");
}

TEST_F(FileOperationTest, VersionErrorsLeaveTheConstructor) {
    fake.Remove(kShell32);
    EXPECT_EQ(ConstructionErrorCode(), 73);

    fake.WriteFile(kShell32, "MZ");
    fake.SetVersionInfoError(kShell32, platform::ERROR_RESOURCE_TYPE_NOT_FOUND_);
    EXPECT_EQ(ConstructionErrorCode(), 100);
    fake.SetVersionInfoError(kShell32, 0);
    EXPECT_EQ(ConstructionErrorCode(), 101);
    fake.SetVersionInfoError(kShell32, 5);  // the read that follows fails
    EXPECT_EQ(ConstructionErrorCode(), 101);

    VersionInfo noTranslation = MakeVersionInfo("6.0", "6.0");
    for (auto it = noTranslation.blocks.begin(); it != noTranslation.blocks.end();)
        it = it->first.find("Translation") != std::string::npos ? noTranslation.blocks.erase(it) : std::next(it);
    fake.SetVersionInfo(kShell32, noTranslation);
    EXPECT_EQ(ConstructionErrorCode(), 101);

    fake.SetVersionInfo(kShell32, MakeVersionInfo("6.0", "6.0"));
    fake.FailNextCall("GetFileVersionInfo");
    EXPECT_EQ(ConstructionErrorCode(), 101);
}

TEST(MessageText, KnownAndUnknownCodes) {
    EXPECT_EQ(MessageText(73), "Error opening file");
    EXPECT_EQ(MessageText(100), "File does not contain version info");
    EXPECT_EQ(MessageText(101), "Unable to read version info");
    EXPECT_EQ(MessageText(1), "");
}

}  // namespace
