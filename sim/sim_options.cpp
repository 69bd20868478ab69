#include "sim/sim_options.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <system_error>
#include <type_traits>

#include "sim/unit_model.h"

namespace vrk::sim {

namespace {

template <typename T>
bool parse_integer(const std::string& text, T& out) {
    // Base 0 style: decimal, or hexadecimal with 0x (codes and flash types are usually given so).
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty()) return false;
    T value{};
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (ec != std::errc{} || end != digits.data() + digits.size()) return false;
    out = value;
    return true;
}

bool parse_double(const std::string& text, double& out) {
    if (text.empty()) return false;
    std::size_t used = 0;
    try {
        out = std::stod(text, &used);
    } catch (const std::exception&) {
        return false;
    }
    return used == text.size() && std::isfinite(out);
}

}  // namespace

std::string sim_usage() {
    return "usage: vrk-sim [options]\n"
           "Simulates a VRK 700 unit on a pseudo-terminal and prints the device to open,\n"
           "e.g. vrkcfg --port DEVICE. Runs until interrupted (Ctrl+C).\n"
           "\n"
           "The unit:\n"
           "  --baud RATE            line speed the unit answers at (default 115200)\n"
           "  --id TEXT              unit ID, at most 8 characters (default VRK00042)\n"
           "  --firmware-version X.YY\n"
           "                         firmware version the unit reports (default 2.15)\n"
           "  --serial N             serial number (default 70012)\n"
           "  --crystal HZ           crystal frequency in Hz (default 14745600)\n"
           "  --flash-type CODE      flash type code (default 0x28)\n"
           "  --gps-type CODE        GPS type code (default 0)\n"
           "  --internal-device CODE internal device code (default 1)\n"
           "  --external-device CODE external device code (default 1)\n"
           "  --short-version        answer with the short version report (no crystal)\n"
           "  --announce             announce the unit when the program first sets its speed\n"
           "  --flash-size BYTES     flash size, at most 16777216 (default 8388608)\n"
           "  --previous-app BYTES   the flash starts holding an old application of this size\n"
           "Timing:\n"
           "  --line-time            every byte takes 10 bit times on the line, both ways\n"
           "  --erase-ms MS          time to erase one 64 KiB block\n"
           "  --program-ms MS        time to program one page\n"
           "Faults:\n"
           "  --seed N               seed of the fault generator (default 1)\n"
           "  --drop-rx P            probability that a received frame is lost\n"
           "  --drop-tx P            probability that a reply is not sent\n"
           "  --corrupt P            probability per byte sent that a bit flips\n"
           "  --corrupt-rx P         probability per byte received that a bit flips\n"
           "  --stop-after N         stop answering after N page requests\n"
           "  --no-id-reply          take an ID that is set but never confirm it (queries\n"
           "                         of the ID are answered)\n"
           "  --wrong-page           every 8th wide page acknowledgement names the page above\n"
           "  --flip-byte OFFSET     this flash byte loses a bit right after its page is\n"
           "                         programmed (a flash that does not keep what it took)\n"
           "Output:\n"
           "  --flash-out FILE       write the flash, up to its last programmed byte, on exit\n"
           "  --log FILE             one hex line per message received\n"
           "  --link PATH            create a symbolic link PATH to the terminal\n"
           "  --make-demo-image PATH write a demo firmware image and exit\n"
           "  --version              show the program's version\n"
           "  --help                 show this text\n";
}

ParseResult parse_sim_options(const std::vector<std::string>& args) {
    ParseResult result;
    SimOptions& o = result.options;
    UnitConfig& u = o.unit;

    using Handler = std::function<std::string(const std::string&)>;  // returns an error or ""
    const auto integer = [](auto& field, long long min, long long max) {
        return Handler([&field, min, max](const std::string& v) -> std::string {
            long long value = 0;
            if (!parse_integer(v, value) || value < min || value > max)
                return "expects a whole number from " + std::to_string(min) + " to " +
                       std::to_string(max) + ", not '" + v + "'";
            field = static_cast<std::remove_reference_t<decltype(field)>>(value);
            return {};
        });
    };
    const auto probability = [](double& field) {
        return Handler([&field](const std::string& v) -> std::string {
            double p = 0;
            if (!parse_double(v, p) || p < 0 || p > 1)
                return "expects a probability from 0 to 1, not '" + v + "'";
            field = p;
            return {};
        });
    };
    const auto text = [](std::string& field) {
        return Handler([&field](const std::string& v) -> std::string {
            if (v.empty()) return "expects a non-empty value";
            field = v;
            return {};
        });
    };
    const std::map<std::string, Handler> valued = {
        {"--baud", Handler([&u](const std::string& v) -> std::string {
             std::uint32_t b = 0;
             if (!parse_integer(v, b) || !is_line_speed(b))
                 return "expects a serial line speed such as 9600, not '" + v + "'";
             u.baud = b;
             return {};
         })},
        {"--id", Handler([&u](const std::string& v) -> std::string {
             if (v.size() > 8) return "expects at most 8 characters, not '" + v + "'";
             u.id = v;
             return {};
         })},
        {"--firmware-version", Handler([&u](const std::string& v) -> std::string {
             double x = 0;
             if (!parse_double(v, x)) return "expects a version such as 2.15, not '" + v + "'";
             const double hundredths = std::round(x * 100);
             if (hundredths < std::numeric_limits<std::int16_t>::min() ||
                 hundredths > std::numeric_limits<std::int16_t>::max())
                 return "expects a version from -327.68 to 327.67, not '" + v + "'";
             u.version_hundredths = static_cast<std::int16_t>(hundredths);
             return {};
         })},
        {"--serial", integer(u.serial_number, INT32_MIN, INT32_MAX)},
        {"--crystal", integer(u.crystal_hz, INT32_MIN, INT32_MAX)},
        {"--flash-type", integer(u.flash_type, 0, 255)},
        {"--gps-type", integer(u.gps_type, 0, 255)},
        {"--internal-device", integer(u.internal_device, 0, 255)},
        {"--external-device", integer(u.external_device, 0, 255)},
        {"--flash-size", integer(u.flash_size, 0, static_cast<long long>(MAX_FLASH_SIZE))},
        {"--previous-app",
         integer(u.previous_application, 0, static_cast<long long>(MAX_FLASH_SIZE))},
        {"--erase-ms", integer(u.erase_ms, 0, 3'600'000)},
        {"--program-ms", integer(u.program_ms, 0, 3'600'000)},
        {"--seed", Handler([&u](const std::string& v) -> std::string {
             std::uint64_t s = 0;
             if (!parse_integer(v, s)) return "expects a whole number, not '" + v + "'";
             u.seed = s;
             return {};
         })},
        {"--drop-rx", probability(u.drop_rx)},
        {"--drop-tx", probability(u.drop_tx)},
        {"--corrupt", probability(u.corrupt)},
        {"--corrupt-rx", probability(u.corrupt_rx)},
        {"--stop-after", Handler([&u](const std::string& v) -> std::string {
             std::uint32_t n = 0;
             if (!parse_integer(v, n)) return "expects a number of pages, not '" + v + "'";
             u.stop_after_pages = n;
             return {};
         })},
        {"--flip-byte", Handler([&u](const std::string& v) -> std::string {
             std::size_t offset = 0;
             if (!parse_integer(v, offset) || offset >= MAX_FLASH_SIZE)
                 return "expects a flash offset below " + std::to_string(MAX_FLASH_SIZE) +
                        ", not '" + v + "'";
             u.flip_byte = offset;
             return {};
         })},
        {"--flash-out", text(u.flash_out)},
        {"--log", text(u.log_path)},
        {"--link", text(o.link)},
        {"--make-demo-image", text(o.demo_image)},
    };
    const std::map<std::string, bool*> flags = {
        {"--short-version", &u.short_version},
        {"--announce", &u.announce},
        {"--line-time", &u.line_time},
        {"--wrong-page", &u.wrong_page},
        {"--no-id-reply", &u.no_id_reply},
        {"--version", &o.version},
        {"--help", &o.help},
        {"-h", &o.help},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inline_value = false;
        // Both "--baud 9600" and "--baud=9600".
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inline_value = true;
        }
        if (const auto f = flags.find(name); f != flags.end()) {
            if (inline_value) {
                result.error = name + " takes no value";
                return result;
            }
            *f->second = true;
            continue;
        }
        const auto h = valued.find(name);
        if (h == valued.end()) {
            result.error = "unknown option '" + args[i] + "' (see --help)";
            return result;
        }
        if (!inline_value) {
            if (i + 1 >= args.size()) {
                result.error = name + " needs a value";
                return result;
            }
            value = args[++i];
        }
        if (auto why = h->second(value); !why.empty()) {
            result.error = name + " " + why;
            return result;
        }
    }
    return result;
}

}  // namespace vrk::sim
