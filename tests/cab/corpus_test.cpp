// The public cabinet corpus, read through the library.
#include <gtest/gtest.h>

#include <set>

#include "cab/error.h"
#include "cab/reader.h"
#include "support.h"

using namespace cabtest;

namespace {

TEST(Corpus, EveryCabinetGivesTheOutcomeOfItsTable) {
  fs::path dir = CAB_CORPUS;
  if (!fs::exists(dir / "README.md")) GTEST_SKIP() << "cabinet corpus not found at " << dir;
  auto table = corpusTable(dir);
  ASSERT_GT(table.size(), 40u);
  for (auto& [name, outcome] : table) {
    SCOPED_TRACE(name);
    std::string bytes = slurp(dir / name);
    std::string error;
    size_t members = 0;
    try {
      members = readCabinet(bytes).size();
    } catch (const cab::CabError& e) {
      error = e.what();
    }
    if (outcome == "ok") {
      EXPECT_EQ(error, "");
      EXPECT_GT(members, 0u);
    } else if (outcome == "spanned") {
      EXPECT_NE(error.find("part of a set"), std::string::npos) << error;
    } else {
      EXPECT_NE(error, "") << "read without complaint";
      EXPECT_NE(error.find("memory"), std::string::npos) << error;
    }
  }
}

TEST(Corpus, MixedMethodsCabinetExtractsEveryMethod) {
  fs::path file = fs::path(CAB_CORPUS) / "mszip_lzx_qtm.cab";
  if (!fs::exists(file)) GTEST_SKIP() << "cabinet corpus not found at " << CAB_CORPUS;
  cab::Reader r(std::make_unique<cab::MemoryInStream>(slurp(file)), "memory");
  std::set<std::string> methods;
  for (auto& m : r.members()) methods.insert(m.method);
  EXPECT_EQ(methods, (std::set<std::string>{"MSZIP", "LZX", "Quantum"}));
}

}  // namespace
