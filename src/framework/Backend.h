#pragma once
// What a backend supplies. Implemented once in win32/ (real windows) and once in
// headless/ (in memory, scriptable from tests); the portable framework calls only these.
#include <string>

#include "framework/Forms.h"

class TApplication;

namespace backend {

void Initialize(TApplication& app);  // sets DecimalSeparator and Application->Title
std::string ProgramPath();           // the running program's full path

// Mirror a control's state (creates the native window on first need once the parent form
// has one). Destroying: release native resources.
void Changed(TControl& c, TChange what);
void Destroying(TControl& c);
std::string ReadText(const TControl& c);  // the text of an edit as the user left it
void MeasureText(const TFont& font, const std::string& text, int& width, int& height);

// Forms.
void NonClientSize(const TForm& f, int& extraWidth, int& extraHeight);  // frame sizes
void ScreenSize(int& width, int& height);
int CaptionHeight();                  // GetSystemMetrics(SM_CYCAPTION)
void SetTopmost(TForm& f);            // SetWindowPos(HWND_TOPMOST, current bounds, flags 0)
void Repaint(TForm& f);               // paint now (runs OnPaint)
int RunModal(TForm& f);               // loops until f.ModalResult != 0 or f is hidden

// Animation and pictures; width/height receive the clip or bitmap size.
bool LoadClip(TAnimate& a, void* module, int id, int& width, int& height);
bool LoadCommonClip(TAnimate& a, TCommonAVI avi, int& width, int& height);
bool LoadBitmap(TImage& i, const std::string& name, int& width, int& height);

void TimerChanged(TTimer& t);  // (re)arm or stop
void TimerDestroying(TTimer& t);

// Message loop.
bool ProcessOneMessage();  // false when nothing was waiting
void WaitForMessage();     // blocks until a message or WakeMainThread
void WakeMainThread();     // callable from any thread
void PostQuit();
int MessageBox(const std::string& text, const std::string& caption, unsigned flags);

}  // namespace backend
