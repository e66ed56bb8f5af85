#pragma once
// The visual-styles component. The styles themselves come from the program's manifest
// (common controls version 6); the component only guards its own placement.
#include "framework/Component.h"

class TWinXP : public TComponent {
public:
    // Raises Exception "Control parent must be a form!" when `owner` is not a form (or is
    // null), and "Only one instance of TWinXP allowed on form" when the owner already holds
    // one. On either error the component has left the owner's list again.
    explicit TWinXP(TComponent* owner);
};
