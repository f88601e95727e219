// Shared pieces of the fuzz targets: a private scratch folder for the files the program must read
// from disk, and a strict well-formedness check of the documents it writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace chizuvec::fuzz {

// A folder of this process's own, created on first use and removed with its files at exit. Its path
// holds no "nan" or "inf", so the drawing's title never brings them in.
const std::string& scratch_dir();

// Replaces the file `name` in the scratch folder by `size` bytes; returns its path. Aborts when the
// file cannot be written, since a lost input would make every later finding meaningless.
std::string write_scratch_file(const std::string& name, const std::uint8_t* data, std::size_t size);

std::string read_whole_file(const std::string& path);

// Names of the entries of a folder other than "." and "..", sorted, joined by "/".
std::string folder_listing(const std::string& path);

// Is `text` allowed as character data of an XML element as this program copies map texts: valid
// UTF-8, only characters XML allows, no "<", no "]]>", and every "&" begins a complete reference,
// except that the text may end inside one where its field cut it?
bool is_xml_text(std::string_view text);

// Is `document` a well-formed XML document (declaration, comments, CDATA, elements, attributes,
// the five predefined entities and character references; no DTD)? `why` names the first fault.
bool is_well_formed_xml(std::string_view document, std::string& why);

// Does `text` hold "nan" or "inf" in any letter case?
bool has_nan_or_inf(std::string_view text);

}  // namespace chizuvec::fuzz
