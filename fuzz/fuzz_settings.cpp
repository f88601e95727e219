// The settings reader on any bytes as Chizuvec.ini: it must return, fill only its fields with
// zero-terminated texts, and leave the layout check able to judge the result.
#include <cstdlib>
#include <cstring>

#include "config/render_settings.hpp"
#include "fuzz_support.hpp"
#include "render/svg_writer.hpp"

namespace {

template <std::size_t N>
void check_terminated(const char (&field)[N]) {
    if (std::memchr(field, '\0', N) == nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace chizuvec;
    const std::string path = fuzz::write_scratch_file("Chizuvec.ini", data, size);
    RenderSettings settings{};
    if (read_render_settings(path, settings) != SettingsStatus::read) std::abort();  // the file is there
    const std::uint32_t side = settings.svg_viewbox_side_option;
    if (side > 4) std::abort();
    check_terminated(settings.svg_boundary_line_color);
    check_terminated(settings.svg_chiban_sp1);
    check_terminated(settings.svg_fill_color_common);
    check_terminated(settings.svg_font_c);
    check_terminated(settings.svg_text_source);
    (void)find_invalid_layout_setting(settings);
    return 0;
}
