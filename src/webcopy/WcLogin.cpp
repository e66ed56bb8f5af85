// The login form's layout and the modal prompt.
#include "webcopy/WcLogin.h"

#include <memory>

#include "framework/Application.h"

namespace {

TLabel* NewLabel(TForm* form, int left, int top, int width, const std::string& text,
                 TControl* focus) {
    auto* label = new TLabel(form);
    label->AutoSize = false;  // the layout fixes the label sizes
    label->SetParent(form);
    label->SetBounds(left, top, width, 13);
    label->SetCaption(text);
    label->FocusControl = focus;
    return label;
}

TEdit* NewEdit(TForm* form, int top, int tabOrder) {
    auto* edit = new TEdit(form);
    edit->SetParent(form);
    edit->SetBounds(104, top, 193, 21);
    edit->TabOrder = tabOrder;
    return edit;
}

TButton* NewButton(TForm* form, int left, const std::string& text, int result, int tabOrder) {
    auto* button = new TButton(form);
    button->SetParent(form);
    button->SetBounds(left, 152, 75, 25);
    button->SetCaption(text);
    button->ModalResult = result;
    button->TabOrder = tabOrder;
    return button;
}

}  // namespace

TWcLoginForm::TWcLoginForm(TComponent* owner) : TForm(owner) {
    Name = "WcLoginForm";
    BorderStyle = bsDialog;
    BorderIcons = biSystemMenu;
    Position = poScreenCenter;
    PixelsPerInch = 96;
    SetBounds(0, 0, 328, 223);
    StyleChanged();

    Image1 = new TImage(this);
    Image1->Name = "Image1";
    Image1->SetParent(this);
    Image1->SetBounds(0, 0, 320, 60);
    Image1->LoadBitmapResource(kLoginBannerResource);  // without it the banner stays empty

    Edit1 = NewEdit(this, 80, 0);
    Edit1->Name = "Edit1";
    Edit2 = NewEdit(this, 112, 1);
    Edit2->Name = "Edit2";
    Edit2->PasswordChar = '*';
    Label1 = NewLabel(this, 16, 80, 57, "&User name: ", Edit1);
    Label1->Name = "Label1";
    Label2 = NewLabel(this, 16, 112, 49, "&Password:", Edit2);
    Label2->Name = "Label2";

    Button1 = NewButton(this, 144, "OK", mrOk, 2);
    Button1->Name = "Button1";
    Button1->Default = true;
    Button2 = NewButton(this, 224, "Cancel", mrCancel, 3);
    Button2->Name = "Button2";
    Button2->Cancel = true;
}

bool ShowLoginDialog(const std::string& caption, std::string& userName, std::string& password) {
    std::unique_ptr<TWcLoginForm> form(new TWcLoginForm(Application));
    form->SetCaption(caption);
    if (form->ShowModal() != mrOk) return false;
    userName = form->Edit1->Text();
    password = form->Edit2->Text();
    return true;
}
