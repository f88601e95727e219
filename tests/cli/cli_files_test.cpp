// The files a run touches, end to end: a drawing replaces its output only when it is complete (a
// failed or interrupted write keeps the previous file byte for byte and leaves nothing behind),
// links are honoured, the input is never drawn over, and an archive is read without writing a file.
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cli_support.hpp"
#include "gen_map_core.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

namespace fs = std::filesystem;

// A run started in the background, so a test can act on it while it works.
struct Started {
    long pid = -1;
    std::string out_path, err_path;
};

Started start(const ProgramDir& program, const std::vector<std::string>& args, const ChildSettings& settings = {}) {
    Started s{-1, program.file(".out"), program.file(".err")};
    s.pid = start_process(program.exe, args, program.dir.path.string(), s.out_path, s.err_path, settings);
    return s;
}

RunResult finish(const Started& s) {
    RunResult r;
    r.exit_code = wait_process(s.pid);
    r.out = console_text(read_file(s.out_path));
    r.err = console_text(read_file(s.err_path));
    fs::remove(s.out_path);
    fs::remove(s.err_path);
    return r;
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

constexpr const char* kPrevious = "<svg>the previous drawing</svg>\n";

// The drawing of the sample map as this program writes it, for comparison.
std::string fresh_drawing(const ProgramDir& program) {
    const RunResult r = program.run({sample_map_path(), "fresh.svg"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::string bytes = read_file(program.file("fresh.svg"));
    fs::remove(program.file("fresh.svg"));
    return bytes;
}

enum class OutName { plain, symlink, hard_link };
struct ReplaceCase {
    const char* what;
    OutName name;
    bool size_limited;  // a file-size limit makes the write fail part way, as a full disk does
};

// Draws the sample map over each case's output name in a fresh "out" folder and checks what stays.
void expect_replaced_only_when_complete(const std::vector<ReplaceCase>& cases) {
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
        if (c.name == OutName::plain) {
            program.write("out/map.svg", kPrevious);
        } else if (c.name == OutName::symlink) {
            program.write("out/real/target.svg", kPrevious);
            fs::create_symlink("real/target.svg", name);
        } else {
            program.write("out/other.svg", kPrevious);
            fs::create_hard_link(other, name);
        }
        const std::set<std::string> before = files_in(out);
        ChildSettings settings;
        if (c.size_limited) settings.file_size_limit = 1000;
        const RunResult r = finish(start(program, {sample_map_path(), name}, settings));
        EXPECT_EQ(files_in(out), before) << "no temporary file stays";
        EXPECT_EQ(files_in(out / "real"),
                  c.name == OutName::symlink ? std::set<std::string>{"target.svg"} : std::set<std::string>{});
        if (c.name == OutName::symlink) {
            EXPECT_TRUE(fs::is_symlink(name));
            EXPECT_EQ(fs::read_symlink(name), "real/target.svg");
        }
        const std::string written = read_file(c.name == OutName::symlink ? target : name);
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
        if (c.name == OutName::hard_link) {
            EXPECT_EQ(read_file(other), kPrevious);
        }
    }
}

TEST(CliFiles, OutputIsReplacedOnlyWhenComplete) {
    expect_replaced_only_when_complete({
        {"plain file written", OutName::plain, false},
        {"hard link written", OutName::hard_link, false},
    });
}

TEST(CliFiles, OutputIsKeptWhenTheWriteFails) {
    if (const std::string why = missing(Need::kFileSizeLimit); !why.empty()) GTEST_SKIP() << why;
    expect_replaced_only_when_complete({
        {"plain file, write fails", OutName::plain, true},
        {"hard link, write fails", OutName::hard_link, true},
    });
}

TEST(CliFiles, OutputThroughASymbolicLinkIsReplacedOnlyWhenComplete) {
    for (const Need need : {Need::kSymbolicLinks, Need::kFileSizeLimit}) {
        if (const std::string why = missing(need); !why.empty()) GTEST_SKIP() << why;
    }
    expect_replaced_only_when_complete({
        {"symbolic link written through", OutName::symlink, false},
        {"symbolic link, write fails", OutName::symlink, true},
    });
}

TEST(CliFiles, SignalDuringTheWriteKeepsThePreviousDrawing) {
    for (const Need need : {Need::kSignals, Need::kFolderWatch}) {
        if (const std::string why = missing(need); !why.empty()) GTEST_SKIP() << why;
    }
    const std::string& map = big_map(false);
    ASSERT_FALSE(map.empty());
    for (const int signal_number : termination_signals()) {
        SCOPED_TRACE(signal_number);
        ProgramDir program;
        const fs::path out = program.dir.path / "out";
        fs::create_directory(out);
        const std::string name = (out / "map.svg").string();
        // From the first touch of the output folder on, the run is stopped again and again until it
        // is caught with its temporary file (a name beginning with ".") in the folder and the signal
        // not held back: the signal then lands during the write whatever the machine's load. A run
        // that still completed first is tried again.
        const auto writing = [&] {
            for (const std::string& file : files_in(out)) {
                if (file[0] == '.') return true;
            }
            return false;
        };
        RunResult r;
        bool caught = false;
        for (int attempt = 0; attempt < 50 && !caught; ++attempt) {
            program.write("out/map.svg", kPrevious);
            const FolderWatch watch(out.string());
            const Started s = start(program, {map, name});
            const bool touched = watch.wait(60000);
            caught = touched && send_signal_when(s.pid, signal_number, writing);
            r = finish(s);
            ASSERT_TRUE(touched);
        }
        ASSERT_TRUE(caught);
        EXPECT_EQ(r.exit_code, 128 + signal_number) << r.err;
        EXPECT_EQ(files_in(out), std::set<std::string>{"map.svg"});
        EXPECT_TRUE(read_file(name) == kPrevious);
    }
}

enum class InputName { same, symlink, hard_link };

void expect_output_refused(const std::vector<InputName>& names) {
    const std::string map = read_file(sample_map_path());
    for (const InputName n : names) {
        SCOPED_TRACE(static_cast<int>(n));
        ProgramDir program;
        // A map file renamed with the drawing's extension, drawn to that name or another name of it.
        const std::string input = program.write("m.svg", map);
        std::string output = "m.svg";
        if (n == InputName::symlink) {
            fs::create_symlink("m.svg", program.file("link.svg"));
            output = "link.svg";
        } else if (n == InputName::hard_link) {
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

TEST(CliFiles, OutputThatIsTheInputIsRefused) { expect_output_refused({InputName::same, InputName::hard_link}); }

TEST(CliFiles, OutputThatIsTheInputThroughASymbolicLinkIsRefused) {
    if (const std::string why = missing(Need::kSymbolicLinks); !why.empty()) GTEST_SKIP() << why;
    expect_output_refused({InputName::symlink});
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

// A folder `maps` holding the large generated archive as big.zip; false when it cannot be made.
bool copy_big_archive_into(const fs::path& maps) {
    const std::string& archive = big_map(true);
    if (archive.empty()) return false;
    fs::create_directory(maps);
    fs::copy_file(archive, maps / "big.zip");
    return true;
}

// Reading an archive writes nothing: in a folder the run may not write to it reads as a plain map
// file does. A root run ignores permission bits, so it drops to an unprivileged user first.
TEST(CliFiles, ArchiveInAFolderWithoutWriteAccessIsRead) {
    for (const Need need : {Need::kReadOnlyFolder, Need::kFolderWatch}) {
        if (const std::string why = missing(need); !why.empty()) GTEST_SKIP() << why;
    }
    ProgramDir program;
    const fs::path maps = program.dir.path / "maps";
    ASSERT_TRUE(copy_big_archive_into(maps));
    // Everyone may read and run; nobody may write in the archive's folder.
    fs::permissions(program.dir.path, fs::perms(0755));
    fs::permissions(program.exe, fs::perms(0755));
    fs::permissions(program.file("Chizuvec.ini"), fs::perms(0644));
    fs::permissions(maps / "big.zip", fs::perms(0644));
    fs::permissions(maps, fs::perms(0555));
    const FolderWatch watch(maps.string());
    ChildSettings settings;
    settings.unprivileged = true;
    const Started s = start(program, {"maps/big.zip"}, settings);
    const RunResult r = finish(s);
    fs::permissions(maps, fs::perms(0755));
    if (r.exit_code == 125) GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("maps/big.zip: P=", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
    // Nothing was created in the folder at any moment (an open of the archive itself is fine).
    for (const std::string& name : watch.changes()) ADD_FAILURE() << "changed: " << name;
    EXPECT_EQ(files_in(maps), std::set<std::string>{"big.zip"});
}

// A drawing into a folder the run may not write to fails with the reason below the error.
TEST(CliFiles, OutputInAFolderWithoutWriteAccessSaysWhy) {
    if (const std::string why = missing(Need::kReadOnlyFolder); !why.empty()) GTEST_SKIP() << why;
    ProgramDir program;
    program.write("map.xml", read_file(sample_map_path()));
    fs::create_directory(program.file("ro"));
    fs::permissions(program.dir.path, fs::perms(0755));
    fs::permissions(program.exe, fs::perms(0755));
    fs::permissions(program.file("Chizuvec.ini"), fs::perms(0644));
    fs::permissions(program.file("map.xml"), fs::perms(0644));
    fs::permissions(program.file("ro"), fs::perms(0555));
    ChildSettings settings;
    settings.unprivileged = true;
    const RunResult r = finish(start(program, {"map.xml", "ro/out.svg"}, settings));
    fs::permissions(program.file("ro"), fs::perms(0755));
    if (r.exit_code == 125) GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(
        r.err.ends_with("** Error: Cannot write output file \"ro/out.svg\"\n"
                        "no permission to write in the folder \"ro\"\n"))
        << r.err;
    EXPECT_EQ(files_in(program.dir.path / "ro"), std::set<std::string>{});
}

// A read-only drawing the user keeps is not replaced, even by a run that could rename over it.
TEST(CliFiles, ReadOnlyOutputIsKept) {
    ProgramDir program;
    program.write("map.xml", read_file(sample_map_path()));
    program.write("keep.svg", "kept");
    fs::permissions(program.file("keep.svg"), fs::perms(0444));
    const RunResult r = program.run({"map.xml", "keep.svg"});
    fs::permissions(program.file("keep.svg"), fs::perms(0644));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.err.ends_with("** Error: \"keep.svg\" is read-only\n")) << r.err;
    EXPECT_EQ(read_file(program.file("keep.svg")), "kept");
    EXPECT_EQ(files_in(program.dir.path),
              (std::set<std::string>{executable_name("Chizuvec"), "Chizuvec.ini", "map.xml", "keep.svg"}));
}

TEST(CliFiles, InterruptedArchiveReadLeavesNothing) {
    for (const Need need : {Need::kSignals, Need::kFolderWatch}) {
        if (const std::string why = missing(need); !why.empty()) GTEST_SKIP() << why;
    }
    ProgramDir program;
    const fs::path maps = program.dir.path / "maps";
    ASSERT_TRUE(copy_big_archive_into(maps));
    const FolderWatch watch(maps.string());
    const Started s = start(program, {"maps/big.zip"});
    // Interrupted as soon as a file appears beside the archive, or well into the read when none does.
    watch.wait_for_creation(300);
    send_signal(s.pid, termination_signals().front());
    finish(s);
    EXPECT_EQ(files_in(maps), std::set<std::string>{"big.zip"});
}

}  // namespace
}  // namespace chizuvec::test
