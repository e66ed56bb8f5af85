#include "framework/Component.h"

#include <algorithm>

#include "framework/Exceptions.h"

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->Insert(this);
}

TComponent::~TComponent() {
    // Each owned component takes itself out of the list while it is destroyed.
    while (!components_.empty()) delete components_.back();
    if (owner_) owner_->Remove(this);
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount())
        throw EListError(Format(rtl_messages::ListIndexError, index));
    return components_[static_cast<size_t>(index)];
}

void TComponent::Remove(TComponent* c) {
    auto it = std::find(components_.begin(), components_.end(), c);
    if (it != components_.end()) components_.erase(it);
}
