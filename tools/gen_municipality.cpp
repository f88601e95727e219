// chizuvec_genmuni: writes a municipality archive as the open data ships it, for tests and
// benchmarks: an outer zip of one inner zip per map file (NAME-K.zip holding NAME-K.xml) and a
// Shift_JIS search list (NAME-search-list.csv: inner zip, output date and time, 地番区域, 地番).
//   chizuvec_genmuni --files N [--min-parcels A] [--max-parcels B] [--seed S] [--no-search-list]
//                    [--code CODE] [--arbitrary-every K] [--unpacked DIR] -o OUT.zip
// Map file k has a size drawn between A and B parcels from the seed, the 市区町村コード CODE (12103
// unless given), and every K-th map is in 任意座標系. With --unpacked the inner zips
// are also left in DIR, as a user who unpacked the archive by hand would have them.
#include <zip.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "gen_map_core.hpp"
#include "platform/platform.hpp"

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: chizuvec_genmuni --files N [--min-parcels A] [--max-parcels B] [--seed S] [--no-search-list]\n"
    "                        [--code CODE] [--arbitrary-every K] [--unpacked DIR] -o OUT.zip\n";

template <typename T>
bool parse_whole(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// The text between <tag> and </tag> on a line of the generated map, or empty.
std::string_view element_text(std::string_view line, std::string_view open, std::string_view close) {
    const std::size_t start = line.find(open);
    if (start == std::string_view::npos) return {};
    const std::size_t end = line.find(close, start + open.size());
    return end == std::string_view::npos ? std::string_view()
                                         : line.substr(start + open.size(), end - start - open.size());
}

// Search list rows (UTF-8) of one generated map: one per parcel, from its 大字名 and 地番 lines.
void append_search_rows(const std::string& xml_path, const std::string& inner_zip, std::string& rows) {
    std::ifstream in(xml_path, std::ios::binary);
    std::string line;
    std::string address;
    while (std::getline(in, line)) {
        const std::string_view a = element_text(line, "<大字名>", "</大字名>");
        if (!a.empty()) address = a;
        const std::string_view lot = element_text(line, "<地番>", "</地番>");
        if (!lot.empty()) rows += inner_zip + ",2024/01/15 09:00:00," + address + "," + std::string(lot) + "\r\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace chizuvec;
    std::uint32_t files = 0, min_parcels = 200, max_parcels = 2000;
    std::uint64_t seed = 1;
    std::uint32_t arbitrary_every = 0;
    bool search_list = true;
    std::string out_path, unpacked, code = "12103";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        bool ok = true;
        if (arg == "--files" && has_value)
            ok = parse_whole(argv[++i], files);
        else if (arg == "--min-parcels" && has_value)
            ok = parse_whole(argv[++i], min_parcels);
        else if (arg == "--max-parcels" && has_value)
            ok = parse_whole(argv[++i], max_parcels);
        else if (arg == "--seed" && has_value)
            ok = parse_whole(argv[++i], seed);
        else if (arg == "--code" && has_value)
            code = argv[++i];
        else if (arg == "--arbitrary-every" && has_value)
            ok = parse_whole(argv[++i], arbitrary_every);
        else if (arg == "--no-search-list")
            search_list = false;
        else if (arg == "--unpacked" && has_value)
            unpacked = argv[++i];
        else if ((arg == "-o" || arg == "--output") && has_value)
            out_path = argv[++i];
        else
            ok = false;
        if (!ok) {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    const bool code_ok = code.size() == 5 && code.find_first_not_of("0123456789") == std::string::npos;
    if (files == 0 || out_path.empty() || min_parcels > max_parcels || max_parcels > 1000000 || !code_ok) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const fs::path out(out_path);
    const std::string stem = out.stem().string();
    // The inner zips are added from files, which libzip reads when the archive is closed.
    const fs::path work = unpacked.empty() ? fs::path(out_path + ".parts") : fs::path(unpacked);
    std::error_code ec;
    fs::create_directories(work, ec);

    int error = 0;
    zip_t* archive = zip_open(out_path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        std::fprintf(stderr, "chizuvec_genmuni: cannot create %s\n", out_path.c_str());
        return 1;
    }
    std::mt19937_64 random(seed);
    std::uniform_int_distribution<std::uint32_t> sizes(min_parcels, max_parcels);
    std::string rows = "ファイル名,出力日時,地番区域,地番\r\n";
    std::uint64_t total_parcels = 0, total_xml_bytes = 0;
    for (std::uint32_t k = 1; k <= files; ++k) {
        const std::string name = stem + "-" + std::to_string(k);
        const std::string zip_path = (work / (name + ".zip")).string();
        const std::string xml_path = (work / (name + ".xml")).string();
        genmap::GenMapOptions options;
        options.parcels = sizes(random);
        options.seed = seed * 100003 + k;
        options.municipality_code = code;
        options.arbitrary = arbitrary_every != 0 && k % arbitrary_every == 0;
        genmap::GenMapSummary summary;
        if (genmap::generate_map_file(xml_path, options, summary) != genmap::kGenOk ||
            genmap::generate_map_zip(zip_path, options, summary) != genmap::kGenOk) {
            std::fprintf(stderr, "chizuvec_genmuni: cannot write %s\n", zip_path.c_str());
            zip_discard(archive);
            return 1;
        }
        if (search_list) append_search_rows(xml_path, name + ".zip", rows);
        total_parcels += options.parcels;
        total_xml_bytes += static_cast<std::uint64_t>(fs::file_size(xml_path));
        fs::remove(xml_path);
        zip_source_t* source = zip_source_file(archive, zip_path.c_str(), 0, -1);
        const zip_int64_t index = source != nullptr ? zip_file_add(archive, (name + ".zip").c_str(), source, 0) : -1;
        if (index < 0) {
            zip_source_free(source);
            zip_discard(archive);
            std::fprintf(stderr, "chizuvec_genmuni: cannot add %s\n", zip_path.c_str());
            return 1;
        }
        // Inner zips are compressed already; the published archives store them.
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    std::string list_bytes;
    if (search_list) {
        list_bytes = platform::convert_code_page(rows, platform::kCodePageUtf8, platform::kCodePageShiftJis);
        zip_source_t* source = zip_source_buffer(archive, list_bytes.data(), list_bytes.size(), 0);
        if (source == nullptr || zip_file_add(archive, (stem + "-search-list.csv").c_str(), source, 0) < 0) {
            zip_source_free(source);
            zip_discard(archive);
            std::fprintf(stderr, "chizuvec_genmuni: cannot add the search list\n");
            return 1;
        }
    }
    const bool closed = zip_close(archive) == 0;
    if (unpacked.empty()) fs::remove_all(work, ec);
    if (!closed) {
        std::fprintf(stderr, "chizuvec_genmuni: cannot write %s\n", out_path.c_str());
        return 1;
    }
    std::printf("file=%s\nmap_files=%u\nparcels=%llu\nxml_bytes=%llu\n", out_path.c_str(), files,
                static_cast<unsigned long long>(total_parcels), static_cast<unsigned long long>(total_xml_bytes));
    return 0;
}
