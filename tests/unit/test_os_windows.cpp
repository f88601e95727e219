#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

#include "test_os.hpp"

namespace chizuvec::test {
namespace {

// One argument quoted for the C run-time's command-line parser: backslashes are literal except
// before a quote, where they and the quote are escaped.
void append_quoted(std::string& line, const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        line += arg;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') backslashes = backslashes * 2 + 1;
        line.append(backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

std::wstring widen(const std::string& utf8) {
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string_view variable_name(std::string_view entry) {
    // Entries such as "=C:=C:\dir" start with "=": the name runs to the second "=".
    const auto equals = entry.find('=', 1);
    return entry.substr(0, equals == std::string_view::npos ? entry.size() : equals);
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// This process's environment with `overrides` put in place of the variables they name.
std::string environment_block(const std::vector<std::string>& overrides) {
    std::string block;
    char* current = GetEnvironmentStringsA();
    for (const char* p = current; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) {
        const std::string_view entry(p);
        bool replaced = false;
        for (const auto& o : overrides) replaced = replaced || same_name(variable_name(entry), variable_name(o));
        if (!replaced) block.append(entry).push_back('\0');
    }
    if (current != nullptr) FreeEnvironmentStringsA(current);
    for (const auto& o : overrides) block.append(o).push_back('\0');
    block.push_back('\0');
    return block;
}

HANDLE open_inheritable(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &security, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string executable_name(const std::string& target) { return target + ".exe"; }

void set_environment(const std::string& name, const std::string& value) { _putenv_s(name.c_str(), value.c_str()); }
void unset_environment(const std::string& name) { _putenv_s(name.c_str(), ""); }
bool code_page_follows_environment() { return false; }

bool make_pipe(int ends[2]) { return _pipe(ends, 4096, _O_BINARY) == 0; }
bool make_fifo(const std::string&) { return false; }

std::string missing(Need need) {
    switch (need) {
        case Need::kFileSizeLimit:
            return "Windows has no per-process limit on file size";
        case Need::kAddressSpaceLimit:
            return "Windows has no per-process limit on address space";
        case Need::kHostTools:
            return "host tools cannot run here; the Linux suite checks the same drawings";
        case Need::kStandInViewer:
            return "the shell picks the viewer from the registry's file associations";
        case Need::kSignals:
            return "a console's Ctrl+C reaches only the processes attached to that console";
        case Need::kFolderWatch:
            return "the folder watch is written for inotify";
        case Need::kReadOnlyFolder:
            return "a folder's read-only attribute does not stop files being made in it";
        case Need::kFullDevice:
            return "Windows has no device that is always full";
        case Need::kLocalSockets:
            return "Windows makes no socket file in a folder";
        case Need::kSymbolicLinks:
            return "a symbolic link needs a privilege or developer mode on Windows, and this C++ library "
                   "neither makes nor reads one there";
        case Need::kEndlessInputs:
            return "Windows makes no named pipe in a folder and has no endless device file";
    }
    return "unknown need";
}
bool file_names_ignore_case() { return true; }
std::string a_system_library() { return "kernel32.dll"; }

FileSizeLimit::FileSizeLimit(std::uint64_t) {}
FileSizeLimit::~FileSizeLimit() = default;

FolderWatch::FolderWatch(const std::string&) {}
FolderWatch::~FolderWatch() = default;
bool FolderWatch::wait(int) const { return false; }
bool FolderWatch::wait_for_creation(int) const { return false; }
std::vector<std::string> FolderWatch::changes() const { return {}; }

LocalSocket::LocalSocket(const std::string&) {}
LocalSocket::~LocalSocket() = default;

std::string full_device() { return {}; }

std::vector<int> termination_signals() { return {}; }
void send_signal(long, int) {}

bool send_signal_when(long, int, const std::function<bool()>&) { return false; }

int command_output(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = _popen(command.c_str(), "rb");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    return _pclose(pipe);
}

int run_with_file_size_limit(std::uint64_t, const std::function<int()>&) { return -1; }
int run_with_address_space_headroom(std::uint64_t, const std::function<int()>&) { return -1; }

namespace {

// The processes started and not yet waited for, by id: the handle keeps the id from being reused.
struct Child {
    HANDLE process;
    std::string out_path, err_path;
};
std::mutex children_mutex;
std::map<long, Child> children;
std::atomic<std::uint64_t> children_peak{0};

long start(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
           const std::vector<std::string>& env, const std::string& out_path, const std::string& err_path, DWORD flags) {
    std::string line;
    append_quoted(line, exe);
    for (const auto& a : args) {
        line += ' ';
        append_quoted(line, a);
    }
    std::string environment = environment_block(env);
    HANDLE in = open_inheritable("NUL", false);
    HANDLE out = open_inheritable(out_path, true);
    HANDLE err = open_inheritable(err_path, true);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    // No console, as when a script runs it with its output redirected; a console would be hosted
    // by a process of its own that inherits the output files and may outlive the program.
    // The tests' texts are UTF-8; through UTF-16 the program receives them in its ANSI code page, as
    // from a user typing them.
    std::wstring wide_line = widen(line);
    // Under Wine on a loaded machine a start now and then fails for a moment; a test should see
    // the program's result, not that.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 20 && !started; ++attempt) {
        if (attempt > 0) Sleep(100);
        started = CreateProcessW(widen(exe).c_str(), wide_line.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS | flags,
                                 environment.data(), widen(cwd).c_str(), &startup, &process);
        if (!started) error = GetLastError();
    }
    for (HANDLE h : {in, out, err}) {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    if (!started) {
        // The reason where the test looks for the program's messages.
        HANDLE h =
            CreateFileA(err_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            const std::string reason = "could not start " + exe + ": Windows error " + std::to_string(error) + "\n";
            DWORD written = 0;
            WriteFile(h, reason.data(), static_cast<DWORD>(reason.size()), &written, nullptr);
            CloseHandle(h);
        }
        return -1;
    }
    CloseHandle(process.hThread);
    const std::lock_guard<std::mutex> lock(children_mutex);
    children[static_cast<long>(process.dwProcessId)] = {process.hProcess, out_path, err_path};
    return static_cast<long>(process.dwProcessId);
}

}  // namespace

long start_process(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& out_path, const std::string& err_path, const ChildSettings& settings) {
    // No user to drop to: permission bits do not give way to an administrator as to root.
    return start(exe, args, cwd, {}, out_path, err_path, settings.low_priority ? IDLE_PRIORITY_CLASS : 0);
}

int wait_process(long pid) {
    Child child{};
    {
        const std::lock_guard<std::mutex> lock(children_mutex);
        const auto found = children.find(pid);
        if (found == children.end()) return 127;
        child = found->second;
        children.erase(found);
    }
    WaitForSingleObject(child.process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.process, &code);
    PROCESS_MEMORY_COUNTERS memory{};
    if (K32GetProcessMemoryInfo(child.process, &memory, sizeof memory)) {
        const std::uint64_t peak = memory.PeakWorkingSetSize;
        for (std::uint64_t seen = children_peak.load();
             peak > seen && !children_peak.compare_exchange_weak(seen, peak);) {
        }
    }
    CloseHandle(child.process);
    // Under Wine the child's handles may close a moment after it is reported ended; the output
    // files are read and removed only once nobody holds them.
    for (const std::string* path : {&child.out_path, &child.err_path}) {
        for (int attempt = 0; attempt < 200; ++attempt) {
            HANDLE h =
                CreateFileA(path->c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                CloseHandle(h);
                break;
            }
            if (GetLastError() != ERROR_SHARING_VIOLATION) break;
            Sleep(25);
        }
    }
    return static_cast<int>(code);
}

std::uint64_t peak_memory_of_children() { return children_peak.load(); }

int run_process(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                const std::vector<std::string>& env, const std::string& out_path, const std::string& err_path) {
    const long pid = start(exe, args, cwd, env, out_path, err_path, 0);
    return pid < 0 ? 127 : wait_process(pid);
}

long start_in_background(const std::string&, const std::vector<std::string>&, const std::string&, const std::string&) {
    return -1;
}
bool signal_and_wait(long, int) { return false; }

int exit_code_of_system(int status) { return status; }

std::string console_text(std::string text) {
    // A CSV (its header first) is written byte for byte, with its own CR LF and in UTF-8.
    if (text.rfind("map_file,", 0) == 0) return text;
    std::string lf;
    lf.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        lf += text[i];
    }
    if (lf.empty() || lf.size() > 0x7FFFFFFF) return lf;
    const int size = static_cast<int>(lf.size());
    const int wide_length = MultiByteToWideChar(CP_ACP, 0, lf.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, lf.data(), size, wide.data(), wide_length);
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

}  // namespace chizuvec::test
