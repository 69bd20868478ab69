#include "app/wire_trace.h"

#include <array>
#include <charconv>

#include "platform/hex_text.h"

namespace vrk::app {

using platform::append_hex;

WireTrace::WireTrace(Session& session, std::string port, platform::TickClock& clock,
                     std::uint32_t origin, Sink sink)
    : link_(session.context().link),
      port_(std::move(port)),
      clock_(clock),
      origin_(origin),
      sink_(std::move(sink)) {
    (void)link::add_send_hook(link_, *this);
    link::set_receive_hook(link_, this);
}

WireTrace::~WireTrace() {
    link::remove_send_hook(link_, *this);
    if (link_.capture.hook == this) link::set_receive_hook(link_, nullptr);
}

void WireTrace::after_send(std::span<const std::uint8_t> message,
                           std::span<const std::uint8_t> wire) {
    write("tx", message, wire, false);
}

void WireTrace::on_receive(std::span<const std::uint8_t> message, std::span<const std::uint8_t> raw,
                           bool raw_cut) {
    write("rx", message, raw, raw_cut);
}

void WireTrace::write(std::string_view direction, std::span<const std::uint8_t> message,
                      std::span<const std::uint8_t> raw, bool raw_cut) {
    // "<ms> <port> tx|rx <message> | <frame>": tx goes to the unit, rx comes from it.
    std::array<char, 16> ms{};
    const auto end = std::to_chars(ms.data(), ms.data() + ms.size(), clock_.tick_ms() - origin_);
    line_.assign(ms.data(), end.ptr);
    line_ += ' ';
    line_ += port_;
    line_ += ' ';
    line_ += direction;
    line_ += ' ';
    append_hex(line_, message);
    line_ += " | ";
    append_hex(line_, raw);
    // A frame longer than the capture keeps its start and its last byte.
    if (raw_cut) line_ += " (cut)";
    sink_(line_);
}

}  // namespace vrk::app
