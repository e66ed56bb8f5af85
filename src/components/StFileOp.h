#pragma once
// Description of one shell file operation (copy, delete, move or rename a list of files).
// The system stores the description with its form; nothing here carries it out.
#include <cstdint>
#include <string>

#include "components/SsBase.h"
#include "framework/Strings.h"

enum TStFileOp { fopCopy, fopDelete, fopMove, fopRename };

// Bit positions in TStFileOpOptionsSet.
enum TStFileOpOption {
    foAllowUndo,
    foFilesOnly,
    foNoConfirmation,
    foNoConfirmMkDir,
    foNoErrorUI,
    foRenameCollision,
    foSilent,
    foSimpleProgress
};

// A set of TStFileOpOption: bit n stands for the option with position n.
using TStFileOpOptionsSet = uint8_t;

constexpr TStFileOpOptionsSet FileOpOption(TStFileOpOption option) {
    return static_cast<TStFileOpOptionsSet>(1u << option);
}
constexpr bool HasFileOpOption(TStFileOpOptionsSet set, TStFileOpOption option) {
    return (set & FileOpOption(option)) != 0;
}

inline constexpr TStFileOpOptionsSet DefaultFileOpOptions =
    FileOpOption(foAllowUndo) | FileOpOption(foFilesOnly) | FileOpOption(foRenameCollision);
static_assert(DefaultFileOpOptions == 35, "stored default of Options");

class TStCustomFileOperation : public TSsShellComponent {
public:
    // Raises ESsVersionInfoError when the shell library's version cannot be read.
    explicit TStCustomFileOperation(TComponent* owner);

protected:
    bool ConfirmFiles() const { return confirmFiles_; }
    void SetConfirmFiles(bool value) { confirmFiles_ = value; }
    const std::string& Destination() const { return destination_; }
    // Stores the text without its trailing backslashes.
    void SetDestination(const std::string& value);
    TStFileOp Operation() const { return operation_; }
    void SetOperation(TStFileOp value) { operation_ = value; }
    TStFileOpOptionsSet Options() const { return options_; }
    void SetOptions(TStFileOpOptionsSet value) { options_ = value; }
    const std::string& SimpleText() const { return simpleText_; }
    void SetSimpleText(const std::string& value) { simpleText_ = value; }
    TStringList& SourceFiles() { return sourceFiles_; }
    const TStringList& SourceFiles() const { return sourceFiles_; }
    // Copies the lines; the caller keeps its list.
    void SetSourceFiles(const TStringList& value) { sourceFiles_.Assign(value); }

private:
    bool confirmFiles_ = true;
    std::string destination_;
    TStFileOp operation_ = fopCopy;
    TStFileOpOptionsSet options_ = DefaultFileOpOptions;
    std::string simpleText_;
    TStringList sourceFiles_;
};

class TStFileOperation : public TStCustomFileOperation {
public:
    explicit TStFileOperation(TComponent* owner) : TStCustomFileOperation(owner) {}

    using TStCustomFileOperation::ConfirmFiles;
    using TStCustomFileOperation::SetConfirmFiles;
    using TStCustomFileOperation::Destination;
    using TStCustomFileOperation::SetDestination;
    using TStCustomFileOperation::Operation;
    using TStCustomFileOperation::SetOperation;
    using TStCustomFileOperation::Options;
    using TStCustomFileOperation::SetOptions;
    using TStCustomFileOperation::SimpleText;
    using TStCustomFileOperation::SetSimpleText;
    using TStCustomFileOperation::SourceFiles;
    using TStCustomFileOperation::SetSourceFiles;
    using TStCustomFileOperation::OnError;
};
