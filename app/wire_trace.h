// A timed trace of the wire for one session: one line per frame, both ways, with the message
// decoded and the frame's raw bytes. Meant to be sent with a bug report, so each line is handed
// to the sink as soon as the frame has passed: a crash leaves every line before it readable.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "app/session.h"
#include "link/link.h"
#include "platform/tick_clock.h"

namespace vrk::app {

class WireTrace final : public link::SendHook, public link::ReceiveHook {
  public:
    // Receives one whole line, without its line end.
    using Sink = std::function<void(std::string_view line)>;

    // Starts tracing the session's line. Times are milliseconds of `clock` since `origin`
    // (several sessions tracing into one file share an origin). `port` names the line.
    WireTrace(Session& session, std::string port, platform::TickClock& clock, std::uint32_t origin,
              Sink sink);
    ~WireTrace() override;
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    void after_send(std::span<const std::uint8_t> message,
                    std::span<const std::uint8_t> wire) override;
    void on_receive(std::span<const std::uint8_t> message, std::span<const std::uint8_t> raw,
                    bool raw_cut) override;

  private:
    void write(std::string_view direction, std::span<const std::uint8_t> message,
               std::span<const std::uint8_t> raw, bool raw_cut);

    link::Link& link_;
    std::string port_;
    platform::TickClock& clock_;
    std::uint32_t origin_;
    Sink sink_;
    std::string line_;  // reused: a frame costs no allocation once it has grown
};

}  // namespace vrk::app
