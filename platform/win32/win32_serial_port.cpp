// The serial port on a Windows COM device, opened for overlapped I/O (see win32_platform.h for
// why writes do not wait).
//
// The driver does what the POSIX port builds from poll(): with ReadIntervalTimeout and
// ReadTotalTimeoutMultiplier both MAXDWORD and a ReadTotalTimeoutConstant of 50, a read
// completes at once with what is waiting, and when nothing is, with the first bytes to arrive or
// empty after 50 ms. The write limit is per byte plus a constant, and a write that times out
// completes with fewer bytes written.
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

struct Win32SerialPort::Io {
    OVERLAPPED read{};
    OVERLAPPED write{};
    // Manual-reset events, as overlapped I/O wants them: set when the operation completes,
    // cleared by the system when the next one starts.
    win32::UniqueHandle read_done;
    win32::UniqueHandle write_done;
};

std::unique_ptr<Win32SerialPort> Win32SerialPort::open(const std::string& name, PortError& error) {
    const std::string path = win32::com_device_path(name);
    // No sharing: a port is one program's at a time. Overlapped, so that a write can go on
    // while the program does.
    win32::UniqueHandle handle(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
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
    auto io = std::make_unique<Io>();
    io->read_done = win32::UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    io->write_done = win32::UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!io->read_done || !io->write_done) {
        error = PortError::io_failure;
        return nullptr;
    }
    io->read.hEvent = native(io->read_done);
    io->write.hEvent = native(io->write_done);
    error = PortError::none;
    return std::make_unique<Win32SerialPort>(Key{}, std::move(handle), std::move(io));
}

Win32SerialPort::Win32SerialPort(Key, win32::UniqueHandle handle, std::unique_ptr<Io> io)
    : handle_(std::move(handle)), io_(std::move(io)) {}

Win32SerialPort::~Win32SerialPort() {
    close();
}

bool Win32SerialPort::configure(std::uint32_t baud) {
    if (!handle_) return false;
    check_write();
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
    // A write still going out finishes at the new speed, as it would on any UART: the program
    // changes speed only to hunt, long after its last probe has gone.
    check_write();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(native(handle_), &dcb)) return false;
    dcb.BaudRate = baud;
    return ::SetCommState(native(handle_), &dcb) != 0;
}

ReadResult Win32SerialPort::read(std::span<std::uint8_t> buffer) {
    if (!handle_) return {IoStatus::failed, 0};
    check_write();
    if (lost_) return {IoStatus::lost, 0};
    if (buffer.empty()) return {};
    const HANDLE h = native(handle_);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), MAXDWORD));
    DWORD got = 0;
    if (!::ReadFile(h, buffer.data(), wanted, nullptr, &io_->read)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            const IoStatus status = win32::classify_port_io_error(error);
            if (status == IoStatus::lost) lost_ = true;
            return {status, 0};
        }
        // The driver's time-outs end the read within 50 ms. Meanwhile a write that finishes
        // starts the next one at once, not a tick later.
        const DWORD started = ::GetTickCount();
        for (;;) {
            const HANDLE events[] = {io_->read.hEvent, io_->write.hEvent};
            const DWORD count = pending_.in_flight() ? 2 : 1;
            const DWORD waited = ::GetTickCount() - started;
            const DWORD left = waited < READ_WAIT_LIMIT_MS ? READ_WAIT_LIMIT_MS - waited : 0;
            const DWORD woke = ::WaitForMultipleObjects(count, events, FALSE, left);
            if (woke == WAIT_OBJECT_0) break;
            if (woke == WAIT_OBJECT_0 + 1) {
                check_write();
                continue;
            }
            // A driver that does not keep its time-out: the read is cancelled and waited for
            // until the system is done with the buffer. What it brought still counts: a
            // cancelled read reports the bytes it had taken.
            ::CancelIoEx(h, &io_->read);
            (void)::GetOverlappedResult(h, &io_->read, &got, TRUE);
            return {IoStatus::ok, got};
        }
    }
    if (::GetOverlappedResult(h, &io_->read, &got, FALSE)) return {IoStatus::ok, got};
    const IoStatus status = win32::classify_port_io_error(::GetLastError());
    if (status == IoStatus::lost) lost_ = true;
    // Bytes read before a failure are handed out; the failure shows at the next read.
    if (got > 0) return {IoStatus::ok, got};
    return {status, 0};
}

IoStatus Win32SerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!handle_) return IoStatus::failed;
    check_write();
    if (lost_) return IoStatus::lost;
    // Only a line that has stopped moving gets this far behind: as a write that times out
    // would, this one fails.
    if (!pending_.add(bytes)) return IoStatus::failed;
    const bool started = start_write();
    if (lost_) return IoStatus::lost;
    return started ? IoStatus::ok : IoStatus::failed;
}

void Win32SerialPort::check_write() {
    if (!pending_.in_flight()) return;
    DWORD done = 0;
    if (::GetOverlappedResult(native(handle_), &io_->write, &done, FALSE)) {
        end_write(true, ERROR_SUCCESS);
    } else {
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_INCOMPLETE) return;  // still going out
        end_write(false, error);
    }
    (void)start_write();
}

bool Win32SerialPort::start_write() {
    if (lost_) return false;
    const std::span<const std::uint8_t> block = pending_.start();
    if (block.empty()) return true;
    // The block stays in the port's buffer, untouched, until the system is done with it. A
    // time-out that ends the write short gives up the rest of the block.
    if (::WriteFile(native(handle_), block.data(), static_cast<DWORD>(block.size()), nullptr,
                    &io_->write)) {
        end_write(true, ERROR_SUCCESS);
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) return true;
    end_write(false, error);
    return false;
}

void Win32SerialPort::end_write(bool succeeded, unsigned long error) {
    pending_.finish();
    if (!succeeded && win32::classify_port_io_error(error) == IoStatus::lost) lost_ = true;
}

std::optional<ModemLines> Win32SerialPort::modem_lines() {
    if (!handle_) return std::nullopt;
    check_write();
    if (lost_) return std::nullopt;
    DWORD status = 0;
    // Wine refuses this on a pseudo-terminal ("not supported"), which has no modem lines.
    if (!::GetCommModemStatus(native(handle_), &status)) return std::nullopt;
    return ModemLines{(status & MS_CTS_ON) != 0, (status & MS_DSR_ON) != 0};
}

bool Win32SerialPort::set_dtr_rts(bool on) {
    if (!handle_) return false;
    check_write();
    if (lost_) return false;
    // Through the control block, so that the lines stay as set should the driver re-apply it.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(native(handle_), &dcb)) return false;
    dcb.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    return ::SetCommState(native(handle_), &dcb) != 0;
}

void Win32SerialPort::close() {
    if (!handle_) return;
    if (pending_.in_flight()) {
        // The system writes from the port's buffer: it must be done with it before it goes.
        DWORD done = 0;
        ::CancelIoEx(native(handle_), &io_->write);
        (void)::GetOverlappedResult(native(handle_), &io_->write, &done, TRUE);
    }
    pending_.clear();
    (void)handle_.reset();
}

OpenResult Win32PortProvider::open(const std::string& device) {
    OpenResult result;
    result.port = Win32SerialPort::open(device, result.error);
    return result;
}

}  // namespace vrk::platform
