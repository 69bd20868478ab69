// Which port is which: the USB identity read from a fake sysfs tree laid out as Linux lays it
// out, and the stable names chosen from a fake /dev with udev's serial links.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/port_identity.h"

namespace vrk::platform::posix {
namespace {

namespace fs = std::filesystem;

class FakeTree : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() /
                ("vrk-tree-" + std::string(info->name()) + "-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    void file(const std::string& path, const std::string& text = "") {
        fs::create_directories((root_ / path).parent_path());
        std::ofstream(root_ / path) << text;
    }
    void attributes(const std::string& dir, const std::map<std::string, std::string>& values) {
        fs::create_directories(root_ / dir);
        for (const auto& [name, value] : values) file(dir + "/" + name, value + "\n");
    }
    // A symbolic link at `path` with the (relative) target as udev and sysfs write them.
    void link(const std::string& path, const std::string& target) {
        fs::create_directories((root_ / path).parent_path());
        fs::create_symlink(target, root_ / path);
    }
    // A tty in sysfs: its class entry and, when it has hardware, its device link.
    void tty(const std::string& name, const std::string& tty_dir, const std::string& hardware) {
        fs::create_directories(root_ / tty_dir);
        link("class/tty/" + name, "../../" + tty_dir);
        if (!hardware.empty()) fs::create_symlink(root_ / hardware, root_ / tty_dir / "device");
    }

    fs::path root_;
};

TEST_F(FakeTree, SysfsNamesTheUsbDeviceAboveATtyAndNothingForOtherHardware) {
    const std::string hub = "devices/pci0000:00/0000:00:14.0/usb1";
    // The root hub has ids of its own: the adapter, lower down, must be found first.
    attributes(hub, {{"idVendor", "1d6b"}, {"idProduct", "0002"}, {"product", "xHCI Host"}});
    attributes(hub + "/1-2", {{"idVendor", "0403"},
                              {"idProduct", "6001"},
                              {"manufacturer", "FTDI"},
                              {"product", "FT232R USB UART"},
                              {"serial", "A600ABCD"}});
    tty("ttyUSB0", hub + "/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0", hub + "/1-2/1-2:1.0/ttyUSB0");
    attributes(hub + "/1-3", {{"idVendor", "2341"},
                              {"idProduct", "0043"},
                              {"manufacturer", "Arduino (www.arduino.cc)"},
                              {"serial", "8543931323035171F0E1"}});
    tty("ttyACM0", hub + "/1-3/1-3:1.0/tty/ttyACM0", hub + "/1-3/1-3:1.0");
    attributes(hub + "/1-4",
               {{"idVendor", "1a86"}, {"idProduct", "7523"}, {"product", "USB Serial"}});
    tty("ttyUSB1", hub + "/1-4/1-4:1.0/ttyUSB1/tty/ttyUSB1", hub + "/1-4/1-4:1.0/ttyUSB1");
    tty("ttyAMA0", "devices/platform/soc/3f201000.serial/tty/ttyAMA0",
        "devices/platform/soc/3f201000.serial");
    tty("ttyS0", "devices/pnp0/00:01/tty/ttyS0", "devices/pnp0/00:01");
    tty("rfcomm0", "devices/virtual/tty/rfcomm0", "");

    struct Row {
        const char* tty;
        std::optional<std::string> description;
        const char* serial;
    };
    const std::vector<Row> rows = {
        {"ttyUSB0", "FTDI FT232R USB UART A600ABCD (0403:6001)", "A600ABCD"},
        {"ttyACM0", "Arduino (www.arduino.cc) 8543931323035171F0E1 (2341:0043)",
         "8543931323035171F0E1"},
        {"ttyUSB1", "USB Serial (1a86:7523)", ""},  // a CH340: no manufacturer, no serial
        {"ttyAMA0", std::nullopt, ""},              // a UART on the board
        {"ttyS0", std::nullopt, ""},                // a PC's UART
        {"rfcomm0", std::nullopt, ""},              // no hardware of its own
        {"ttyUSB7", std::nullopt, ""},              // not there
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.tty);
        const auto details = read_usb_details(root_, row.tty);
        ASSERT_EQ(details.has_value(), row.description.has_value());
        if (!details) continue;
        EXPECT_EQ(describe_usb(*details), *row.description);
        EXPECT_EQ(details->serial, row.serial);
    }
}

TEST_F(FakeTree, StableNamesFollowTheSerialNumberElseTheSocket) {
    for (const char* device : {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3", "ttyACM0", "ttyS0"})
        file(device);
    link("serial/by-id/usb-FTDI_FT232R_USB_UART_A600ABCD-if00-port0", "../../ttyUSB0");
    link("serial/by-id/usb-Arduino__www.arduino.cc__0043_8543931323035171F0E1-if00",
         "../../ttyACM0");
    // Two CH340s without serial numbers: one by-id name, won by the last to appear.
    link("serial/by-id/usb-1a86_USB_Serial-if00-port0", "../../ttyUSB3");
    link("serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", "../../ttyUSB0");
    link("serial/by-path/pci-0000:00:14.0-usb-0:3:1.0", "../../ttyACM0");
    link("serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0", "../../ttyUSB2");
    link("serial/by-path/pci-0000:00:14.0-usbv2-0:5:1.0-port0", "../../ttyUSB3");
    link("serial/by-path/pci-0000:00:14.0-usb-0:5:1.0-port0", "../../ttyUSB3");

    struct Row {
        const char* device;
        const char* serial;
        const char* expected;  // under the tree's root
    };
    const std::vector<Row> rows = {
        {"ttyUSB0", "A600ABCD", "serial/by-id/usb-FTDI_FT232R_USB_UART_A600ABCD-if00-port0"},
        {"ttyACM0", "8543931323035171F0E1",
         "serial/by-id/usb-Arduino__www.arduino.cc__0043_8543931323035171F0E1-if00"},
        {"ttyUSB2", "", "serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0"},
        // The shared by-id name points here, but it would find the other CH340 as well.
        {"ttyUSB3", "", "serial/by-path/pci-0000:00:14.0-usb-0:5:1.0-port0"},
        {"ttyUSB1", "B0010", "ttyUSB1"},  // no udev links at all (a container, say)
        {"ttyS0", "", "ttyS0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.device);
        EXPECT_EQ(stable_port_name(root_, (root_ / row.device).string(), row.serial),
                  (root_ / row.expected).string());
    }
}

}  // namespace
}  // namespace vrk::platform::posix
