// Maps whose shape would make the work or the memory grow faster than the file: parcels that share
// one surface, parcels listed by several sheets, identifier numbers chosen to collide. Each is made
// by the map generator and checked against what the map file itself says.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.hpp"
#include "common/sanitizer.hpp"
#include "gen_map_core.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

std::string generate(const ProgramDir& program, const std::string& name, const genmap::GenMapOptions& options) {
    genmap::GenMapSummary summary;
    const std::string path = program.file(name);
    EXPECT_EQ(genmap::generate_map_file(path, options, summary), genmap::kGenOk);
    return path;
}

// Runs the program in its directory under a limit on address space, output to out.txt and err.txt.
RunResult run_limited(const ProgramDir& program, const std::string& args, long kilobytes) {
    if (!missing(Need::kAddressSpaceLimit).empty()) {
        // No such limit here: the run is made without one.
        std::vector<std::string> words;
        std::istringstream in(args);
        for (std::string word; in >> word;) words.push_back(word);
        return program.run(words);
    }
    const std::string command = "cd '" + program.dir.path.string() + "' && ulimit -v " + std::to_string(kilobytes) +
                                " && ./Chizuvec " + args + " >out.txt 2>err.txt </dev/null";
    const int status = std::system(command.c_str());
    RunResult r;
    r.exit_code = exit_code_of_system(status);
    r.out = read_file(program.file("out.txt"));
    r.err = read_file(program.file("err.txt"));
    std::filesystem::remove(program.file("out.txt"));
    std::filesystem::remove(program.file("err.txt"));
    return r;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The fields of the parcel lines of a listing (the two header lines skipped).
std::vector<std::vector<std::string>> parcel_rows(const std::string& listing) {
    std::vector<std::vector<std::string>> rows;
    const std::vector<std::string> lines = lines_of(listing);
    for (std::size_t k = 2; k < lines.size(); ++k) {
        std::istringstream fields(lines[k]);
        std::vector<std::string> row;
        for (std::string field; fields >> field;) row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}

constexpr std::uint32_t kSharedParcels = 20000;
constexpr std::uint32_t kSharedCurves = 20000;
// Ample for a linear run on this map, a fraction of one outline copied per parcel (1.6 GB).
constexpr long kSharedLimitKb = 400000;

// Every parcel has the same surface: a ring of many curves round a circle of radius 100 m.
TEST(CliScale, ParcelsSharingOneSurfaceAreListedAndRefusedAsADrawingInLinearMemory) {
#if defined(CHIZUVEC_ADDRESS_CHECKED)
    GTEST_SKIP() << "AddressSanitizer cannot start under a limit on address space";
#endif
    ProgramDir program;
    genmap::GenMapOptions options;
    options.parcels = kSharedParcels;
    options.shared_surface_curves = kSharedCurves;
    generate(program, "shared.xml", options);

    const RunResult listing = run_limited(program, "shared.xml", kSharedLimitKb);
    ASSERT_EQ(listing.exit_code, 0) << listing.err;
    EXPECT_EQ(lines_of(listing.err).size(), 1u) << listing.err;  // the statistics line alone
    const auto rows = parcel_rows(listing.out);
    ASSERT_GT(rows.size(), kSharedParcels * 9 / 10);
    // The area of a regular polygon of kSharedCurves corners on the circle, in square metres.
    const double n = kSharedCurves;
    const double expected = 0.5 * n * 100.0 * 100.0 * std::sin(2.0 * 3.14159265358979323846 / n);
    for (const auto& row : rows) {
        ASSERT_EQ(row.back(), rows.front().back()) << row[0];
        EXPECT_NEAR(std::stod(row.back()), expected, 0.1) << row[0];
    }

    // Each parcel would draw the whole ring: far beyond the bound, refused before any file exists.
    const RunResult drawing = run_limited(program, "shared.xml out.svg", kSharedLimitKb);
    EXPECT_EQ(drawing.exit_code, 1);
    const std::vector<std::string> err = lines_of(drawing.err);
    ASSERT_EQ(err.size(), 3u) << drawing.err;
    EXPECT_EQ(err[2], "** Error: The drawing would have " + std::to_string(std::uint64_t{rows.size()} * kSharedCurves) +
                          " polygon points, more than 100000000");
    EXPECT_FALSE(std::filesystem::exists(program.file("out.svg")));
}

// Whatever the limit, a run succeeds whole or ends with one error line, exit code 1 and no drawing.
TEST(CliScale, RunsShortOfMemoryEndWithTheirErrorAndLeaveNoFile) {
    if (const std::string why = missing(Need::kAddressSpaceLimit); !why.empty()) GTEST_SKIP() << why;
#if defined(CHIZUVEC_ADDRESS_CHECKED)
    GTEST_SKIP() << "AddressSanitizer cannot start under a limit on address space";
#endif
    ProgramDir program;
    genmap::GenMapOptions options;
    options.parcels = 3000;
    options.shared_surface_curves = 3000;
    generate(program, "shared.xml", options);
    const std::string sheet = "V0200-1";
    for (const long kb : {12000L, 16000L, 24000L, 48000L, 96000L}) {
        for (const std::string& args : {std::string("shared.xml"), "shared.xml out.svg " + sheet}) {
            SCOPED_TRACE(args + " under " + std::to_string(kb) + " KB");
            const RunResult r = run_limited(program, args, kb);
            const std::vector<std::string> err = lines_of(r.err);
            const bool failed = r.exit_code != 0;
            EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1) << r.exit_code;
            EXPECT_EQ(std::filesystem::exists(program.file("out.svg")), !failed && args != "shared.xml");
            if (failed) {
                ASSERT_FALSE(err.empty());
                // The error is the last line: nothing is printed after it.
                EXPECT_TRUE(err.back() == "** Error: code=2" || err.back() == "** Error: out of memory" ||
                            err.back().starts_with("** Error: The drawing would have"))
                    << r.err;
            }
            for (const std::string& line : err) {
                if (line.starts_with("**")) {
                    EXPECT_EQ(line, err.back()) << "a message after an error";
                }
            }
            if (!failed) {
                for (const auto& row : parcel_rows(r.out)) EXPECT_NE(row.back(), "0.0");
            }
            std::filesystem::remove(program.file("out.svg"));
        }
    }
}

// The map numbers of the sheets and the parcel ids each one lists, and the lot numbers of the kept
// parcels by id, read from the map file by plain text search.
struct SheetOracle {
    std::vector<std::pair<std::string, std::vector<std::string>>> sheets;  // in file order
    std::map<std::string, std::string> kept;                               // parcel id -> lot number
};

// The text between `open` and the next `close` from `at` on; empty when there is none.
std::string between(const std::string& text, const std::string& open, const std::string& close, std::size_t at = 0) {
    const std::size_t begin = text.find(open, at);
    if (begin == std::string::npos) return {};
    const std::size_t end = text.find(close, begin + open.size());
    return end == std::string::npos ? std::string() : text.substr(begin + open.size(), end - begin - open.size());
}

SheetOracle read_sheets(const std::string& xml) {
    SheetOracle oracle;
    for (std::size_t at = xml.find("<筆 id=\""); at != std::string::npos; at = xml.find("<筆 id=\"", at + 1)) {
        const std::string id = between(xml, "<筆 id=\"", "\"", at);
        const std::string lot = between(xml, "<地番>", "</地番>", at);
        if (lot.rfind("地区外", 0) != 0) oracle.kept[id] = lot;
    }
    for (std::size_t at = xml.find("<図郭>"); at != std::string::npos; at = xml.find("<図郭>", at + 1)) {
        const std::string block = between(xml, "<図郭>", "</図郭>", at);
        std::vector<std::string> ids;
        const std::string ref = "<筆参照 idref=\"";
        for (std::size_t r = block.find(ref); r != std::string::npos; r = block.find(ref, r + 1)) {
            ids.push_back(between(block, ref, "\"", r));
        }
        oracle.sheets.emplace_back(between(block, "<地図番号>", "</地図番号>"), ids);
    }
    return oracle;
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(CliScale, EverySheetDrawsEachParcelItListsAndTheListingShowsTheLastSheet) {
    ProgramDir program;
    genmap::GenMapOptions options;
    options.parcels = 700;  // 14 blocks: four sheets, the last one partial
    options.overlapping_sheets = true;
    const SheetOracle oracle = read_sheets(read_file(generate(program, "edges.xml", options)));
    ASSERT_GE(oracle.sheets.size(), 3u);

    std::map<std::string, std::set<std::string>> drawn;  // map number -> kept parcels it lists
    std::map<std::string, std::string> last_sheet;       // parcel id -> map number of the last sheet
    std::size_t shared = 0;
    for (const auto& [map_no, ids] : oracle.sheets) {
        for (const std::string& id : ids) {
            if (oracle.kept.count(id) == 0) continue;
            drawn[map_no].insert(id);
            if (last_sheet.count(id) != 0 && last_sheet[id] != map_no) ++shared;
            last_sheet[id] = map_no;
        }
    }
    ASSERT_GT(shared, 0u) << "the map should have parcels on the edge of two sheets";

    for (const auto& [map_no, ids] : drawn) {
        SCOPED_TRACE(map_no);
        const RunResult r = program.run({"edges.xml", "sheet.svg", map_no});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(count_of(read_file(program.file("sheet.svg")), "<polygon "), ids.size());
    }

    const RunResult listing = program.run({"edges.xml"});
    ASSERT_EQ(listing.exit_code, 0);
    const auto rows = parcel_rows(listing.out);
    ASSERT_EQ(rows.size(), oracle.kept.size());
    for (const auto& row : rows) {
        char id[16];
        std::snprintf(id, sizeof id, "H%09d", std::atoi(row[1].c_str()));
        EXPECT_EQ(row[3], last_sheet[id]) << id;
    }
}

// Ids that all fall into one bucket of an identity hash resolve as consecutive ones do. (How long
// they take is measured by bench/run_benchmarks.sh, not here.)
TEST(CliScale, CollidingParcelIdsListLikeConsecutiveOnes) {
    ProgramDir program;
    genmap::GenMapOptions options;
    options.parcels = 3000;
    options.extra_sheet_refs = 5000;
    generate(program, "plain.xml", options);
    options.colliding_ids = true;
    genmap::GenMapSummary summary;
    ASSERT_EQ(genmap::generate_map_file(program.file("colliding.xml"), options, summary), genmap::kGenOk);
    ASSERT_GT(summary.parcel_id_step, 1000u);

    const RunResult plain = program.run({"plain.xml"});
    const RunResult colliding = program.run({"colliding.xml"});
    ASSERT_EQ(plain.exit_code, 0);
    ASSERT_EQ(colliding.exit_code, 0);
    const auto plain_lines = lines_of(plain.out), colliding_lines = lines_of(colliding.out);
    ASSERT_EQ(plain_lines.size(), colliding_lines.size());
    for (std::size_t k = 2; k < plain_lines.size(); ++k) {
        // The running number and the id take five columns each; the larger ids push the rest right.
        const std::string& line = plain_lines[k];
        char id[24];
        std::snprintf(id, sizeof id, "%5llu", std::stoull(line.substr(5, 5)) * summary.parcel_id_step);
        EXPECT_EQ(colliding_lines[k], line.substr(0, 5) + id + line.substr(10)) << k;
    }
}

}  // namespace
}  // namespace chizuvec::test
