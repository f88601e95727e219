// The safe text of any bytes, as a map text (cut at its end or not) and as plain text: it must be
// well-formed character data of valid UTF-8 both in an element and in an attribute, a map text must
// come out unchanged when it is safe already, and safe text must be a fixed point.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "render/xml_text.hpp"

namespace {

using namespace chizuvec;

void check(bool ok, const char* what, std::string_view in, std::string_view out) {
    if (ok) return;
    std::fprintf(stderr, "%s\ninput  (%zu bytes): %.*s\noutput (%zu bytes): %.*s\n", what, in.size(),
                 static_cast<int>(in.size()), in.data(), out.size(), static_cast<int>(out.size()), out.data());
    std::abort();
}

bool well_formed(const std::string& document) {
    std::string why;
    return fuzz::is_well_formed_xml(document, why);
}

// Text the map reader may hand over from a well-formed map, without a reference cut at its end.
bool safe_already(std::string_view text) {
    const std::size_t amp = text.rfind('&');
    const bool cut = amp != std::string_view::npos && text.find(';', amp) == std::string_view::npos;
    return !cut && text.find('>') == std::string_view::npos && fuzz::is_xml_text(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    for (const bool may_end_cut : {false, true}) {
        std::string map;
        append_map_text(map, in, may_end_cut);
        check(well_formed("<t>" + map + "</t>"), "map text is no character data", in, map);
        std::string again;
        append_map_text(again, map, may_end_cut);
        check(again == map, "map text changes when made safe twice", in, again);
        if (!may_end_cut && safe_already(in)) check(map == in, "safe map text changed", in, map);
    }
    std::string plain;
    append_xml_escaped(plain, in);
    check(well_formed("<t a=\"" + plain + "\" b='" + plain + "'>" + plain + "</t>"), "plain text is no character data",
          in, plain);
    return 0;
}
