// Animation clips (resources of type "AVI") and bitmaps for the animate and picture controls.
#include <cstdint>
#include <cstdlib>

#include "framework/win32/Native.h"

namespace win32 {

namespace {

constexpr int kCopyFilesClip = 160;  // the stock copy-files clip in shell32.dll

uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool Is(const unsigned char* p, const char* fourcc) {
    return p[0] == fourcc[0] && p[1] == fourcc[1] && p[2] == fourcc[2] && p[3] == fourcc[3];
}

// The frame size from the main header of an AVI file: RIFF "AVI ", LIST "hdrl", chunk
// "avih" (dwWidth and dwHeight at offsets 32 and 36). False when it is not there.
bool AviFrameSize(const unsigned char* p, size_t size, int& width, int& height) {
    if (size < 12 || !Is(p, "RIFF") || !Is(p + 8, "AVI ")) return false;
    size_t pos = 12;
    while (pos + 12 <= size) {
        const size_t chunk = Le32(p + pos + 4);
        if (Is(p + pos, "LIST") && Is(p + pos + 8, "hdrl")) {
            const size_t end = chunk > size - pos - 8 ? size : pos + 8 + chunk;
            for (size_t q = pos + 12; q + 8 <= end;) {
                const size_t sub = Le32(p + q + 4);
                if (Is(p + q, "avih")) {
                    if (sub < 40 || q + 8 + 40 > end) return false;
                    width = static_cast<int>(Le32(p + q + 8 + 32));
                    height = std::abs(static_cast<int32_t>(Le32(p + q + 8 + 36)));
                    return width > 0 && height > 0;
                }
                if (sub > end - q - 8) return false;
                q += 8 + sub + (sub & 1);
            }
            return false;
        }
        if (chunk > size - pos - 8) return false;
        pos += 8 + chunk + (chunk & 1);
    }
    return false;
}

// Shows `now` in a picture control that showed our bitmap `before`. Version 6 statics may
// show a copy of what they are given; that copy comes back and is theirs to free.
void ShowPicture(HWND h, HBITMAP before, HBITMAP now) {
    auto shown = reinterpret_cast<HBITMAP>(
        SendMessageA(h, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(now)));
    if (shown && shown != before) DeleteObject(shown);
}

HMODULE Shell32() {
    static HMODULE shell = LoadLibraryA("shell32.dll");
    return shell;
}

bool SelectClip(TAnimate& a, HMODULE module, int id, int& width, int& height) {
    HRSRC res = module ? FindResourceA(module, MAKEINTRESOURCEA(id), "AVI") : nullptr;
    HGLOBAL mem = res ? LoadResource(module, res) : nullptr;
    const auto* bytes = static_cast<const unsigned char*>(mem ? LockResource(mem) : nullptr);
    if (!bytes || !AviFrameSize(bytes, SizeofResource(module, res), width, height)) return false;
    Native& n = Data(a);
    n.clipModule = module;
    n.clipId = id;
    ApplyClip(a);
    return true;
}

}  // namespace

void ApplyClip(TAnimate& a) {
    HWND h = Hwnd(a);
    if (!h) return;
    const Native& n = Data(a);
    if (n.clipId)
        SendMessageA(h, ACM_OPENA, reinterpret_cast<WPARAM>(n.clipModule),
                     reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(n.clipId)));
    else
        SendMessageA(h, ACM_OPENA, 0, 0);  // closes the clip
    // Opening sizes the window to the clip; the portable bounds stay the truth.
    SetWindowPos(h, nullptr, a.Left(), a.Top(), a.Width(), a.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyPlay(a);
}

void ApplyPlay(TAnimate& a) {
    HWND h = Hwnd(a);
    if (!h || !Data(a).clipId) return;
    if (a.Active())
        SendMessageA(h, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));  // loop all
    else
        SendMessageA(h, ACM_STOP, 0, 0);
}

void ApplyPicture(TImage& image) {
    HWND h = Hwnd(image);
    if (!h) return;
    const HBITMAP bitmap = Data(image).bitmap;
    ShowPicture(h, bitmap, bitmap);
    // The control sizes itself to the bitmap; AutoSize already decided the bounds.
    SetWindowPos(h, nullptr, image.Left(), image.Top(), image.Width(), image.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void DetachPicture(HWND h, const Native& n) { ShowPicture(h, n.bitmap, nullptr); }

void ReleaseMedia(Native& n) {
    if (n.bitmap) DeleteObject(n.bitmap);
    n.bitmap = nullptr;
    n.clipModule = nullptr;
    n.clipId = 0;
}

}  // namespace win32

bool backend::LoadClip(TAnimate& a, void* module, int id, int& width, int& height) {
    HMODULE m = module ? static_cast<HMODULE>(module) : win32::Instance();
    return win32::SelectClip(a, m, id, width, height);
}

bool backend::LoadCommonClip(TAnimate& a, TCommonAVI avi, int& width, int& height) {
    if (avi == aviCopyFiles) return win32::SelectClip(a, win32::Shell32(), win32::kCopyFilesClip, width, height);
    win32::Native& n = win32::Data(a);
    n.clipModule = nullptr;
    n.clipId = 0;
    win32::ApplyClip(a);
    width = a.Width();
    height = a.Height();
    return true;
}

bool backend::LoadBitmap(TImage& i, const std::string& name, int& width, int& height) {
    if (name.empty()) return false;
    bool numeric = true;
    for (char ch : name) numeric = numeric && ch >= '0' && ch <= '9';
    LPCSTR res = numeric ? MAKEINTRESOURCEA(std::atoi(name.c_str())) : name.c_str();
    auto bitmap = static_cast<HBITMAP>(
        LoadImageA(win32::Instance(), res, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap) return false;
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    width = info.bmWidth;
    height = std::abs(info.bmHeight);
    win32::Native& n = win32::Data(i);
    HBITMAP old = n.bitmap;
    n.bitmap = bitmap;
    if (HWND h = win32::Hwnd(i)) {
        win32::ShowPicture(h, old, bitmap);
        SetWindowPos(h, nullptr, i.Left(), i.Top(), i.Width(), i.Height(),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (old) DeleteObject(old);
    return true;
}
