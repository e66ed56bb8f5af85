#include "framework/Forms.h"

#include <algorithm>

#include "framework/Application.h"
#include "framework/Backend.h"

namespace {

bool SameFont(const TFont& a, const TFont& b) {
    return a.Name == b.Name && a.Height == b.Height && a.Color == b.Color &&
           a.Charset == b.Charset && a.Style == b.Style;
}

// Forms whose ShowModal is running, innermost last. Only the UI thread touches forms.
std::vector<TForm*> modalForms;

bool InModalLoop(const TForm* f) {
    return std::find(modalForms.begin(), modalForms.end(), f) != modalForms.end();
}

// A form reports Destroying while it is still a TForm; its TControl part must not repeat it.
const TControl* formAlreadyReported = nullptr;

}  // namespace

// --- TControl

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
    // Owned components go first, while this control still exists for them.
    while (ComponentCount() > 0) delete Components(ComponentCount() - 1);
    if (formAlreadyReported == this)
        formAlreadyReported = nullptr;
    else
        backend::Destroying(*this);
    if (parent_) {
        auto& list = parent_->controls_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        parent_ = nullptr;
    }
}

void TControl::SetParent(TForm* parent) {
    if (parent == parent_) return;
    if (parent_) {
        // The native window belongs to the old form's window.
        if (handle_) backend::Destroying(*this);
        auto& list = parent_->controls_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    parent_ = parent;
    if (parent_) {
        parent_->controls_.push_back(this);
        // Lets the backend create the native window when the form already has one.
        Changed(TChange::Visible);
    }
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (left == left_ && top == top_ && width == width_ && height == height_) return;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    Changed(TChange::Bounds);
}

void TControl::SetVisible(bool v) {
    if (v == visible_) return;
    visible_ = v;
    Changed(TChange::Visible);
}

void TControl::SetEnabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    Changed(TChange::Enabled);
}

void TControl::SetCaption(const std::string& text) {
    // Compared with Caption(): an edit's text may have been changed by the user.
    if (text == Caption()) return;
    caption_ = text;
    Changed(TChange::Text);
}

void TControl::SetFont(const TFont& font) {
    if (SameFont(font, font_)) return;
    font_ = font;
    Changed(TChange::Font);
}

void TControl::Changed(TChange what) { backend::Changed(*this, what); }

// --- TLabel

void TLabel::SetCaption(const std::string& text) {
    // Progress lines are written after every transfer block, often with their old text,
    // and measuring costs a GDI call. An empty text is still measured (a blank's size).
    if (!text.empty() && text == caption_) return;
    TControl::SetCaption(text);
    AdjustSize();
}

void TLabel::AdjustSize() {
    if (!AutoSize) return;
    const TFont& font = (ParentFont && Parent()) ? Parent()->Font() : Font();
    int w = 0, h = 0;
    backend::MeasureText(font, caption_, w, h);
    SetBounds(Left(), Top(), w, h);
}

// --- TButton, TEdit, TProgressBar

TButton::TButton(TComponent* owner) : TControl(owner) { SetBounds(0, 0, 75, 25); }

void TButton::Click() {
    // The handler may change ModalResult, so it is read afterwards.
    if (OnClick) OnClick(this);
    if (ModalResult != mrNone && Parent()) Parent()->ModalResult = ModalResult;
}

TEdit::TEdit(TComponent* owner) : TControl(owner) { SetBounds(0, 0, 121, 21); }

std::string TEdit::Caption() const { return backend::ReadText(*this); }

TProgressBar::TProgressBar(TComponent* owner) : TControl(owner) { SetBounds(0, 0, 150, 16); }

void TProgressBar::SetPosition(int p) {
    p = std::max(Min, std::min(Max, p));
    if (p == position_) return;
    position_ = p;
    Changed(TChange::Position);
}

// --- TAnimate, TImage

TAnimate::TAnimate(TComponent* owner) : TControl(owner) { SetBounds(0, 0, 100, 80); }

bool TAnimate::SetResId(void* module, int id) {
    int w = 0, h = 0;
    if (!backend::LoadClip(*this, module, id, w, h)) return false;
    resId_ = id;
    common_ = aviNone;
    SetBounds(Left(), Top(), w, h);
    return true;
}

bool TAnimate::SetCommonAVI(TCommonAVI avi) {
    int w = 0, h = 0;
    if (!backend::LoadCommonClip(*this, avi, w, h)) return false;
    common_ = avi;
    resId_ = 0;
    SetBounds(Left(), Top(), w, h);
    return true;
}

void TAnimate::SetActive(bool play) {
    if (play == active_) return;
    active_ = play;
    Changed(TChange::Play);
}

bool TImage::LoadBitmapResource(const std::string& name) {
    int w = 0, h = 0;
    if (!backend::LoadBitmap(*this, name, w, h)) return false;
    picture_ = name;
    if (AutoSize) SetBounds(Left(), Top(), w, h);
    return true;
}

// --- TTimer

TTimer::TTimer(TComponent* owner) : TComponent(owner) { backend::TimerChanged(*this); }

TTimer::~TTimer() { backend::TimerDestroying(*this); }

void TTimer::SetEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    backend::TimerChanged(*this);
}

void TTimer::SetInterval(unsigned ms) {
    if (ms == interval_) return;
    interval_ = ms;
    backend::TimerChanged(*this);
}

// --- TForm

TForm::TForm(TComponent* owner) : TControl(owner) { SetVisible(false); }

TForm::~TForm() {
    while (ComponentCount() > 0) delete Components(ComponentCount() - 1);
    // Controls owned elsewhere but shown on this form lose their parent.
    while (!controls_.empty()) controls_.back()->SetParent(nullptr);
    modalForms.erase(std::remove(modalForms.begin(), modalForms.end(), this), modalForms.end());
    if (Application) Application->FormDestroying(this);
    backend::Destroying(*this);
    formAlreadyReported = this;
}

int TForm::ClientWidth() const {
    int ew = 0, eh = 0;
    backend::NonClientSize(*this, ew, eh);
    return Width() - ew;
}

int TForm::ClientHeight() const {
    int ew = 0, eh = 0;
    backend::NonClientSize(*this, ew, eh);
    return Height() - eh;
}

void TForm::SetClientSize(int w, int h) {
    int ew = 0, eh = 0;
    backend::NonClientSize(*this, ew, eh);
    SetBounds(Left(), Top(), w + ew, h + eh);
}

void TForm::CenterOnScreen() {
    int sw = 0, sh = 0;
    backend::ScreenSize(sw, sh);
    SetBounds((sw - Width()) / 2, (sh - Height()) / 2, Width(), Height());
}

void TForm::Show() {
    const bool wasVisible = Visible();
    if (!wasVisible && Position == poScreenCenter) CenterOnScreen();
    SetVisible(true);
    if (!wasVisible && OnShow) OnShow(this);
}

void TForm::Close() {
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(this, canClose);
    if (!canClose) return;
    if (InModalLoop(this) && ModalResult == mrNone) ModalResult = mrCancel;
    Hide();
    if (Application && Application->MainForm() == this) Application->Terminate();
}

int TForm::ShowModal() {
    ModalResult = mrNone;
    struct ModalScope {
        TForm* f;
        explicit ModalScope(TForm* form) : f(form) { modalForms.push_back(form); }
        ~ModalScope() {
            modalForms.erase(std::remove(modalForms.begin(), modalForms.end(), f),
                             modalForms.end());
        }
    } scope(this);
    Show();
    int result = mrNone;
    try {
        result = backend::RunModal(*this);
    } catch (...) {
        Hide();
        throw;
    }
    if (ModalResult == mrNone) ModalResult = result != mrNone ? result : mrCancel;
    Hide();
    return ModalResult;
}

void TForm::Repaint() { backend::Repaint(*this); }

void TForm::Release() {
    if (Application) Application->ReleaseForm(this);
}
