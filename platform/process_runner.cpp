#include "platform/process_runner.h"

namespace vrk::platform {

void ErrorLineCollector::take(std::string_view bytes) {
    for (const char c : bytes) {
        if (complete_) return;
        if (c == '\n' || line_.size() == PROCESS_ERROR_LINE_MAX) {
            complete_ = true;
            return;
        }
        const auto u = static_cast<unsigned char>(c);
        line_ += (u < 0x20 || u == 0x7f) ? ' ' : c;
    }
}

std::string ErrorLineCollector::line() const {
    // The record and the JSON stream hold UTF-8 only: a byte that begins no valid character (a
    // program writing Latin-1) becomes '?', and a character cut by the length limit is dropped.
    std::string line;
    std::size_t i = 0;
    while (i < line_.size()) {
        const auto lead = static_cast<unsigned char>(line_[i]);
        const std::size_t length = lead < 0x80                   ? 1
                                   : lead >= 0xC2 && lead < 0xE0 ? 2
                                   : lead >= 0xE0 && lead < 0xF0 ? 3
                                   : lead >= 0xF0 && lead < 0xF5 ? 4
                                                                 : 0;
        std::size_t have = 1;
        while (have < length && i + have < line_.size() &&
               (static_cast<unsigned char>(line_[i + have]) & 0xC0) == 0x80)
            ++have;
        if (length != 0 && have == length) {
            line.append(line_, i, length);
            i += length;
        } else if (length != 0 && i + have == line_.size() &&
                   line_.size() == PROCESS_ERROR_LINE_MAX) {
            break;  // cut by the limit
        } else {
            line += '?';
            i += 1;
        }
    }
    // A "\r\n" line end arrives as a blank here: trailing blanks say nothing.
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

}  // namespace vrk::platform
