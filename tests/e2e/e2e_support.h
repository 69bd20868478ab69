// What every end-to-end test needs besides the session: a temporary working directory that
// the program sees as its current directory (its image list and macro files live there), the
// scripted host answers, and images written into it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/posix_platform.h"
#include "sim/demo_image.h"
#include "sim/simulator.h"
#include "tests/support/fakes.h"
#include "tests/support/sim_session.h"

namespace vrk::test {

// A fresh folder in the temporary folder that is the working folder between enter() and
// leave(): the programs list images in, propose macro files for, and find databases and
// recipes in their current folder.
class WorkingFolder {
  public:
    // Named after `prefix`, `name` (the test's) and the clock, so that no two runs share one.
    void enter(const std::string& prefix, const std::string& name) {
        previous_ = std::filesystem::current_path();
        std::string leaf =
            prefix + "-" + name + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        std::replace(leaf.begin(), leaf.end(), '/', '-');  // a parameterised test's name
        path_ = std::filesystem::temp_directory_path() / leaf;
        std::filesystem::create_directories(path_);
        std::filesystem::current_path(path_);
    }
    // Back to the folder before; this one goes with everything in it.
    void leave() {
        std::error_code ec;
        std::filesystem::current_path(previous_, ec);
        std::filesystem::remove_all(path_, ec);
    }
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_, previous_;
};

// The objects of one event among a run's JSON objects.
template <class Json>
std::vector<Json> of_event(const std::vector<Json>& objects, const std::string& event) {
    std::vector<Json> found;
    for (const Json& o : objects)
        if (o.value("event", "") == event) found.push_back(o);
    return found;
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_.enter("vrk-e2e", ::testing::UnitTest::GetInstance()->current_test_info()->name());
        dir_ = folder_.path();
    }
    void TearDown() override {
        session_.reset();
        folder_.leave();
    }

    // Writes an image of pseudo-random bytes into the working directory; returns its content.
    Bytes write_image(const std::string& name, std::size_t size, std::uint64_t seed = 1) {
        Bytes image = sim::make_demo_image(size, seed);
        std::ofstream out(dir_ / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size()));
        return image;
    }

    // Starts the unit and the program (after the images are written: the list is filled then);
    // with `link_path`, the program opens the unit's terminal through a symbolic link there.
    SimSession& start(sim::UnitConfig unit, const std::string& link_path = {}) {
        // A unit in the field holds an application already: a download that does not erase
        // it first, or erases too little, leaves old bytes behind and fails the flash check.
        if (unit.previous_application == 0) unit.previous_application = 65536;
        session_ = std::make_unique<SimSession>(std::move(unit), files_, host_);
        std::string error;
        const bool opened = session_->open(&error, link_path);
        EXPECT_TRUE(opened) << error;
        return *session_;
    }

    // Starts and waits until the program has found the unit and loaded its settings.
    SimSession& start_linked(sim::UnitConfig unit) {
        SimSession& s = start(std::move(unit));
        EXPECT_TRUE(s.run_until([&] { return s.settings_loaded(); })) << "status: " << s.status();
        return s;
    }

    WorkingFolder folder_;
    std::filesystem::path dir_;
    platform::PosixFileSystem files_;
    FakeHost host_;
    std::unique_ptr<SimSession> session_;
};

// The flash holds the image and is erased beyond it (as far as `beyond` bytes are looked at).
inline ::testing::AssertionResult flash_holds(sim::Simulator& sim, const Bytes& image,
                                              std::size_t beyond = 4096) {
    const Bytes flash = sim.flash_copy(image.size() + beyond);
    for (std::size_t i = 0; i < flash.size(); ++i) {
        const std::uint8_t want = i < image.size() ? image[i] : 0xFF;
        if (flash[i] != want)
            return ::testing::AssertionFailure()
                   << "flash byte " << i << " is " << int{flash[i]} << ", expected " << int{want}
                   << (i < image.size() ? " (image)" : " (erased)");
    }
    return ::testing::AssertionSuccess();
}

}  // namespace vrk::test
