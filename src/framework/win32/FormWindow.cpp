// Forms as top-level windows: styles, creation on first show, mirroring, painting, closing,
// buttons and the dialog keys.
#include <algorithm>

#include "framework/win32/Native.h"

namespace win32 {

namespace {

// The form whose bounds are being taken over from its window; its Changed(Bounds) is an echo.
const TForm* syncingBounds = nullptr;

DWORD FormStyle(const TForm& f) {
    DWORD style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    switch (f.BorderStyle) {
    case bsNone:
        return style | WS_POPUP;  // no frame, no caption, no icons
    case bsSingle:
        style |= WS_CAPTION;
        break;
    case bsSizeable:
        style |= WS_CAPTION | WS_THICKFRAME;
        break;
    case bsDialog:
        style |= WS_POPUP | WS_CAPTION;
        break;
    }
    if (f.BorderIcons & biSystemMenu) {
        style |= WS_SYSMENU;
        // A dialog frame has no minimise or maximise box.
        if (f.BorderStyle != bsDialog) {
            if (f.BorderIcons & biMinimize) style |= WS_MINIMIZEBOX;
            if (f.BorderIcons & biMaximize) style |= WS_MAXIMIZEBOX;
        }
    }
    return style;
}

DWORD FormExStyle(const TForm& f) {
    DWORD ex = 0;
    if (f.BorderStyle == bsDialog) ex |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
    if (f.FormStyle == fsStayOnTop) ex |= WS_EX_TOPMOST;
    if (f.AlphaBlend) ex |= WS_EX_LAYERED;
    return ex;
}

void ApplyAlpha(const TForm& f, HWND h) {
    if (f.AlphaBlend)
        SetLayeredWindowAttributes(h, 0, static_cast<BYTE>(std::clamp(f.AlphaBlendValue, 0, 255)),
                                   LWA_ALPHA);
}

HWND CreateFormWindow(TForm& f) {
    RegisterClasses();
    DWORD style = FormStyle(f);
    if (!f.Enabled()) style |= WS_DISABLED;
    TControl* self = &f;
    HWND h = CreateWindowExA(FormExStyle(f), kFormClass, f.Caption().c_str(), style, f.Left(),
                             f.Top(), f.Width(), f.Height(), nullptr, nullptr, Instance(), self);
    if (!h) throw Exception("Error creating window");
    Data(f).stayOnTop = f.FormStyle == fsStayOnTop;
    ApplyAlpha(f, h);
    CreateChildren(f);
    return h;
}

void ApplyFormStyle(const TForm& f, HWND h) {
    const LONG_PTR kept = GetWindowLongPtrA(h, GWL_STYLE) &
                          (WS_VISIBLE | WS_DISABLED | WS_MINIMIZE | WS_MAXIMIZE);
    SetWindowLongPtrA(h, GWL_STYLE, static_cast<LONG_PTR>(FormStyle(f)) | kept);
    // Topmost is a z-order state: SetWindowPos changes it, the style bit only reports it.
    const LONG_PTR topmost = GetWindowLongPtrA(h, GWL_EXSTYLE) & WS_EX_TOPMOST;
    SetWindowLongPtrA(h, GWL_EXSTYLE,
                      static_cast<LONG_PTR>(FormExStyle(f) & ~WS_EX_TOPMOST) | topmost);
    ApplyAlpha(f, h);
    Native& n = Data(f);
    const bool onTop = f.FormStyle == fsStayOnTop;
    UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_FRAMECHANGED;
    HWND after = nullptr;
    if (onTop != n.stayOnTop) {
        after = onTop ? HWND_TOPMOST : HWND_NOTOPMOST;
        n.stayOnTop = onTop;
    } else {
        flags |= SWP_NOZORDER;
    }
    SetWindowPos(h, after, 0, 0, 0, 0, flags);
    InvalidateRect(h, nullptr, TRUE);
}

void SaveFocus(const TForm& f, HWND h) {
    HWND focus = GetFocus();
    if (focus && IsChild(h, focus)) Data(f).focus = focus;
}

// Gives the focus back to the child that had it, or to the first tab stop.
bool RestoreFocus(const TForm& f, HWND h) {
    HWND target = Data(f).focus;
    if (!target || !IsWindow(target) || !IsChild(h, target) || !IsWindowVisible(target) ||
        !IsWindowEnabled(target))
        target = GetNextDlgTabItem(h, nullptr, FALSE);
    if (!target || !(GetWindowLongPtrA(target, GWL_STYLE) & WS_TABSTOP)) return false;
    SetFocus(target);
    return true;
}

// WM_NEXTDLGCTL, which the dialog manager (tab, arrows, mnemonics) sends to the form.
void NextControl(HWND h, WPARAM wp, LPARAM lp) {
    HWND target;
    if (LOWORD(lp)) {
        target = reinterpret_cast<HWND>(wp);
    } else {
        HWND focus = GetFocus();
        target = GetNextDlgTabItem(h, (focus && IsChild(h, focus)) ? focus : nullptr, wp != 0);
    }
    if (!target) return;
    SetFocus(target);
    if (SendMessageA(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
        SendMessageA(target, EM_SETSEL, 0, -1);
}

// DM_GETDEFID: the focused button, else the form's Default button. Enter then clicks it.
LRESULT DefaultId(const TForm& f, HWND h) {
    HWND focus = GetFocus();
    if (focus && GetParent(focus) == h && dynamic_cast<TButton*>(FromHwnd(focus)))
        return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
    if (TButton* b = FormButton(f, true))
        if (HWND bh = Hwnd(*b)) return MAKELRESULT(GetDlgCtrlID(bh), DC_HASDEFID);
    return 0;
}

void Command(TForm& f, HWND h, WPARAM wp, LPARAM lp) {
    HWND control = reinterpret_cast<HWND>(lp);
    const UINT code = HIWORD(wp);
    if (control) {
        if (code != BN_CLICKED || GetParent(control) != h) return;
        if (auto* b = dynamic_cast<TButton*>(FromHwnd(control)))
            Guarded([b] { b->Click(); });
        return;
    }
    // Enter without a default id, and Escape, arrive as IDOK and IDCANCEL from the dialog
    // manager.
    const UINT id = LOWORD(wp);
    if (code == 0 && (id == IDOK || id == IDCANCEL))
        if (TButton* b = FormButton(f, id == IDOK)) Guarded([b] { b->Click(); });
}

LRESULT ChildColors(const TForm& f, UINT msg, HDC dc, HWND child) {
    TControl* c = FromHwnd(child);
    if (msg == WM_CTLCOLORSTATIC && c) {
        // A read-only edit asks too; it keeps the system look.
        if (dynamic_cast<TEdit*>(c)) return DefWindowProcA(Hwnd(f), msg, reinterpret_cast<WPARAM>(dc),
                                                           reinterpret_cast<LPARAM>(child));
        SetTextColor(dc, ColorRef(EffectiveFont(*c).Color));
    }
    SetBkColor(dc, ColorRef(f.Color));
    return reinterpret_cast<LRESULT>(FormBrush(f));
}

// Takes over a move or resize done by the user or the window manager.
void SyncBounds(TForm& f, HWND h, const WINDOWPOS& pos) {
    if ((pos.flags & SWP_NOMOVE) && (pos.flags & SWP_NOSIZE)) return;
    if (IsIconic(h)) return;
    RECT r;
    GetWindowRect(h, &r);
    const int w = r.right - r.left, ht = r.bottom - r.top;
    if (r.left == f.Left() && r.top == f.Top() && w == f.Width() && ht == f.Height()) return;
    syncingBounds = &f;
    Guarded([&] { f.SetBounds(r.left, r.top, w, ht); });
    syncingBounds = nullptr;
}

// The window went without DestroyFormWindow (for instance at process end).
void Orphaned(TForm& f, HWND h) {
    for (TControl* c : f.Controls()) c->SetHandle(nullptr);
    Detach(h);
    f.SetHandle(nullptr);
}

}  // namespace

LRESULT CALLBACK FormProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
        if (auto* c = static_cast<TControl*>(cs->lpCreateParams)) Attach(h, *c);
        return DefWindowProcA(h, msg, wp, lp);
    }
    auto* f = static_cast<TForm*>(FromHwnd(h));
    if (!f) return DefWindowProcA(h, msg, wp, lp);
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(h, &r);
        FillRect(reinterpret_cast<HDC>(wp), &r, FormBrush(*f));
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(h, &ps);
        if (f->OnPaint) Guarded([f] { f->OnPaint(f); });
        EndPaint(h, &ps);
        return 0;
    }
    case WM_CLOSE:
        Guarded([f] { f->Close(); });
        return 0;
    case WM_COMMAND:
        Command(*f, h, wp, lp);
        return 0;
    case DM_GETDEFID:
        return DefaultId(*f, h);
    case WM_NEXTDLGCTL:
        NextControl(h, wp, lp);
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return ChildColors(*f, msg, reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
    case WM_ACTIVATE:
        if (LOWORD(wp) == WA_INACTIVE)
            SaveFocus(*f, h);
        else if (!HIWORD(wp) && RestoreFocus(*f, h))
            return 0;
        break;
    case WM_SETFOCUS:
        if (RestoreFocus(*f, h)) return 0;
        break;
    case WM_WINDOWPOSCHANGED:
        SyncBounds(*f, h, *reinterpret_cast<WINDOWPOS*>(lp));
        break;
    case WM_NCDESTROY:
        Orphaned(*f, h);
        break;
    default:
        break;
    }
    return DefWindowProcA(h, msg, wp, lp);
}

HWND EnsureFormWindow(TForm& f) { return Hwnd(f) ? Hwnd(f) : CreateFormWindow(f); }

void FormChanged(TForm& f, TChange what) {
    HWND h = Hwnd(f);
    if (!h) {
        // Created when first shown; until then the portable state is all there is.
        if (what == TChange::Visible && f.Visible()) ShowWindow(CreateFormWindow(f), SW_SHOW);
        return;
    }
    switch (what) {
    case TChange::Bounds:
        if (syncingBounds != &f)
            SetWindowPos(h, nullptr, f.Left(), f.Top(), f.Width(), f.Height(),
                         SWP_NOZORDER | SWP_NOACTIVATE);
        break;
    case TChange::Text:
        Update(f, kUpdateText);
        break;
    case TChange::Visible:
        if (f.Visible()) {
            FlushUpdates();
            CreateChildren(f);
            ShowWindow(h, SW_SHOW);
        } else {
            SaveFocus(f, h);
            ShowWindow(h, SW_HIDE);
        }
        break;
    case TChange::Enabled:
        EnableWindow(h, f.Enabled() ? TRUE : FALSE);
        break;
    case TChange::Font:
        for (TControl* c : f.Controls())
            if (c->ParentFont && Hwnd(*c)) ChildChanged(*c, TChange::Font);
        break;
    case TChange::Style:
        ApplyFormStyle(f, h);
        break;
    default:
        break;
    }
}

void DestroyFormWindow(TForm& f) {
    DropUpdates(f);
    for (TControl* c : f.Controls()) DestroyChild(*c);
    if (HWND h = Hwnd(f)) {
        Detach(h);
        f.SetHandle(nullptr);
        DestroyWindow(h);
    }
    if (Native* n = FindData(f)) ReleaseFormBrush(*n);
    Forget(f);
}

}  // namespace win32

void backend::NonClientSize(const TForm& f, int& extraWidth, int& extraHeight) {
    RECT r{0, 0, 0, 0};
    AdjustWindowRectEx(&r, win32::FormStyle(f), FALSE, win32::FormExStyle(f));
    extraWidth = r.right - r.left;
    extraHeight = r.bottom - r.top;
}

void backend::SetTopmost(TForm& f) {
    SetWindowPos(win32::EnsureFormWindow(f), HWND_TOPMOST, f.Left(), f.Top(), f.Width(),
                 f.Height(), 0);
}

void backend::Repaint(TForm& f) {
    win32::FlushUpdates();
    if (HWND h = win32::Hwnd(f))
        RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}
