// The serial port on a Windows COM device.
//
// The driver does what the POSIX port builds from poll(): with ReadIntervalTimeout and
// ReadTotalTimeoutMultiplier both MAXDWORD and a ReadTotalTimeoutConstant of 50, ReadFile
// returns at once with what is waiting, and when nothing is, returns with the first bytes to
// arrive or empty after 50 ms. The write limit is per byte plus a constant, and a WriteFile that
// times out reports success with fewer bytes written.
//
// The device control block is changed read-modify-write: the members the unit's line needs are
// set, the rest (XON/XOFF limits and characters, the event character) stay as the driver
// reported them, since some drivers refuse a block whose limits they did not choose.
#include <windows.h>

#include <algorithm>
#include <climits>

#include "platform/win32/com_names.h"
#include "platform/win32/error_classes.h"
#include "platform/win32/win32_platform.h"

namespace vrk::platform {
namespace {

constexpr DWORD FIRST_BYTE_TIMEOUT_MS = 50;

HANDLE native(const win32::UniqueHandle& handle) {
    return static_cast<HANDLE>(handle.get());
}

void make_unit_line(DCB& dcb, std::uint32_t baud) {
    dcb.BaudRate = baud;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    // CTS and DSR are status the program watches, never a throttle on its output.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    // 0x11 and 0x13 are ordinary data in the unit's frames: no XON/XOFF either way.
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // A line error must not stop every read and write until someone clears it: the frame
    // decoder and the retries deal with a damaged byte.
    dcb.fAbortOnError = FALSE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
}

}  // namespace

std::unique_ptr<Win32SerialPort> Win32SerialPort::open(const std::string& name, PortError& error) {
    const std::string path = win32::com_device_path(name);
    // No sharing: a port is one program's at a time. No overlapped I/O: the program reads and
    // writes on one thread with the driver's time-outs.
    win32::UniqueHandle handle(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        error = win32::classify_port_error(::GetLastError());
        return nullptr;
    }
    // A file, a pipe or a device without a control block ("NUL") opens as well; only a serial
    // driver answers GetCommState.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetFileType(native(handle)) != FILE_TYPE_CHAR || !::GetCommState(native(handle), &dcb)) {
        error = PortError::not_a_serial;
        return nullptr;
    }
    error = PortError::none;
    return std::make_unique<Win32SerialPort>(Key{}, std::move(handle));
}

Win32SerialPort::~Win32SerialPort() {
    close();
}

bool Win32SerialPort::configure(std::uint32_t baud) {
    if (!handle_) return false;
    const HANDLE h = native(handle_);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = FIRST_BYTE_TIMEOUT_MS;
    timeouts.WriteTotalTimeoutMultiplier = WRITE_TIME_PER_BYTE_MS;
    timeouts.WriteTotalTimeoutConstant = WRITE_TIME_CONSTANT_MS;
    // Each call on its own: a driver that refuses one still gets the others.
    bool applied = ::SetCommTimeouts(h, &timeouts) != 0;
    applied = (::SetupComm(h, QUEUE_SIZE, QUEUE_SIZE) != 0) && applied;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h, &dcb)) return false;
    make_unit_line(dcb, baud);
    return (::SetCommState(h, &dcb) != 0) && applied;
}

bool Win32SerialPort::set_baud_rate(std::uint32_t baud) {
    if (!handle_) return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(native(handle_), &dcb)) return false;
    dcb.BaudRate = baud;
    return ::SetCommState(native(handle_), &dcb) != 0;
}

ReadResult Win32SerialPort::read(std::span<std::uint8_t> buffer) {
    if (!handle_) return {IoStatus::failed, 0};
    if (lost_) return {IoStatus::lost, 0};
    if (buffer.empty()) return {};
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), MAXDWORD));
    if (::ReadFile(native(handle_), buffer.data(), wanted, &got, nullptr))
        return {IoStatus::ok, got};
    const IoStatus status = win32::classify_port_io_error(::GetLastError());
    if (status == IoStatus::lost) lost_ = true;
    // Bytes read before a failure are handed out; the failure shows at the next read.
    if (got > 0) return {IoStatus::ok, got};
    return {status, 0};
}

IoStatus Win32SerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!handle_) return IoStatus::failed;
    if (lost_) return IoStatus::lost;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        DWORD done = 0;
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - sent, MAXDWORD));
        if (!::WriteFile(native(handle_), bytes.data() + sent, chunk, &done, nullptr)) {
            const IoStatus status = win32::classify_port_io_error(::GetLastError());
            if (status == IoStatus::lost) lost_ = true;
            return status;
        }
        // The write time-out passed with bytes still queued: the line is held or stopped.
        if (done == 0) return IoStatus::failed;
        sent += done;
    }
    return IoStatus::ok;
}

std::optional<ModemLines> Win32SerialPort::modem_lines() {
    if (!handle_ || lost_) return std::nullopt;
    DWORD status = 0;
    // Wine refuses this on a pseudo-terminal ("not supported"), which has no modem lines.
    if (!::GetCommModemStatus(native(handle_), &status)) return std::nullopt;
    return ModemLines{(status & MS_CTS_ON) != 0, (status & MS_DSR_ON) != 0};
}

bool Win32SerialPort::set_dtr_rts(bool on) {
    if (!handle_ || lost_) return false;
    // Through the control block, so that the lines stay as set should the driver re-apply it.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(native(handle_), &dcb)) return false;
    dcb.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    return ::SetCommState(native(handle_), &dcb) != 0;
}

void Win32SerialPort::close() {
    (void)handle_.reset();
}

OpenResult Win32PortProvider::open(const std::string& device) {
    OpenResult result;
    result.port = Win32SerialPort::open(device, result.error);
    return result;
}

}  // namespace vrk::platform
