// SIMA, the coordinate and parcel text file of Japanese survey software: a G00 header, one A00..A99
// block of A01 points (each point the parcels use, once), then one D00..D99 block of B01 references
// per ring. Shift_JIS (CP932), fields separated by commas, CR LF. X is the northing and Y the
// easting in metres, as in the map file.
#include <new>
#include <string>
#include <vector>

#include "cad/cad_source.hpp"
#include "common/fixed_text.hpp"
#include "render/svg_text.hpp"

namespace chizuvec {
namespace {

constexpr std::size_t kFlushAt = std::size_t{256} << 10;

class SimaOut {
  public:
    explicit SimaOut(std::FILE* file) : file_(file) { text_.reserve(kFlushAt + 4096); }
    std::string& text() { return text_; }
    void end_record() {
        text_ += "\r\n";
        if (text_.size() >= kFlushAt) flush();
    }
    bool flush() {
        if (!failed_ && !text_.empty()) failed_ = std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size();
        text_.clear();
        return !failed_;
    }

  private:
    std::FILE* file_;
    std::string text_;
    bool failed_ = false;
};

// The lot as the listing shows it: the address (大字名 and the rest), then the 地番.
std::string lot_text(const Parcel& parcel) {
    std::string text(field_view(parcel.address));
    text += field_view(parcel.chiban);
    return survey_text(text);
}

}  // namespace

PageStatus write_sima(std::FILE* file, const CadSource& source) {
    try {
        const MapDataset& dataset = *source.dataset;
        SimaOut out(file);
        out.text() += "G00,01,";
        out.text() += survey_text(title_text(source.input_path, source.map_no, *source.header));
        out.text() += ",";
        out.end_record();

        // A point's name: its 点番名 where the map names it, else its own id.
        const SurveyPoints survey = survey_points_of(dataset);
        const auto append_name = [&](std::string& t, std::uint32_t index) {
            const std::string_view name = survey.name(dataset, index);
            if (name.empty()) {
                t += std::to_string(dataset.points[index].id_no);
            } else {
                t += survey_text(name);
            }
        };
        // Points numbered from 1 in the order the rings first use them; 0: not used.
        std::vector<std::uint32_t> number(dataset.points.size(), 0);
        std::uint32_t next = 1;
        out.text() += "A00,";
        out.end_record();
        for_each_cad_parcel(source, [&](const Parcel& parcel) {
            for_each_parcel_ring(source, parcel, [&](std::span<const std::uint32_t> ring, bool) {
                for (const std::uint32_t index : ring) {
                    if (index >= dataset.points.size() || number[index] != 0) continue;
                    number[index] = next++;
                    const MapPoint& p = dataset.points[index];
                    std::string& t = out.text();
                    t += "A01,";
                    t += std::to_string(number[index]);
                    t += ",";
                    append_name(t, index);
                    t += ",";
                    append_coordinate(t, p.x);
                    t += ",";
                    append_coordinate(t, p.y);
                    t += ",,";
                    out.end_record();
                }
            });
        });
        out.text() += "A99,";
        out.end_record();

        std::uint32_t block = 1;
        for_each_cad_parcel(source, [&](const Parcel& parcel) {
            const std::string lot = lot_text(parcel);
            for_each_parcel_ring(source, parcel, [&](std::span<const std::uint32_t> ring, bool hole) {
                std::string& t = out.text();
                t += "D00,";
                t += std::to_string(block++);
                t += ",";
                t += lot;
                if (hole) t += survey_text("(穴)");
                t += ",1,";
                out.end_record();
                for (const std::uint32_t index : ring) {
                    if (index >= dataset.points.size()) continue;
                    out.text() += "B01,";
                    out.text() += std::to_string(number[index]);
                    out.text() += ",";
                    append_name(out.text(), index);
                    out.text() += ",";
                    out.end_record();
                }
                out.text() += "D99,";
                out.end_record();
            });
        });
        return out.flush() ? PageStatus::ok : PageStatus::failed;
    } catch (const std::bad_alloc&) {
        return PageStatus::no_memory;
    }
}

}  // namespace chizuvec
