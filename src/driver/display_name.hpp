// The one way a name is shown in a message: file names, archive entries, folder files, sheet
// numbers and lots from the command line may hold any bytes, and none of them may steer the
// terminal or forge a line of the program's output.
#pragma once

#include <string>
#include <string_view>

namespace chizuvec {

// `name` for a message: read as UTF-8 when it is, else decoded from the code page the entry-name
// guess gives it (Shift_JIS, EUC-JP); control characters (line ends, ESC, C1 controls), DEL and
// the bidirectional controls (U+202E and its kin, which reorder the line) shown as "?", as is every
// byte that still forms no character; then put in the code page of
// messages (UTF-8 on POSIX; the ANSI code page on Windows, characters it lacks as "?").
std::string display_name(std::string_view name);

// The same, kept in UTF-8: for a piece of a message that also holds map texts or Japanese words,
// which goes out whole through message_text.
std::string display_utf8(std::string_view name);
// A message built in UTF-8, in the code page of messages.
std::string message_text(std::string_view utf8);

}  // namespace chizuvec
