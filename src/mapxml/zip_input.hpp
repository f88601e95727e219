// Extraction of the map XML entry of a .zip input into a temporary file beside the archive.
#pragma once

#include <cstdint>
#include <string>

namespace chizuvec {

// Copies the first entry whose name equals `entry_name` (ASCII letters in any case; names judged
// UTF-8 are converted to the ANSI code page first) into a new file in the archive's directory.
// `output_path`: on entry the wanted file name (for example "_tmp004711.xml"); the file is created
// exclusively and, on a clash, the next number is tried. On return it holds the full path of the
// file written, or is empty when no entry matched. Returns 0 on success (also when nothing
// matched) and otherwise a non-zero libzip error code; no partial file is left behind.
int extract_zip_entry(const std::string& archive_path, const std::string& entry_name, std::string& output_path);

}  // namespace chizuvec
