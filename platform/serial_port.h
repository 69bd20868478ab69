// The serial line to the unit, as the program sees it: our semantics, not the operating
// system's. platform/posix/ implements it on Linux; the tests use a scripted fake and the
// simulator runs behind a pseudo-terminal.
//
// Threads: a SerialPort belongs to the one session that opened it and is used only from that
// session's thread; it keeps the line's state (its speed, whether the device was lost) without
// a lock. A PortProvider may be shared: it keeps nothing between calls, and its exclusive open
// makes two sessions that ask for the same device get it once and "busy" once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vrk::platform {

// Why a port could not be opened or used. Classified once, from the system's error code, so
// the front-end can choose the words (a permission problem names the fix).
enum class PortError {
    none,
    not_found,      // no such device
    access_denied,  // permission denied: the user is not in the device's group
    busy,           // another program holds the port
    not_a_serial,   // the device exists but is not a serial line
    io_failure,     // anything else the system reported
};

// Human-readable explanation of a port error for the given device, including the fix where
// there is one.
[[nodiscard]] std::string describe_port_error(PortError error, const std::string& device);

// How a read or a write went.
enum class IoStatus {
    ok,
    failed,  // this call failed; the port may still work (the program carries on as if nothing
             // had arrived or gone out, and its retries make good what was lost)
    lost,    // the device is gone: an adapter unplugged, the line hung up. Nothing more will
             // work on this port; it must be closed and opened again.
};

struct ReadResult {
    IoStatus status = IoStatus::ok;
    std::size_t count = 0;  // bytes placed in the buffer
};

struct ModemLines {
    bool cts = false;
    bool dsr = false;
};

class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Puts the line into the unit's settings: raw 8 data bits, no parity, 1 stop bit, no flow
    // control of any kind, no character translation, the given speed, DTR and RTS raised, and
    // the read time-outs described at read(). Errors are returned but callers may ignore them:
    // the program carries on with whatever the driver holds.
    virtual bool configure(std::uint32_t baud) = 0;

    // Changes only the line speed.
    virtual bool set_baud_rate(std::uint32_t baud) = 0;

    // Reads up to buffer.size() bytes: what is waiting, at once; when nothing is waiting, waits
    // up to 50 ms for a first byte and returns a count of 0 when none came. A frame that
    // arrives in pieces is simply decoded across reads. Bytes read before a failure are
    // returned with the count, and the failure shows at the next read.
    [[nodiscard]] virtual ReadResult read(std::span<std::uint8_t> buffer) = 0;

    // Writes the whole buffer, within a time bound; failed when not all of it was taken. A write
    // may return as soon as the driver has taken the bytes, long before they have crossed the
    // line at a slow rate, or only once they have gone: the port promises neither and is never
    // asked when they will have gone. The link works that out from the byte count and the line
    // speed (link/link.h), and the protocol's time limits count from there.
    virtual IoStatus write(std::span<const std::uint8_t> bytes) = 0;

    // CTS and DSR, or nullopt when the device cannot tell (a pseudo-terminal) or the read failed.
    [[nodiscard]] virtual std::optional<ModemLines> modem_lines() = 0;

    // Raises (true) or drops (false) DTR and RTS together.
    virtual bool set_dtr_rts(bool on) = 0;

    // Closes the device. Further calls fail harmlessly.
    virtual void close() = 0;
};

struct OpenResult {
    std::unique_ptr<SerialPort> port;  // null on failure
    PortError error = PortError::none;
};

// One serial port of the machine, as the port dialog and the command-line tool list it.
struct PortInfo {
    std::string device;  // what to open now ("/dev/ttyUSB0")
    // The name that finds this port again after it went away: for a USB adapter one that stays
    // with the adapter (or with its socket) when it comes back under another device name; else
    // the device.
    std::string stable_name;
    // What the system knows of the hardware, for telling ports apart: "FTDI FT232R USB UART
    // A600ABCD (0403:6001)" (manufacturer, product, serial number, vendor:product id). Empty for
    // a built-in UART, whose device name says all there is.
    std::string description;
    // none: it opens now; busy: another program holds it; access_denied: this user may not
    // open it.
    PortError access = PortError::none;
};

// Finds and opens serial devices.
class PortProvider {
  public:
    virtual ~PortProvider() = default;
    // The device names worth offering, in no particular order (the dialog sorts them).
    [[nodiscard]] virtual std::vector<std::string> candidate_ports() = 0;
    // The ports of the machine, in no particular order: every candidate that opens now, is held
    // by another program, or is forbidden to this user; one that fails otherwise (the device
    // gone meanwhile, not a serial line) is left out. Each is opened to find out, and closed
    // again at once. This default knows no more than the device names (stable name = device, no
    // description); a platform that can tell more overrides it.
    [[nodiscard]] virtual std::vector<PortInfo> list_ports();
    // Opens a device read-write and exclusively, so a port in use elsewhere fails to open.
    [[nodiscard]] virtual OpenResult open(const std::string& device) = 0;
};

}  // namespace vrk::platform
