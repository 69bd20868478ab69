// vrkcfg.exe: finds a VRK 700 on a COM port, shows and changes its settings and downloads
// firmware into it. The Windows build of the window program.
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/simulated_unit.h"
#include "app/startup.h"
#include "app/win32/win32_dialog_runner.h"
#include "app/win32/win32_host_services.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_platform.h"
#include "sim/built_in_unit.h"
#include "vrk_version.h"

namespace {

constexpr vrk::app::PortWords PORT_WORDS{
    "COM1",
    "Without --port, the program lists the COM ports that can be opened; a port in use by\n"
    "another program is not listed.\n"};

constexpr const char* PROGRAM = "vrkcfg";

// The arguments as the system received them, in UTF-8 (the W command line holds names in any
// script; the A one only those of the machine's code page).
std::vector<std::string> arguments_after_name() {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr) return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(vrk::platform::win32::wide_to_utf8(words[i]));
    ::LocalFree(words);
    return arguments;
}

bool has_stream(DWORD which) {
    const HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// A window program has no console of its own. Started from a command prompt it writes to that
// one; started from the desktop, a text for the person becomes a message box.
void tell(const std::string& text, bool is_error) {
    const DWORD which = is_error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    FILE* stream = is_error ? stderr : stdout;
    if (!has_stream(which) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        if (std::freopen("CONOUT$", "w", stream) == nullptr) return;
    }
    if (has_stream(which) || ::GetConsoleWindow() != nullptr) {
        std::fputs(text.c_str(), stream);
        std::fflush(stream);
        return;
    }
    const std::wstring wide = vrk::platform::win32::to_wide(text);
    ::MessageBoxW(nullptr, wide.c_str(), L"vrkcfg", is_error ? MB_ICONERROR : MB_ICONINFORMATION);
}

}  // namespace

int main() {
    const vrk::app::CommandLine line =
        vrk::app::parse_command_line(arguments_after_name(), PORT_WORDS);
    if (line.help) {
        tell(vrk::app::usage_text(PROGRAM, PORT_WORDS), false);
        return 0;
    }
    if (line.version && line.error.empty()) {
        tell(std::string(PROGRAM) + " " + VRK_VERSION_TEXT + "\n", false);
        return 0;
    }
    if (!line.error.empty()) {
        tell(std::string(PROGRAM) + ": " + line.error + "\n" +
                 vrk::app::usage_text(PROGRAM, PORT_WORDS),
             true);
        return 2;
    }

    vrk::win32::Win32HostServices host;
    vrk::app::StartupOptions options;
    options.port = line.port;
    options.command_line = line.image;

    vrk::platform::Win32PortProvider system_ports;
    vrk::platform::PortProvider* ports = &system_ports;
    std::unique_ptr<vrk::sim::BuiltInUnit> simulated;
    if (line.simulate) {
        vrk::sim::UnitConfig unit;
        unit.flash_out = line.simulate_flash_out;
        unit.log_path = line.simulate_log;
        vrk::app::SimulatedUnit started =
            vrk::app::start_simulated_unit(unit, system_ports, PROGRAM);
        if (!started.unit) {
            tell(started.error + "\n", true);
            return vrk::app::SIMULATED_UNIT_FAILED_EXIT;
        }
        simulated = std::move(started.unit);
        ports = &simulated->ports();
        options.port = simulated->port_name();
    }
    vrk::platform::Win32TickClock clock;
    vrk::platform::Win32FileSystem files;
    vrk::win32::SelfTest self_test;
    if (line.self_test) self_test.picture_path = *line.self_test;
    vrk::win32::Win32DialogRunner runner(host, line.self_test ? &self_test : nullptr);
    const int code = vrk::app::run_program(*ports, clock, files, host, runner, options);
    // The simulated unit's flash, written out as it stops (--simulate-flash-out): a run whose
    // flash a test cannot read has failed.
    bool flash_written = true;
    if (simulated) {
        std::string error;
        flash_written = simulated->stop(&error);
        if (!flash_written) tell(std::string(PROGRAM) + ": " + error + "\n", true);
    }
    if (line.self_test) {
        tell(std::string(PROGRAM) + ": " +
                 (self_test.linked ? "linked, picture saved\n" : "no unit answered\n"),
             !self_test.linked);
        return self_test.linked && flash_written ? 0 : 1;
    }
    return flash_written ? code : 1;
}
