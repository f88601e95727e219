// Writing small archives for the tests, with the linked libzip.
#pragma once

#include <string>

namespace chizuvec::test {

// An archive holding `data` as its one stored entry, `entry_name`; false (with a test failure) when
// libzip refuses.
bool write_archive(const std::string& path, const std::string& entry_name, const std::string& data);

}  // namespace chizuvec::test
