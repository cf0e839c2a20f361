// Cases on which the engine might end the process run in a child process,
// so that a regression fails its test and not the whole test program.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace child_process {

// Runs `work` in a child process, which exits 0 when it returns true, 1 when
// it returns false, and dies with the engine otherwise. What failed inside is
// printed by the work itself (see `check`).
template <typename Work>
void expectChildSucceeds(Work work) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(work() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

inline bool check(bool condition, const std::string& what) {
  if (!condition) std::fprintf(stderr, "check failed: %s\n", what.c_str());
  return condition;
}

}  // namespace child_process
