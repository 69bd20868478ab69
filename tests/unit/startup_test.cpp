#include "app/startup.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/session.h"
#include "platform/control_ids.h"
#include "tests/support/fakes.h"

namespace vrk::test {
namespace {

// Ports that exist; those in `busy` fail to open. Every port handed out shares one event log.
class FakeProvider : public platform::PortProvider {
  public:
    std::vector<std::string> names;
    std::map<std::string, platform::PortError> failing;
    std::vector<std::string> opened;
    FakePort* last = nullptr;
    std::vector<std::unique_ptr<FakePort>> keep;

    // What the platform tells of each port, when a test gives it; else the default from the
    // names and the open results.
    std::optional<std::vector<platform::PortInfo>> infos;

    std::vector<std::string> candidate_ports() override { return names; }
    std::vector<platform::PortInfo> list_ports() override {
        return infos ? *infos : PortProvider::list_ports();
    }
    platform::OpenResult open(const std::string& device) override {
        opened.push_back(device);
        if (auto it = failing.find(device); it != failing.end()) return {nullptr, it->second};
        auto port = std::make_unique<ForwardingPort>(*this);
        return {std::move(port), platform::PortError::none};
    }

  private:
    // The program owns the port it opens; the test keeps watching through a FakePort it owns.
    class ForwardingPort : public platform::SerialPort {
      public:
        explicit ForwardingPort(FakeProvider& p)
            : target_(*p.keep.emplace_back(std::make_unique<FakePort>())) {
            p.last = &target_;
        }
        bool configure(std::uint32_t b) override { return target_.configure(b); }
        bool set_baud_rate(std::uint32_t b) override { return target_.set_baud_rate(b); }
        platform::ReadResult read(std::span<std::uint8_t> b) override { return target_.read(b); }
        platform::IoStatus write(std::span<const std::uint8_t> b) override {
            return target_.write(b);
        }
        std::optional<platform::ModemLines> modem_lines() override { return target_.modem_lines(); }
        bool set_dtr_rts(bool on) override { return target_.set_dtr_rts(on); }
        void close() override { target_.close(); }

      private:
        FakePort& target_;
    };
};

class ScriptedUi : public app::DialogRunner {
  public:
    std::function<void(platform::ControlsModel&)> on_ports = [](platform::ControlsModel& m) {
        m.user_click(ids::OK);
    };
    std::function<void(app::Session&)> on_main = [](app::Session& session) {
        session.window().user_click(ids::EXIT);
    };
    std::vector<std::string> port_list;
    bool main_shown = false;

    void run_port_selection(platform::ControlsModel& model) override {
        for (int i = 0; i < model.item_count(ids::PORT_LIST); ++i)
            port_list.push_back(model.item_text(ids::PORT_LIST, i));
        on_ports(model);
    }
    void run_main_window(app::MainWindowDriver& driver) override {
        main_shown = true;
        auto* session = dynamic_cast<app::Session*>(&driver);
        ASSERT_NE(session, nullptr);
        on_main(*session);
    }
};

struct StartupRig {
    FakeProvider ports;
    FakeClock clock;
    MemoryFileSystem files;
    FakeHost host;
    ScriptedUi ui;
    int run(app::StartupOptions options = {}) {
        return app::run_program(ports, clock, files, host, ui, options);
    }
};

TEST(PortSelection, ListsPortsThatOpenSortedAsTextKeepingTheTruePort) {
    StartupRig rig;
    rig.ports.names = {"/dev/ttyS0", "/dev/ttyS3", "/dev/ttyS12", "/dev/ttyUSB0"};
    rig.ports.failing["/dev/ttyS0"] = platform::PortError::busy;
    // The user picks the last entry, ttyUSB0's neighbour: ttyS3.
    rig.ui.on_ports = [](platform::ControlsModel& m) {
        EXPECT_EQ(m.selection(ids::PORT_LIST), 0) << "the first entry is selected";
        m.user_double_click(ids::PORT_LIST, 1);
    };
    EXPECT_EQ(rig.run(), 0);
    EXPECT_EQ(rig.ui.port_list, (std::vector<std::string>{"ttyS12", "ttyS3", "ttyUSB0"}));
    EXPECT_EQ(rig.ports.opened.back(), "/dev/ttyS3");
    EXPECT_TRUE(rig.ui.main_shown);
}

TEST(PortSelection, CancelAndNoPorts) {
    {
        StartupRig rig;
        rig.ports.names = {"/dev/ttyUSB0"};
        rig.ui.on_ports = [](platform::ControlsModel& m) { m.user_click(ids::CANCEL); };
        EXPECT_EQ(rig.run(), 0);
        EXPECT_FALSE(rig.ui.main_shown);
        EXPECT_EQ(rig.ports.opened.size(), 1u) << "only the probe at listing time";
    }
    {
        StartupRig rig;
        rig.ports.names = {"/dev/ttyS0"};
        rig.ports.failing["/dev/ttyS0"] = platform::PortError::busy;
        EXPECT_EQ(rig.run(), 0);
        ASSERT_EQ(rig.host.boxes.size(), 1u);
        EXPECT_EQ(rig.host.boxes[0].text, "I can't find any available ports");
        EXPECT_EQ(rig.host.boxes[0].caption, "Aborting...");
        EXPECT_EQ(rig.host.boxes[0].icon, platform::MessageIcon::error);
        EXPECT_FALSE(rig.ui.main_shown);
        EXPECT_TRUE(rig.ui.port_list.empty()) << "the dialog is never shown";
    }
}

TEST(Startup, ConfiguresProbesRunsAndShutsDownInOrder) {
    StartupRig rig;
    rig.ui.on_main = [](app::Session& session) {
        EXPECT_EQ(session.context().link.current_baud, 115200u);
        EXPECT_EQ(session.context().link.next_probe_time, 1300u);
        session.window().user_click(ids::EXIT);
    };
    app::StartupOptions options;
    options.port = "/dev/pts/7";
    EXPECT_EQ(rig.run(options), 0);
    ASSERT_NE(rig.ports.last, nullptr);
    EXPECT_EQ(rig.ports.last->events,
              (std::vector<std::string>{"configure 115200", "write 4", "dtr_rts off", "close"}));
    EXPECT_EQ(to_hex(rig.ports.last->written()), "FF 0B 00 FE");
}

TEST(Startup, AnImageNamedWithItsFolderMakesTheWindowWorkInThatFolder) {
    StartupRig rig;
    rig.files.files["/work/images/here.vr4"] = {1};
    rig.files.files["/home/tech/fw/app.vr4"] = {1};
    rig.files.files["/home/tech/fw/old.vr4"] = {1};
    std::vector<std::string> listed;
    std::string selected;
    rig.ui.on_main = [&](app::Session& session) {
        auto& window = session.window();
        for (int i = 0; i < window.item_count(ids::APPLICATION); ++i)
            listed.push_back(window.item_text(ids::APPLICATION, i));
        selected = window.text(ids::APPLICATION);
        window.user_click(ids::EXIT);
    };
    app::StartupOptions options;
    options.port = "/dev/pts/7";
    options.command_line = "/home/tech/fw/app.vr4";
    EXPECT_EQ(rig.run(options), 0);
    EXPECT_EQ(listed, (std::vector<std::string>{"app.vr4", "old.vr4"}));
    EXPECT_EQ(selected, "app.vr4");
}

TEST(Startup, AnOpenFailureIsExplainedAndExitsCleanly) {
    StartupRig rig;
    rig.ports.failing["/dev/ttyUSB0"] = platform::PortError::access_denied;
    app::StartupOptions options;
    options.port = "/dev/ttyUSB0";
    EXPECT_EQ(rig.run(options), 0);
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_NE(rig.host.boxes[0].text.find("dialout"), std::string::npos) << rig.host.boxes[0].text;
    EXPECT_FALSE(rig.ui.main_shown);
}

TEST(PortSelection, PortsTheUserMayNotOpenAreListedAndExplained) {
    const std::string fix = "Add yourself to the port's group (usually 'dialout'";
    struct Case {
        const char* name;
        std::map<std::string, platform::PortError> failing;
        std::vector<std::string> listed;  // empty: no dialog
        std::string box;                  // the start of the one box shown; empty: none
    };
    const Case cases[] = {
        {"one forbidden beside a free one: marked, and choosing it explains the fix",
         {{"/dev/ttyS0", platform::PortError::access_denied}},
         {"ttyS0 (no permission)", "ttyUSB0"},
         "Permission denied on /dev/ttyS0. " + fix},
        {"all forbidden: the explanation at once, naming them",
         {{"/dev/ttyS0", platform::PortError::access_denied},
          {"/dev/ttyUSB0", platform::PortError::access_denied}},
         {},
         "Permission denied on /dev/ttyS0, /dev/ttyUSB0. " + fix},
        {"a busy port is not counted as one that could open",
         {{"/dev/ttyS0", platform::PortError::busy},
          {"/dev/ttyUSB0", platform::PortError::access_denied}},
         {},
         "Permission denied on /dev/ttyUSB0. " + fix},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartupRig rig;
        rig.ports.names = {"/dev/ttyUSB0", "/dev/ttyS0"};
        rig.ports.failing = c.failing;
        rig.ui.on_ports = [](platform::ControlsModel& m) {
            m.user_double_click(ids::PORT_LIST, 0);
        };
        EXPECT_EQ(rig.run(), 0);
        EXPECT_EQ(rig.ui.port_list, c.listed);
        EXPECT_FALSE(rig.ui.main_shown);
        ASSERT_EQ(rig.host.boxes.size(), 1u);
        EXPECT_EQ(rig.host.boxes[0].text.rfind(c.box, 0), 0u) << rig.host.boxes[0].text;
    }
}

TEST(PortSelection, EntriesDescribeTheHardwareAndALostPortIsOpenedAgainByItsStableName) {
    const std::string by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ABCD-if00-port0";
    struct Case {
        const char* name;
        std::optional<std::string> port_option;
        std::string reopened;
    };
    const Case cases[] = {
        {"chosen in the dialog: its stable name", std::nullopt, by_id},
        {"given with --port: the name as given", "/tmp/vrk-unit", "/tmp/vrk-unit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartupRig rig;
        rig.ports.infos = std::vector<platform::PortInfo>{
            {"/dev/ttyUSB0", by_id, "FTDI FT232R USB UART A600ABCD (0403:6001)",
             platform::PortError::none},
            {"/dev/ttyS0", "/dev/ttyS0", "", platform::PortError::none},
        };
        rig.ui.on_ports = [](platform::ControlsModel& m) {
            m.user_double_click(ids::PORT_LIST, 1);
        };
        rig.ui.on_main = [&rig](app::Session& session) {
            rig.ports.last->lost = true;
            session.tick();
            rig.clock.advance(app::Session::REOPEN_INTERVAL_MS);
            session.tick();
            EXPECT_TRUE(session.port_open());
            session.window().user_click(ids::EXIT);
        };
        app::StartupOptions options;
        options.port = c.port_option;
        EXPECT_EQ(rig.run(options), 0);
        if (!c.port_option) {
            EXPECT_EQ(rig.ui.port_list,
                      (std::vector<std::string>{
                          "ttyS0", "ttyUSB0  FTDI FT232R USB UART A600ABCD (0403:6001)"}));
        }
        ASSERT_EQ(rig.ports.opened.size(), 2u);
        EXPECT_EQ(rig.ports.opened.back(), c.reopened);
    }
}

}  // namespace
}  // namespace vrk::test
