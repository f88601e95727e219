#include "driver/assembly_report.hpp"

#include "common/text_format.hpp"

namespace chizuvec {

std::string assembly_messages_text(const AssemblyResult& result) {
    std::string text;
    for (const AssemblyMessage& m : result.messages) {
        const std::uint32_t* n = m.numbers;
        switch (m.kind) {
            case AssemblyMessage::Kind::illegal_polygon:
                append_format(text, "Illegal polygon %d %d %d %d\n", as_printf_int(n[0]), as_printf_int(n[1]),
                              as_printf_int(n[2]), as_printf_int(n[3]));
                break;
            case AssemblyMessage::Kind::surface_not_found:
                append_format(text, "** Error idref=F%d not found in H%d\n", as_printf_int(n[0]), as_printf_int(n[1]));
                break;
            case AssemblyMessage::Kind::curve_not_found:
                append_format(text, "** Error n_curv i=%d\n", as_printf_int(n[0]));
                break;
            case AssemblyMessage::Kind::point_not_found:
                text += "** Error npos\n";
                break;
        }
    }
    return text;
}

std::string drawing_too_large_text(std::uint64_t points) {
    return format_text("** Error: The drawing would have %llu polygon points, more than %llu\n",
                       static_cast<unsigned long long>(points), static_cast<unsigned long long>(kMaxDrawnPoints));
}

}  // namespace chizuvec
