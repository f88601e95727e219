#include "common/ascii.hpp"
#include "gis/feature_writer.hpp"

namespace chizuvec {

bool gis_format_for(std::string_view path, GisFormat& format) {
    struct Row {
        std::string_view extension;
        GisFormat format;
    };
    static constexpr Row kRows[] = {
        {".geojson", GisFormat::geojson}, {".json", GisFormat::geojson},       {".gpkg", GisFormat::geopackage},
        {".fgb", GisFormat::flatgeobuf},  {".parquet", GisFormat::geoparquet},
    };
    for (const Row& row : kRows) {
        if (path.size() >= row.extension.size() &&
            equals_ignoring_ascii_case(path.substr(path.size() - row.extension.size()), row.extension)) {
            format = row.format;
            return true;
        }
    }
    return false;
}

}  // namespace chizuvec
