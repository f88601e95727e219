#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "test_os.hpp"
#include "test_support.hpp"

namespace chizuvec::test {
namespace {

// In a forked child: standard input from /dev/null, output and error into the files, `cwd` as the
// working directory (exit code 126 when it cannot be entered).
void enter_child(const std::string& cwd, const std::string& out_path, const std::string& err_path) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
}

// In a forked child: becomes `exe` with `args` (exit code 127 when it cannot).
[[noreturn]] void exec_program(const std::string& exe, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
}

}  // namespace

std::string executable_name(const std::string& target) { return target; }

void set_environment(const std::string& name, const std::string& value) { ::setenv(name.c_str(), value.c_str(), 1); }
void unset_environment(const std::string& name) { ::unsetenv(name.c_str()); }
bool code_page_follows_environment() { return true; }

bool make_pipe(int ends[2]) { return ::pipe(ends) == 0; }
bool make_fifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

std::string missing(Need) { return {}; }
bool file_names_ignore_case() { return false; }
std::string a_system_library() { return "libc.so.6"; }

int run_with_file_size_limit(std::uint64_t bytes, const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int run_with_address_space_headroom(std::uint64_t bytes, const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        long pages = 0;
        if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        const auto limit = static_cast<rlim_t>(pages * ::sysconf(_SC_PAGESIZE)) + static_cast<rlim_t>(bytes);
        const rlimit as_limit{limit, limit};
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &as_limit) != 0) ::_exit(2);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) {
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    // Writes beyond the limit fail with EFBIG; the signal that would otherwise end the process is
    // ignored, in the programs it starts too.
    void (*saved_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(bytes), saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    restore_ = [saved, saved_handler] {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, saved_handler);
    };
}
FileSizeLimit::~FileSizeLimit() { restore_(); }

FolderWatch::FolderWatch(const std::string& dir) {
    fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd_ >= 0) ::inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_OPEN | IN_MODIFY | IN_MOVED_TO);
}
FolderWatch::~FolderWatch() {
    if (fd_ >= 0) ::close(fd_);
}

bool FolderWatch::wait(int ms) const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

bool FolderWatch::wait_for_creation(int ms) const {
    pollfd p{fd_, POLLIN, 0};
    char events[4096];
    for (int waited = 0; waited < ms; waited += 5) {
        if (::poll(&p, 1, 5) <= 0) continue;
        const ssize_t n = ::read(fd_, events, sizeof events);
        for (char* at = events; n > 0 && at < events + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(at);
            if ((e->mask & IN_CREATE) != 0) return true;
            at += sizeof(inotify_event) + e->len;
        }
    }
    return false;
}

std::vector<std::string> FolderWatch::changes() const {
    std::vector<std::string> names;
    char events[4096];
    for (ssize_t n; (n = ::read(fd_, events, sizeof events)) > 0;) {
        for (char* p = events; p < events + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            if ((e->mask & (IN_CREATE | IN_MODIFY | IN_MOVED_TO)) != 0) names.push_back(e->len > 0 ? e->name : "");
            p += sizeof(inotify_event) + e->len;
        }
    }
    return names;
}

LocalSocket::LocalSocket(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd_ < 0 || path.size() >= sizeof address.sun_path) return;
    std::copy(path.begin(), path.end(), address.sun_path);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}
LocalSocket::~LocalSocket() {
    if (fd_ >= 0) ::close(fd_);
}

std::string full_device() { return "/dev/full"; }

long start_process(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& out_path, const std::string& err_path, const ChildSettings& settings) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        enter_child(cwd, out_path, err_path);
        if (settings.low_priority) (void)::nice(19);
        if (settings.file_size_limit != 0) {
            const auto bytes = static_cast<rlim_t>(settings.file_size_limit);
            const rlimit limit{bytes, bytes};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        constexpr uid_t kNobody = 65534;
        if (settings.unprivileged && ::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(125);
        }
        exec_program(exe, args);
    }
    return pid;
}

int wait_process(long pid) {
    int status = 0;
    ::waitpid(static_cast<pid_t>(pid), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void send_signal(long pid, int signal_number) { ::kill(static_cast<pid_t>(pid), signal_number); }

// Does any thread of the stopped process `pid` hold `signal_number` back (as the program does while
// it creates a temporary output or puts it in place)?
bool holds_back(pid_t pid, int signal_number) {
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
        const std::string status = read_file((task.path() / "status").string());
        const std::size_t at = status.find("SigBlk:");
        if (at == std::string::npos) return true;
        const unsigned long long blocked = std::stoull(status.substr(at + 7), nullptr, 16);
        if ((blocked >> (signal_number - 1)) & 1u) return true;
    }
    return false;
}

bool send_signal_when(long pid, int signal_number, const std::function<bool()>& now) {
    const auto p = static_cast<pid_t>(pid);
    for (;;) {
        ::kill(p, SIGSTOP);
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(p), &info, WSTOPPED | WEXITED | WNOWAIT) != 0) return false;
        if (info.si_code != CLD_STOPPED) return false;  // the run ended
        const bool caught = now() && !holds_back(p, signal_number);
        if (caught) ::kill(p, signal_number);
        ::kill(p, SIGCONT);
        if (caught) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

std::vector<int> termination_signals() { return {SIGINT, SIGTERM, SIGHUP}; }

std::uint64_t peak_memory_of_children() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

int command_output(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int run_process(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                const std::vector<std::string>& env, const std::string& out_path, const std::string& err_path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        enter_child(cwd, out_path, err_path);
        for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

long start_in_background(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                         const std::string& err_path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        if (std::freopen(err_path.c_str(), "w", stderr) == nullptr) ::_exit(126);
        exec_program(exe, args);
    }
    return pid;
}

bool signal_and_wait(long pid, int signal_number) {
    if (pid <= 0) return false;
    ::kill(static_cast<pid_t>(pid), signal_number);
    int status = 0;
    ::waitpid(static_cast<pid_t>(pid), &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == signal_number;
}

int exit_code_of_system(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128; }

std::string console_text(std::string text) { return text; }

}  // namespace chizuvec::test
