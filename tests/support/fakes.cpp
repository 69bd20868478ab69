#include "tests/support/fakes.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "platform/hex_text.h"

namespace vrk::test {

Bytes hex(const std::string& text) {
    Bytes out;
    int nibble = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            throw std::invalid_argument("bad hex text: " + text);
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(nibble * 16 + v));
            nibble = -1;
        }
    }
    if (nibble >= 0) throw std::invalid_argument("odd hex text: " + text);
    return out;
}

std::string to_hex(const Bytes& bytes) {
    return platform::hex_text(bytes);
}

Bytes FakePort::written() const {
    Bytes all;
    for (const auto& w : writes) all.insert(all.end(), w.begin(), w.end());
    return all;
}

bool FakePort::configure(std::uint32_t b) {
    baud = b;
    events.push_back("configure " + std::to_string(b));
    return true;
}

bool FakePort::set_baud_rate(std::uint32_t b) {
    baud = b;
    events.push_back("baud " + std::to_string(b));
    return true;
}

platform::ReadResult FakePort::read(std::span<std::uint8_t> buffer) {
    if (log_reads) events.emplace_back("read");
    if (lost) return {platform::IoStatus::lost, 0};
    if (reads.empty()) return {};
    std::optional<Bytes> next = std::move(reads.front());
    reads.pop_front();
    if (!next) return {platform::IoStatus::failed, 0};
    const std::size_t n = std::min(buffer.size(), next->size());
    std::copy_n(next->begin(), n, buffer.begin());
    if (n < next->size())
        reads.emplace_front(Bytes(next->begin() + static_cast<std::ptrdiff_t>(n), next->end()));
    return {platform::IoStatus::ok, n};
}

platform::IoStatus FakePort::write(std::span<const std::uint8_t> bytes) {
    if (lost || writes_lost) {
        events.push_back("write to a lost port");
        return platform::IoStatus::lost;
    }
    writes.emplace_back(bytes.begin(), bytes.end());
    events.push_back("write " + std::to_string(bytes.size()));
    return platform::IoStatus::ok;
}

std::optional<platform::ModemLines> FakePort::modem_lines() {
    events.emplace_back("modem");
    return lines;
}

bool FakePort::set_dtr_rts(bool on) {
    events.push_back(on ? "dtr_rts on" : "dtr_rts off");
    return true;
}

void FakePort::close() {
    closed = true;
    events.emplace_back("close");
}

platform::MessageAnswer FakeHost::message_box(const std::string& text, const std::string& caption,
                                              platform::MessageButtons buttons,
                                              platform::MessageIcon icon) {
    boxes.push_back({text, caption, buttons, icon});
    if (while_box_open) while_box_open();
    if (!answers.empty()) {
        const auto a = answers.front();
        answers.pop_front();
        return a;
    }
    return buttons == platform::MessageButtons::yes_no ? platform::MessageAnswer::no
                                                       : platform::MessageAnswer::ok;
}

std::optional<std::string> FakeHost::save_file_dialog(const platform::SaveFileRequest& request) {
    save_requests.push_back(request);
    if (save_answers.empty()) return std::nullopt;
    auto a = save_answers.front();
    save_answers.pop_front();
    return a;
}

namespace {

bool ends_with_ci(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) !=
            std::tolower(static_cast<unsigned char>(suffix[i])))
            return false;
    }
    return true;
}

class MemoryInput : public platform::InputFile {
  public:
    MemoryInput(const Bytes& data, std::optional<std::size_t> limit, bool fail_size)
        : data_(data), limit_(limit), fail_size_(fail_size) {}
    std::optional<std::uint64_t> size() override {
        return fail_size_ ? data_.size() + 100 : data_.size();
    }
    std::optional<std::size_t> read(std::span<std::uint8_t> buffer) override {
        std::size_t n = std::min(buffer.size(), data_.size() - pos_);
        if (limit_) n = std::min(n, *limit_ > pos_ ? *limit_ - pos_ : std::size_t{0});
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buffer.begin());
        pos_ += n;
        return n;
    }

  private:
    const Bytes data_;
    std::optional<std::size_t> limit_;
    bool fail_size_;
    std::size_t pos_ = 0;
};

class MemoryOutput : public platform::OutputFile {
  public:
    MemoryOutput(MemoryFileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        if (closed_) return false;
        Bytes& f = fs_.files[path_];
        std::size_t n = bytes.size();
        bool ok = true;
        if (fs_.fail_writes_after) {
            const std::size_t room = *fs_.fail_writes_after > fs_.bytes_written
                                         ? *fs_.fail_writes_after - fs_.bytes_written
                                         : 0;
            if (n > room) {
                n = room;
                ok = false;
            }
        }
        f.insert(f.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        fs_.bytes_written += n;
        return ok;
    }
    bool close() override {
        closed_ = true;
        return true;
    }

  private:
    MemoryFileSystem& fs_;
    std::string path_;
    bool closed_ = false;
};

}  // namespace

bool MemoryFileSystem::change_directory(const std::string& path) {
    cwd = path;
    while (cwd.size() > 1 && cwd.back() == '/') cwd.pop_back();
    return true;
}

std::vector<std::string> MemoryFileSystem::find_files(const std::string& extension) {
    std::vector<std::string> out;
    const std::string here = cwd + "/";
    for (const auto& [name, data] : files) {
        std::string local = name;
        if (local.rfind(here, 0) == 0) local.erase(0, here.size());
        if (local.find('/') == std::string::npos && ends_with_ci(local, extension))
            out.push_back(local);
    }
    return out;
}

std::unique_ptr<platform::InputFile> MemoryFileSystem::open_read(const std::string& path,
                                                                 platform::FileError* error) {
    auto it = files.find(path);
    if (it == files.end()) {
        if (error) *error = platform::FileError::not_found;
        return nullptr;
    }
    if (unreadable.count(path) != 0) {
        if (error) *error = platform::FileError::access_denied;
        return nullptr;
    }
    if (error) *error = platform::FileError::none;
    return std::make_unique<MemoryInput>(it->second, short_read_limit, fail_size);
}

std::unique_ptr<platform::OutputFile> MemoryFileSystem::create(const std::string& path,
                                                               platform::FileError* error) {
    if (fail_create) {
        if (error) *error = platform::FileError::access_denied;
        return nullptr;
    }
    files[path].clear();
    if (error) *error = platform::FileError::none;
    return std::make_unique<MemoryOutput>(*this, path);
}

}  // namespace vrk::test
