#include "cli_support.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace chizuvec::test {

std::string default_ini() { return read_file(std::string(CHIZUVEC_SOURCE_DIR) + "/Chizuvec.ini"); }

std::string sample_map_path() { return std::string(CHIZUVEC_SOURCE_DIR) + "/samples/sample.xml"; }

bool xml_well_formed(const std::string& path) {
    return std::system(("xmllint --noout '" + path + "' 2>/dev/null").c_str()) == 0;
}

ProgramDir::ProgramDir(const char* ini) {
    exe = dir.file("Chizuvec");
    std::filesystem::copy_file(CHIZUVEC_BINARY, exe);
    std::filesystem::permissions(exe, std::filesystem::perms::owner_all);
    if (ini != nullptr) dir.write("Chizuvec.ini", ini);
}

RunResult ProgramDir::run(const std::vector<std::string>& args, const std::string& cwd,
                          const std::vector<std::string>& env) const {
    // Output goes to files, so a large listing cannot fill a pipe while we wait.
    const std::string out_path = dir.file(".stdout"), err_path = dir.file(".stderr");
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (::chdir(cwd.empty() ? dir.path.c_str() : cwd.c_str()) != 0) ::_exit(126);
        for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    RunResult r;
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return r;
}

}  // namespace chizuvec::test
