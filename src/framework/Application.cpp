#include "framework/Application.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <new>

#include "framework/Backend.h"
#include "framework/Thread.h"

TApplication* Application = nullptr;

namespace {

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Lower case as the Windows-1252 code page has it (ASCII, accented letters, Š Œ Ž Ÿ).
char LowerCp1252(char c) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7))
        return static_cast<char>(u + 0x20);
    switch (u) {
    case 0x8A: return static_cast<char>(0x9A);
    case 0x8C: return static_cast<char>(0x9C);
    case 0x8E: return static_cast<char>(0x9E);
    case 0x9F: return static_cast<char>(0xFF);
    default: return c;
    }
}

std::string MessageOf(const std::exception& e) {
    if (auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
    return e.what();
}

// Handles one pass of everything waiting; true when anything was handled.
bool ProcessPending(TApplication& app) {
    bool any = false;
    for (;;) {
        bool pass = false;
        for (;;) {
            bool handled = false;
            try {
                handled = backend::ProcessOneMessage();
            } catch (const std::exception& e) {
                // An error escaping an event handler is reported; the loop goes on.
                handled = true;
                app.ShowException(e);
            }
            if (!handled) break;
            pass = true;
            app.DestroyReleasedForms();
        }
        if (CheckSynchronize()) pass = true;
        if (!pass) return any;
        any = true;
    }
}

}  // namespace

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication() {
    DestroyReleasedForms();
    // Owned forms go while the application is whole: their destructors call back.
    while (ComponentCount() > 0) delete Components(ComponentCount() - 1);
    if (Application == this) Application = nullptr;
}

void TApplication::Initialize() {
    SetMainThread();
    backend::Initialize(*this);
}

void TApplication::Run() {
    if (!mainForm_) return;
    if (!terminated_) mainForm_->Show();
    while (!terminated_) HandleMessage();
}

void TApplication::ProcessMessages() { ProcessPending(*this); }

void TApplication::HandleMessage() {
    if (ProcessPending(*this)) return;
    if (terminated_) return;
    backend::WaitForMessage();
    ProcessPending(*this);
}

void TApplication::Terminate() {
    terminated_ = true;
    backend::PostQuit();
}

int TApplication::MessageBox(const std::string& text, const std::string& caption,
                             unsigned flags) {
    return backend::MessageBox(text, caption, flags);
}

void TApplication::ShowMessage(const std::string& text) { MessageBox(text, Title, MB_OK_); }

void TApplication::ShowException(const std::exception& e) {
    MessageBox(WithFinalPeriod(MessageOf(e)), Title, MB_ICONERROR_ | MB_OK_);
}

void TApplication::ReleaseForm(TForm* form) {
    if (form && std::find(released_.begin(), released_.end(), form) == released_.end())
        released_.push_back(form);
}

void TApplication::DestroyReleasedForms() {
    while (!released_.empty()) {
        TForm* form = released_.back();
        released_.pop_back();
        delete form;
    }
}

void TApplication::FormDestroying(TForm* form) {
    released_.erase(std::remove(released_.begin(), released_.end(), form), released_.end());
    if (mainForm_ == form) mainForm_ = nullptr;
}

std::string TitleFromProgramPath(const std::string& path) {
    std::string name = FileNameOf(path);
    const size_t dot = name.find('.');
    if (dot != std::string::npos) name.erase(dot);
    for (size_t i = 1; i < name.size(); ++i) name[i] = LowerCp1252(name[i]);
    return name;
}

std::string WithFinalPeriod(const std::string& message) {
    if (!message.empty() && message.back() == '.') return message;
    return message + ".";
}

int ReportUnhandledException(const std::exception& e) {
    const char* className = "Exception";
    if (auto* own = dynamic_cast<const Exception*>(&e))
        className = own->ClassName();
    else if (dynamic_cast<const std::bad_alloc*>(&e))
        className = "EOutOfMemory";
    // Fixed-width upper-case hex, as the report has always shown code addresses.
    char address[2 * sizeof(void*) + 1];
    std::snprintf(address, sizeof address, "%0*" PRIXPTR, static_cast<int>(2 * sizeof(void*)),
                  reinterpret_cast<uintptr_t>(&ReportUnhandledException));
    const std::string message = MessageOf(e);
    const char* dot = (!message.empty() && message.back() == '.') ? "" : ".";
    const std::string text =
        Format("Exception %s in module %s at %s.\r\n%s%s\r\n", className,
               FileNameOf(backend::ProgramPath()).c_str(), address, message.c_str(), dot);
    backend::MessageBox(text, "Application Error", MB_ICONERROR_ | MB_TASKMODAL_ | MB_OK_);
    return 1;
}
