#pragma once
// Common bases of the shell components, their exceptions and the version-information reader.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Exceptions.h"

// An error of the shell components: a code from the message table and its text.
class ESsException : public Exception {
public:
    ESsException(std::string message, int code) : Exception(std::move(message)), ErrorCode(code) {}
    // The message is MessageText(code).
    explicit ESsException(int code);
    const char* ClassName() const override { return "ESsException"; }
    int ErrorCode;
};

FRAMEWORK_EXCEPTION(ESsVersionInfoError, ESsException);

// Reads the version resource of one file. Loads on the first query after the file name is
// set; every failure to read raises ESsVersionInfoError (code 73, 100 or 101).
class TSsCustomVersionInfo : public TObject {
public:
    // The file name starts as the running program's own file.
    TSsCustomVersionInfo();

    const std::string& FileName() const { return fileName_; }
    // Raises code 73 when `name` is not empty and no such file exists. An empty name selects
    // the running program's own file.
    void SetFileName(const std::string& name);

    uint32_t FileVersionMS();
    uint32_t FileVersionLS();
    uint32_t FileOS();
    std::string FileVersion();
    double FileVersionNumber();
    uint32_t ProductVersionMS();
    uint32_t ProductVersionLS();
    std::string ProductVersion();
    double ProductVersionNumber();
    bool Loaded() const { return loaded_; }

    // The number of a version text: the whole text as a decimal number with "." as the
    // point, else its first two fields ("6.00.2900.5512" gives 6.0) when the second "." is
    // at most at position 6 (1-based), else 0.
    static double VersionNumber(const std::string& text);

protected:
    void Load();

private:
    void EnsureLoaded() {
        if (!loaded_) Load();
    }

    std::string fileName_;
    bool loaded_ = false;
    std::vector<uint32_t> translations_;  // language in the low word, code page in the high
    uint32_t fileVersionMS_ = 0, fileVersionLS_ = 0, fileOS_ = 0;
    std::string fileVersion_;
    double fileVersionNumber_ = 0;
    uint32_t productVersionMS_ = 0, productVersionLS_ = 0;
    std::string productVersion_;
    double productVersionNumber_ = 0;
};

class TSsVersionInfo : public TSsCustomVersionInfo {};

// Common base of the shell components.
class TSsComponent : public TComponent {
public:
    explicit TSsComponent(TComponent* owner) : TComponent(owner) {}
    // Fixed; writes are ignored.
    std::string Version() const { return "1.01"; }
    void SetVersion(const std::string&) {}
};

// A shell component that knows the version of the system's shell library.
class TSsShellComponent : public TSsComponent {
public:
    // Reads the version of shell32.dll in the system folder; raises ESsVersionInfoError when
    // the file is missing or its version resource cannot be read.
    explicit TSsShellComponent(TComponent* owner);
    double ShellVersion() const { return shellVersion_; }

protected:
    TNotifyEvent OnError;  // published by the concrete components

private:
    double shellVersion_ = 0;
};
