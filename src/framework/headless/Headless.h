#pragma once
// Scripting hooks of the in-memory backend, for tests.
//
// Behaviour of the backend:
// - Message loop: ProcessOneMessage handles, in this order, one posted action, one pending
//   paint (Show() of a form queues one; it runs OnPaint), one due timer (only when nothing
//   else waits, as WM_TIMER; due = Interval ms on the steady clock since armed or last fired).
// - WaitForMessage blocks until Post, WakeMainThread, PostQuit or the next due timer. With
//   no timer armed it gives up after 5 s by throwing std::runtime_error, so a test that
//   waits for something that never comes fails instead of hanging.
// - MeasureText: width = text length x max(1, |font height| * 6 / 11),
//   height = |font height| + 2 (an 11-pixel font gives 6 pixels a character, 13 high).
// - NonClientSize: 0 x 0 for bsNone, otherwise 6 wide and 6 + CaptionHeight() high;
//   CaptionHeight 18; ScreenSize 1024 x 768.
// - LoadClip: ids 257 and 258 give 272 x 60; LoadCommonClip: aviCopyFiles gives 272 x 60;
//   LoadBitmap: any name gives 320 x 60.
// - Initialize: DecimalSeparator '.', Title from the program path (default
//   "C:\test\Test.exe").
#include <functional>
#include <string>
#include <vector>

#include "framework/Forms.h"

namespace headless {

struct MessageBoxCall {
    std::string text, caption;
    unsigned flags;
};

// Every message box shown, in order.
std::vector<MessageBoxCall>& MessageBoxCalls();
// What a message box returns; default IDOK (1).
void SetMessageBoxAnswer(std::function<int(const MessageBoxCall&)> answer);

// Called by RunModal with the form shown: fill edits, click buttons or Close the form.
// Its result becomes ModalResult unless the form already has one or was hidden.
// Default: returns mrCancel.
void SetModalHandler(std::function<int(TForm&)> handler);

// A user action, run by the next message pass on the UI thread; callable from any thread.
void Post(std::function<void()> action);

void SetProgramPath(const std::string& path);  // what backend::ProgramPath returns

int PaintCount(const TForm& form);  // how often the form was painted (OnPaint ran)
// How often the control reported this kind of change to the backend.
int ChangeCount(const TControl& control, TChange what);
bool IsTopmost(const TForm& form);  // SetTopmost was called for it
// Armed means enabled with a non-zero interval, as the backend last heard.
bool TimerArmed(const TTimer& timer);

// Forgets records, handlers, posted actions, paints, timers, the quit flag and the
// program path. Call between tests.
void Reset();

}  // namespace headless
