// Helpers shared by the unit tests: temporary directories and files, and the shared map data.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

namespace chizuvec::test {

// A fresh directory under the system's temporary directory, removed with everything in it when the
// object goes out of scope.
struct TempDir {
    std::filesystem::path path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Writes `bytes` to a file of that name inside the directory and returns its full path.
    std::string write(const std::string& name, std::string_view bytes) const;
    std::string file(const std::string& name) const { return (path / name).string(); }
};

std::string read_file(const std::string& path);

// The names of the entries of a directory.
std::set<std::string> files_in(const std::filesystem::path& dir);

// Path of a file in the shared real map data, or the empty string when the data is not there.
std::string shared_data(const std::string& name);

}  // namespace chizuvec::test
