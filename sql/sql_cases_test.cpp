// Runs every case file in sql/cases/ (one test per file) through the expression case runner
// with the statement and preparation cases added.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "sql/expression_case_runner.h"
#include "sql/prepare_case_runner.h"
#include "sql/statement_case_runner.h"

namespace kura {
namespace {

std::vector<std::string> CaseFiles() {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(GORAMINA_SQL_CASES_DIR)) {
    if (entry.path().extension() == ".test") files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class SqlCases : public ::testing::TestWithParam<std::string> {};

TEST_P(SqlCases, File) {
  testing::TExpressionCaseRunner runner(std::string(GORAMINA_SQL_CASES_DIR) + "/" + GetParam());
  testing::AddStatementCases(runner);
  testing::AddPrepareCases(runner);
  runner.Run();
}

INSTANTIATE_TEST_SUITE_P(Files, SqlCases, ::testing::ValuesIn(CaseFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param.substr(0, info.param.rfind('.'));
                           std::replace_if(
                               name.begin(), name.end(),
                               [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
                               '_');
                           return name;
                         });

}  // namespace
}  // namespace kura
