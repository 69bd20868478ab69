// The screen's pixels of a window, through GDI, written as PNG by GDI+ (a part of every
// Windows since XP, so the program needs no image library of its own).
#include "app/win32/window_picture.h"

#include <windows.h>
// After windows.h:
#include <gdiplus.h>

#include "platform/win32/wide_text.h"

namespace vrk::win32 {
namespace {

// GDI+'s PNG encoder.
constexpr CLSID PNG_ENCODER = {
    0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

bool write_png(HBITMAP bitmap, const std::wstring& path) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
    bool written = false;
    Gdiplus::GpBitmap* image = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) == Gdiplus::Ok) {
        written = Gdiplus::DllExports::GdipSaveImageToFile(image, path.c_str(), &PNG_ENCODER,
                                                           nullptr) == Gdiplus::Ok;
        Gdiplus::DllExports::GdipDisposeImage(image);
    }
    Gdiplus::GdiplusShutdown(token);
    return written;
}

}  // namespace

bool save_window_picture(void* window, const std::string& path) {
    const HWND hwnd = static_cast<HWND>(window);
    // Everything painted before the pixels are read.
    ::RedrawWindow(hwnd, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::GdiFlush();
    RECT place{};
    if (!::GetWindowRect(hwnd, &place)) return false;
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    if (width <= 0 || height <= 0) return false;
    // The pixels are read from the window's own device context, not from the screen's: what a
    // window has painted reaches the screen later (Wine hands it to the X server on a timer of
    // its own, so a picture of the screen taken now can miss controls painted a moment ago).
    const HDC source = ::GetWindowDC(hwnd);
    if (source == nullptr) return false;
    const HDC memory = ::CreateCompatibleDC(source);
    const HBITMAP bitmap = ::CreateCompatibleBitmap(source, width, height);
    const HGDIOBJ previous = ::SelectObject(memory, bitmap);
    const bool copied = ::BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != FALSE;
    ::SelectObject(memory, previous);
    const bool written = copied && write_png(bitmap, platform::win32::to_wide(path));
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(hwnd, source);
    return written;
}

}  // namespace vrk::win32
