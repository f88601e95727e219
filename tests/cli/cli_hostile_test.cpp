// Inputs from outside at their worst: broken, binary, huge or contradictory map files, archives and
// settings files, outputs that cannot be written, and runs side by side. Every run must end with a
// clear message or a sane result, its defined exit code, and no file left behind.
#include <gtest/gtest.h>
#include <zip.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli_support.hpp"
#include "common/sanitizer.hpp"
#include "gen_hostile_core.hpp"
#include "test_archive.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

// The folder of a program that was given map.zip, after the run.
const std::set<std::string> kProgramAndMapZip = {executable_name("Chizuvec"), "Chizuvec.ini", "map.zip"};

bool contains_nan_or_inf(std::string text) {
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text.find("nan") != std::string::npos || text.find("inf") != std::string::npos;
}

bool have_xmllint() {
    return missing(Need::kHostTools).empty() && std::system("xmllint --version >/dev/null 2>&1") == 0;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Replaces the `n`th (from 0) occurrence of `from`.
std::string replace_nth(std::string text, const std::string& from, const std::string& to, int n) {
    auto at = text.find(from);
    for (int i = 0; i < n && at != std::string::npos; ++i) at = text.find(from, at + 1);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// A map file run through the drawing: exit code 0, the statistics line, and a drawing (when
// there is one) that is well-formed and free of "nan" and "inf"; nothing but the drawing is left.
void expect_sane_drawing_run(const std::string& what, const std::string& map, const std::string& counts = "",
                             const std::vector<std::string>& extra_args = {}) {
    SCOPED_TRACE(what);
    ProgramDir program;
    program.write("map.xml", map);
    std::vector<std::string> args = {"map.xml", "out.svg"};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    const RunResult r = program.run(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // Assembly may report broken outlines before the statistics line.
    EXPECT_TRUE(r.err.rfind("map.xml: P=", 0) == 0 || r.err.find("\nmap.xml: P=") != std::string::npos) << r.err;
    if (!counts.empty()) {
        EXPECT_NE(r.err.find("map.xml" + counts), std::string::npos) << r.err;
    }
    std::set<std::string> expected = {executable_name("Chizuvec"), "Chizuvec.ini", "map.xml"};
    if (std::filesystem::exists(program.file("out.svg"))) {
        expected.insert("out.svg");
        EXPECT_NE(r.out.find("created successfully"), std::string::npos);
        EXPECT_FALSE(contains_nan_or_inf(read_file(program.file("out.svg"))));
        if (have_xmllint()) {
            EXPECT_EQ(std::system(("xmllint --noout '" + program.file("out.svg") + "'").c_str()), 0);
        }
    } else {
        EXPECT_NE(r.err.find("**Warning: No polygons to draw\n"), std::string::npos) << r.err;
    }
    EXPECT_EQ(files_in(program.dir.path), expected);
}

TEST(CliHostile, BrokenMapFilesGiveASaneRun) {
    const std::string sample = read_file(sample_map_path());
    ASSERT_FALSE(sample.empty());

    // Cut at many points; the last cut falls inside a three-byte character of a lot number.
    for (int k = 1; k <= 12; ++k) {
        const std::size_t cut = sample.size() * static_cast<std::size_t>(k) / 13;
        expect_sane_drawing_run("cut at " + std::to_string(cut), sample.substr(0, cut));
    }
    const std::size_t lot = sample.rfind("<地番>") + std::string("<地番>").size();
    expect_sane_drawing_run("cut inside a character", sample.substr(0, lot + 1));

    std::mt19937 random(20240611);
    std::string garbage(1 << 16, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    {
        ProgramDir program;
        program.write("map.xml", garbage);
        const RunResult r = program.run({"map.xml", "out.svg"});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, "** Error: \"map.xml\" is not a map XML file\n");
        EXPECT_FALSE(std::filesystem::exists(program.file("out.svg")));
    }
    expect_sane_drawing_run("binary garbage after the head", sample.substr(0, sample.find("<空間属性>")) + garbage);

    // A NUL ends what the reader sees of a line; the values before it still count.
    expect_sane_drawing_run("NUL bytes inside lines",
                            replace_all(replace_all(sample, "</zmn:Y>", std::string("\0</zmn:Y>", 9)), "<地番>",
                                        std::string("<地番>\0", 10)),
                            ": P=26(max=26) C=52(52) C-F=52 F=13(13) H=13(13)\n");

    const std::string head = sample.substr(0, sample.find("<空間属性>"));
    expect_sane_drawing_run("a comment that never closes", head + "<!-- open\n" + sample.substr(head.size()),
                            ": P=0(max=0) C=0(0) C-F=0 F=0(0) H=0(0)\n");
    expect_sane_drawing_run("id numbers beyond 4294967295",
                            replace_nth(replace_nth(sample, "id=\"P", "id=\"P99999999999999999999", 0),
                                        "<形状 idref=\"F", "<形状 idref=\"F4294967296", 0),
                            ": P=26(max=4294967295)");

    // Coordinates huge, not numbers, infinite or missing.
    std::string odd = sample;
    std::size_t at = 0;
    for (const char* v : {"1e308", "nan", "inf", "", "-1e308", "1e999", "-inf", "NaN(0x1)", "0x1p3", "+-1"}) {
        at = odd.find("<zmn:X>", at) + std::string("<zmn:X>").size();
        odd.replace(at, odd.find('<', at) - at, v);
    }
    expect_sane_drawing_run("coordinates huge, nan, inf or missing", odd);
    expect_sane_drawing_run("every coordinate huge",
                            replace_all(replace_all(sample, "<zmn:X>", "<zmn:X>9e307"), "<zmn:Y>", "<zmn:Y>-9e307"));

    expect_sane_drawing_run("references to missing surfaces, curves and points",
                            replace_nth(replace_nth(replace_nth(sample, "<形状 idref=\"F", "<形状 idref=\"F9", 0),
                                                    "generator idref=\"C", "generator idref=\"C9", 5),
                                        "point idref=\"P", "point idref=\"P9", 9));
    const auto parcels_end = sample.find("</主題属性>");
    ASSERT_NE(parcels_end, std::string::npos);
    expect_sane_drawing_run("a parcel sharing its surface with another",
                            sample.substr(0, parcels_end) +
                                "<筆 id=\"H000099\">\n<地番>99</地番>\n<形状 idref=\"F000001\"/>\n</筆>\n" +
                                sample.substr(parcels_end),
                            ": P=26(max=26) C=52(52) C-F=52 F=13(13) H=13(99)\n");
    // Texts cut at their field's size inside a reference must not leave "&am" in the drawing.
    const std::string long_texts =
        replace_all(replace_nth(sample, "<地図名>", "<地図名>" + std::string(251, 'a') + "&amp;", 0), "<地番>",
                    "<地番>" + std::string(28, 'b') + "&amp;");
    expect_sane_drawing_run("texts cut inside a reference", long_texts);
    // A sheet whose only reference leads nowhere is a sheet with nothing to draw: the seed's warning,
    // nothing left behind.
    ProgramDir program;
    program.write(
        "map.xml",
        replace_all(sample, "</地図>", "<図郭>\n<地図番号>Z9</地図番号>\n<筆参照 idref=\"H999\"/>\n</図郭>\n</地図>"));
    const RunResult r = program.run({"map.xml", "out.svg", "Z9"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.err.find("**Warning: No polygons to draw\n"), std::string::npos) << r.err;
    EXPECT_EQ(files_in(program.dir.path),
              (std::set<std::string>{executable_name("Chizuvec"), "Chizuvec.ini", "map.xml"}));
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The first point's X written in forms that are and are not numbers. One that is not leaves every
// parcel whose outline uses the point without shape in every output, never at the zone's origin;
// the shapes of a readable form are those of the file as it is.
TEST(CliHostile, CoordinatesThatAreNoNumberLeaveTheirParcelsWithoutShape) {
    const std::string sample = read_file(sample_map_path());
    ProgramDir reference;
    reference.write("map.xml", sample);
    ASSERT_EQ(reference.run({"map.xml", "out.svg"}).exit_code, 0);
    const std::size_t polygons = count_of(read_file(reference.file("out.svg")), "<polygon");
    const RunResult gis = reference.run({"--gis", "-", "map.xml"});
    const std::size_t null_geometries = count_of(gis.out, "\"geometry\":null");
    ASSERT_GT(polygons, 2u);

    const std::string x_open = "<zmn:X>";
    const std::size_t value_at = sample.find(x_open) + x_open.size();
    const std::size_t value_end = sample.find('<', value_at);
    const std::string value = sample.substr(value_at, value_end - value_at);
    struct Form {
        std::string text;
        bool readable;
    };
    const std::vector<Form> forms = {
        {"NaN", false},
        {"inf", false},
        {"-infinity", false},
        {"abc", false},
        {"", false},
        {"0x10", false},
        {"\xEF\xBC\x91\xEF\xBC\x90", false},  // full-width 10
        {"1e400", false},
        {value + "abc", false},
        {"1.5.2", false},
        {"+-1", false},
        {"1e", false},
        {" " + value + "\t", true},
        {value + "e0", true},
        {"+" + value.substr(1) + ".", false},
    };
    for (const Form& form : forms) {
        SCOPED_TRACE("X \"" + form.text + "\"");
        ProgramDir program;
        program.write("map.xml", sample.substr(0, value_at) + form.text + sample.substr(value_end));
        const RunResult listing = program.run({"map.xml"});
        ASSERT_EQ(listing.exit_code, 0) << listing.err;
        EXPECT_EQ(listing.err.find(" H=12(13), 1 point could not be read\n") != std::string::npos, !form.readable)
            << listing.err;
        EXPECT_NE(listing.err.find(" H=12(13)" + std::string(form.readable ? "\n" : ",")), std::string::npos);

        const RunResult drawing = program.run({"map.xml", "out.svg"});
        ASSERT_EQ(drawing.exit_code, 0) << drawing.err;
        const std::string svg = read_file(program.file("out.svg"));
        EXPECT_EQ(count_of(svg, "<polygon") + (form.readable ? 0 : 2), polygons);
        EXPECT_EQ(drawing.err.find("2 parcels have no shape: a point of their outlines could not be read (") !=
                      std::string::npos,
                  !form.readable)
            << drawing.err;

        const RunResult features = program.run({"--gis", "-", "map.xml"});
        ASSERT_EQ(features.exit_code, 0) << features.err;
        EXPECT_EQ(count_of(features.out, "\"geometry\":null"), null_geometries + (form.readable ? 0 : 2));
        // The same lots, named by the drawing and by the GIS summary.
        if (!form.readable) {
            const std::size_t open = drawing.err.find("read (") + 6;
            const std::string lots = drawing.err.substr(open, drawing.err.find(')', open) - open);
            const std::size_t comma = lots.find(", ");
            ASSERT_NE(comma, std::string::npos) << lots;
            EXPECT_NE(features.err.find("Without shape: " + lots.substr(0, comma) + " (map.xml), " +
                                        lots.substr(comma + 2) + " (map.xml)"),
                      std::string::npos)
                << features.err;
        }
    }
}

TEST(CliHostile, HugeLinesAndRingCountsStayFast) {
    const std::string sample = read_file(sample_map_path());
    const std::string head = sample.substr(0, sample.find("<空間属性>"));

    // Thousands of rings on one surface: only the last counts, but every one is read.
    std::string rings = "<空間属性>\n<zmn:GM_Surface id=\"F1\">\n";
    for (int i = 0; i < 20000; ++i) {
        rings += "<zmn:GM_Ring>\n<zmn:GM_CompositeCurve.generator idref=\"C" + std::to_string(i % 50 + 1) +
                 "\"/>\n<zmn:GM_CompositeCurve.generator idref=\"C" + std::to_string(i % 50 + 2) +
                 "\"/>\n</zmn:GM_Ring>\n";
    }
    rings += "</zmn:GM_Surface>\n</空間属性>\n";
    auto start = std::chrono::steady_clock::now();
    expect_sane_drawing_run("20000 rings on one surface", sample.substr(0, sample.find("</地図>")) + rings,
                            ": P=26(max=26) C=52(52) C-F=40052 F=14(13) H=12(13)\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

    // One line of 100 MB inside the head, written in pieces: the map after it reads as usual.
    ProgramDir program;
    {
        std::ofstream out(program.file("map.xml"), std::ios::binary);
        out << head.substr(0, head.size() / 2);
        const std::string piece(1 << 20, 'a');
        for (int i = 0; i < 100; ++i) out << piece;
        out << "\n" << sample.substr(head.size() / 2);
    }
    start = std::chrono::steady_clock::now();
    const RunResult r = program.run({"map.xml"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "map.xml" + kSampleCounts);
}

// The reader sizes its arrays from the file size. A file far larger than its content (here the
// sample followed by a 256 MB hole) under a limit on address space must still read as its content
// does: a first capacity the system refuses is no reason to give up. The limit leaves room for the
// font libraries and, where it is linked, libzip with libcrypto.
TEST(CliHostile, AddressSpaceLimitBelowTheFileSizeStillReads) {
#if defined(CHIZUVEC_ADDRESS_CHECKED)
    GTEST_SKIP() << "AddressSanitizer cannot start under a limit on address space";
#endif
    if (const std::string why = missing(Need::kAddressSpaceLimit); !why.empty()) GTEST_SKIP() << why;
    const std::string sample = read_file(sample_map_path());
    ProgramDir reference;
    reference.write("big.xml", sample);
    ASSERT_EQ(reference.run({"big.xml", "out.svg"}).exit_code, 0);

    ProgramDir program;
    program.write("big.xml", sample);
    std::filesystem::resize_file(program.file("big.xml"), std::uintmax_t{256} << 20);
    const std::string command = "cd '" + program.dir.path.string() +
                                "' && ulimit -v 80000 && ./Chizuvec big.xml out.svg >out.txt 2>err.txt </dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << read_file(program.file("err.txt"));
    EXPECT_EQ(read_file(program.file("err.txt")), "big.xml" + kSampleCounts + kSampleLeftOut);
    EXPECT_EQ(read_file(program.file("out.svg")), read_file(reference.file("out.svg")));
}

TEST(CliHostile, ArchivesThatCannotBeReadFailCleanly) {
    const std::string sample = read_file(sample_map_path());
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> entries;  // none: an empty file; deflated
        const char* password;
        std::string expected_err;
    };
    const std::vector<Case> cases = {
        {"empty file", {}, nullptr, "** Error: ZIP error code 19\n** Error: code=3\n"},
        {"an archive without entries", {{"", ""}}, nullptr, "** Error: Input file not found\n"},
        {"a directory named like the entry", {{"map.xml/", ""}}, nullptr, "** Error: Input file not found\n"},
        {"encrypted entry", {{"map.xml", sample}}, "secret", "** Error: ZIP error code 26\n** Error: code=3\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.password != nullptr && zip_encryption_method_supported(ZIP_EM_AES_256, 1) == 0) continue;
        ProgramDir program;
        if (c.entries.empty()) {
            program.write("map.zip", "");
        } else if (c.entries.front().first.empty()) {
            // libzip writes no file for an archive without entries; this is its 22-byte end record.
            program.write("map.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
        } else {
            std::vector<ArchiveEntry> entries;
            for (const auto& [name, data] : c.entries) entries.push_back({name, data, true, c.password});
            ASSERT_TRUE(write_archive(program.file("map.zip"), entries));
        }
        const RunResult r = program.run({"map.zip", "out.svg"});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, c.expected_err);
        EXPECT_EQ(files_in(program.dir.path), kProgramAndMapZip);
    }
}

// An entry that inflates a thousandfold is streamed to disk: memory stays flat whatever its size,
// and a disk that fills up (here a file-size limit) ends the run with a write error and no file.
constexpr std::size_t kBombEntryBytes = std::size_t{96} << 20;

// map.zip in the program's folder, holding one entry of kBombEntryBytes zeros.
void write_zip_bomb(const ProgramDir& program) {
    // The entry comes from a sparse file, so this process never holds it: a child's peak memory
    // includes what it shared with this process before it started the program.
    TempDir source;
    std::filesystem::resize_file(source.write("zeros", ""), kBombEntryBytes);
    int error = 0;
    zip_t* archive = zip_open(program.file("map.zip").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    zip_source_t* zeros = zip_source_file(archive, source.file("zeros").c_str(), 0, -1);
    ASSERT_NE(zeros, nullptr);
    ASSERT_GE(zip_file_add(archive, "map.xml", zeros, 0), 0);
    ASSERT_EQ(zip_close(archive), 0);
    ASSERT_LT(std::filesystem::file_size(program.file("map.zip")), kBombEntryBytes / 500);
}

TEST(CliHostile, ZipBombStreams) {
    ProgramDir program;
    ASSERT_NO_FATAL_FAILURE(write_zip_bomb(program));
    ASSERT_EQ(program.run({"--version"}).exit_code, 0);
    const std::uint64_t baseline = peak_memory_of_children();
    const RunResult r = program.run({"map.zip"});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_EQ(r.err, "** Error: \"map.zip\" is not a map XML file\n");
    EXPECT_EQ(files_in(program.dir.path), kProgramAndMapZip);
    if (baseline == 0) GTEST_SKIP() << "the system reported no peak memory for the program's runs";
    EXPECT_LT(peak_memory_of_children(), baseline + kBombEntryBytes / 4);
}

TEST(CliHostile, ZipBombNeedsNoDisk) {
    if (const std::string why = missing(Need::kFileSizeLimit); !why.empty()) GTEST_SKIP() << why;
    ProgramDir program;
    ASSERT_NO_FATAL_FAILURE(write_zip_bomb(program));
    {
        // Nothing is written while reading, so a full disk does not matter.
        const FileSizeLimit limit(std::size_t{8} << 20);
        const RunResult full = program.run({"map.zip"});
        EXPECT_EQ(full.exit_code, 1) << full.err;
        EXPECT_EQ(full.err, "** Error: \"map.zip\" is not a map XML file\n");
    }
    EXPECT_EQ(files_in(program.dir.path), kProgramAndMapZip);
}

TEST(CliHostile, SettingsFilesOfAnyShape) {
    const std::string ini = default_ini();
    const std::string sample = read_file(sample_map_path());
    ProgramDir reference;
    reference.write("map.xml", sample);
    ASSERT_EQ(reference.run({"map.xml", "out.svg"}).exit_code, 0);
    const std::string expected_drawing = read_file(reference.file("out.svg"));

    std::mt19937 random(7);
    std::string binary(1 << 16, '\0');
    for (char& c : binary) c = static_cast<char>(random());
    // Every key first with a value that would show, then the shipped file: the last value wins.
    std::string repeated;
    for (std::string line; const char c : ini) {
        if (c != '\n') {
            line += c;
            continue;
        }
        const auto eq = line.find('=');
        if (eq != std::string::npos && line[0] != ';') repeated += line.substr(0, eq + 1) + "77\n";
        line.clear();
    }
    repeated += ini;
    const std::string huge = std::string(30 << 20, ';') + "\n" + ini + "svg_text_source=" + std::string(5 << 20, 'x') +
                             "\n" + "svg_text_source=" + "\n";
    struct Case {
        const char* what;
        std::string settings;
        bool draws_like_shipped;
    };
    const std::vector<Case> cases = {
        {"binary", binary, false},
        {"every key repeated", repeated, true},
        {"huge", huge, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramDir program(c.settings);
        program.write("map.xml", sample);
        const RunResult listing = program.run({"map.xml"});
        EXPECT_EQ(listing.exit_code, 0) << listing.err;
        const RunResult drawing = program.run({"map.xml", "out.svg"});
        if (c.draws_like_shipped) {
            EXPECT_EQ(drawing.exit_code, 0) << drawing.err;
            EXPECT_TRUE(read_file(program.file("out.svg")) == expected_drawing);
        } else if (drawing.exit_code == 0) {
            EXPECT_FALSE(contains_nan_or_inf(read_file(program.file("out.svg"))));
        } else {
            EXPECT_EQ(drawing.exit_code, 1);
            EXPECT_NE(drawing.err.find("** Error: Invalid setting "), std::string::npos) << drawing.err;
            EXPECT_FALSE(std::filesystem::exists(program.file("out.svg")));
        }
    }
}

// An output name that is a folder, or a device where every write fails: the run fails with its
// message and replaces or removes nothing.
void expect_output_refused(const ProgramDir& program, const std::string& output, const std::string& reason = "") {
    SCOPED_TRACE(output);
    const RunResult r = program.run({"map.xml", output});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "map.xml" + kSampleCounts + kSampleLeftOut + "** Error: Cannot write output file \"" + output +
                         "\"\n" + reason);
    EXPECT_EQ(r.out, "");
}

TEST(CliHostile, OutputThatIsAFolder) {
    ProgramDir program;
    program.write("map.xml", read_file(sample_map_path()));
    std::filesystem::create_directory(program.file("folder.svg"));
    // Refused before the map is read.
    const RunResult r = program.run({"map.xml", "folder.svg"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "** Error: \"folder.svg\" is a folder; name a file\n");
    EXPECT_TRUE(std::filesystem::is_directory(program.file("folder.svg")));
    EXPECT_TRUE(std::filesystem::is_empty(program.file("folder.svg")));
}

TEST(CliHostile, OutputOnAFullDisk) {
    for (const Need need : {Need::kFullDevice, Need::kSymbolicLinks, Need::kFileSizeLimit}) {
        if (const std::string why = missing(need); !why.empty()) GTEST_SKIP() << why;
    }
    ProgramDir program;
    program.write("map.xml", read_file(sample_map_path()));
    std::filesystem::create_symlink(full_device(), program.file("full.svg"));
    expect_output_refused(program, "full.svg");
    // Nothing was replaced or removed: the link and the device are still there.
    EXPECT_TRUE(std::filesystem::is_symlink(program.file("full.svg")));
    EXPECT_TRUE(std::filesystem::is_character_file(full_device()));
    {
        // A disk that fills up half way through the drawing: no partial drawing stays.
        const FileSizeLimit limit(1024);
        const RunResult r = program.run({"map.xml", "cut.svg"});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find("** Error: Cannot write output file \"cut.svg\"\n"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(program.file("cut.svg")));
}

// An input that exists but cannot be opened for reading: a socket (root reads any mode).
TEST(CliHostile, InputThatIsASocket) {
    if (const std::string why = missing(Need::kLocalSockets); !why.empty()) GTEST_SKIP() << why;
    ProgramDir program;
    const LocalSocket socket(program.file("socket.xml"));
    ASSERT_TRUE(socket.bound());
    const RunResult r = program.run({"socket.xml"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "** Error: Input file not found\n");
}

// Inputs that are no files and may never end: a named one is judged by its first bytes (NUL bytes
// of /dev/zero end the run at once, a zip signature asks for a file) and map text on a pipe is read;
// a batch never opens one, named or in a folder, so none can hold up the other files.
TEST(CliHostile, InputsThatAreNotFilesNeverHoldARunUp) {
    if (const std::string why = missing(Need::kEndlessInputs); !why.empty()) GTEST_SKIP() << why;
    ProgramDir program;
    RunResult r = program.run({"/dev/zero", "out.svg"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "** Error: \"/dev/zero\" is not a map XML file\n");
    r = program.run({"--csv", "out.csv", "/dev/zero"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find("Listed")),
              "/dev/zero: ** Error: not a regular file (a pipe or device): name it alone\n");

    std::filesystem::create_directory(program.file("in"));
    program.write("in/a.xml", read_file(sample_map_path()));
    ASSERT_TRUE(make_fifo(program.file("in/b.xml")));
    r = program.run({"--csv", "out.csv", "in"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find(" in ", r.err.find("Listed"))),
              "in/b.xml: ** Error: not a regular file (a pipe or device): name it alone\n"
              "Listed 12 of 13 parcels (1 outside the district) of 1 map files, failed 1");

    program.write("map.zip", map_zip_bytes("map", read_file(sample_map_path())));
    program.write("map.xml", read_file(sample_map_path()));
    const std::string run_on_pipe =
        "cd '" + program.dir.path.string() + "' && cat %s | '" + program.exe + "' /dev/stdin out.svg 2>&1";
    std::string output;
    char command[4096];
    std::snprintf(command, sizeof command, run_on_pipe.c_str(), "map.zip");
    EXPECT_EQ(command_output(command, output), 1);
    EXPECT_EQ(output, "** Error: \"/dev/stdin\" is a zip archive on a pipe or device: save it as a file first\n");
    std::snprintf(command, sizeof command, run_on_pipe.c_str(), "map.xml");
    EXPECT_EQ(command_output(command, output), 0) << output;
    EXPECT_NE(output.find("/dev/stdin" + kSampleCounts), std::string::npos) << output;
    EXPECT_EQ(read_file(program.file("out.svg")).rfind("<?xml", 0), 0u);
}

// A municipality archive of thousands of inner zips that lack their map file: each is reported, in
// archive order, and the archive stays open from one to the next.
TEST(CliHostile, ManyInnerZipsWithoutTheirMapFile) {
    constexpr std::uint32_t kEmpty = 3000;
    ProgramDir program;
    ASSERT_TRUE(genhostile::write_attack(genhostile::Attack::empty_inner_zips, kEmpty, program.file("A.zip")));
    const RunResult r = program.run({"--csv", "out.csv", "A.zip"});
    EXPECT_EQ(r.exit_code, 1);
    std::string expected;
    for (std::uint32_t k = 0; k < kEmpty; ++k) {
        expected.append("A-").append(std::to_string(k)).append(".xml: ** Error: holds no map file\n");
    }
    EXPECT_EQ(r.err.substr(0, r.err.find("Listed")), expected);
    EXPECT_NE(r.err.find("Listed 1 parcels of 1 map files, failed 3000"), std::string::npos)
        << r.err.substr(expected.size());

    // Entry names with the controls that reorder a line (U+202E, U+2066, U+200F) are shown with "?".
    const std::string empty = map_zip_bytes("other", "");
    ASSERT_TRUE(
        write_archive(program.file("B.zip"), {{"a\u202Egpj.zip", empty},
                                              {"b\u2066x\u2069.zip", empty},
                                              {"c\u200F.zip", empty},
                                              {"B-1.zip", map_zip_bytes("B-1", read_file(sample_map_path()))}}));
    const RunResult shown = program.run({"--csv", "out.csv", "B.zip"});
    EXPECT_EQ(shown.err.substr(0, shown.err.find("Listed")),
              "a?gpj.xml: ** Error: holds no map file\nb?x?.xml: ** Error: holds no map file\n"
              "c?.xml: ** Error: holds no map file\n");
}

// The search list is a hint: whatever an error or warning would say of it is first checked against
// the map files it names. A list that puts one lot in 50,000 地番区域, one forged row that puts it in
// a second 地番区域, and a row that puts another lot in a map file that lacks it: each gives the
// answer of the map files themselves, with the warning that the list does not match.
TEST(CliHostile, SearchListClaimsAreCheckedAgainstTheMapFiles) {
    ProgramDir program;
    ASSERT_TRUE(genhostile::write_attack(genhostile::Attack::search_list_areas, 50000, program.file("A.zip")));
    RunResult r = program.run({"A.zip", "out.svg", "all", "1"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err,
              "**Warning: the search list of \"A.zip\" does not match its map files\n"
              "A-1.xml: P=4(max=4) C=4(4) C-F=4 F=1(1) H=1(1)\n");

    const std::string map = genhostile::small_map("甲");
    const auto lot_map = [&](const std::string& area, const std::string& lot) {
        return replace_all(replace_all(map, "<地番>1</地番>", "<地番>" + lot + "</地番>"), "<大字名>甲</大字名>",
                           "<大字名>" + area + "</大字名>");
    };
    const auto archive = [&](const std::string& name, const std::vector<SearchListRow>& rows) {
        ASSERT_TRUE(write_archive(program.file(name), {{"B-1.zip", map_zip_bytes("B-1", lot_map("甲", "1"))},
                                                       {"B-2.zip", map_zip_bytes("B-2", lot_map("乙", "2"))},
                                                       {"B-3.zip", map_zip_bytes("B-3", lot_map("丙", "3"))},
                                                       {"B-search-list.csv", search_list_bytes(rows, true)}}));
    };
    const std::vector<SearchListRow> truth = {{"B-1.zip", "甲", "1"}, {"B-2.zip", "乙", "2"}, {"B-3.zip", "丙", "3"}};
    std::vector<SearchListRow> forged = truth;
    forged.push_back({"B-3.zip", "丙", "1"});
    archive("B.zip", forged);
    r = program.run({"B.zip", "out.svg", "all", "1"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err,
              "**Warning: the search list of \"B.zip\" does not match its map files\n"
              "B-1.xml: P=4(max=4) C=4(4) C-F=4 F=1(1) H=1(1)\n");
    forged = truth;
    forged[1].file = "B-3.zip";
    archive("B.zip", forged);
    r = program.run({"B.zip", "out.svg", "all", "1", "2"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err,
              "**Warning: the search list of \"B.zip\" does not match its map files\n"
              "**Warning: lot \"2\" is in B-2.xml, not drawn\n"
              "B-1.xml: P=4(max=4) C=4(4) C-F=4 F=1(1) H=1(1)\n");
    // A true list is believed: no warning but the one about the lot not drawn.
    archive("C.zip", truth);
    r = program.run({"C.zip", "out.svg", "all", "1", "2"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "**Warning: lot \"2\" is in B-2.xml, not drawn\nB-1.xml: P=4(max=4) C=4(4) C-F=4 F=1(1) H=1(1)\n");
}

// Several runs on one archive in one folder at the same moment: each reads its own temporary file
// (they are made in the same millisecond, so their names clash) and none is left.
TEST(CliHostile, RunsSideBySideOnOneArchive) {
    const std::string sample = read_file(sample_map_path());
    TempDir shared;
    const std::string archive = shared.file("map.zip");
    ASSERT_TRUE(write_archive(archive, {{"map.xml", sample, true}}));
    const std::string archive_bytes = read_file(archive);
    ProgramDir reference;
    reference.write("map.xml", sample);
    const RunResult expected = reference.run({"map.xml"});
    ASSERT_EQ(expected.exit_code, 0);

    constexpr int kRuns = 6;
    std::vector<std::unique_ptr<ProgramDir>> programs;
    for (int i = 0; i < kRuns; ++i) programs.push_back(std::make_unique<ProgramDir>());
    for (int round = 0; round < 3; ++round) {
        std::vector<RunResult> results(kRuns);
        std::vector<std::thread> threads;
        for (int i = 0; i < kRuns; ++i) {
            threads.emplace_back([&, i] {
                results[static_cast<std::size_t>(i)] =
                    programs[static_cast<std::size_t>(i)]->run({"map.zip"}, shared.path.string());
            });
        }
        for (auto& t : threads) t.join();
        for (const RunResult& r : results) {
            EXPECT_EQ(r.exit_code, 0) << r.err;
            EXPECT_EQ(r.err, "map.zip" + kSampleCounts);
            EXPECT_TRUE(replace_all(r.out, "map.zip", "map.xml") == expected.out);
        }
        EXPECT_EQ(files_in(shared.path), std::set<std::string>{"map.zip"});
    }
    EXPECT_TRUE(read_file(archive) == archive_bytes);
}

}  // namespace
}  // namespace chizuvec::test
