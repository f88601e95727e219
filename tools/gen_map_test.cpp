// The generator's output must read back through the program's own reader and assemble without a
// message: otherwise the benchmarks would time error paths instead of the real work.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/fixed_text.hpp"
#include "driver/assembly_report.hpp"
#include "gen_map_core.hpp"
#include "geometry/polygon_assembly.hpp"
#include "mapxml/map_xml_reader.hpp"

namespace {

namespace fs = std::filesystem;
using namespace chizuvec;
using namespace chizuvec::genmap;

struct TempDir {
    fs::path path;
    TempDir() {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path = fs::temp_directory_path() / ("chizuvec_genmap_test_" + std::to_string(stamp));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::size_t count_of(const std::string& text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
    return count;
}

std::string generate(const TempDir& dir, std::uint32_t parcels, std::uint64_t seed, GenMapSummary& summary) {
    const std::string path = dir.file("map-" + std::to_string(parcels) + "-" + std::to_string(seed) + ".xml");
    GenMapOptions options;
    options.parcels = parcels;
    options.seed = seed;
    EXPECT_EQ(generate_map_file(path, options, summary), kGenOk);
    return path;
}

// Reads a generated map and assembles every parcel; the assembly's messages come back in `messages`.
std::uint32_t read_and_assemble(const std::string& path, MapDataset& dataset, std::string_view map_no,
                                std::string& messages) {
    MapHeader header;
    EXPECT_EQ(read_map_xml(path, dataset, header).status, ReadStatus::ok);
    EXPECT_STREQ(header.coord_system, "公共座標9系");
    BoundingBox bounds;
    const AssemblyResult result = assemble_outlines(dataset, map_no, bounds);
    messages += assembly_messages_text(result);
    return result.entry_count;
}

TEST(GenMap, ReadsBackWithTheCountsItReportsAndAssemblesSilently) {
    TempDir dir;
    // Empty, one partial block, exactly one block, one more, several map sheets with a partial one.
    for (const std::uint32_t parcels : {0u, 1u, 49u, 50u, 51u, 1234u}) {
        SCOPED_TRACE(parcels);
        GenMapSummary summary;
        const std::string path = generate(dir, parcels, 3, summary);
        MapDataset dataset;
        std::string messages;
        const std::uint32_t entries = read_and_assemble(path, dataset, "", messages);

        EXPECT_EQ(summary.parcels, parcels);
        EXPECT_EQ(dataset.point_count(), summary.points);
        EXPECT_EQ(dataset.max_point_no, summary.points);  // numbered 1..n without gaps
        EXPECT_EQ(dataset.curve_count(), summary.curves);
        EXPECT_EQ(dataset.surface_count(), parcels);
        EXPECT_EQ(dataset.ring_curve_count(), summary.ring_curves);
        EXPECT_EQ(dataset.parcel_count(), parcels - summary.outside_parcels);
        EXPECT_EQ(dataset.max_parcel_no, parcels);
        EXPECT_EQ(messages, "");

        std::uint32_t kept_curves = 0;
        for (const Parcel& parcel : dataset.parcels) {
            const MapSurface& surface = dataset.surfaces[parcel.shape_no - 1];
            ASSERT_EQ(surface.id_no, parcel.shape_no);
            ASSERT_EQ(surface.ring_count, 1u);
            const std::uint32_t curves = dataset.rings[surface.first_ring].count;
            EXPECT_GE(curves, 4u);
            EXPECT_LE(curves, 8u);
            kept_curves += curves;
            EXPECT_NE(field_view(parcel.map_no), "") << parcel.id_no;
            EXPECT_NE(field_view(parcel.chiban), "") << parcel.id_no;
        }
        EXPECT_EQ(entries, kept_curves);
        if (!dataset.parcels.empty()) {
            EXPECT_EQ(summary.first_map_no, std::string(dataset.parcels.front().map_no));
        }
        // Every parcel is listed by exactly one of the sheets the summary announces.
        const std::string xml = read_file(path);
        EXPECT_EQ(count_of(xml, "<図郭>"), summary.map_sheets);
        EXPECT_EQ(count_of(xml, "<筆参照 idref=\"H"), parcels);
    }
}

TEST(GenMap, SheetSelectionMatchesTheSheetsParcelList) {
    TempDir dir;
    GenMapSummary summary;
    const std::string path = generate(dir, 1000, 5, summary);
    const std::string xml = read_file(path);
    const std::size_t sheet = xml.find("<地図番号>" + summary.first_map_no + "</地図番号>");
    ASSERT_NE(sheet, std::string::npos);
    const std::size_t sheet_end = xml.find("</図郭>", sheet);

    // The sheet's parcels that are drawn: those it lists, less the ones outside the district.
    constexpr std::string_view kRef = "<筆参照 idref=\"H";
    constexpr std::string_view kChibanOpen = "<地番>";
    std::size_t listed = 0;
    std::size_t inside = 0;
    for (std::size_t at = xml.find(kRef, sheet); at < sheet_end; at = xml.find(kRef, at + 1)) {
        ++listed;
        const std::string id = xml.substr(at + kRef.size(), 9);
        const std::size_t parcel = xml.find("<筆 id=\"H" + id + "\">");
        ASSERT_NE(parcel, std::string::npos) << id;
        inside += xml.compare(xml.find(kChibanOpen, parcel) + kChibanOpen.size(), 9, "地区外") == 0 ? 0 : 1;
    }
    EXPECT_EQ(listed, 200u);  // 2 x 2 blocks of 50

    MapDataset dataset;
    std::string messages;
    read_and_assemble(path, dataset, summary.first_map_no, messages);
    EXPECT_EQ(messages, "");
    std::size_t selected = 0;
    for (const Parcel& parcel : dataset.parcels) selected += parcel.has_outline ? 1 : 0;
    EXPECT_EQ(selected, inside);
}

TEST(GenMap, SameSeedSameBytesInTheRealLineLayout) {
    TempDir dir;
    GenMapSummary first;
    GenMapSummary second;
    GenMapSummary other;
    const std::string a = read_file(generate(dir, 300, 9, first));
    GenMapOptions options;
    options.parcels = 300;
    options.seed = 9;
    ASSERT_EQ(generate_map_file(dir.file("again.xml"), options, second), kGenOk);
    EXPECT_EQ(a, read_file(dir.file("again.xml")));
    EXPECT_NE(a, read_file(generate(dir, 300, 10, other)));

    // CR LF after every line, tab indentation, one element per line, far from the reader's 1023 bytes.
    std::size_t begin = 0;
    std::size_t lines = 0;
    while (begin < a.size()) {
        const std::size_t lf = a.find('\n', begin);
        ASSERT_NE(lf, std::string::npos) << "last line without a line end";
        ASSERT_GT(lf, begin);
        ASSERT_EQ(a[lf - 1], '\r') << "line " << lines + 1;
        const std::string_view line(a.data() + begin, lf - 1 - begin);
        EXPECT_LT(line.size(), 1023u);
        const std::size_t tag = line.find_first_not_of('\t');
        ASSERT_NE(tag, std::string_view::npos);
        EXPECT_EQ(line[tag], '<') << line;
        EXPECT_EQ(line.find('\r'), std::string_view::npos);
        begin = lf + 1;
        ++lines;
    }
    EXPECT_GT(lines, 300u * 20u);
}

TEST(GenMap, ZipHoldsTheSameMapUnderTheArchivesBaseName) {
    TempDir dir;
    GenMapOptions options;
    options.parcels = 120;
    GenMapSummary plain_summary;
    GenMapSummary zip_summary;
    ASSERT_EQ(generate_map_file(dir.file("plain.xml"), options, plain_summary), kGenOk);
    ASSERT_EQ(generate_map_zip(dir.file("town.zip"), options, zip_summary), kGenOk);
    EXPECT_EQ(zip_entry_name(dir.file("town.zip")), "town.xml");
    EXPECT_EQ(zip_entry_name("a.b/c"), "c.xml");

    MapDataset plain;
    MapDataset zipped;
    MapHeader header;
    ASSERT_EQ(read_map_xml(dir.file("plain.xml"), plain, header).status, ReadStatus::ok);
    MapHeader zip_header;
    ASSERT_EQ(read_map_xml(dir.file("town.zip"), zipped, zip_header).status, ReadStatus::ok);
    EXPECT_EQ(zipped.point_count(), plain.point_count());
    EXPECT_EQ(zipped.ring_curve_count(), plain.ring_curve_count());
    EXPECT_EQ(zipped.parcel_count(), plain.parcel_count());
    // Only the two maps are left: no temporary file of the generator or the reader.
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir.path)) files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 2u);
}

TEST(GenMap, AboutOnePercentOfParcelsLieOutsideTheDistrict) {
    TempDir dir;
    GenMapSummary summary;
    const std::string xml = read_file(generate(dir, 5000, 1, summary));
    EXPECT_EQ(count_of(xml, "<地番>地区外-"), summary.outside_parcels);
    EXPECT_GT(summary.outside_parcels, 25u);
    EXPECT_LT(summary.outside_parcels, 80u);
}

TEST(GenMap, UnwritablePathFails) {
    GenMapOptions options;
    options.parcels = 10;
    GenMapSummary summary;
    EXPECT_EQ(generate_map_file("/nonexistent-dir/x.xml", options, summary), kGenWriteFailed);
    EXPECT_NE(generate_map_zip("/nonexistent-dir/x.zip", options, summary), kGenOk);
}

}  // namespace
