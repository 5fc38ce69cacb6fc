#pragma once
// Host files read and written whole, as bytes.
#include <filesystem>
#include <string>

namespace testsupport {

namespace fs = std::filesystem;

// The bytes of a host file; empty when it cannot be read.
std::string slurp(const fs::path& p);
// Makes p hold exactly bytes, creating its folders; throws when it cannot.
void spit(const fs::path& p, const std::string& bytes);

}  // namespace testsupport
