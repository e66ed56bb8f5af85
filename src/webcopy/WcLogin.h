#pragma once
// The login dialog that asks for an HTTP user name and password.
#include <string>

#include "framework/Forms.h"

class TWcLoginForm : public TForm {
public:
    explicit TWcLoginForm(TComponent* owner);

    TImage* Image1;   // banner
    TLabel* Label1;   // "&User name: "
    TLabel* Label2;   // "&Password:"
    TEdit* Edit1;     // user name
    TEdit* Edit2;     // password, shown as "*"
    TButton* Button1; // OK (Enter)
    TButton* Button2; // Cancel (Escape)
};

// Name of the banner bitmap resource of the program.
inline constexpr const char* kLoginBannerResource = "WCLOGINBANNER";

// Shows the login form modally with `caption`, its fields empty. True when the user pressed
// OK: userName and password then receive the typed texts (empty fields give empty texts).
// False on Cancel, Escape or close, leaving both untouched. The form is destroyed on every
// path.
bool ShowLoginDialog(const std::string& caption, std::string& userName, std::string& password);
