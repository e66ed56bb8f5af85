#include "components/WinXP.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/Exceptions.h"
#include "framework/Forms.h"

namespace {

// The construction error, checked to be the framework's base class itself.
std::string ConstructionError(TComponent* owner) {
    try {
        new TWinXP(owner);
    } catch (const Exception& e) {
        EXPECT_STREQ(e.ClassName(), "Exception");
        return e.Message();
    }
    return "(no error)";
}

TEST(WinXP, OneOnAFormIsAccepted) {
    TForm form(nullptr);
    auto* xp = new TWinXP(&form);
    ASSERT_EQ(form.ComponentCount(), 1);
    EXPECT_EQ(form.Components(0), xp);
}

// A failed construction must leave the owner's list as it was; the owner's destructor then
// frees only what is really there (ASan reports a dangling entry).
TEST(WinXP, SecondOnTheSameFormIsRefusedAndLeavesTheList) {
    TForm form(nullptr);
    auto* first = new TWinXP(&form);
    new TLabel(&form);  // other components do not count
    EXPECT_EQ(ConstructionError(&form), "Only one instance of TWinXP allowed on form");
    ASSERT_EQ(form.ComponentCount(), 2);
    EXPECT_EQ(form.Components(0), first);
}

TEST(WinXP, OwnerThatIsNotAFormIsRefused) {
    TComponent owner(nullptr);
    EXPECT_EQ(ConstructionError(&owner), "Control parent must be a form!");
    EXPECT_EQ(owner.ComponentCount(), 0);
    EXPECT_EQ(ConstructionError(nullptr), "Control parent must be a form!");
}

TEST(WinXP, OnAnotherFormItIsAcceptedAgain) {
    TForm one(nullptr), two(nullptr);
    new TWinXP(&one);
    EXPECT_NO_THROW(new TWinXP(&two));
}

}  // namespace
