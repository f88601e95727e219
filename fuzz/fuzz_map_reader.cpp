// The map reader on any bytes as a map file: result 0, and a dataset whose counts, maxima, ring runs
// and texts hold together.
#include <cstdlib>
#include <cstring>

#include "fuzz_support.hpp"
#include "mapxml/map_xml_reader.hpp"

namespace {

template <std::size_t N>
void check_terminated(const char (&field)[N]) {
    if (std::memchr(field, '\0', N) == nullptr) std::abort();
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace chizuvec;
    const std::string path = fuzz::write_scratch_file("map.xml", data, size);
    MapDataset dataset;
    MapHeader header;
    const ReadStatus status = read_map_xml(path, dataset, header).status;
    // Bytes that are no map file at all are refused as such, or as the archive their first bytes
    // make them; nothing else fails.
    if (status != ReadStatus::ok) {
        check(status == ReadStatus::not_map_xml || status == ReadStatus::zip_failed ||
              status == ReadStatus::not_found || status == ReadStatus::no_map_file);
        check(fuzz::folder_listing(fuzz::scratch_dir()) == "map.xml");
        return 0;
    }
    check_terminated(header.map_name);
    check_terminated(header.municipality_name);
    check_terminated(header.coord_system);
    for (const MapPoint& p : dataset.points) check(p.id_no <= dataset.max_point_no);
    for (const MapCurve& c : dataset.curves) check(c.id_no <= dataset.max_curve_no);
    for (const MapSurface& s : dataset.surfaces) {
        check(s.id_no <= dataset.max_surface_no);
        // Its rings lie within the ring list, each within the ring references and no longer than
        // the longest ring.
        check(std::uint64_t{s.first_ring} + s.ring_count <= dataset.rings.size());
        for (std::uint32_t r = s.first_ring; r < s.first_ring + s.ring_count && r < dataset.rings.size(); ++r) {
            const RingRun& ring = dataset.rings[r];
            check(std::uint64_t{ring.first_ref} + ring.count <= dataset.ring_curve_count());
            check(ring.count <= dataset.max_ring_curves);
        }
    }
    for (const Parcel& p : dataset.parcels) {
        check(p.id_no != 0 && p.id_no <= dataset.max_parcel_no);
        check_terminated(p.address);
        check_terminated(p.chiban);
        check_terminated(p.map_no);
    }
    // With the GIS detail: one detail per parcel, each naming a sheet that was read or none, and a
    // sheet date in one of ISO 8601's three lengths.
    MapDataset detailed;
    MapHeader detailed_header;
    ReadOptions options;
    options.gis_detail = true;
    check(read_map_xml(path, detailed, detailed_header, options).status == ReadStatus::ok);
    check(detailed.gis.parcels.size() == detailed.parcel_count());
    for (const ParcelDetail& p : detailed.gis.parcels) {
        check(p.first_sheet == kNoSheet || p.first_sheet < detailed.gis.sheets.size());
    }
    for (const SheetDetail& sheet : detailed.gis.sheets) {
        const std::size_t length = sheet.text(SheetText::made_on).size();
        check(!sheet.has(SheetText::made_on) || length == 4 || length == 7 || length == 10);
    }
    // Nothing but the map file itself lies in the folder.
    check(fuzz::folder_listing(fuzz::scratch_dir()) == "map.xml");
    return 0;
}
