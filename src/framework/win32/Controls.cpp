// Child controls as native windows: STATIC labels and pictures, BUTTON, EDIT, progress bar
// and animation strip. The portable state is authoritative; these windows mirror it.
#include <algorithm>
#include <map>
#include <vector>

#include "framework/win32/Native.h"

namespace win32 {

namespace {

enum class Kind { Label, Button, Edit, Progress, Animate, Image, Unknown };

// Inside ~TControl the object is no longer any of the derived kinds: Unknown.
Kind KindOf(const TControl& c) {
    if (dynamic_cast<const TLabel*>(&c)) return Kind::Label;
    if (dynamic_cast<const TButton*>(&c)) return Kind::Button;
    if (dynamic_cast<const TEdit*>(&c)) return Kind::Edit;
    if (dynamic_cast<const TProgressBar*>(&c)) return Kind::Progress;
    if (dynamic_cast<const TAnimate*>(&c)) return Kind::Animate;
    if (dynamic_cast<const TImage*>(&c)) return Kind::Image;
    return Kind::Unknown;
}

// Z-order is the dialog manager's tab order. Focusable controls go by TabOrder; a label
// with a FocusControl goes right before that control, so its "&" mnemonic reaches it.
std::vector<TControl*> InTabOrder(const TForm& f) {
    struct Entry {
        int order, sub;
        TControl* c;
    };
    std::vector<Entry> entries;
    for (TControl* c : f.Controls()) {
        auto* label = dynamic_cast<TLabel*>(c);
        if (label && label->FocusControl)
            entries.push_back({label->FocusControl->TabOrder, 0, c});
        else
            entries.push_back({c->TabOrder, 1, c});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.order != b.order ? a.order < b.order : a.sub < b.sub;
    });
    std::vector<TControl*> out;
    for (const Entry& e : entries) out.push_back(e.c);
    return out;
}

void Restack(const TForm& f) {
    HWND after = HWND_TOP;
    for (TControl* c : InTabOrder(f)) {
        HWND h = Hwnd(*c);
        if (!h) continue;
        SetWindowPos(h, after, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
        after = h;
    }
}

void ApplyPosition(TProgressBar& p, HWND h) {
    Native& n = Data(p);
    if (n.rangeMin != p.Min || n.rangeMax != p.Max) {
        SendMessageA(h, PBM_SETRANGE32, static_cast<WPARAM>(p.Min), static_cast<LPARAM>(p.Max));
        n.rangeMin = p.Min;
        n.rangeMax = p.Max;
    }
    SendMessageA(h, PBM_SETPOS, static_cast<WPARAM>(p.Position()), 0);
}

void ApplyPasswordChar(const TEdit& e, HWND h) {
    SendMessageA(h, EM_SETPASSWORDCHAR, static_cast<unsigned char>(e.PasswordChar), 0);
    InvalidateRect(h, nullptr, TRUE);
}

HWND CreateChild(TForm& f, TControl& c) {
    const Kind kind = KindOf(c);
    if (kind == Kind::Unknown) return nullptr;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    if (c.Visible()) style |= WS_VISIBLE;
    if (!c.Enabled()) style |= WS_DISABLED;
    DWORD exStyle = 0;
    std::string text = c.TControl::Caption();  // the stored text, also for an edit
    const char* cls = "STATIC";
    switch (kind) {
    case Kind::Label:
        // Clipped at the right edge as the framework's labels are, not wrapped.
        style |= SS_LEFTNOWORDWRAP;
        break;
    case Kind::Button:
        cls = "BUTTON";
        style |= WS_TABSTOP |
                 (static_cast<TButton&>(c).Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        break;
    case Kind::Edit:
        cls = "EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        if (static_cast<TEdit&>(c).PasswordChar) style |= ES_PASSWORD;
        exStyle = WS_EX_CLIENTEDGE;
        break;
    case Kind::Progress:
        cls = PROGRESS_CLASSA;
        text.clear();
        break;
    case Kind::Animate:
        cls = ANIMATE_CLASSA;
        style |= ACS_TRANSPARENT;
        text.clear();
        break;
    case Kind::Image:
        style |= SS_BITMAP;  // a text would be taken as a resource name
        text.clear();
        break;
    case Kind::Unknown:
        return nullptr;
    }
    const int id = Data(f).nextId++;
    HWND h = CreateWindowExA(exStyle, cls, text.c_str(), style, c.Left(), c.Top(), c.Width(),
                             c.Height(), Hwnd(f), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             Instance(), nullptr);
    if (!h) return nullptr;
    Attach(h, c);
    Native& n = Data(c);
    n.parent = &f;
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(EffectiveFont(c))), FALSE);
    switch (kind) {
    case Kind::Edit:
        if (static_cast<TEdit&>(c).PasswordChar) ApplyPasswordChar(static_cast<TEdit&>(c), h);
        break;
    case Kind::Progress:
        n.rangeMin = 0;
        n.rangeMax = -1;
        ApplyPosition(static_cast<TProgressBar&>(c), h);
        break;
    case Kind::Animate:
        ApplyClip(static_cast<TAnimate&>(c));
        break;
    case Kind::Image:
        ApplyPicture(static_cast<TImage&>(c));
        break;
    default:
        break;
    }
    return h;
}

void ApplyStyle(TControl& c, HWND h) {
    switch (KindOf(c)) {
    case Kind::Button:
        SendMessageA(h, BM_SETSTYLE,
                     static_cast<TButton&>(c).Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
        break;
    case Kind::Edit:
        ApplyPasswordChar(static_cast<TEdit&>(c), h);
        break;
    default:
        InvalidateRect(h, nullptr, TRUE);
        break;
    }
}

}  // namespace

void CreateChildren(TForm& f) {
    if (!Hwnd(f)) return;
    bool hadChildren = false, created = false;
    for (TControl* c : InTabOrder(f)) {
        if (Hwnd(*c)) {
            hadChildren = true;
        } else if (CreateChild(f, *c)) {
            created = true;
        }
    }
    // New windows went to the bottom of the z-order; put them in their tab place.
    if (hadChildren && created) Restack(f);
}

void ChildChanged(TControl& c, TChange what) {
    TForm* parent = c.Parent();
    HWND h = Hwnd(c);
    if (h && Data(c).parent != parent) {
        DestroyChild(c);
        h = nullptr;
    }
    if (!h) {
        // Created with its whole state once the form has a window.
        if (parent && Hwnd(*parent)) CreateChildren(*parent);
        return;
    }
    switch (what) {
    case TChange::Bounds:
        Update(c, kUpdateBounds);
        break;
    case TChange::Text:
        // An edit's text is read back from its window, so it is written at once.
        if (dynamic_cast<TEdit*>(&c))
            ApplyUpdate(c, kUpdateText);
        else
            Update(c, kUpdateText);
        break;
    case TChange::Visible:
        ShowWindow(h, c.Visible() ? SW_SHOWNA : SW_HIDE);
        break;
    case TChange::Enabled:
        EnableWindow(h, c.Enabled() ? TRUE : FALSE);
        break;
    case TChange::Font:
        // The colour is applied at WM_CTLCOLORSTATIC; the redraw picks it up.
        SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(EffectiveFont(c))),
                     TRUE);
        InvalidateRect(h, nullptr, TRUE);
        break;
    case TChange::Style:
        ApplyStyle(c, h);
        break;
    case TChange::Position:
        Update(c, kUpdatePosition);
        break;
    case TChange::Clip:
        if (auto* a = dynamic_cast<TAnimate*>(&c)) ApplyClip(*a);
        break;
    case TChange::Play:
        if (auto* a = dynamic_cast<TAnimate*>(&c)) ApplyPlay(*a);
        break;
    case TChange::Picture:
        if (auto* i = dynamic_cast<TImage*>(&c)) ApplyPicture(*i);
        break;
    }
}

void ApplyUpdate(TControl& c, unsigned what) {
    HWND h = Hwnd(c);
    if (!h) return;
    // Bounds first: a label that grows then shows its new text unclipped.
    if ((what & kUpdateBounds) && !dynamic_cast<TForm*>(&c))
        SetWindowPos(h, nullptr, c.Left(), c.Top(), c.Width(), c.Height(),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    if (what & kUpdateText) SetWindowTextA(h, c.TControl::Caption().c_str());
    if (what & kUpdatePosition)
        if (auto* p = dynamic_cast<TProgressBar*>(&c)) ApplyPosition(*p, h);
}

void DestroyChild(TControl& c) {
    DropUpdates(c);
    HWND h = Hwnd(c);
    Native* n = FindData(c);
    // The form's window may have taken it along already; then the handle is no longer ours.
    if (h && IsWindow(h) && FromHwnd(h) == &c) {
        if (n) DetachPicture(h, *n);
        Detach(h);
        DestroyWindow(h);
    }
    c.SetHandle(nullptr);
    if (n) n->parent = nullptr;
}

TButton* FormButton(const TForm& f, bool wantDefault) {
    for (TControl* c : f.Controls()) {
        auto* b = dynamic_cast<TButton*>(c);
        if (b && (wantDefault ? b->Default : b->Cancel) && b->Visible() && b->Enabled())
            return b;
    }
    return nullptr;
}

}  // namespace win32

void backend::Changed(TControl& c, TChange what) {
    if (auto* f = dynamic_cast<TForm*>(&c))
        win32::FormChanged(*f, what);
    else
        win32::ChildChanged(c, what);
}

void backend::Destroying(TControl& c) {
    if (auto* f = dynamic_cast<TForm*>(&c)) {
        win32::DestroyFormWindow(*f);
        return;
    }
    win32::DestroyChild(c);
    // A control that is only leaving its form keeps its picture or clip for the next one.
    if (win32::KindOf(c) == win32::Kind::Unknown) {
        if (win32::Native* n = win32::FindData(c)) win32::ReleaseMedia(*n);
        win32::Forget(c);
    }
}

std::string backend::ReadText(const TControl& c) {
    HWND h = win32::Hwnd(c);
    if (!h) return c.TControl::Caption();
    const int length = GetWindowTextLengthA(h);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(h, &text[0], length + 1);
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
}

namespace {

// Advance widths of the 256 characters of one font and its line height: what DrawText
// measures for a one-line text without "&" or tabs, summed here instead of asked of GDI.
struct CharTable {
    bool usable = false;
    int height = 0;
    int widths[256] = {};
};

bool SingleByteCodePage() {
    CPINFO info;
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
}

}  // namespace

void backend::MeasureText(const TFont& font, const std::string& text, int& width, int& height) {
    // The way a STATIC draws its text: tabs expanded, "&" taken as a mnemonic; an empty
    // text is as tall as a blank. Labels are measured after every transfer block, and GDI
    // costs microseconds a call under Wine, so the font stays selected and plain texts are
    // summed from a per-font table.
    static HDC dc = CreateCompatibleDC(nullptr);
    static HFONT selected = nullptr;
    static std::map<HFONT, CharTable> tables;
    static const bool singleByte = SingleByteCodePage();
    HFONT f = win32::FontHandle(font);
    if (f != selected) {
        SelectObject(dc, f);
        selected = f;
    }
    const std::string s = text.empty() ? std::string(" ") : text;
    if (singleByte && s.find_first_of("&\t\r\n") == std::string::npos) {
        auto it = tables.find(f);
        if (it == tables.end()) {
            CharTable t;
            TEXTMETRICA tm;
            // Overhanging (synthesised) fonts measure differently: they keep to DrawText.
            t.usable = GetCharWidth32A(dc, 0, 255, t.widths) && GetTextMetricsA(dc, &tm) &&
                       tm.tmOverhang == 0;
            t.height = t.usable ? tm.tmHeight : 0;
            it = tables.emplace(f, t).first;
        }
        if (it->second.usable) {
            int w = 0;
            for (unsigned char c : s) w += it->second.widths[c];
            width = w;
            height = it->second.height;
            return;
        }
    }
    RECT r{0, 0, 0, 0};
    DrawTextA(dc, s.c_str(), static_cast<int>(s.size()), &r, DT_CALCRECT | DT_LEFT | DT_EXPANDTABS);
    width = r.right - r.left;
    height = r.bottom - r.top;
}
