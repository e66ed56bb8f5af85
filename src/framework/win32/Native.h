#pragma once
// What the Win32 backend's units share: the native data kept per control, fonts, colours,
// the window classes and the guard that keeps errors from unwinding through Win32 frames.
//
// The framework headers come first: <windows.h> defines DEFAULT_CHARSET, MessageBox and
// LoadBitmap as macros, which would rewrite the framework's own names.
#include <exception>
#include <string>

#include "framework/Application.h"
#include "framework/Backend.h"
#include "framework/Forms.h"

#include <windows.h>
#include <commctrl.h>

#undef MessageBox
#undef LoadBitmap

namespace win32 {

// Native state of one control or form, beside the portable state.
struct Native {
    // Forms.
    HBRUSH brush = nullptr;      // background in the form's Color
    bool ownBrush = false;       // false for the shared system-colour brushes
    TColor brushColor = 0;
    HWND focus = nullptr;        // the child that had the focus when the form lost it
    int nextId = 100;            // child control ids; clear of IDOK and IDCANCEL
    bool stayOnTop = false;      // FormStyle as last applied to the window
    // Children.
    TForm* parent = nullptr;     // the form whose window holds the child window
    // Images.
    HBITMAP bitmap = nullptr;
    // Animations: the clip selected (id 0: none).
    HMODULE clipModule = nullptr;
    int clipId = 0;
    // Progress bars: the range last sent.
    int rangeMin = 0, rangeMax = -1;
    // Frequent updates (Updates.cpp): what waits for the next flush.
    unsigned pending = 0;
};

Native& Data(const TControl& c);
Native* FindData(const TControl& c);
void Forget(const TControl& c);

inline HWND Hwnd(const TControl& c) { return static_cast<HWND>(c.Handle()); }
// The control a window of ours stands for (GWLP_USERDATA), or nullptr.
TControl* FromHwnd(HWND h);
void Attach(HWND h, TControl& c);
void Detach(HWND h);

HINSTANCE Instance();
// Registers the form and utility window classes once.
void RegisterClasses();
extern const char kFormClass[];
extern const char kUtilityClass[];
bool IsFormWindow(HWND h);

// A cached font for the framework font (never freed: fonts are few and live with the process).
HFONT FontHandle(const TFont& font);
// The font a control draws with: its parent form's when ParentFont.
const TFont& EffectiveFont(const TControl& c);
COLORREF ColorRef(TColor c);
HBRUSH FormBrush(const TForm& f);
void ReleaseFormBrush(Native& n);

// FormWindow.cpp: the form windows.
LRESULT CALLBACK FormProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
HWND EnsureFormWindow(TForm& f);  // creates the window (hidden) with its children
void FormChanged(TForm& f, TChange what);
void DestroyFormWindow(TForm& f);

// Updates.cpp: texts, bounds and bar positions change after every transfer block; they reach
// the windows together, at most once a frame: when messages are processed next (once a
// frame has passed since the last flush), before the thread waits, repaints, shows a form
// or a message box, and at the latest by a timer of the utility window.
enum : unsigned { kUpdateText = 1, kUpdateBounds = 2, kUpdatePosition = 4 };
void Update(TControl& c, unsigned what);
void FlushUpdates();
void FlushUpdatesWhenDue();
void DropUpdates(const TControl& c);  // the control is going
constexpr UINT_PTR kFlushTimer = 0x7FFF0001;
long long NowMicroseconds();

// Controls.cpp: the child windows of a form.
void CreateChildren(TForm& f);  // those not created yet, in tab order
void ChildChanged(TControl& c, TChange what);
void DestroyChild(TControl& c);
void ApplyUpdate(TControl& c, unsigned what);  // writes the window now
// The enabled, visible button of the form marked Default (or Cancel), or nullptr.
TButton* FormButton(const TForm& f, bool wantDefault);

// MessageLoop.cpp: the utility window that carries timers and wake-ups.
LRESULT CALLBACK UtilityProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
HWND Utility();

// Media.cpp: apply an image's bitmap and an animation's clip to their windows.
void ApplyPicture(TImage& image);
void ApplyClip(TAnimate& a);
void ApplyPlay(TAnimate& a);
void DetachPicture(HWND h, const Native& n);  // before the picture's window goes
void ReleaseMedia(Native& n);

// Reports an error that escapes an event handler, as the application's loop does. C++
// exceptions must not unwind through user32's frames (they cannot on i686 at all).
void ReportHandlerError(const std::exception& e) noexcept;
void ReportUnknownHandlerError() noexcept;

template <class F>
void Guarded(F&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& e) {
        ReportHandlerError(e);
    } catch (...) {
        ReportUnknownHandlerError();
    }
}

}  // namespace win32
