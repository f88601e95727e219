// The files a run touches, end to end: a drawing replaces its output only when it is complete (a
// failed or interrupted write keeps the previous file byte for byte and leaves nothing behind),
// links are honoured, the input is never drawn over, and an archive is read without writing a file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli_support.hpp"
#include "gen_map_core.hpp"

namespace chizuvec::test {
namespace {

namespace fs = std::filesystem;

// A run started in the background, so a test can act on it while it works.
struct Started {
    pid_t pid = -1;
    std::string out_path, err_path;
};

Started start(const ProgramDir& program, const std::vector<std::string>& args,
              const std::function<void()>& in_child = {}) {
    Started s{-1, program.file(".out"), program.file(".err")};
    s.pid = ::fork();
    if (s.pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(s.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int err = ::open(s.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (::chdir(program.dir.path.c_str()) != 0) ::_exit(126);
        if (in_child) in_child();
        std::vector<char*> argv{const_cast<char*>(program.exe.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.exe.c_str(), argv.data());
        ::_exit(127);
    }
    return s;
}

RunResult finish(const Started& s) {
    RunResult r;
    int status = 0;
    ::waitpid(s.pid, &status, 0);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = read_file(s.out_path);
    r.err = read_file(s.err_path);
    fs::remove(s.out_path);
    fs::remove(s.err_path);
    return r;
}

RunResult run_with(const ProgramDir& program, const std::vector<std::string>& args,
                   const std::function<void()>& in_child) {
    return finish(start(program, args, in_child));
}

// A generated map large enough that reading and drawing it take a while, made once.
const std::string& big_map(bool zip) {
    static TempDir dir;
    static std::string paths[2];
    std::string& path = paths[zip ? 1 : 0];
    if (path.empty()) {
        genmap::GenMapOptions options;
        options.parcels = 20000;
        options.seed = 7;
        genmap::GenMapSummary summary;
        const std::string file = dir.file(zip ? "big.zip" : "big.xml");
        const int result =
            zip ? genmap::generate_map_zip(file, options, summary) : genmap::generate_map_file(file, options, summary);
        if (result == genmap::kGenOk) path = file;
    }
    return path;
}

// Watches a folder for the first file created, opened or changed in it.
struct FolderWatch {
    int fd = -1;
    explicit FolderWatch(const fs::path& dir) {
        fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd >= 0) ::inotify_add_watch(fd, dir.c_str(), IN_CREATE | IN_OPEN | IN_MODIFY | IN_MOVED_TO);
    }
    ~FolderWatch() {
        if (fd >= 0) ::close(fd);
    }
    // True once something happened in the folder, false when `ms` passed without anything.
    bool wait(int ms) const {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }
};

constexpr const char* kPrevious = "<svg>the previous drawing</svg>\n";

// The drawing of the sample map as this program writes it, for comparison.
std::string fresh_drawing(const ProgramDir& program) {
    const RunResult r = program.run({sample_map_path(), "fresh.svg"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::string bytes = read_file(program.file("fresh.svg"));
    fs::remove(program.file("fresh.svg"));
    return bytes;
}

TEST(CliFiles, OutputIsReplacedOnlyWhenComplete) {
    enum class Name { plain, symlink, hard_link };
    struct Case {
        const char* what;
        Name name;
        bool size_limited;  // a file-size limit makes the write fail part way, as a full disk does
    };
    const Case cases[] = {
        {"plain file written", Name::plain, false},
        {"plain file, write fails", Name::plain, true},
        {"symbolic link written through", Name::symlink, false},
        {"symbolic link, write fails", Name::symlink, true},
        {"hard link written", Name::hard_link, false},
        {"hard link, write fails", Name::hard_link, true},
    };
    ProgramDir program;
    const std::string drawing = fresh_drawing(program);
    ASSERT_GT(drawing.size(), 2000u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path out = program.dir.path / "out";
        fs::remove_all(out);
        fs::create_directories(out / "real");
        const std::string target = (out / "real" / "target.svg").string();
        const std::string name = (out / "map.svg").string();
        const std::string other = (out / "other.svg").string();
        if (c.name == Name::plain) {
            program.write("out/map.svg", kPrevious);
        } else if (c.name == Name::symlink) {
            program.write("out/real/target.svg", kPrevious);
            fs::create_symlink("real/target.svg", name);
        } else {
            program.write("out/other.svg", kPrevious);
            fs::create_hard_link(other, name);
        }
        const std::set<std::string> before = files_in(out);
        const RunResult r = run_with(program, {sample_map_path(), name}, [&] {
            if (!c.size_limited) return;
            const rlimit limit{1000, 1000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        EXPECT_EQ(files_in(out), before) << "no temporary file stays";
        EXPECT_EQ(files_in(out / "real"),
                  c.name == Name::symlink ? std::set<std::string>{"target.svg"} : std::set<std::string>{});
        if (c.name == Name::symlink) {
            EXPECT_TRUE(fs::is_symlink(name));
            EXPECT_EQ(fs::read_symlink(name), "real/target.svg");
        }
        const std::string written = read_file(c.name == Name::symlink ? target : name);
        if (c.size_limited) {
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find("** Error: Cannot write output file \"" + name + "\"\n"), std::string::npos) << r.err;
            EXPECT_TRUE(written == kPrevious);
        } else {
            EXPECT_EQ(r.exit_code, 0) << r.err;
            EXPECT_TRUE(written == drawing);
            EXPECT_NE(r.out.find("(" + std::to_string(drawing.size()) + " bytes)"), std::string::npos) << r.out;
        }
        // Another name of the same file is a file of its own afterwards and keeps the old bytes.
        if (c.name == Name::hard_link) {
            EXPECT_EQ(read_file(other), kPrevious);
        }
    }
}

// Is a temporary output in `dir` (its name begins with "."), which only a write in progress has?
bool temporary_file_in(const fs::path& dir) {
    for (const std::string& name : files_in(dir)) {
        if (name[0] == '.') return true;
    }
    return false;
}

// Does any thread of the stopped process `pid` hold `signal_number` back?
bool holds_back(pid_t pid, int signal_number) {
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : fs::directory_iterator(tasks)) {
        const std::string status = read_file((task.path() / "status").string());
        const std::size_t at = status.find("SigBlk:");
        if (at == std::string::npos) return true;
        const unsigned long long blocked = std::stoull(status.substr(at + 7), nullptr, 16);
        if ((blocked >> (signal_number - 1)) & 1u) return true;
    }
    return false;
}

TEST(CliFiles, SignalDuringTheWriteKeepsThePreviousDrawing) {
    const std::string& map = big_map(false);
    ASSERT_FALSE(map.empty());
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        ProgramDir program;
        const fs::path out = program.dir.path / "out";
        fs::create_directory(out);
        const std::string name = (out / "map.svg").string();
        // From the first touch of the output folder on, the run is stopped again and again until it
        // is caught with its temporary file in the folder and the signal not held back (as it is
        // while the file is created or put in place): the signal then lands during the write
        // whatever the machine's load. A run that still completed first is tried again.
        RunResult r;
        bool caught = false;
        for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
            program.write("out/map.svg", kPrevious);
            const FolderWatch watch(out);
            const Started s = start(program, {map, name});
            ASSERT_TRUE(watch.wait(60000));
            for (;;) {
                ::kill(s.pid, SIGSTOP);
                siginfo_t info{};
                ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(s.pid), &info, WSTOPPED | WEXITED | WNOWAIT), 0);
                if (info.si_code != CLD_STOPPED) break;  // the run ended
                caught = temporary_file_in(out) && !holds_back(s.pid, signal_number);
                if (caught) ::kill(s.pid, signal_number);
                ::kill(s.pid, SIGCONT);
                if (caught) break;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            r = finish(s);
        }
        ASSERT_TRUE(caught);
        EXPECT_EQ(r.exit_code, 128 + signal_number) << r.err;
        EXPECT_EQ(files_in(out), std::set<std::string>{"map.svg"});
        EXPECT_TRUE(read_file(name) == kPrevious);
    }
}

TEST(CliFiles, OutputThatIsTheInputIsRefused) {
    enum class Name { same, symlink, hard_link };
    const Name names[] = {Name::same, Name::symlink, Name::hard_link};
    const std::string map = read_file(sample_map_path());
    for (const Name n : names) {
        SCOPED_TRACE(static_cast<int>(n));
        ProgramDir program;
        // A map file renamed with the drawing's extension, drawn to that name or another name of it.
        const std::string input = program.write("m.svg", map);
        std::string output = "m.svg";
        if (n == Name::symlink) {
            fs::create_symlink("m.svg", program.file("link.svg"));
            output = "link.svg";
        } else if (n == Name::hard_link) {
            fs::create_hard_link(input, program.file("other.svg"));
            output = "other.svg";
        }
        const std::set<std::string> before = files_in(program.dir.path);
        const RunResult r = program.run({"m.svg", output});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "");
        const std::string message = "** Error: Output file \"" + output + "\" is the input file\n";
        ASSERT_GE(r.err.size(), message.size()) << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - message.size()), message);
        EXPECT_EQ(r.err.find("** Error"), r.err.size() - message.size()) << r.err;
        EXPECT_TRUE(read_file(input) == map);
        EXPECT_EQ(files_in(program.dir.path), before);
    }
}

// Two maps that the statistics line tells apart.
std::string map_with_points(int points) {
    std::string text = "<地図>\n<地図名>m</地図名>\n<座標系>公共座標9系</座標系>\n<空間属性>\n";
    for (int i = 1; i <= points; ++i) {
        text += "<zmn:GM_Point id=\"P" + std::to_string(i) +
                "\">\n<zmn:X>1.5</zmn:X>\n<zmn:Y>2.5</zmn:Y>\n</zmn:GM_Point>\n";
    }
    return text + "</空間属性>\n</地図>\n";
}

TEST(CliFiles, ArchiveEntryOfTheExactNameIsPreferred) {
    ProgramDir program;
    fs::create_directory(program.dir.path / "maps");
    const std::string archive = program.file("maps/t.zip");
    const std::string first = map_with_points(1), second = map_with_points(2);
    int error = 0;
    zip_t* z = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(z, nullptr);
    ASSERT_GE(zip_file_add(z, "T.XML", zip_source_buffer(z, first.data(), first.size(), 0), 0), 0);
    ASSERT_GE(zip_file_add(z, "t.xml", zip_source_buffer(z, second.data(), second.size(), 0), 0), 0);
    ASSERT_EQ(zip_close(z), 0);
    const RunResult r = program.run({"maps/t.zip"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "maps/t.zip: P=2(max=2) C=0(0) C-F=0 F=0(0) H=0(0)\n");
    EXPECT_EQ(files_in(program.dir.path / "maps"), std::set<std::string>{"t.zip"});
}

// Reading an archive writes nothing: in a folder the run may not write to it reads as a plain map
// file does. A root run ignores permission bits, so it drops to an unprivileged user first.
TEST(CliFiles, ArchiveInAFolderWithoutWriteAccessIsRead) {
    const std::string& archive = big_map(true);
    ASSERT_FALSE(archive.empty());
    ProgramDir program;
    const fs::path maps = program.dir.path / "maps";
    fs::create_directory(maps);
    fs::copy_file(archive, maps / "big.zip");
    const bool root = ::geteuid() == 0;
    constexpr uid_t kNobody = 65534;
    // Everyone may read and run; nobody may write in the archive's folder.
    fs::permissions(program.dir.path, fs::perms(0755));
    fs::permissions(program.exe, fs::perms(0755));
    fs::permissions(program.file("Chizuvec.ini"), fs::perms(0644));
    fs::permissions(maps / "big.zip", fs::perms(0644));
    fs::permissions(maps, fs::perms(0555));
    const FolderWatch watch(maps);
    const Started s = start(program, {"maps/big.zip"}, [&] {
        if (root && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(125);
    });
    const RunResult r = finish(s);
    fs::permissions(maps, fs::perms(0755));
    if (r.exit_code == 125) GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("maps/big.zip: P=", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
    // Nothing was created in the folder at any moment (an open of the archive itself is fine).
    char events[4096];
    for (ssize_t n; (n = ::read(watch.fd, events, sizeof events)) > 0;) {
        for (char* p = events; p < events + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            EXPECT_EQ(e->mask & (IN_CREATE | IN_MODIFY | IN_MOVED_TO), 0u) << (e->len > 0 ? e->name : "");
            p += sizeof(inotify_event) + e->len;
        }
    }
    EXPECT_EQ(files_in(maps), std::set<std::string>{"big.zip"});
}

TEST(CliFiles, InterruptedArchiveReadLeavesNothing) {
    const std::string& archive = big_map(true);
    ASSERT_FALSE(archive.empty());
    ProgramDir program;
    const fs::path maps = program.dir.path / "maps";
    fs::create_directory(maps);
    fs::copy_file(archive, maps / "big.zip");
    const FolderWatch watch(maps);
    const Started s = start(program, {"maps/big.zip"});
    // Interrupted as soon as a file appears beside the archive, or well into the read when none does.
    pollfd p{watch.fd, POLLIN, 0};
    char events[4096];
    for (int waited = 0; waited < 300; waited += 5) {
        if (::poll(&p, 1, 5) <= 0) continue;
        const ssize_t n = ::read(watch.fd, events, sizeof events);
        bool created = false;
        for (char* at = events; n > 0 && at < events + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(at);
            created = created || (e->mask & IN_CREATE) != 0;
            at += sizeof(inotify_event) + e->len;
        }
        if (created) break;
    }
    ::kill(s.pid, SIGINT);
    finish(s);
    EXPECT_EQ(files_in(maps), std::set<std::string>{"big.zip"});
}

}  // namespace
}  // namespace chizuvec::test
