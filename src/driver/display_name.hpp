// The one way a name is shown in a message: file names, archive entries, folder files, sheet
// numbers and lots from the command line may hold any bytes, and none of them may steer the
// terminal or forge a line of the program's output.
#pragma once

#include <string>
#include <string_view>

namespace chizuvec {

// `name` as UTF-8 for a message: UTF-8 kept; other bytes decoded from the code page the entry-name
// guess gives them (Shift_JIS, EUC-JP); control characters (line ends, ESC, C1 controls) and DEL
// shown as "?", as is every byte that still forms no character.
std::string display_name(std::string_view name);

}  // namespace chizuvec
