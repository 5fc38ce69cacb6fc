#pragma once
// Helpers shared by the cabinet tests: fixtures and comparisons; folders,
// host files and the peer tools come from the shared test support.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cab/writer.h"
#include "tests/support/host_files.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace cabtest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::haveProgram;
using testsupport::quote;
using testsupport::Ran;
using testsupport::run;
using testsupport::runShell;
using testsupport::slurp;
using testsupport::spit;
using testsupport::TempDir;

// What a peer tool or one of ours may take on the largest fixture.
inline constexpr testsupport::Budget kToolBudget = std::chrono::seconds(120);
// Standard error and output as one text, as a person sees them.
inline const testsupport::RunOptions kMerged{.mergeOutput = true};

// Text shaped like a registry file (REGEDIT4 keys and values), n bytes.
std::string registryText(size_t n, unsigned seed);
// Incompressible bytes.
std::string randomBytes(size_t n, unsigned seed);

// name -> bytes members packed into a cabinet in memory.
using Files = std::vector<std::pair<std::string, std::string>>;
std::string makeCabinet(const Files& files, const cab::WriteOptions& options = {});
// Every member of a cabinet held in memory, in cabinet order.
Files readCabinet(const std::string& bytes);

// Empty when equal, else where the two first differ: a failing EXPECT_EQ on
// megabytes of text would spend minutes and gigabytes on its line diff.
std::string difference(const std::string& got, const std::string& want);
std::string difference(const Files& got, const Files& want);

// Files of a folder (names relative to it, sorted), for "nothing left
// behind" checks.
std::vector<std::string> listFolder(const fs::path& dir);

// The corpus README's table: cabinet file name -> "ok" | "error" | "spanned".
std::vector<std::pair<std::string, std::string>> corpusTable(const fs::path& dir);

}  // namespace cabtest
