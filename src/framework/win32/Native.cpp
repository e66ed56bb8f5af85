// Per-control native data, fonts, colours and window classes of the Win32 backend.
#include "framework/win32/Native.h"

#include <bits/functexcept.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>
#include <map>
#include <tuple>
#include <unordered_map>

namespace win32 {

namespace {

std::unordered_map<const TControl*, Native>& Table() {
    static std::unordered_map<const TControl*, Native> table;
    return table;
}

ATOM formAtom = 0;

}  // namespace

const char kFormClass[] = "TFormWindow";
const char kUtilityClass[] = "TFrameworkUtility";

Native& Data(const TControl& c) { return Table()[&c]; }

Native* FindData(const TControl& c) {
    auto it = Table().find(&c);
    return it == Table().end() ? nullptr : &it->second;
}

void Forget(const TControl& c) { Table().erase(&c); }

TControl* FromHwnd(HWND h) {
    return h ? reinterpret_cast<TControl*>(GetWindowLongPtrA(h, GWLP_USERDATA)) : nullptr;
}

void Attach(HWND h, TControl& c) {
    SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&c));
    c.SetHandle(h);
}

void Detach(HWND h) {
    if (h) SetWindowLongPtrA(h, GWLP_USERDATA, 0);
}

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

void RegisterClasses() {
    if (formAtom) return;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = FormProc;
    wc.hInstance = Instance();
    wc.hIcon = LoadIconA(Instance(), "MAINICON");
    if (!wc.hIcon) wc.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = nullptr;  // WM_ERASEBKGND paints the form's Color
    wc.lpszClassName = kFormClass;
    formAtom = RegisterClassExA(&wc);

    WNDCLASSEXA uc{};
    uc.cbSize = sizeof uc;
    uc.lpfnWndProc = UtilityProc;
    uc.hInstance = Instance();
    uc.lpszClassName = kUtilityClass;
    RegisterClassExA(&uc);
}

bool IsFormWindow(HWND h) {
    return h && formAtom && static_cast<ATOM>(GetClassLongPtrA(h, GCW_ATOM)) == formAtom;
}

HFONT FontHandle(const TFont& font) {
    using Key = std::tuple<std::string, int, int, int>;
    static std::map<Key, HFONT> fonts;
    const Key key{font.Name, font.Height, font.Charset, font.Style};
    auto it = fonts.find(key);
    if (it != fonts.end()) return it->second;
    HFONT h = CreateFontA(font.Height, 0, 0, 0, (font.Style & fsBold) ? FW_BOLD : FW_NORMAL,
                          (font.Style & fsItalic) ? TRUE : FALSE,
                          (font.Style & fsUnderline) ? TRUE : FALSE,
                          (font.Style & fsStrikeOut) ? TRUE : FALSE,
                          static_cast<DWORD>(font.Charset), OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                          font.Name.c_str());
    if (!h) h = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    fonts.emplace(key, h);
    return h;
}

const TFont& EffectiveFont(const TControl& c) {
    return (c.ParentFont && c.Parent()) ? c.Parent()->Font() : c.Font();
}

COLORREF ColorRef(TColor c) {
    if (c & 0x80000000u) return GetSysColor(static_cast<int>(c & 0xFF));
    return static_cast<COLORREF>(c & 0x00FFFFFF);
}

void ReleaseFormBrush(Native& n) {
    if (n.brush && n.ownBrush) DeleteObject(n.brush);
    n.brush = nullptr;
    n.ownBrush = false;
}

HBRUSH FormBrush(const TForm& f) {
    Native& n = Data(f);
    if (n.brush && n.brushColor == f.Color) return n.brush;
    ReleaseFormBrush(n);
    if (f.Color & 0x80000000u) {
        n.brush = GetSysColorBrush(static_cast<int>(f.Color & 0xFF));
    } else {
        n.brush = CreateSolidBrush(ColorRef(f.Color));
        n.ownBrush = true;
    }
    n.brushColor = f.Color;
    return n.brush;
}

void ReportHandlerError(const std::exception& e) noexcept {
    try {
        if (Application) Application->ShowException(e);
    } catch (...) {
        // Nothing more can be done from inside a window procedure.
    }
}

void ReportUnknownHandlerError() noexcept {
    ReportHandlerError(Exception("Unknown exception in a message handler"));
}

}  // namespace win32

// The C++ library's default terminate handler prints the uncaught exception's demangled type
// to stderr, which a windowed program does not have, and brings the whole demangler along
// (about 45 KB). Defined here, in a file every program links, it replaces the library's.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The C++ library reports its own errors (an index past a string's end, a length beyond what
// fits, a thread call that failed) through these functions. Its versions build
// std::logic_error and its kin, whose copy-on-write strings and message formatting bring
// about 45 KB; defined here they take precedence and throw one small error with the library's
// own text. Every handler of the programs catches std::exception (or everything) and shows
// what().
namespace {
class LibraryError : public std::exception {
public:
    explicit LibraryError(const char* text) : text_(text) {}
    const char* what() const noexcept override { return text_; }

private:
    const char* text_;
};
}  // namespace

namespace std {
void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_logic_error(const char* text) { throw LibraryError(text); }
void __throw_domain_error(const char* text) { throw LibraryError(text); }
void __throw_invalid_argument(const char* text) { throw LibraryError(text); }
void __throw_length_error(const char* text) { throw LibraryError(text); }
void __throw_out_of_range(const char* text) { throw LibraryError(text); }
void __throw_out_of_range_fmt(const char* text, ...) { throw LibraryError(text); }
void __throw_runtime_error(const char* text) { throw LibraryError(text); }
void __throw_range_error(const char* text) { throw LibraryError(text); }
void __throw_overflow_error(const char* text) { throw LibraryError(text); }
void __throw_underflow_error(const char* text) { throw LibraryError(text); }
void __throw_system_error(int) { throw LibraryError("system error"); }
}  // namespace std
