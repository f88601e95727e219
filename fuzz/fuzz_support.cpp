#include "fuzz_support.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace chizuvec::fuzz {
namespace {

void remove_scratch_dir() {
    std::error_code ec;
    std::filesystem::remove_all(scratch_dir(), ec);
}

// Decodes one UTF-8 character at `at`; false for an invalid or overlong sequence or a surrogate.
bool next_char(std::string_view s, std::size_t& at, std::uint32_t& c) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(at);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
        c = lead;
        ++at;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, c = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, c = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, c = lead & 0x07u;
    } else {
        return false;
    }
    if (at + length > s.size()) return false;
    for (std::size_t i = 1; i < length; ++i) {
        if ((b(at + i) & 0xC0) != 0x80) return false;
        c = (c << 6) | (b(at + i) & 0x3Fu);
    }
    at += length;
    return c >= minimum && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

bool is_xml_char(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

bool valid_chars(std::string_view s) {
    std::size_t at = 0;
    std::uint32_t c = 0;
    while (at < s.size()) {
        if (!next_char(s, at, c) || !is_xml_char(c)) return false;
    }
    return true;
}

bool is_name_start(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}
bool is_name_char(unsigned char c) { return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A reference starting at the "&" at `at`; moves past its ";".
bool reference(std::string_view s, std::size_t& at) {
    const std::size_t end = s.find(';', at);
    if (end == std::string_view::npos) return false;
    const std::string_view body = s.substr(at + 1, end - at - 1);
    at = end + 1;
    if (body == "amp" || body == "lt" || body == "gt" || body == "quot" || body == "apos") return true;
    if (body.size() < 2 || body[0] != '#') return false;
    const bool hex = body[1] == 'x';
    const std::string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty()) return false;
    std::uint32_t value = 0;
    for (const char d : digits) {
        std::uint32_t v = 0;
        if (d >= '0' && d <= '9') {
            v = static_cast<std::uint32_t>(d - '0');
        } else if (hex && d >= 'a' && d <= 'f') {
            v = static_cast<std::uint32_t>(d - 'a' + 10);
        } else if (hex && d >= 'A' && d <= 'F') {
            v = static_cast<std::uint32_t>(d - 'A' + 10);
        } else {
            return false;
        }
        // XML allows any number of leading zeros; past U+10FFFF the value only needs to stay there.
        value = std::min<std::uint32_t>(value * (hex ? 16u : 10u) + v, 0x110000);
    }
    return is_xml_char(value);
}

// Character data up to `stop` (exclusive): no "<", references complete, no "]]>".
bool char_data(std::string_view s, bool in_attribute, char quote) {
    for (std::size_t at = 0; at < s.size();) {
        const char c = s[at];
        if (c == '<' || (in_attribute && c == quote)) return false;
        if (c == '&') {
            if (!reference(s, at)) return false;
            continue;
        }
        if (!in_attribute && s.substr(at, 3) == "]]>") return false;
        ++at;
    }
    return true;
}

struct Parser {
    std::string_view s;
    std::size_t at = 0;
    std::string why;

    bool fail(const std::string& what) {
        why = what + " at byte " + std::to_string(at);
        return false;
    }
    bool starts(std::string_view literal) const { return s.substr(at, literal.size()) == literal; }
    void spaces() {
        while (at < s.size() && is_space(s[at])) ++at;
    }
    bool name(std::string_view& out) {
        const std::size_t begin = at;
        if (at >= s.size() || !is_name_start(static_cast<unsigned char>(s[at]))) return false;
        while (at < s.size() && is_name_char(static_cast<unsigned char>(s[at]))) ++at;
        out = s.substr(begin, at - begin);
        return true;
    }
    // "<!--" ... "-->" with no "--" inside, "<?" ... "?>", or "<![CDATA[" ... "]]>" (content only).
    bool comment() {
        const std::size_t end = s.find("--", at + 4);
        if (end == std::string_view::npos || s.substr(end, 3) != "-->") return fail("bad comment");
        at = end + 3;
        return true;
    }
    bool processing_instruction() {
        const std::size_t end = s.find("?>", at + 2);
        if (end == std::string_view::npos) return fail("unclosed processing instruction");
        at += 2;
        std::string_view target;
        if (!name(target)) return fail("processing instruction without target");
        at = end + 2;
        return true;
    }
    bool misc() {
        for (;;) {
            spaces();
            if (starts("<!--")) {
                if (!comment()) return false;
            } else if (starts("<?")) {
                if (!processing_instruction()) return false;
            } else {
                return true;
            }
        }
    }
    bool element(int depth) {
        if (depth > 1000) return fail("nesting too deep");
        ++at;  // "<"
        std::string_view tag;
        if (!name(tag)) return fail("bad element name");
        std::vector<std::string_view> attributes;
        for (;;) {
            const std::size_t before = at;
            spaces();
            if (starts("/>")) {
                at += 2;
                return true;
            }
            if (starts(">")) {
                ++at;
                break;
            }
            if (at == before) return fail("attribute without space before it");
            std::string_view attribute;
            if (!name(attribute)) return fail("bad attribute name");
            if (std::find(attributes.begin(), attributes.end(), attribute) != attributes.end()) {
                return fail("repeated attribute");
            }
            attributes.push_back(attribute);
            spaces();
            if (!starts("=")) return fail("attribute without =");
            ++at;
            spaces();
            if (at >= s.size() || (s[at] != '"' && s[at] != '\'')) return fail("unquoted attribute value");
            const char quote = s[at];
            const std::size_t end = s.find(quote, at + 1);
            if (end == std::string_view::npos) return fail("unclosed attribute value");
            if (!char_data(s.substr(at + 1, end - at - 1), true, quote)) return fail("bad attribute value");
            at = end + 1;
        }
        for (;;) {
            const std::size_t next = s.find('<', at);
            if (next == std::string_view::npos) return fail("element <" + std::string(tag) + "> not closed");
            if (!char_data(s.substr(at, next - at), false, '\0')) return fail("bad character data");
            at = next;
            if (starts("</")) {
                at += 2;
                std::string_view closing;
                if (!name(closing) || closing != tag) return fail("end tag does not match <" + std::string(tag) + ">");
                spaces();
                if (!starts(">")) return fail("bad end tag");
                ++at;
                return true;
            }
            if (starts("<!--")) {
                if (!comment()) return false;
            } else if (starts("<![CDATA[")) {
                const std::size_t end = s.find("]]>", at);
                if (end == std::string_view::npos) return fail("unclosed CDATA");
                at = end + 3;
            } else if (starts("<?")) {
                if (!processing_instruction()) return false;
            } else if (!element(depth + 1)) {
                return false;
            }
        }
    }
    bool document() {
        if (starts("<?xml")) {
            const std::size_t end = s.find("?>", at);
            if (end == std::string_view::npos) return fail("unclosed declaration");
            at = end + 2;
        }
        if (!misc()) return false;
        if (starts("<!")) return fail("document type or stray markup");
        if (!starts("<")) return fail("no root element");
        if (!element(0)) return false;
        if (!misc()) return false;
        if (at != s.size()) return fail("content after the root element");
        return true;
    }
};

}  // namespace

const std::string& scratch_dir() {
    // Never destroyed: the exit handler that removes the folder still needs the path.
    static const std::string& path = *new std::string([] {
        const char* base = std::getenv("TMPDIR");
        std::string dir = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/chizuvec-fuzz-" +
                          std::to_string(::getpid());
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        if (!std::filesystem::create_directory(dir, ec)) {
            std::fprintf(stderr, "cannot create %s\n", dir.c_str());
            std::abort();
        }
        std::atexit(remove_scratch_dir);
        return dir;
    }());
    return path;
}

std::string write_scratch_file(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const std::string path = scratch_dir() + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    bool ok = fd >= 0;
    for (std::size_t done = 0; ok && done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::abort();
    }
    return path;
}

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string folder_listing(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const auto& n : names) joined += (joined.empty() ? "" : "/") + n;
    return joined;
}

bool is_xml_text(std::string_view text) {
    // A field cut at its size may end inside a reference; the text before it must be whole.
    const std::size_t amp = text.rfind('&');
    if (amp != std::string_view::npos && text.find(';', amp) == std::string_view::npos) {
        const std::string_view tail = text.substr(amp + 1);
        if (!std::all_of(tail.begin(), tail.end(),
                         [](char c) { return c == '#' || is_name_char(static_cast<unsigned char>(c)); })) {
            return false;
        }
        text = text.substr(0, amp);
    }
    return valid_chars(text) && char_data(text, false, '\0');
}

bool is_well_formed_xml(std::string_view document, std::string& why) {
    if (!valid_chars(document)) {
        why = "invalid UTF-8 or a character XML does not allow";
        return false;
    }
    Parser parser{document, 0, {}};
    const bool ok = parser.document();
    why = parser.why;
    return ok;
}

bool has_nan_or_inf(std::string_view text) {
    for (std::size_t i = 0; i + 3 <= text.size(); ++i) {
        char c[3];
        for (std::size_t k = 0; k < 3; ++k) {
            const char x = text[i + k];
            c[k] = x >= 'A' && x <= 'Z' ? static_cast<char>(x - 'A' + 'a') : x;
        }
        if ((c[0] == 'n' && c[1] == 'a' && c[2] == 'n') || (c[0] == 'i' && c[1] == 'n' && c[2] == 'f')) return true;
    }
    return false;
}

}  // namespace chizuvec::fuzz
