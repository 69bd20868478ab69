#include "tests/support/macro_reader.h"

namespace vrk::test {

MacroParse read_macro(const Bytes& file) {
    MacroParse out;
    std::size_t at = 0;
    while (at < file.size()) {
        if (file.size() - at < 4) {
            out.error = "record header cut off at offset " + std::to_string(at);
            return out;
        }
        const std::size_t message_length = static_cast<std::size_t>(file[at] | (file[at + 1] << 8));
        const auto reply_word = static_cast<std::uint16_t>(file[at + 2] | (file[at + 3] << 8));
        const std::size_t reply_length = reply_word & 0x7FFFu;
        if (file.size() - at - 4 < message_length + reply_length) {
            out.error = "record at offset " + std::to_string(at) + " cut off";
            return out;
        }
        const auto begin = file.begin() + static_cast<std::ptrdiff_t>(at + 4);
        const auto middle = begin + static_cast<std::ptrdiff_t>(message_length);
        MacroRecord record;
        record.message.assign(begin, middle);
        record.reply_word = reply_word;
        record.reply.assign(middle, middle + static_cast<std::ptrdiff_t>(reply_length));
        out.records.push_back(std::move(record));
        at += 4 + message_length + reply_length;
    }
    return out;
}

}  // namespace vrk::test
