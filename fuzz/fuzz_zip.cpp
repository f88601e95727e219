// Any bytes as an archive X.zip, read by the map reader straight out of the archive, and as a
// municipality archive and a search list. Nothing may
// appear in the folder, the result must agree with what the entry stream itself reports, and a
// complete entry must read exactly as the same bytes read from a plain map file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "mapxml/map_inputs.hpp"
#include "mapxml/map_xml_reader.hpp"
#include "mapxml/search_list.hpp"
#include "mapxml/zip_input.hpp"

namespace {

// An entry that inflates beyond this is not compared with a plain read (the stream itself still is).
constexpr std::size_t kMaxCompared = std::size_t{64} << 20;

void check(bool condition) {
    if (!condition) std::abort();
}

bool same_dataset(const chizuvec::MapDataset& a, const chizuvec::MapDataset& b) {
    return a.point_count() == b.point_count() && a.curve_count() == b.curve_count() &&
           a.surface_count() == b.surface_count() && a.ring_curve_count() == b.ring_curve_count() &&
           a.parcel_count() == b.parcel_count() && a.max_point_no == b.max_point_no &&
           a.max_curve_no == b.max_curve_no && a.max_surface_no == b.max_surface_no &&
           a.max_parcel_no == b.max_parcel_no && a.ring_curves == b.ring_curves;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace chizuvec;
    const std::string archive = fuzz::write_scratch_file("X.zip", data, size);

    // What the entry stream alone gives.
    std::string entry_bytes;
    bool complete = false;
    ZipEntrySource entry;
    const ZipResult opened = entry.open(archive, "X.xml");
    ZipResult streamed = opened;
    if (opened.status == ZipStatus::ok) {
        static char buffer[1 << 16];
        for (;;) {
            const std::int64_t n = entry.read(buffer, sizeof buffer);
            if (n <= 0) break;
            if (entry_bytes.size() < kMaxCompared) entry_bytes.append(buffer, static_cast<std::size_t>(n));
        }
        streamed = entry.result();
        complete = streamed.status == ZipStatus::ok && entry_bytes.size() < kMaxCompared;
    }

    MapDataset dataset;
    MapHeader header;
    const ReadResult read = read_map_xml(archive, dataset, header);
    check(fuzz::folder_listing(fuzz::scratch_dir()) == "X.zip");
    switch (streamed.status) {
        case ZipStatus::no_entry:
            // Another map file may stand in for X.xml (an archive of one map file), or none.
            check(read.status != ReadStatus::zip_failed);
            break;
        case ZipStatus::failed:
            // No archive at all: bytes that begin like XML text are read as a map file.
            if (read.status != ReadStatus::zip_failed) {
                check(size > 0 && (data[0] == '<' || data[0] == 0xEF));
                break;
            }
            check(read.zip.code == streamed.code && read.zip.code != 0);
            check(dataset.point_count() == 0 && dataset.parcel_count() == 0);
            break;
        case ZipStatus::library_missing:
        case ZipStatus::too_large:
            std::abort();
        case ZipStatus::ok:
            check(read.status == ReadStatus::ok || read.status == ReadStatus::not_map_xml);
            break;
    }

    // The same bytes as a municipality archive (its inner map files read in place) and as a search list.
    const InputListing listing = list_map_files(archive);
    for (std::size_t i = 0; i < listing.files.size() && i < 4; ++i) {
        MapDataset inner;
        MapHeader inner_header;
        if (read_map_file(listing.files[i], inner, inner_header).status != ReadStatus::ok) {
            check(inner.point_count() == 0 && inner.parcel_count() == 0);
        }
    }
    check(fuzz::folder_listing(fuzz::scratch_dir()) == "X.zip");
    SearchList list;
    list.parse(std::string_view(reinterpret_cast<const char*>(data), size));
    check(list.rows() <= size && list.files_of("1").size() <= list.rows());

    // An entry that is itself an archive reads differently on its own: its bytes decide.
    if (!complete || read.status != ReadStatus::ok || entry_bytes.starts_with("PK")) return 0;

    const std::string plain = fuzz::write_scratch_file(
        "plain.xml", reinterpret_cast<const std::uint8_t*>(entry_bytes.data()), entry_bytes.size());
    MapDataset plain_dataset;
    MapHeader plain_header;
    check(read_map_xml(plain, plain_dataset, plain_header).status == ReadStatus::ok);
    std::remove(plain.c_str());
    check(same_dataset(dataset, plain_dataset));
    check(std::strcmp(header.map_name, plain_header.map_name) == 0);
    check(std::strcmp(header.coord_system, plain_header.coord_system) == 0);
    return 0;
}
