// chizuvec_genmap: writes a synthetic map file of any size for tests and benchmarks.
//   chizuvec_genmap --parcels N [--seed S] [--zip] [--colliding-ids] [--extra-sheet-refs R]
//                   [--one-parcel-sheets K [--colliding-sheet-names]] [--overlapping-sheets]
//                   [--shared-surface CURVES] -o OUT
// On success it prints what the file holds as key=value lines on standard output, so that scripts can
// pick a map number that exists.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "gen_map_core.hpp"

namespace {

constexpr const char* kUsage =
    "usage: chizuvec_genmap --parcels N [--seed S] [--zip] [--colliding-ids] [--extra-sheet-refs R]\n"
    "                       [--one-parcel-sheets K [--colliding-sheet-names]] [--overlapping-sheets]\n"
    "                       [--shared-surface CURVES] -o OUT\n";

// The whole argument must be a decimal number that fits the type.
template <typename T>
bool parse_whole(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace chizuvec::genmap;
    GenMapOptions options;
    bool have_parcels = false;
    bool zip = false;
    std::string out_path;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--parcels" && has_value) {
            have_parcels = parse_whole(argv[++i], options.parcels);
            if (!have_parcels) {
                std::fprintf(stderr, "chizuvec_genmap: --parcels needs a number up to 4294967295\n");
                return 2;
            }
        } else if (arg == "--seed" && has_value) {
            if (!parse_whole(argv[++i], options.seed)) {
                std::fprintf(stderr, "chizuvec_genmap: --seed needs an unsigned number\n");
                return 2;
            }
        } else if (arg == "--zip") {
            zip = true;
        } else if (arg == "--colliding-ids") {
            options.colliding_ids = true;
        } else if (arg == "--colliding-sheet-names") {
            options.colliding_sheet_names = true;
        } else if (arg == "--overlapping-sheets") {
            options.overlapping_sheets = true;
        } else if ((arg == "--extra-sheet-refs" || arg == "--shared-surface" || arg == "--one-parcel-sheets") &&
                   has_value) {
            std::uint32_t& value = arg == "--shared-surface"      ? options.shared_surface_curves
                                   : arg == "--one-parcel-sheets" ? options.one_parcel_sheets
                                                                  : options.extra_sheet_refs;
            if (!parse_whole(argv[++i], value)) {
                std::fprintf(stderr, "chizuvec_genmap: %s needs a number up to 4294967295\n", argv[i - 1]);
                return 2;
            }
        } else if ((arg == "-o" || arg == "--output") && has_value) {
            out_path = argv[++i];
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (!have_parcels || out_path.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // The ids have nine digits in the real files; beyond that the point numbers would overflow.
    if (options.parcels > 100000000u) {
        std::fprintf(stderr, "chizuvec_genmap: at most 100000000 parcels\n");
        return 2;
    }

    GenMapSummary summary;
    const int result =
        zip ? generate_map_zip(out_path, options, summary) : generate_map_file(out_path, options, summary);
    if (result != kGenOk) {
        std::fprintf(stderr, "chizuvec_genmap: cannot write %s%s\n", out_path.c_str(),
                     result == kGenZipFailed ? " (zip)" : "");
        return 1;
    }
    std::printf("file=%s\n", out_path.c_str());
    if (zip) std::printf("entry=%s\n", zip_entry_name(out_path).c_str());
    std::printf("parcels=%u\noutside_parcels=%u\npoints=%u\ncurves=%u\nsurfaces=%u\nring_curves=%u\nmap_sheets=%u\n",
                summary.parcels, summary.outside_parcels, summary.points, summary.curves, summary.surfaces,
                summary.ring_curves, summary.map_sheets);
    std::printf("first_map_no=%s\n", summary.first_map_no.c_str());
    std::printf("parcel_id_step=%u\n", summary.parcel_id_step);
    return 0;
}
