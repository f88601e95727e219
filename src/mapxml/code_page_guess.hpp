// Guess of the encoding of a short byte string, such as an entry name stored in a ZIP archive.
#pragma once

namespace chizuvec {

// Guesses the code page of a zero-terminated byte string: 0 (empty or plain ASCII), 50222, 1200,
// 1201, 20932, 932, 65001, or -1 when no candidate fits.
int guess_code_page(const char* text);

}  // namespace chizuvec
