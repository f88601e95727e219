#include "driver/output_names.hpp"

#include "common/ascii.hpp"

namespace chizuvec {

std::string file_name_safe(std::string_view text) {
    if (text.empty()) return "_";
    std::string safe(text);
    for (char& c : safe) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7F || c == '<' || c == '>' || c == ':' || c == '"' || c == '/' || c == '\\' ||
            c == '|' || c == '?' || c == '*') {
            c = '_';
        }
    }
    return safe;
}

std::string OutputNames::claim(const std::string& name) {
    const auto folded = [](std::string text) {
        for (char& c : text) c = ascii_lower(c);
        return text;
    };
    const std::lock_guard<std::mutex> lock(mutex_);
    std::string candidate = name;
    for (unsigned n = 2; !taken_.insert(folded(candidate)).second; ++n) {
        candidate = name + "~" + std::to_string(n);
    }
    return candidate;
}

}  // namespace chizuvec
