#pragma once
// The application object: message loop, process-messages, terminate, message boxes and
// the error reports.
#include <exception>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Exceptions.h"
#include "framework/Forms.h"

inline constexpr unsigned MB_OK_ = 0x0;
inline constexpr unsigned MB_ICONERROR_ = 0x10;
inline constexpr unsigned MB_TASKMODAL_ = 0x2000;
inline constexpr int IDOK_ = 1;

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    // Prepares the backend; Title comes from the program file's name.
    void Initialize();

    // Creates a form owned by the application; the first one becomes the main form.
    template <class T>
    void CreateForm(T*& ref) {
        ref = new T(this);
        if (!mainForm_) mainForm_ = ref;
    }
    TForm* MainForm() const { return mainForm_; }

    // Shows the main form and handles messages until Terminate (or the main form closes).
    void Run();
    // Handles every message that is waiting (synchronize requests included), then returns.
    void ProcessMessages();
    // Waits until a message or a synchronize request arrives, then handles what is waiting.
    // Costs no CPU while waiting.
    void HandleMessage();
    void Terminate();
    bool Terminated() const { return terminated_; }

    std::string Title;

    // Modal message box owned by the active window.
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags);
    // Plain message dialog: captioned with Title, no icon, one OK button.
    void ShowMessage(const std::string& text);
    // The default error report: Title, error icon, OK; the message with a "." added when it
    // does not end in one.
    void ShowException(const std::exception& e);

    // Forms released with TForm::Release are destroyed here, after the message that asked.
    void ReleaseForm(TForm* form);
    void DestroyReleasedForms();
    // Called by a form's destructor: forgets it as released form and as main form.
    void FormDestroying(TForm* form);

private:
    TForm* mainForm_ = nullptr;
    bool terminated_ = false;
    std::vector<TForm*> released_;
};

extern TApplication* Application;

// Title rule: the file name without folder, cut at its first ".", every character after the
// first in lower case (KASSA.EXE gives Kassa).
std::string TitleFromProgramPath(const std::string& path);

// The report for an error that escapes start-up: a task-modal "Application Error" box with
// the error icon and "Exception %s in module %s at %p.\r\n%s%s\r\n". Returns the exit code 1.
int ReportUnhandledException(const std::exception& e);

// A message text with a "." appended unless it already ends in one.
std::string WithFinalPeriod(const std::string& message);
