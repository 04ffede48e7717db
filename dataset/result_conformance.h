// The provider conformance suite: the same cases run on every implementation of the result
// interface (result_cursor.h): the in-memory collection now, the engine binding later.
//
// An implementation joins with a backend factory and one instantiation:
//   INSTANTIATE_TEST_SUITE_P(Mine, ResultConformance,
//                            ::testing::Values(TConformanceParam{"Mine", MakeMyBackend}));
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "base/engine_error.h"
#include "dataset/query_provider.h"

namespace kura {

// A fresh, empty database directory for one test.
class TConformanceBackend {
 public:
  virtual ~TConformanceBackend() = default;
  // Creates a table. Its first field is an integer primary key (a unique ascending index), so
  // "Order By" that field yields a live result on the engine too.
  virtual void CreateTable(std::string_view name, const std::vector<TFieldDef>& fields) = 0;
  // Stores a row (one value per field) without going through a result.
  virtual void AppendRow(std::string_view name, const TRecord& values) = 0;
  // The directory the suite's queries run on.
  virtual std::shared_ptr<TQueryProvider> Provider() = 0;
};

struct TConformanceParam {
  std::string Name;
  std::function<std::unique_ptr<TConformanceBackend>()> MakeBackend;
};

// Names the backend in test listings.
inline void PrintTo(const TConformanceParam& param, std::ostream* out) {
  *out << param.Name;
}

// The fixture the cases run in; each case gets a fresh backend with table T (K integer key,
// V integer, S string).
// A statement and its result; the result goes first, as the lifetime rules ask.
struct TOpenResult {
  std::unique_ptr<TPreparedQuery> Statement;
  std::unique_ptr<TResultCursor> Result;
  TResultCursor* operator->() const { return Result.get(); }
};

inline TFieldDef Field(const char* name, TFieldType type, int size = 0) {
  return TFieldDef{name, type, size, 0};
}

inline TRecord Row(std::int64_t key, std::int64_t value, std::string text = "") {
  return {TFieldValue::OfInteger(key), TFieldValue::OfInteger(value),
          TFieldValue::OfString(std::move(text))};
}

class ResultConformance : public ::testing::TestWithParam<TConformanceParam> {
 protected:
  void SetUp() override {
    backend_ = GetParam().MakeBackend();
    backend_->CreateTable("T",
                          {Field("K", TFieldType::ftInteger), Field("V", TFieldType::ftInteger),
                           Field("S", TFieldType::ftString, 20)});
  }

  void Fill(std::initializer_list<TRecord> rows) {
    for (const TRecord& row : rows) backend_->AppendRow("T", row);
  }

  TOpenResult Run(std::string_view text, bool live = true) {
    TOpenResult open;
    open.Statement = backend_->Provider()->Prepare(text, {live, -1});
    open.Result = open.Statement->Execute({});
    return open;
  }

  // K of the row the result stands on; -1 when not on a row.
  static std::int64_t CurrentKey(TResultCursor& result) {
    TRecord row;
    return result.GetCurrentRecord(row) == TFetchResult::kOk ? row[0].Integer : -1;
  }

  static std::vector<std::int64_t> Keys(TResultCursor& result) {
    std::vector<std::int64_t> keys;
    TRecord row;
    result.First();
    while (result.GetNextRecord(row) == TFetchResult::kOk) keys.push_back(row[0].Integer);
    return keys;
  }

  static std::uint16_t CodeOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const EKuraEngineError& error) {
      return error.ErrorCode;
    }
    return 0;
  }

  std::unique_ptr<TConformanceBackend> backend_;
};

}  // namespace kura
