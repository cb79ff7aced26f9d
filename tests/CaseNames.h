// The test name of a parametrised case is the short name the case gives itself, a snake_case word
// or three unique within its table; never its place in the table, so adding or moving a case
// renames no other. gtest refuses, when the tests are listed, a name that is empty, repeated or
// more than letters, digits and underscores. The case's longer description is its PrintTo's, shown
// beside the name in listings and failures.
#pragma once

#include <gtest/gtest.h>

#include <string>

// For INSTANTIATE_TEST_SUITE_P: a case record with a `Name` member.
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case> &Info) {
  return Info.param.Name;
}
