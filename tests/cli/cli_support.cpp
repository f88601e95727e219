#include "cli_support.hpp"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "test_os.hpp"

namespace chizuvec::test {

std::string default_ini() { return read_file(std::string(CHIZUVEC_SOURCE_DIR) + "/Chizuvec.ini"); }

std::string sample_map_path() { return std::string(CHIZUVEC_SOURCE_DIR) + "/samples/sample.xml"; }

bool xml_well_formed(const std::string& path) {
    return std::system(("xmllint --noout '" + path + "' 2>/dev/null").c_str()) == 0;
}

ProgramDir::ProgramDir(const char* ini) {
    exe = dir.file(executable_name("Chizuvec"));
    std::filesystem::copy_file(CHIZUVEC_BINARY, exe);
    std::filesystem::permissions(exe, std::filesystem::perms::owner_all);
    if (ini != nullptr) dir.write("Chizuvec.ini", ini);
}

RunResult ProgramDir::run(const std::vector<std::string>& args, const std::string& cwd,
                          const std::vector<std::string>& env) const {
    // Output goes to files, so a large listing cannot fill a pipe while we wait.
    // Names of their own for each run: under Wine a file just removed can stay pending deletion
    // while the ended child's handle closes, and a new file of that name cannot be made.
    static std::atomic<unsigned> runs{0};
    const std::string n = std::to_string(runs++);
    const std::string out_path = dir.file(".stdout" + n), err_path = dir.file(".stderr" + n);
    RunResult r;
    r.exit_code = run_process(exe, args, cwd.empty() ? dir.path.string() : cwd, env, out_path, err_path);
    r.out = console_text(read_file(out_path));
    r.err = console_text(read_file(err_path));
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return r;
}

bool wait_for_entry(const std::string& folder, const std::function<bool(const std::filesystem::path&)>& seen,
                    std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            if (seen(entry.path())) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

}  // namespace chizuvec::test
