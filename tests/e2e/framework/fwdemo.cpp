// Drives the framework's Win32 backend through real windows and prints what came out, one
// "key=value" line each (texts as hex of their bytes), for test_fwdemo.py.
//
// Built like the launcher: a splash form as main form whose first paint arms a 1 ms timer;
// the tick runs every check (a progress dialog, a modal login form driven by synthesised
// keys, wake-ups from a worker thread, an error in a click handler) and then closes the
// splash, which ends the application.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "framework/Application.h"
#include "framework/Backend.h"
#include "framework/Forms.h"
#include "framework/Strings.h"
#include "framework/Thread.h"
#include "webcopy/WcLogin.h"

#include <windows.h>
#include <commctrl.h>

#include "../tools/wintext.h"
#undef MessageBox

namespace {

void Out(const std::string& key, const std::string& value) {
    std::printf("%s=%s\n", key.c_str(), value.c_str());
    std::fflush(stdout);
}

void Out(const std::string& key, long long value) { Out(key, IntToStr(value)); }

HWND H(const TControl& c) { return static_cast<HWND>(c.Handle()); }

// Lets the backend bring the windows up to date (it writes frequent changes once a frame).
void Settle() {
    Sleep(20);
    Application->ProcessMessages();
}

std::string Box(int l, int t, int w, int h) {
    return IntToStr(l) + "," + IntToStr(t) + "," + IntToStr(w) + "," + IntToStr(h);
}

std::string WindowText(HWND h) {
    char buf[512] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

// Outer rectangle, client size, and the portable bounds for comparison.
void ReportForm(const std::string& name, TForm& f) {
    Settle();
    HWND h = H(f);
    RECT w, c;
    GetWindowRect(h, &w);
    GetClientRect(h, &c);
    Out(name + ".window", Box(w.left, w.top, w.right - w.left, w.bottom - w.top));
    Out(name + ".client", Box(0, 0, c.right, c.bottom));
    Out(name + ".bounds", Box(f.Left(), f.Top(), f.Width(), f.Height()));
    Out(name + ".clientsize", Box(0, 0, f.ClientWidth(), f.ClientHeight()));
    const LONG_PTR style = GetWindowLongPtrA(h, GWL_STYLE), ex = GetWindowLongPtrA(h, GWL_EXSTYLE);
    Out(name + ".popup", (style & WS_POPUP) ? 1 : 0);
    Out(name + ".caption", (style & WS_CAPTION) == WS_CAPTION ? 1 : 0);
    Out(name + ".sysmenu", (style & WS_SYSMENU) ? 1 : 0);
    Out(name + ".thickframe", (style & WS_THICKFRAME) ? 1 : 0);
    Out(name + ".dlgmodalframe", (ex & WS_EX_DLGMODALFRAME) ? 1 : 0);
    Out(name + ".topmost", (ex & WS_EX_TOPMOST) ? 1 : 0);
    Out(name + ".layered", (ex & WS_EX_LAYERED) ? 1 : 0);
    Out(name + ".text", Hex(WindowText(h)));
    Out(name + ".visible", IsWindowVisible(h) ? 1 : 0);
}

// Children in z-order (the dialog manager's tab order): class, box in the client, text.
void ReportChildren(const std::string& name, TForm& f) {
    Settle();
    int i = 0;
    for (HWND c = GetWindow(H(f), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT), ++i) {
        char cls[64] = {};
        GetClassNameA(c, cls, sizeof cls);
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, H(f), reinterpret_cast<POINT*>(&r), 2);
        const LONG_PTR style = GetWindowLongPtrA(c, GWL_STYLE);
        Out(name + ".child" + IntToStr(i),
            std::string(cls) + "," + Box(r.left, r.top, r.right - r.left, r.bottom - r.top) + "," +
                ((style & WS_VISIBLE) ? "1" : "0") + "," + ((style & WS_DISABLED) ? "0" : "1") +
                "," + ((style & WS_TABSTOP) ? "1" : "0") + "," + Hex(WindowText(c)));
    }
}

// What a label's parent answers for its colours, and the font the label draws with.
void ReportLabelLook(const std::string& name, TLabel& label) {
    Settle();
    HDC dc = CreateCompatibleDC(nullptr);
    auto brush = reinterpret_cast<HBRUSH>(SendMessageA(H(*label.Parent()), WM_CTLCOLORSTATIC,
                                                       reinterpret_cast<WPARAM>(dc),
                                                       reinterpret_cast<LPARAM>(H(label))));
    LOGBRUSH lb{};
    GetObjectA(brush, sizeof lb, &lb);
    Out(name + ".textcolor", static_cast<long long>(GetTextColor(dc)));
    Out(name + ".background", static_cast<long long>(lb.lbColor));
    DeleteDC(dc);
    LOGFONTA lf{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(H(label), WM_GETFONT, 0, 0)), sizeof lf, &lf);
    Out(name + ".font", std::string(lf.lfFaceName) + "," + IntToStr(lf.lfHeight));
    RECT r;
    GetWindowRect(H(label), &r);
    MapWindowPoints(nullptr, H(*label.Parent()), reinterpret_cast<POINT*>(&r), 2);
    Out(name + ".window", Box(r.left, r.top, r.right - r.left, r.bottom - r.top));
    Out(name + ".bounds", Box(label.Left(), label.Top(), label.Width(), label.Height()));
    Out(name + ".text", Hex(WindowText(H(label))));
}

// Keys as the user types them; `keys` holds virtual-key codes, with VK_MENU meaning "Alt
// with the next key".
void Type(const std::vector<WORD>& keys) {
    std::vector<INPUT> in;
    auto key = [&in](WORD vk, bool up) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = vk;
        i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        in.push_back(i);
    };
    for (size_t k = 0; k < keys.size(); ++k) {
        if (keys[k] == VK_MENU && k + 1 < keys.size()) {
            key(VK_MENU, false);
            key(keys[k + 1], false);
            key(keys[k + 1], true);
            key(VK_MENU, true);
            ++k;
        } else {
            key(keys[k], false);
            key(keys[k], true);
        }
    }
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

// A worker whose only work is one synchronize, as the transfer component's thread.
class SyncThread : public TThread {
public:
    SyncThread(std::function<bool()> method, int delayMs) : method_(std::move(method)), delay_(delayMs) {
        Start();
    }

protected:
    void Execute() override {
        Sleep(static_cast<DWORD>(delay_));
        // Retried while the method reports that what it looks for is not there yet.
        for (int i = 0; i < 200; ++i) {
            bool done = false;
            Synchronize([&] { done = method_(); });
            if (done) return;
            Sleep(25);
        }
    }

private:
    std::function<bool()> method_;
    int delay_;
};

// Answers the message box captioned `caption` with OK from a worker's synchronize, which
// only runs when the backend serves synchronize requests inside the box's own loop.
bool AnswerBox(const std::string& caption, std::string& text) {
    HWND box = FindWindowA("#32770", caption.c_str());
    if (!box) return false;
    char buf[512] = {};
    GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);
    text = buf;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return true;
}

double MicrosecondsPer(int count, const std::function<void()>& step) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) step();
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    return took.count() / count;
}

void ProgressDialog(TForm* owner) {
    const int extra = 40, buttonTop = extra + 140;
    auto* dialog = new TForm(owner);
    dialog->SetBounds(0, 0, 300, backend::CaptionHeight() + extra + 188);
    dialog->Position = poScreenCenter;
    dialog->BorderStyle = bsDialog;
    dialog->FormStyle = fsStayOnTop;
    dialog->BorderIcons = 0;
    dialog->StyleChanged();
    dialog->CenterOnScreen();
    bool allowClose = false;
    dialog->OnCloseQuery = [&allowClose](TObject*, bool& canClose) { canClose = allowClose; };

    auto line = [dialog](int top, const std::string& text, bool autoSize) {
        auto* l = new TLabel(dialog);
        l->SetParent(dialog);
        l->AutoSize = autoSize;
        l->SetBounds(10, top, autoSize ? 0 : 280, 13);
        l->SetCaption(text);
        return l;
    };
    TLabel* fileLine = line(80, "File :", false);
    TLabel* progressLine = line(100, "Progress :", true);
    TLabel* rateLine = line(120, "Transfer rate :", true);
    TLabel* timeLine = line(140, "Estimated time left :", true);
    TLabel* elapsedLine = line(160, "Elapsed time :", true);
    auto* animation = new TAnimate(dialog);
    animation->SetParent(dialog);
    animation->SetBounds(10, 0, 272, 60);
    Out("dialog.clip257", animation->SetResId(nullptr, 257) ? 1 : 0);
    animation->SetActive(true);
    int cancels = 0;
    auto* cancel = new TButton(dialog);
    cancel->SetParent(dialog);
    cancel->SetBounds(300 - 75 - 10, buttonTop, 75, 25);
    cancel->SetCaption("Cancel");
    cancel->OnClick = [&cancels, dialog](TObject*) {
        ++cancels;
        dialog->Close();  // refused: the run is active
    };
    auto* bar = new TProgressBar(dialog);
    bar->SetParent(dialog);
    bar->SetBounds(10, 60, 280, 12);
    dialog->SetCaption("Downloading ...");

    dialog->Show();
    backend::SetTopmost(*dialog);
    fileLine->SetCaption("File : 1 of 2 : a-very-long-file-name-that-does-not-fit-in-the-line.bin "
                         "from 127.0.0.1");

    // A transfer block's worth of updates, as the progress update does after each block:
    // the bar, the byte count and the rate change, the rest only now and then.
    int block = 0;
    auto update = [&](bool process) {
        ++block;
        bar->SetPosition(block * 100 / 4000);
        progressLine->SetCaption("Progress : " + IntToStr(block * 4) + " KB of 16000 KB");
        dialog->SetCaption("Downloading : " + IntToStr(bar->Position()) + "% completed");
        rateLine->SetCaption("Transfer rate : " + IntToStr(block % 97) + " KB/s");
        timeLine->SetCaption("Estimated time left : 00:00:" + IntToStr(block / 1000));
        elapsedLine->SetCaption("Elapsed time : 00:00:" + IntToStr(block / 1000));
        if (process) Application->ProcessMessages();
    };
    Out("perf.update_us", static_cast<long long>(MicrosecondsPer(2000, [&] { update(false); })));
    Out("perf.block_us", static_cast<long long>(MicrosecondsPer(2000, [&] { update(true); })));
    Out("perf.idle_ns",
        static_cast<long long>(MicrosecondsPer(20000, [] { backend::ProcessOneMessage(); }) * 1000));
    bar->SetPosition(45);

    ReportForm("dialog", *dialog);
    int ew = 0, eh = 0;
    backend::NonClientSize(*dialog, ew, eh);
    Out("dialog.nonclient", Box(0, 0, ew, eh));
    Out("dialog.captionheight", backend::CaptionHeight());
    ReportChildren("dialog", *dialog);
    ReportLabelLook("progressline", *progressLine);
    Out("dialog.barpos", SendMessageA(H(*bar), PBM_GETPOS, 0, 0));
    Out("dialog.barmax", SendMessageA(H(*bar), PBM_GETRANGE, FALSE, 0));

    // A click as a test driver makes it: posted, handled by the loop.
    PostMessageA(H(*cancel), BM_CLICK, 0, 0);
    for (int i = 0; i < 200 && cancels == 0; ++i) {
        Application->ProcessMessages();
        Sleep(5);
    }
    Out("dialog.cancelclicks", cancels);
    Out("dialog.visible_after_refused_close", IsWindowVisible(H(*dialog)) ? 1 : 0);

    // The stock copy clip replaces the program's own.
    Out("dialog.copyclip", animation->SetCommonAVI(aviCopyFiles) ? 1 : 0);
    Out("dialog.copyclip.size", Box(0, 0, animation->Width(), animation->Height()));
    Out("dialog.reopen257", SendMessageA(H(*animation), ACM_OPENA, 0, 257) ? 1 : 0);
    allowClose = true;
    PostMessageA(H(*dialog), WM_CLOSE, 0, 0);
    for (int i = 0; i < 200 && dialog->Visible(); ++i) {
        Application->ProcessMessages();
        Sleep(5);
    }
    Out("dialog.closed", dialog->Visible() ? 0 : 1);
    HWND gone = H(*dialog), goneChild = H(*bar);
    delete dialog;
    Out("dialog.destroyed", (!IsWindow(gone) && !IsWindow(goneChild)) ? 1 : 0);
}

struct LoginForm {
    TForm* form;
    TEdit *user, *password;
    TButton* ok;
};

// The transfer component's own login form, so the keys below drive the real layout.
LoginForm NewLogin() {
    auto* f = new TWcLoginForm(Application);
    f->SetCaption("Connect to 127.0.0.1");
    return {f, f->Edit1, f->Edit2, f->Button1};
}

void LoginForms(TForm* splash) {
    struct Case {
        const char* name;
        std::vector<WORD> keys;
        bool closeBox;  // WM_CLOSE instead of keys
    };
    const std::vector<Case> cases = {
        {"tab_enter", {'A', 'B', VK_TAB, 'C', 'D', VK_RETURN}, false},
        {"escape", {'X', VK_ESCAPE}, false},
        {"mnemonics", {VK_MENU, 'P', 'P', 'W', VK_MENU, 'U', 'U', 'S', VK_RETURN}, false},
        {"enter_empty", {VK_RETURN}, false},
        {"close_box", {}, true},
    };
    bool reported = false;
    for (const Case& c : cases) {
        LoginForm l = NewLogin();
        const std::string name = std::string("login.") + c.name;
        l.form->OnShow = [&](TObject*) {
            if (!reported) {
                reported = true;
                ReportForm("login", *l.form);
                ReportChildren("login", *l.form);
                Out("login.passwordchar", SendMessageA(H(*l.password), EM_GETPASSWORDCHAR, 0, 0));
            }
            if (c.closeBox)
                PostMessageA(H(*l.form), WM_CLOSE, 0, 0);
            else
                Type(c.keys);
        };
        l.ok->OnClick = [&](TObject*) {
            Out(name + ".splash_enabled", IsWindowEnabled(H(*splash)) ? 1 : 0);
        };
        const int result = l.form->ShowModal();
        Out(name + ".result", result);
        Out(name + ".user", Hex(l.user->Text()));
        Out(name + ".password", Hex(l.password->Text()));
        delete l.form;
    }
    Out("login.splash_enabled_after", IsWindowEnabled(H(*splash)) ? 1 : 0);
}

void WakeUps() {
    // A synchronize request must end a wait for messages.
    bool ran = false;
    const auto start = std::chrono::steady_clock::now();
    {
        SyncThread worker([&ran] { return ran = true; }, 100);
        while (!ran) Application->HandleMessage();
        worker.WaitFor();
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    Out("sync.wait_ms", static_cast<long long>(ms.count()));

    // ... and run inside a message box's loop.
    std::string text;
    SyncThread answer([&text] { return AnswerBox("fwdemo box", text); }, 50);
    Out("sync.box_result", Application->MessageBox("Waiting for the worker", "fwdemo box", MB_OK));
    answer.WaitFor();
    Out("sync.box_text", Hex(text));
}

void HandlerError(TForm* splash) {
    auto* button = new TButton(splash);
    button->SetParent(splash);
    button->SetBounds(0, 0, 1, 1);
    button->OnClick = [](TObject*) { throw Exception("Click failed"); };
    std::string text;
    SyncThread answer([&text] { return AnswerBox(Application->Title, text); }, 50);
    SendMessageA(H(*button), BM_CLICK, 0, 0);
    answer.WaitFor();
    Out("error.box_text", Hex(text));
    delete button;
}

}  // namespace

int main() {
    try {
        Application = new TApplication();
        Application->Initialize();
        Out("app.title", Hex(Application->Title));
        Out("app.decimal", std::string(1, DecimalSeparator));
        Out("sys.screen", Box(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)));
        Out("sys.btnface", static_cast<long long>(GetSysColor(COLOR_BTNFACE)));
        Out("sys.windowtext", static_cast<long long>(GetSysColor(COLOR_WINDOWTEXT)));

        TForm* splash = nullptr;
        Application->CreateForm(splash);
        splash->BorderStyle = bsNone;
        splash->BorderIcons = 0;
        splash->SetCaption(" ");
        splash->Position = poScreenCenter;
        splash->AlphaBlend = true;
        splash->AlphaBlendValue = 200;
        splash->Color = clWhite;
        splash->StyleChanged();
        splash->SetClientSize(288, 61);

        auto* label = new TLabel(splash);
        label->SetParent(splash);
        label->ParentFont = false;
        TFont font;
        font.Name = "Trebuchet MS";
        font.Height = -19;
        font.Color = 0x00C08000;
        label->SetFont(font);
        label->SetBounds(69, 10, 149, 24);
        label->SetCaption("Versionkontroll...");

        int paints = 0, ticks = 0;
        auto* timer = new TTimer(splash);
        timer->SetEnabled(false);
        timer->SetInterval(1);
        splash->OnPaint = [&](TObject*) {
            ++paints;
            if (splash->Tag > 0) return;
            splash->Tag = 1;
            timer->SetEnabled(true);
        };
        timer->OnTimer = [&](TObject*) {
            timer->SetEnabled(false);
            ++ticks;
            Out("splash.paints_before_tick", paints);
            ReportForm("splash", *splash);
            BYTE alpha = 0;
            DWORD flags = 0;
            GetLayeredWindowAttributes(H(*splash), nullptr, &alpha, &flags);
            Out("splash.alpha", alpha);
            Out("splash.alphaflags", static_cast<long long>(flags));
            ReportLabelLook("label", *label);
            label->SetCaption("H\xe4mtar uppdatering");
            ReportLabelLook("label2", *label);

            ProgressDialog(splash);
            LoginForms(splash);
            WakeUps();
            HandlerError(splash);

            splash->Repaint();
            Out("splash.paints_end", paints);
            splash->Close();
        };
        Application->Run();
        Out("run.ticks", ticks);
        Out("run.terminated", Application->Terminated() ? 1 : 0);
        MSG msg;
        int quits = 0;
        while (quits < 10 && PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) ++quits;
        Out("run.quits_left", quits);
        delete Application;
        Out("done", 1);
        return 0;
    } catch (const std::exception& e) {
        Out("exception", Hex(e.what()));
        return 1;
    }
}
