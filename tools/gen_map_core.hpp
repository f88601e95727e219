// Generator of synthetic map files of any size, in the line layout of the published map XML: tab
// indentation, one element per line, CR LF line ends. Parcels lie on a grid of blocks; the parcels of
// a block share their boundary points, each parcel's surface is one exterior ring of 4 to 8 curves
// that chain point to point, and map sheets of 2 x 2 blocks list the parcels. The same seed always
// gives the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace chizuvec::genmap {

inline constexpr int kGenOk = 0;
inline constexpr int kGenWriteFailed = 1;  // the output file could not be created or written
inline constexpr int kGenZipFailed = 2;    // the archive could not be created or written

struct GenMapOptions {
    std::uint32_t parcels = 0;  // 筆 elements to write, 地区外 ones included
    std::uint64_t seed = 1;
    // Parcel ids as multiples of the bucket count that a std::unordered_map of the kept parcels ends
    // with: one bucket for all of them under an identity hash.
    bool colliding_ids = false;
    // A last sheet of its own map number with this many more parcel references, cycling over the
    // parcels.
    std::uint32_t extra_sheet_refs = 0;
    // This many more sheets of one parcel each (cycling over the parcels), every one numbered apart;
    // with colliding_sheet_names their numbers differ only in characters that file names cannot hold
    // ("/" and ":"), so that the drawings per sheet all want one name.
    std::uint32_t one_parcel_sheets = 0;
    bool colliding_sheet_names = false;
    // Each sheet also lists the parcels of the first block of the next sheet, as sheets list the
    // parcels on their common edge.
    bool overlapping_sheets = false;
    // Instead of the grid: one surface, a ring of this many curves, that is the shape of every parcel.
    std::uint32_t shared_surface_curves = 0;
    // The head's 市区町村コード (five digits), and 任意座標系 instead of 公共座標9系.
    std::string municipality_code = "12103";
    bool arbitrary = false;
};

// What a generated file holds, known before the first byte is written.
struct GenMapSummary {
    std::uint32_t parcels = 0;
    std::uint32_t outside_parcels = 0;  // parcels whose 地番 begins with 地区外
    std::uint32_t points = 0;
    std::uint32_t curves = 0;  // direct-position curves included
    std::uint32_t surfaces = 0;
    std::uint32_t ring_curves = 0;  // curve references of all rings
    std::uint32_t map_sheets = 0;
    std::string first_map_no;          // 地図番号 of the first sheet, empty without parcels
    std::uint32_t parcel_id_step = 1;  // parcel k (from 0) has the id number (k + 1) * step
};

// Writes the whole map XML to `out` (opened in binary mode). Returns kGenOk or kGenWriteFailed.
int write_generated_map(std::FILE* out, const GenMapOptions& options, GenMapSummary& summary);

// Writes the map XML into the file `path`. Returns kGenOk or kGenWriteFailed.
int generate_map_file(const std::string& path, const GenMapOptions& options, GenMapSummary& summary);

// Writes a .zip archive holding the map XML, deflated, as the entry named after the archive (see
// zip_entry_name). The XML goes through a temporary file beside the archive, which is removed.
// Returns kGenOk, kGenWriteFailed or kGenZipFailed.
int generate_map_zip(const std::string& zip_path, const GenMapOptions& options, GenMapSummary& summary);

// The archive's file name with its extension replaced by ".xml": "dir/sample.zip" gives "sample.xml".
std::string zip_entry_name(const std::string& zip_path);

}  // namespace chizuvec::genmap
