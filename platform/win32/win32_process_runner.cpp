// Starting a program on Windows: CreateProcess in a job object of its own, so that the time
// limit ends what the program started too (TerminateJobObject), and in a process group of its
// own, so the console's Ctrl+C, meant for us, does not reach it. Its standard input and error
// output are named pipes whose ends on our side are overlapped, so one
// WaitForMultipleObjects over the process, the two transfers and abandon()'s event sleeps
// until something happens. (Anonymous pipes cannot be overlapped.)
#include <windows.h>

#include <array>
#include <atomic>
#include <cwchar>
#include <span>
#include <string>

#include "platform/command_words.h"
#include "platform/process_runner.h"
#include "platform/win32/unique_handle.h"

namespace vrk::platform {

namespace {

using win32::UniqueHandle;

std::wstring wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(),
                          size);
    return text;
}

struct Pipe {
    UniqueHandle ours;    // overlapped, not inherited
    UniqueHandle theirs;  // inherited by the program
};

// A pipe one way: the program reads from it (its input) or writes to it (its error output).
bool make_pipe(bool program_reads, Pipe& pipe) {
    static std::atomic<unsigned> serial{0};
    const std::wstring name = L"\\\\.\\pipe\\vrk-" + std::to_wstring(::GetCurrentProcessId()) +
                              L"-" + std::to_wstring(serial.fetch_add(1));
    const DWORD direction = program_reads ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND;
    pipe.ours = UniqueHandle(::CreateNamedPipeW(
        name.c_str(), direction | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 4096, 0, nullptr));
    if (!pipe.ours) return false;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    pipe.theirs =
        UniqueHandle(::CreateFileW(name.c_str(), program_reads ? GENERIC_READ : GENERIC_WRITE, 0,
                                   &inherited, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(pipe.theirs);
}

std::string start_error_text(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return "no such program";
        case ERROR_ACCESS_DENIED:
            return "permission denied";
        case ERROR_BAD_EXE_FORMAT:
            return "not a program this system can run";
        default:
            return "Windows error " + std::to_string(error);
    }
}

bool same_name(std::wstring_view a, std::wstring_view b) {
    // Environment names are compared without regard to case on Windows.
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Our environment with the request's variables set over it, as CreateProcess takes it: each
// NAME=VALUE ended by a null, the whole ended by another.
std::wstring environment_of(const ProcessRequest& request) {
    std::wstring block;
    if (wchar_t* ours = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = ours; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
            const std::wstring_view text(entry);
            // "=C:=C:\dir" entries (a drive's current folder) have a name that starts with '='.
            const std::wstring_view name = text.substr(0, text.find(L'=', 1));
            bool replaced = false;
            for (const auto& [set_name, value] : request.environment)
                replaced |= same_name(name, wide(set_name));
            if (!replaced) block.append(text).push_back(L'\0');
        }
        ::FreeEnvironmentStringsW(ours);
    }
    for (const auto& [name, value] : request.environment)
        block.append(wide(name + "=" + value)).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

// One overlapped transfer on our end of a pipe, with its own event.
class Transfer {
  public:
    Transfer() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        overlapped_.hEvent = event_.get();
    }
    ~Transfer() { cancel(); }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    [[nodiscard]] bool ready() const { return static_cast<bool>(event_); }
    [[nodiscard]] bool pending() const { return pending_; }
    [[nodiscard]] HANDLE event() const { return event_.get(); }

    // Starts a read into `buffer` or a write of `bytes`; false when the pipe is closed.
    bool start_read(HANDLE pipe, std::span<char> buffer) {
        pipe_ = pipe;
        return started(::ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr,
                                  &overlapped_));
    }
    bool start_write(HANDLE pipe, std::string_view bytes) {
        pipe_ = pipe;
        return started(::WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                                   &overlapped_));
    }
    // The transfer ended (its event is set): how many bytes, or -1 when the pipe closed.
    long finish() {
        pending_ = false;
        DWORD bytes = 0;
        if (!::GetOverlappedResult(pipe_, &overlapped_, &bytes, FALSE)) return -1;
        return static_cast<long>(bytes);
    }
    // A transfer still under way is cancelled and waited for: its buffer and this structure
    // must outlive it.
    void cancel() {
        if (!pending_) return;
        ::CancelIoEx(pipe_, &overlapped_);
        DWORD bytes = 0;
        ::GetOverlappedResult(pipe_, &overlapped_, &bytes, TRUE);
        pending_ = false;
    }

  private:
    bool started(BOOL done) {
        if (!done && ::GetLastError() != ERROR_IO_PENDING) return false;
        // Done at once or later: the event is set either way.
        pending_ = true;
        return true;
    }

    UniqueHandle event_;
    OVERLAPPED overlapped_{};
    HANDLE pipe_ = nullptr;
    bool pending_ = false;
};

ProcessOutcome not_started(std::string reason) {
    ProcessOutcome outcome;
    outcome.end = ProcessEnd::not_started;
    outcome.reason = std::move(reason);
    return outcome;
}

class Win32ProcessRunner final : public ProcessRunner {
  public:
    Win32ProcessRunner() : abandon_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    ProcessOutcome run(const ProcessRequest& request) override;

    void abandon() override {
        abandoned_.store(true);
        ::SetEvent(abandon_.get());  // stays set: every later wait ends at once too
    }

  private:
    std::atomic<bool> abandoned_{false};
    UniqueHandle abandon_;
};

ProcessOutcome Win32ProcessRunner::run(const ProcessRequest& request) {
    ProcessOutcome outcome;
    if (abandoned_.load()) {
        outcome.end = ProcessEnd::abandoned;
        return outcome;
    }
    if (request.words.empty()) return not_started("no program named");
    Pipe input, errors;
    if (!abandon_ || !make_pipe(true, input) || !make_pipe(false, errors))
        return not_started("the system has no pipe left for it");
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    UniqueHandle nowhere(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inherited, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.theirs.get();
    startup.hStdOutput = nowhere.get();
    startup.hStdError = errors.theirs.get();
    std::wstring command = wide(windows_command_line(request.words));
    std::wstring environment = environment_of(request);
    PROCESS_INFORMATION started{};
    // Suspended until it is in the job: nothing it starts can escape the job meanwhile.
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                          CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW |
                              CREATE_NEW_PROCESS_GROUP,
                          environment.data(), nullptr, &startup, &started))
        return not_started(start_error_text(::GetLastError()));
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    const bool in_job = job && ::AssignProcessToJobObject(job.get(), process.get());
    ::ResumeThread(thread.get());
    input.theirs.reset();
    errors.theirs.reset();
    nowhere.reset();

    const ULONGLONG deadline = ::GetTickCount64() + request.time_limit_ms;
    ErrorLineCollector error_line;
    std::array<char, 4096> buffer{};
    Transfer reading, writing;
    if (!reading.ready() || !writing.ready()) {
        ::TerminateProcess(process.get(), 1);
        return not_started("the system has no event left for it");
    }
    if (!reading.start_read(errors.ours.get(), buffer)) errors.ours.reset();
    if (request.input.empty() || !writing.start_write(input.ours.get(), request.input))
        input.ours.reset();
    // What has arrived of the error output, without waiting for more.
    const auto take_errors = [&](DWORD wait_ms) {
        while (errors.ours && ::WaitForSingleObject(reading.event(), wait_ms) == WAIT_OBJECT_0) {
            const long got = reading.finish();
            if (got > 0)
                error_line.take(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
            if (got < 0 || !reading.start_read(errors.ours.get(), buffer)) {
                errors.ours.reset();
                return;
            }
            wait_ms = 0;
        }
    };
    const auto end_all = [&](ProcessEnd end) {
        if (in_job)
            ::TerminateJobObject(job.get(), 1);
        else
            ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), INFINITE);
        outcome.end = end;
    };

    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) {
            end_all(ProcessEnd::timed_out);
            break;
        }
        std::array<HANDLE, 4> handles{process.get(), abandon_.get()};
        DWORD count = 2;
        const DWORD read_at = errors.ours ? count++ : MAXDWORD;
        if (read_at != MAXDWORD) handles[read_at] = reading.event();
        const DWORD write_at = input.ours ? count++ : MAXDWORD;
        if (write_at != MAXDWORD) handles[write_at] = writing.event();
        const DWORD woke = ::WaitForMultipleObjects(count, handles.data(), FALSE,
                                                    static_cast<DWORD>(deadline - now));
        if (woke == WAIT_TIMEOUT) continue;
        if (woke == WAIT_FAILED || woke == WAIT_OBJECT_0 + 1) {
            end_all(ProcessEnd::abandoned);
            break;
        }
        if (woke == WAIT_OBJECT_0) {
            // What it wrote before it ended is in the pipe; a program it left running may hold
            // the pipe open, so this takes what is there and does not wait for the pipe's end.
            take_errors(0);
            DWORD code = 0;
            ::GetExitCodeProcess(process.get(), &code);
            outcome.end = ProcessEnd::exited;
            outcome.exit_status = static_cast<int>(code);
            break;
        }
        if (woke == WAIT_OBJECT_0 + read_at) take_errors(0);
        if (woke == WAIT_OBJECT_0 + write_at) {
            // All of it given, or the program closed its input: either way ours closes, and
            // the program sees the end of its input.
            (void)writing.finish();
            input.ours.reset();
        }
    }
    reading.cancel();
    writing.cancel();
    outcome.error_line = error_line.line();
    return outcome;
}

}  // namespace

std::unique_ptr<ProcessRunner> make_process_runner() {
    return std::make_unique<Win32ProcessRunner>();
}

}  // namespace vrk::platform
