// Runs the built program the way a user does: a copy of the executable and its own Chizuvec.ini in a
// fresh directory, standard input from /dev/null, standard output and error captured apart.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "test_support.hpp"

namespace chizuvec::test {

struct RunResult {
    int exit_code = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// The settings file shipped with the project.
std::string default_ini();

// A directory holding a copy of the program and, unless `ini` is null, a Chizuvec.ini with that
// content. Runs start in this directory.
struct ProgramDir {
    TempDir dir;
    std::string exe;
    explicit ProgramDir(const char* ini);
    explicit ProgramDir(const std::string& ini) : ProgramDir(ini.c_str()) {}
    ProgramDir() : ProgramDir(default_ini()) {}

    // Runs the program with `args`, in `cwd` (the program's directory when empty), with extra
    // environment settings such as "LC_ALL=C" or "PATH=...".
    RunResult run(const std::vector<std::string>& args, const std::string& cwd = "",
                  const std::vector<std::string>& env = {}) const;
    std::string file(const std::string& name) const { return dir.file(name); }
    std::string write(const std::string& name, const std::string& bytes) const { return dir.write(name, bytes); }
};

// The bundled sample map, and its statistics line after the input name: 26 points, 52 curves, 13
// surfaces, 13 parcels of which one lies outside the district and is not kept.
std::string sample_map_path();
inline const std::string kSampleCounts = ": P=26(max=26) C=52(52) C-F=52 F=13(13) H=12(13)\n";
// The line after the statistics line of a drawing of the sample: the parcel outside the district.
inline const std::string kSampleLeftOut = "1 parcel is left out of the drawing: outside the district (地区外-1)\n";

// Polls `folder` until one of its entries meets `seen` or `limit` passes: for interrupting a run
// at a chosen point of its work. True when one did.
bool wait_for_entry(const std::string& folder, const std::function<bool(const std::filesystem::path&)>& seen,
                    std::chrono::seconds limit);

// Does xmllint accept the file as a well-formed XML document?
bool xml_well_formed(const std::string& path);

// A 100 m square parcel "1" around a 20 m square lot "2" in its middle, which is the hole of "1"
// and drawn before it: wherever the hole were filled, lot 2 would be hidden. Points (X, Y).
extern const std::vector<std::pair<int, int>> kOuterRing;
extern const std::vector<std::pair<int, int>> kInnerRing;
// The head of a map in 公共座標9系 up to its last curve: `points`, four to a ring, each ring closed by
// four curves C1... (curve k from point k to the next point of its ring).
std::string square_rings_head(const std::string& name, const std::vector<std::pair<int, int>>& points);
std::string holed_map();
// The area of a ring of integer points (X, Y), either way round.
double shoelace(const std::vector<std::pair<int, int>>& ring);

// The parts of `text` between separators, the empty ones too.
std::vector<std::string> split(const std::string& text, char separator);

}  // namespace chizuvec::test
