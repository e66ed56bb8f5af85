// The component's data: construction, the job and listing collections, the version text
// and the delivery of error reports. The run, the dialog and the operations live in their
// own files.
#include "webcopy/WebCopy.h"

#include "framework/Exceptions.h"

namespace {

// Major, minor, release, build from the most significant byte down.
constexpr uint32_t kVersionNumber = 0x02010000;

[[noreturn]] void RaiseListIndex(int index) {
    throw EListError(Format(rtl_messages::ListIndexError, index));
}

}  // namespace

// --- TFileDetailItems

TFileDetailItem* TFileDetailItems::Add() {
    items_.push_back(std::make_unique<TFileDetailItem>());
    return items_.back().get();
}

TFileDetailItem& TFileDetailItems::operator[](int index) {
    if (index < 0 || index >= Count()) RaiseListIndex(index);
    return *items_[static_cast<size_t>(index)];
}

// --- TWebCopyItems

TWebCopyItem* TWebCopyItems::Add() {
    items_.push_back(std::make_unique<TWebCopyItem>());
    return items_.back().get();
}

TWebCopyItem& TWebCopyItems::operator[](int index) {
    if (index < 0 || index >= Count()) RaiseListIndex(index);
    return *items_[static_cast<size_t>(index)];
}

int TWebCopyItems::ActiveCount() const {
    int n = 0;
    for (const auto& item : items_)
        if (item->Active) ++n;
    return n;
}

void TWebCopyItems::Delete(int index) {
    if (index < 0 || index >= Count()) RaiseListIndex(index);
    items_.erase(items_.begin() + index);
}

// --- TWebCopy

// Every default is a member initialiser in the class; Items is created with the object.
TWebCopy::TWebCopy(TComponent* owner) : TComponent(owner) {}

// Items go with the members; a progress dialog still alive is an owned component and is
// destroyed by the base class.
TWebCopy::~TWebCopy() = default;

std::string TWebCopy::Version() const {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (!text.empty()) text += '.';
        text += IntToStr((kVersionNumber >> shift) & 0xFF);
    }
    return text;
}
