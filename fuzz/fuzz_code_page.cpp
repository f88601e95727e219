// The code page guess on any zero-terminated byte string: one of its documented answers, never a
// read beyond the terminator.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "mapxml/code_page_guess.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so the sanitizer sees any read past the terminator.
    const std::unique_ptr<char[]> text(new char[size + 1]);
    if (size > 0) std::memcpy(text.get(), data, size);
    text[size] = '\0';
    switch (chizuvec::guess_code_page(text.get())) {
        case -1:
        case 0:
        case 932:
        case 1200:
        case 1201:
        case 20932:
        case 50222:
        case 65001:
            return 0;
        default:
            std::abort();
    }
}
