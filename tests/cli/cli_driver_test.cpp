// The run as a user meets it: arguments, the settings file, input names, messages, streams and
// exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>

#include "cli_support.hpp"
#include "platform/platform.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

const std::string kUsage =
    "Not enough input parameters\nUsage:\nChizuvec.exe Input_filename.xml Output_filename.svg ['all' or "
    "Map_number [Highlighted_lot_number-1 [Highlighted_lot_number-2 [....]]]]\n\n";

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n') + 1); }

TEST(CliDriver, NoArgumentsGivesUsageEvenWithoutSettings) {
    for (const char* ini : {static_cast<const char*>(nullptr), "svg_dpi=96\n"}) {
        ProgramDir program(ini);
        const RunResult r = program.run({});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, kUsage);
        EXPECT_EQ(r.out, "");
    }
}

TEST(CliDriver, HelpAndVersionGoToStandardOutput) {
    ProgramDir program(nullptr);
    for (const char* flag : {"--help", "-h"}) {
        const RunResult r = program.run({flag});
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_NE(r.out.find("Chizuvec.exe Input_filename.xml Output_filename.svg"), std::string::npos);
        EXPECT_EQ(r.err, "");
    }
    const RunResult v = program.run({"--version"});
    EXPECT_EQ(v.exit_code, 0);
    EXPECT_TRUE(std::regex_match(v.out, std::regex("Chizuvec [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << v.out;
}

TEST(CliDriver, MissingSettingsFileNamesItsFullPath) {
    ProgramDir program(nullptr);
    program.write("map.xml", read_file(sample_map_path()));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"map.xml"}, {"map.xml", "out.svg"}}) {
        const RunResult r = program.run(args);
        EXPECT_EQ(r.exit_code, 1);
        const std::string dir = std::filesystem::canonical(program.dir.path).string();
        EXPECT_EQ(r.err, "Configuration file \"" + dir + platform::path_separator() + "Chizuvec.ini\" not found\n");
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(program.file("out.svg")));
}

TEST(CliDriver, MissingInputIsReportedOnStandardError) {
    ProgramDir program;
    struct Case {
        std::string name, looked_for;
    };
    for (const Case& c :
         {Case{"nothing.xml", "\"nothing.xml\""}, Case{"nothing", "\"nothing\", \"nothing.xml\" and \"nothing.zip\""},
          Case{"nothing.zip", "\"nothing.zip\""}, Case{"nothing.txt", "\"nothing.txt\""}}) {
        const RunResult r = program.run({c.name});
        EXPECT_EQ(r.exit_code, 1) << c.name;
        EXPECT_EQ(r.err, "** Error: Input file not found\nlooked for " + c.looked_for + "\n") << c.name;
        EXPECT_EQ(r.out, "") << c.name;
    }
}

TEST(CliDriver, InputDirectoryIsNotReadable) {
    ProgramDir program;
    std::filesystem::create_directory(program.file("folder.xml"));
    const RunResult r = program.run({"folder.xml"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "** Error: Input file not found\n");
}

TEST(CliDriver, StatisticsLineShowsTheResolvedInputName) {
    ProgramDir program;
    const std::string map = read_file(sample_map_path());
    program.write("map.xml", map);
    program.write("other.XML", map);
    program.write("plain.txt", map);

    struct Case {
        std::string arg, shown;
    };
    for (const Case& c : {Case{"map", "map.xml"}, Case{"map.xml", "map.xml"}, Case{"other.XML", "other.XML"},
                          Case{"plain.txt", "plain.txt"}}) {
        const RunResult r = program.run({c.arg});
        EXPECT_EQ(r.exit_code, 0) << c.arg << r.err;
        EXPECT_EQ(first_line(r.err), c.shown + kSampleCounts) << c.arg;
    }
    // Without the .xml the name tried is the .zip, unless "other.XML" answers to "other.xml".
    if (file_names_ignore_case()) return;
    const RunResult r = program.run({"other"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.err.starts_with("** Error: Input file not found\n")) << r.err;
}

TEST(CliDriver, TextFilesThatAreNoMapAreRefusedAndAnEmptyMapReads) {
    ProgramDir program;
    program.write("notes.txt", "hello\r\nworld\r\n");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"notes.txt"}, {"notes.txt", "out.svg"}}) {
        const RunResult r = program.run(args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, "** Error: \"notes.txt\" is not a map XML file\n");
        EXPECT_EQ(r.out, "");
    }
    // A map file without any parcel is still a map file.
    program.write("empty.xml", "<?xml version=\"1.0\"?>\r\n<地図 xmlns=\"x\">\r\n</地図>\r\n");
    const RunResult listing = program.run({"empty.xml"});
    EXPECT_EQ(listing.exit_code, 0);
    EXPECT_EQ(first_line(listing.err), "empty.xml: P=0(max=0) C=0(0) C-F=0 F=0(0) H=0(0)\n");

    const RunResult drawing = program.run({"empty.xml", "out.svg"});
    EXPECT_EQ(drawing.exit_code, 0);
    EXPECT_EQ(drawing.err, "empty.xml: P=0(max=0) C=0(0) C-F=0 F=0(0) H=0(0)\n**Warning: No polygons to draw\n");
    EXPECT_EQ(drawing.out, "");
    EXPECT_FALSE(std::filesystem::exists(program.file("out.svg")));
}

TEST(CliDriver, MapNumberThatSelectsNothingDrawsNothing) {
    ProgramDir program;
    program.write("map.xml", read_file(sample_map_path()));
    for (const std::string map_no : {"Z99", "A0", "00", "A01-with-a-very-long-name"}) {
        const RunResult r = program.run({"map.xml", "out.svg", map_no});
        EXPECT_EQ(r.exit_code, 1) << map_no;
        EXPECT_EQ(r.err, "map.xml" + kSampleCounts + kSampleLeftOut + "** Error: no map sheet \"" + map_no +
                             "\" in map.xml: nothing was written\nNearest map sheets: A01, A02, B01\n"
                             "Map sheets in map.xml: A01, A02, B01\n")
            << map_no;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(std::filesystem::exists(program.file("out.svg")));
    }
}

TEST(CliDriver, AllZeroAndEmptyMapNumbersDrawEveryParcel) {
    ProgramDir program;
    program.write("map.xml", read_file(sample_map_path()));
    std::string reference;
    for (const char* map_no : {"", "all", "ALL", "All", "0"}) {
        const std::vector<std::string> args = *map_no == '\0' ? std::vector<std::string>{"map.xml", "out"}
                                                              : std::vector<std::string>{"map.xml", "out", map_no};
        const RunResult r = program.run(args);
        ASSERT_EQ(r.exit_code, 0) << map_no << r.err;
        const std::string svg = read_file(program.file("out.svg"));
        EXPECT_EQ(std::count(svg.begin(), svg.end(), '\n') > 0, true);
        if (reference.empty()) reference = svg;
        EXPECT_EQ(svg, reference) << "map number " << map_no;
    }
}

TEST(CliDriver, SuccessLineReportsTheFileOnStandardOutput) {
    ProgramDir program;
    program.write("map.xml", read_file(sample_map_path()));
    const RunResult r = program.run({"map.xml", "drawing"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "map.xml" + kSampleCounts + kSampleLeftOut);
    const auto size = std::filesystem::file_size(program.file("drawing.svg"));
    EXPECT_TRUE(std::regex_match(r.out, std::regex("Output file \"drawing\\.svg\" created successfully\\. \\(" +
                                                   std::to_string(size) + " bytes\\) \\([0-9]+\\.[0-9]{6}s\\)\n")))
        << r.out;
}

TEST(CliDriver, InvalidLayoutSettingsAreRefusedBeforeReading) {
    struct Case {
        std::string setting, key;
    };
    for (const Case& c : {Case{"svg_dpi=0", "svg_dpi"}, Case{"svg_viewbox_length=0", "svg_viewbox_length"},
                          Case{"svg_viewbox_marginy=1000", "svg_viewbox_marginy"}}) {
        ProgramDir program(default_ini() + c.setting + "\n");
        program.write("map.xml", read_file(sample_map_path()));
        const std::string dir = std::filesystem::canonical(program.dir.path).string();
        const RunResult r = program.run({"missing.xml", "out.svg"});
        EXPECT_EQ(r.exit_code, 1) << c.setting;
        EXPECT_EQ(r.err, "** Error: Invalid setting " + c.key + " in \"" + dir + platform::path_separator() +
                             "Chizuvec.ini\"\n");
        // The listing draws nothing and so does not need them.
        const RunResult listing = program.run({"map.xml"});
        EXPECT_EQ(listing.exit_code, 0) << c.setting;
    }
}

TEST(CliDriver, UnsupportedAndUnwritableOutputsFail) {
    ProgramDir program;
    program.write("map.xml", read_file(sample_map_path()));
    const RunResult png = program.run({"map.xml", "out.png"});
    EXPECT_EQ(png.exit_code, 1);
    EXPECT_EQ(png.err,
              "map.xml" + kSampleCounts + kSampleLeftOut +
                  "** Error: Unsupported output file type \"out.png\"\nuse .svg, .htm (.html), .pdf, .dxf or .sim\n");
    EXPECT_EQ(png.out, "");
    EXPECT_FALSE(std::filesystem::exists(program.file("out.png")));

    const RunResult folder = program.run({"map.xml", "no/such/folder/out.svg"});
    EXPECT_EQ(folder.exit_code, 1);
    EXPECT_EQ(folder.err, "map.xml" + kSampleCounts + kSampleLeftOut +
                              "** Error: Cannot write output file \"no/such/folder/out.svg\"\nthe folder "
                              "\"no/such/folder\" does not exist\n");
    EXPECT_EQ(folder.out, "");
}

// An output names a file: a folder is refused as typed, never written as "d/.svg" or "d.svg";
// "-" and a device get the drawing as it is written to a file, and the success line goes to
// standard error, so that standard output holds nothing but the drawing.
TEST(CliDriver, OutputIsAFileStandardOutputOrAPipe) {
    ProgramDir program;
    program.write("map.xml", read_file(sample_map_path()));
    std::filesystem::create_directory(program.file("d"));
    for (const char* folder : {"d/", "d", "e/"}) {
        SCOPED_TRACE(folder);
        const RunResult r = program.run({"map.xml", folder});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, std::string("** Error: \"") + folder + "\" is a folder; name a file\n");
    }
    EXPECT_TRUE(std::filesystem::is_empty(program.file("d")));
    EXPECT_FALSE(std::filesystem::exists(program.file("d.svg")));
    EXPECT_FALSE(std::filesystem::exists(program.file("e")));

    ASSERT_EQ(program.run({"map.xml", "file.svg"}).exit_code, 0);
    const std::string drawn = read_file(program.file("file.svg"));
    const RunResult piped = program.run({"map.xml", "-"});
    EXPECT_EQ(piped.exit_code, 0) << piped.err;
    // (On Windows the harness reads standard output as console text, its line ends changed.)
    if (missing(Need::kHostTools).empty()) {
        EXPECT_EQ(piped.out, drawn);
    }
    EXPECT_NE(piped.err.find("Output file \"-\" created successfully."), std::string::npos) << piped.err;

    if (!missing(Need::kEndlessInputs).empty()) GTEST_SKIP() << missing(Need::kEndlessInputs);
    // A device, named as it is: no "/dev/null.svg" beside it.
    const RunResult device = program.run({"map.xml", "/dev/null"});
    EXPECT_EQ(device.exit_code, 0) << device.err;
    EXPECT_EQ(device.out, "");
    EXPECT_NE(device.err.find("Output file \"/dev/null\" created successfully."), std::string::npos) << device.err;
    EXPECT_FALSE(std::filesystem::exists("/dev/null.svg"));
}

// The parcels left out of a drawing as outside the district are named by their 地番, the first 10
// of them, then how many more.
TEST(CliDriver, LeftOutParcelsAreNamed) {
    ProgramDir program;
    std::string xml = read_file(sample_map_path());
    std::string more;
    std::string names;
    for (int i = 2; i <= 12; ++i) {
        const std::string lot = "地区外-" + std::to_string(i);
        more += "<筆 id=\"H" + std::to_string(100 + i) + "\">\n<地番>" + lot + "</地番>\n</筆>\n";
        if (i <= 10) names += ", " + lot;
    }
    xml.insert(xml.find("\t</主題属性>"), more);
    program.write("many.xml", xml);
    const RunResult r = program.run({"many.xml", "out.svg"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("\n12 parcels are left out of the drawing: outside the district (地区外-1" + names +
                         ", and 2 more)\n"),
              std::string::npos)
        << r.err;
}

// Counts of a real map file made independently of the reader: the start tags of each kind, the
// largest id numbers, and the parcels outside the district, which are not kept.
std::string expected_statistics(const std::string& text) {
    auto count = [&](const std::string& tag) {
        std::size_t n = 0;
        for (auto pos = text.find(tag); pos != std::string::npos; pos = text.find(tag, pos + 1)) ++n;
        return n;
    };
    auto max_id = [&](const std::string& prefix) {
        unsigned long best = 0;
        std::regex re(prefix + "\"[A-Z]*([0-9]+)\"");
        for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) {
            best = std::max(best, std::stoul((*it)[1]));
        }
        return best;
    };
    const std::size_t parcels = count("<筆 id=\"") - count("<地番>地区外");
    return "P=" + std::to_string(count("<zmn:GM_Point id=\"")) + "(max=" + std::to_string(max_id("<zmn:GM_Point id=")) +
           ") C=" + std::to_string(count("<zmn:GM_Curve id=\"")) + "(" + std::to_string(max_id("<zmn:GM_Curve id=")) +
           ") C-F=" + std::to_string(count("<zmn:GM_CompositeCurve.generator idref=\"")) +
           " F=" + std::to_string(count("<zmn:GM_Surface id=\"")) + "(" +
           std::to_string(max_id("<zmn:GM_Surface id=")) + ") H=" + std::to_string(parcels) + "(" +
           std::to_string(max_id("<筆 id=")) + ")\n";
}

TEST(CliDriver, StatisticsOfTheRealMapFiles) {
    for (const char* name : {"12103-0400-76.xml", "46505-3411-1.xml"}) {
        const std::string path = shared_data(name);
        if (path.empty()) GTEST_SKIP() << "no shared map data";
        ProgramDir program;
        const RunResult r = program.run({path});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(first_line(r.err), path + ": " + expected_statistics(read_file(path)));
    }
}

}  // namespace
}  // namespace chizuvec::test
