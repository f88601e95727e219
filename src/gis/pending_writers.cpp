// Placeholder until the GeoPackage and FlatGeobuf writers are merged: each refuses to begin, with
// an error that says so, so that the command reports it instead of writing a file. Delete this file
// when gis/geopackage_writer.cpp and gis/flatgeobuf_writer.cpp arrive.
#include "gis/feature_writer.hpp"

namespace chizuvec {
namespace {

class PendingWriter final : public FeatureWriter {
  public:
    explicit PendingWriter(const char* format) : format_(format) {}
    bool begin(const GisSchema&) override { return false; }
    bool write(const GisFeature&) override { return false; }
    bool finish() override { return false; }
    std::string error() const override { return std::string(format_) + " output is not available in this build"; }

  private:
    const char* format_;
};

}  // namespace

std::unique_ptr<FeatureWriter> make_geopackage_writer(const std::string&) {
    return std::make_unique<PendingWriter>("GeoPackage");
}
std::unique_ptr<FeatureWriter> make_flatgeobuf_writer(const std::string&) {
    return std::make_unique<PendingWriter>("FlatGeobuf");
}

}  // namespace chizuvec
