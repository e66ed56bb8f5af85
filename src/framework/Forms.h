#pragma once
// Forms and controls. The state lives here; a backend (win32: real windows, headless:
// in memory) mirrors it through the hooks in Backend.h. Sizes are pixels, forms' Left,
// Top, Width and Height are the outer window; ClientWidth/ClientHeight the inside.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/Component.h"

using TColor = uint32_t;  // 0x00BBGGRR, or 0x800000nn for a system colour nn
inline constexpr TColor clWhite = 0x00FFFFFF;
inline constexpr TColor clBlack = 0x00000000;
inline constexpr TColor clWindowText = 0x80000008;
inline constexpr TColor clBtnFace = 0x8000000F;

inline constexpr int DEFAULT_CHARSET = 1;
enum TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

struct TFont {
    std::string Name = "MS Sans Serif";
    int Height = -11;  // negative: character height in pixels
    TColor Color = clWindowText;
    int Charset = DEFAULT_CHARSET;
    int Style = 0;  // TFontStyle bits
};

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };
enum TBorderIcon { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };
enum TPosition { poDesigned, poScreenCenter };
enum TFormStyle { fsNormal, fsStayOnTop };
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };
enum TCommonAVI { aviNone, aviCopyFiles };

class TForm;

// Which part of a control's state changed; passed to the backend.
enum class TChange { Bounds, Text, Visible, Enabled, Font, Style, Position, Clip, Play, Picture };

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;

    TForm* Parent() const { return parent_; }
    void SetParent(TForm* parent);

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    virtual void SetBounds(int left, int top, int width, int height);

    bool Visible() const { return visible_; }
    void SetVisible(bool v);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);

    // Caption of a label, button or form; the text of an edit (read back from the backend).
    virtual std::string Caption() const { return caption_; }
    virtual void SetCaption(const std::string& text);

    const TFont& Font() const { return font_; }
    void SetFont(const TFont& font);
    bool ParentFont = true;
    int TabOrder = 0;

    // Backend data: the native window (HWND) or nullptr.
    void* Handle() const { return handle_; }
    void SetHandle(void* h) { handle_ = h; }

protected:
    void Changed(TChange what);
    std::string caption_;

private:
    TForm* parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true, enabled_ = true;
    TFont font_;
    void* handle_ = nullptr;
};

// A text label. With AutoSize it sizes itself to its text, keeping its left edge.
class TLabel : public TControl {
public:
    explicit TLabel(TComponent* owner) : TControl(owner) {}
    void SetCaption(const std::string& text) override;
    bool AutoSize = true;
    bool Transparent = false;
    TControl* FocusControl = nullptr;
    void AdjustSize();  // apply AutoSize now (also after a font change)
};

class TButton : public TControl {
public:
    explicit TButton(TComponent* owner);
    TNotifyEvent OnClick;
    int ModalResult = mrNone;
    bool Default = false;  // Enter
    bool Cancel = false;   // Escape
    // What a click does: OnClick, then the form's ModalResult when set.
    void Click();
};

class TEdit : public TControl {
public:
    explicit TEdit(TComponent* owner);
    std::string Text() const { return Caption(); }
    void SetText(const std::string& t) { SetCaption(t); }
    std::string Caption() const override;  // what the user typed
    char PasswordChar = 0;
};

class TProgressBar : public TControl {
public:
    explicit TProgressBar(TComponent* owner);
    int Min = 0;
    int Max = 100;
    int Position() const { return position_; }
    void SetPosition(int p);  // clamped to Min..Max

private:
    int position_ = 0;
};

// Animation strip: an AVI clip from a module's resources, or a stock clip.
class TAnimate : public TControl {
public:
    explicit TAnimate(TComponent* owner);
    // Select resource clip `id` (type "AVI") of `module` (nullptr: this program). Sizes the
    // control to the clip; false when the clip cannot be loaded.
    bool SetResId(void* module, int id);
    bool SetCommonAVI(TCommonAVI avi);
    int ResId() const { return resId_; }
    TCommonAVI CommonAVI() const { return common_; }
    bool Active() const { return active_; }
    void SetActive(bool play);  // play in an endless loop / stop

private:
    int resId_ = 0;
    TCommonAVI common_ = aviNone;
    bool active_ = false;
};

// A picture from a bitmap resource of this program.
class TImage : public TControl {
public:
    explicit TImage(TComponent* owner) : TControl(owner) {}
    bool LoadBitmapResource(const std::string& name);  // AutoSize: sizes to the bitmap
    bool AutoSize = true;
    std::string PictureName() const { return picture_; }

private:
    std::string picture_;
};

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned ms);
    TNotifyEvent OnTimer;
    void* TimerId = nullptr;  // backend data

private:
    bool enabled_ = true;
    unsigned interval_ = 1000;
};

class TForm : public TControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;

    TFormBorderStyle BorderStyle = bsSizeable;
    int BorderIcons = biSystemMenu | biMinimize | biMaximize;
    TPosition Position = poDesigned;
    TFormStyle FormStyle = fsNormal;
    bool AlphaBlend = false;
    int AlphaBlendValue = 255;
    TColor Color = clBtnFace;
    int PixelsPerInch = 96;
    int TextHeight = 13;
    bool OldCreateOrder = false;
    bool KeyPreview = false;

    // Client area size; setting it sets Width/Height from the frame's size.
    int ClientWidth() const;
    int ClientHeight() const;
    void SetClientSize(int w, int h);

    // Apply style fields changed after creation (border, icons, stay-on-top, alpha).
    void StyleChanged() { Changed(TChange::Style); }

    void Show();
    void Hide() { SetVisible(false); }
    // Asks OnCloseQuery; when allowed hides the form. Closing the main form ends the
    // application's message loop.
    void Close();
    int ShowModal();  // runs until ModalResult is set or the form is closed
    int ModalResult = mrNone;
    void Repaint();   // paint now
    // Destroy once the current message has been handled (safe from the form's own handlers).
    void Release();
    // Place the form centred on the screen (Position = poScreenCenter does it on Show).
    void CenterOnScreen();

    const std::vector<TControl*>& Controls() const { return controls_; }

    TNotifyEvent OnPaint;
    TNotifyEvent OnShow;
    std::function<void(TObject* Sender, bool& CanClose)> OnCloseQuery;

private:
    friend class TControl;
    std::vector<TControl*> controls_;
};
