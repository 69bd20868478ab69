// The console on Windows. Ctrl+C, Ctrl+Break and the console window's close arrive on a thread
// the system makes for them, at a handler that can reach nothing of ours but a static flag:
// the one piece of process-wide state here, written only by the handler.
#include <windows.h>

#include <atomic>

#include "platform/win32/win32_platform.h"

// Older headers lack it; the value is fixed by the console's interface.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace vrk::platform {
namespace {

std::atomic<int> interrupts_seen{0};
// How many interrupts are ours; the next goes on to the system.
std::atomic<int> interrupts_counted{1};
static_assert(std::atomic<int>::is_always_lock_free);

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            // The first one (or two, with count_second_interrupt()) are ours; the next goes on
            // to the system's handler, which ends the program at once.
            return interrupts_seen.fetch_add(1) < interrupts_counted.load() ? TRUE : FALSE;
        case CTRL_CLOSE_EVENT:
            // The console window is being closed. Windows ends the process as soon as this
            // handler returns, whatever it returns, or after a few seconds if it does not: so
            // it does not return. The program sees the interrupt, completes the rows of the
            // units in hand as interrupted and exits by itself, which ends this thread too.
            interrupts_seen.fetch_add(1);
            ::Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}

HANDLE stream_handle(StandardStream stream) {
    return ::GetStdHandle(stream == StandardStream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

bool Win32Console::is_terminal(StandardStream stream) {
    // Only a console answers GetConsoleMode; a file or a pipe does not. The board and the
    // progress bar are drawn with escape sequences, which a console draws only with virtual
    // terminal processing on (Windows Terminal has it; the old console since Windows 10 takes
    // it when asked). A console that refuses it gets plain lines, as a file does.
    const HANDLE handle = stream_handle(stream);
    DWORD mode = 0;
    if (!::GetConsoleMode(handle, &mode)) return false;
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
    return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

std::optional<int> Win32Console::columns(StandardStream stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(stream_handle(stream), &info)) return std::nullopt;
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    if (width <= 0) return std::nullopt;
    return width;
}

void Win32Console::watch_interrupt() {
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool Win32Console::interrupted() {
    return interrupts_seen.load() > 0;
}

void Win32Console::count_second_interrupt() {
    interrupts_counted.store(2);
}

int Win32Console::interrupts() {
    return interrupts_seen.load();
}

}  // namespace vrk::platform
