// The serial link to one unit: the frames going out, the bytes coming in, and whether a unit
// answers. One Link per session; it holds no global state, so sessions on several ports can run
// on threads of their own.
//
// Everything sent goes through send_message, which frames the message into tx_buffer and hands
// it to the port. Others can hook in: a hook is offered every message before its first wire
// byte leaves (the macro recorder records there) and again once the frame is out (with the
// wire bytes, for a trace). The link tells its observer when the unit is found and when it is
// lost; what that means for the window and a running transfer is the device layer's business.
//
// The link also keeps the time its line will be free: a write hands the bytes to the driver and
// may return long before they have crossed the line (a 260-byte page takes 2.2 s at 1200 baud),
// or may block until they have, depending on the platform. The protocol's time limits count
// from the moment a request has left, so the link works that moment out itself, from the
// frame's size and the line speed, the same on every platform. The port is never asked: a
// driver's queue count misses the bytes in a USB adapter's own buffer, and a pseudo-terminal
// reports none at all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/frame_codec.h"
#include "link/messages.h"

namespace vrk::platform {
class SerialPort;
class TickClock;
}  // namespace vrk::platform

namespace vrk::link {

// The longest frame the program sends: a 260-byte page request with every byte escaped.
inline constexpr std::size_t TX_BUFFER_SIZE = max_frame_size(messages::LONGEST_SENT_MESSAGE);
// A frame reaches the port in writes of at most this many bytes (the unit's driver queue is
// 1024 bytes; half of it is what the program ever has in flight).
inline constexpr std::size_t TX_WRITE_LIMIT = 512;
inline constexpr std::size_t MAX_SEND_HOOKS = 4;

inline constexpr std::uint32_t START_BAUD = 115200;
inline constexpr std::uint32_t PROBE_INTERVAL_MS = 300;
// An 8N1 byte on the wire: a start bit, 8 data bits and a stop bit.
inline constexpr std::uint32_t BITS_PER_WIRE_BYTE = 10;

enum LinkStateValue : std::int32_t {
    LINK_SEARCHING = 0,        // hunting: probing rate after rate
    LINK_LINKED = 1,           // a unit answered the probe
    LINK_SETTINGS_LOADED = 2,  // and reported its last setting: later reports confirm changes
};

// Why the link went back to searching.
enum class LinkLoss {
    modem_lines,  // CTS and DSR both dropped: the cable or the unit went away
    mode_report,  // the unit left its configuration mode (QB7 mode, or its application runs)
    port_lost,    // the port itself vanished (an adapter unplugged)
};

class SendHook {
  public:
    virtual ~SendHook() = default;
    // Before the frame's first byte goes to the port. The message must not be changed.
    virtual void before_send(std::span<const std::uint8_t> message) { (void)message; }
    // After the whole frame has been handed to the port.
    virtual void after_send(std::span<const std::uint8_t> message,
                            std::span<const std::uint8_t> wire) {
        (void)message;
        (void)wire;
    }
};

// Offered every message the unit sent, before it is handled, with the wire bytes of its frame
// from FRAME_START to FRAME_END (for a trace of the line). Opt-in: without a hook the poll cycle
// keeps no copy of the raw bytes.
class ReceiveHook {
  public:
    virtual ~ReceiveHook() = default;
    // `raw` may miss bytes in the middle when the frame outgrew RAW_CAPTURE_SIZE (then
    // `raw_cut` is true); the message is always whole.
    virtual void on_receive(std::span<const std::uint8_t> message,
                            std::span<const std::uint8_t> raw, bool raw_cut) = 0;
};

// The longest received frame: a 512-byte message with every byte escaped.
inline constexpr std::size_t RAW_CAPTURE_SIZE = max_frame_size(RX_BUFFER_SIZE);

// The raw bytes of the frame being received, kept only while a receive hook is set.
struct RawCapture {
    ReceiveHook* hook = nullptr;
    std::array<std::uint8_t, RAW_CAPTURE_SIZE> bytes{};
    std::size_t size = 0;
    bool cut = false;
};

class LinkObserver {
  public:
    virtual ~LinkObserver() = default;
    // A unit answered the probe at this rate; the hunt is over.
    virtual void link_up(std::uint32_t baud) = 0;
    // Back to searching (also when already searching: the display is reset again).
    virtual void link_lost(LinkLoss why) = 0;
};

struct Link {
    Link(platform::SerialPort& port_, platform::TickClock& clock_) : port(&port_), clock(clock_) {}
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    platform::SerialPort* port;  // the open port; the session swaps it after a reconnection
    platform::TickClock& clock;

    // Encoder: the frame being sent; its bytes are handed to the port before send_message ends.
    std::array<std::uint8_t, TX_BUFFER_SIZE> tx_buffer{};
    PortReader reader;
    FrameDecoder decoder;

    // The port reported the device gone (a read or a write said so). Nothing is read from it or
    // written to it from then on; the session closes it, tells the loss and opens the port
    // again, and start_link on the new port clears this.
    bool port_lost = false;

    // The tick at which the last byte handed to the port will have gone onto the line. Moved up
    // to the present by every poll cycle once it has passed, so that it never grows old enough
    // for the tick's wrap to make it read as lying ahead.
    std::uint32_t line_free = 0;

    // A frame is being sent. A hook may open a box from inside the send whose event loop keeps
    // the window's timer running; while this is set, nothing else may be sent (tx_buffer and
    // the message the hooks are told belong to the frame being sent) and no poll may run.
    bool sending = false;

    std::int32_t link_state = LINK_SEARCHING;
    std::uint32_t current_baud = START_BAUD;
    std::uint32_t next_probe_time = 0;
    std::uint32_t last_probe_time = 0;  // when the last probe was sent

    std::array<SendHook*, MAX_SEND_HOOKS> hooks{};
    LinkObserver* observer = nullptr;
    RawCapture capture;
};

// Registers a hook (no more than MAX_SEND_HOOKS; false when full or already there).
bool add_send_hook(Link& link, SendHook& hook);
void remove_send_hook(Link& link, SendHook& hook);
// Sets the one receive hook (null removes it).
void set_receive_hook(Link& link, ReceiveHook* hook);

// Milliseconds that `wire_bytes` take on the line at `baud`, 10 bit times a byte, rounded up; 0
// at a rate of 0 (a port never configured has no speed to go by).
[[nodiscard]] std::uint32_t wire_time_ms(std::size_t wire_bytes, std::uint32_t baud);

// The later of two ticks, compared by difference: the tick wraps.
[[nodiscard]] std::uint32_t later_tick(std::uint32_t a, std::uint32_t b);

// A reply to a request has arrived, now: the request has left by now, whatever the model said.
// When the model had it leaving at `departure`, later than now, the line ran ahead of the model
// (a unit behind a converter that ignores the rate, a USB unit, a peer without line time): that
// lead, and only that, is taken off line_free, never below now, so that a frame queued after
// the request keeps its own wire time. A reply that comes after the departure changes nothing,
// which is every reply on a line that is paced as modelled. Returns the departure as now known:
// the earlier of `departure` and now.
std::uint32_t reply_received(Link& link, std::uint32_t departure);

// Frames one message and hands its wire bytes to the port, in writes of at most 512 bytes. Hooks
// see it before and after. An empty message sends nothing and reaches no hook, and neither does
// one sent while another is being sent (from a box a hook opened): see Link::sending. A failed write is
// not made good here: lost frames are recovered by the probe repetition and the page retry,
// which is how the unit's protocol is built. A write that finds the device gone sets port_lost,
// and no byte goes to the port after that.
//
// Afterwards line_free is when the frame's last byte will have gone: the frame starts onto the
// line when its write begins, or when the line is free of the frames before it, whichever is
// later, and takes its wire time at current_baud.
void send_message(Link& link, std::span<const std::uint8_t> message);

// The probe: an ID query, an ID message with an empty ID.
void send_id_query(Link& link);

// Starts the hunt on a freshly configured port: searching at 115200, the first probe sent now
// and the next due in 300 ms. Also on a port opened again after the old one was lost.
void start_link(Link& link);

// The unit answered: linked at the current rate. Tells the observer once, on the first answer.
void mark_linked(Link& link);
// The unit reported its settings: later reports of equal values confirm changes. Ends the hunt
// too when it was still on (the observer is told the link is up).
void mark_settings_loaded(Link& link);
// Back to searching, and the observer told (also when already searching). The rate stays: the
// hunt resumes from it, 300 ms after the last probe, or at once when that time has passed.
void lose_link(Link& link, LinkLoss why);

}  // namespace vrk::link
