// The login form's layout and ShowLoginDialog's outcomes.
#include <gtest/gtest.h>

#include <stdexcept>

#include "framework/FrameworkFixture.h"
#include "webcopy/WcLogin.h"

namespace {

class Login : public FrameworkTest {};

TEST_F(Login, Layout) {
    TWcLoginForm form(nullptr);
    EXPECT_EQ(form.Width(), 328);
    EXPECT_EQ(form.Height(), 223);
    EXPECT_EQ(form.BorderIcons, biSystemMenu);
    EXPECT_EQ(form.Position, poScreenCenter);
    EXPECT_EQ(form.Font().Name, "MS Sans Serif");
    EXPECT_EQ(form.Font().Height, -11);

    const struct {
        TControl* control;
        int left, top, width, height;
        const char* text;
    } layout[] = {
        {form.Image1, 0, 0, 320, 60, ""},
        {form.Label1, 16, 80, 57, 13, "&User name: "},
        {form.Label2, 16, 112, 49, 13, "&Password:"},
        {form.Edit1, 104, 80, 193, 21, ""},
        {form.Edit2, 104, 112, 193, 21, ""},
        {form.Button1, 144, 152, 75, 25, "OK"},
        {form.Button2, 224, 152, 75, 25, "Cancel"},
    };
    for (const auto& c : layout) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.control->Parent(), &form);
        EXPECT_EQ(c.control->Left(), c.left);
        EXPECT_EQ(c.control->Top(), c.top);
        EXPECT_EQ(c.control->Width(), c.width);
        EXPECT_EQ(c.control->Height(), c.height);
        EXPECT_EQ(c.control->Caption(), c.text);
    }
    EXPECT_EQ(form.Image1->PictureName(), kLoginBannerResource);
    EXPECT_EQ(form.Label1->FocusControl, form.Edit1);
    EXPECT_EQ(form.Label2->FocusControl, form.Edit2);
    EXPECT_EQ(form.Edit1->PasswordChar, 0);
    EXPECT_EQ(form.Edit2->PasswordChar, '*');
    EXPECT_EQ(form.Edit1->TabOrder, 0);
    EXPECT_EQ(form.Edit2->TabOrder, 1);
    EXPECT_EQ(form.Button1->TabOrder, 2);
    EXPECT_EQ(form.Button2->TabOrder, 3);
    EXPECT_TRUE(form.Button1->Default);
    EXPECT_FALSE(form.Button1->Cancel);
    EXPECT_TRUE(form.Button2->Cancel);
    EXPECT_EQ(form.Button1->ModalResult, mrOk);
    EXPECT_EQ(form.Button2->ModalResult, mrCancel);
}

TEST_F(Login, Outcomes) {
    const struct {
        const char* name;
        std::function<void(TWcLoginForm&)> user;
        bool ok;
        const char *userName, *password;
    } cases[] = {
        {"OK", [](TWcLoginForm& f) { f.Edit1->SetText("anna"); f.Edit2->SetText("hemlig"); f.Button1->Click(); },
         true, "anna", "hemlig"},
        {"OK with empty fields", [](TWcLoginForm& f) { f.Button1->Click(); }, true, "", ""},
        {"Cancel", [](TWcLoginForm& f) { f.Edit1->SetText("x"); f.Button2->Click(); }, false, "old", "oldpw"},
        {"closed", [](TWcLoginForm& f) { f.Edit1->SetText("x"); f.Close(); }, false, "old", "oldpw"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string caption;
        headless::SetModalHandler([&](TForm& f) {
            auto& login = dynamic_cast<TWcLoginForm&>(f);
            caption = login.Caption();
            EXPECT_TRUE(login.Visible());
            EXPECT_EQ(login.Owner(), Application);
            c.user(login);
            return mrNone;
        });
        std::string user = "old", password = "oldpw";
        EXPECT_EQ(ShowLoginDialog("Connect to srv", user, password), c.ok);
        EXPECT_EQ(caption, "Connect to srv");
        EXPECT_EQ(user, c.userName);
        EXPECT_EQ(password, c.password);
        EXPECT_EQ(Application->ComponentCount(), 0) << "the form must be destroyed";
    }
}

TEST_F(Login, FormIsDestroyedWhenAnErrorInterrupts) {
    headless::SetModalHandler([](TForm&) -> int { throw std::runtime_error("boom"); });
    std::string user, password;
    EXPECT_THROW(ShowLoginDialog("c", user, password), std::runtime_error);
    EXPECT_EQ(Application->ComponentCount(), 0);
}

}  // namespace
