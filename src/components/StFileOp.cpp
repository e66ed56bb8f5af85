#include "components/StFileOp.h"

TStCustomFileOperation::TStCustomFileOperation(TComponent* owner) : TSsShellComponent(owner) {
    // The defaults are the member initialisers; they take effect after the shell version
    // has been read by the base.
}

void TStCustomFileOperation::SetDestination(const std::string& value) {
    destination_ = value;
    while (!destination_.empty() && destination_.back() == '\\') destination_.pop_back();
}
