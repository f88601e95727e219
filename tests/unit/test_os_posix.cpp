#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "test_os.hpp"

namespace chizuvec::test {

std::string executable_name(const std::string& target) { return target; }

void set_environment(const std::string& name, const std::string& value) { ::setenv(name.c_str(), value.c_str(), 1); }
void unset_environment(const std::string& name) { ::unsetenv(name.c_str()); }
bool code_page_follows_environment() { return true; }

bool make_pipe(int ends[2]) { return ::pipe(ends) == 0; }

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

int run_process(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                const std::vector<std::string>& env, const std::string& out_path, const std::string& err_path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
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
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
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
