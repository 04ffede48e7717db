// Sorting result tables: the cases that pin the output down (order, ties, DISTINCT, groups,
// the maximum, runs), a model test against std::stable_sort and a plain group-by over both
// paths, and a write failure at every point of a sort.
#include "storage/record_sorter.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "storage/collation.h"
#include "storage/failing_file.h"
#include "storage/field_types.h"
#include "storage/file_names.h"
#include "storage/file_test_support.h"
#include "storage/record_image.h"

namespace kura {
namespace {

using testing::InstallFailingFiles;
using testing::RaisedCode;
using testing::TFailingFile;
using testing::TFileFaults;
using testing::TScratchFolder;

constexpr std::uint16_t kGerman = 0x0407;

TFieldDescriptor Field(const std::string& name, std::uint8_t type, std::uint8_t size = 0) {
  TFieldDescriptor field;
  field.FieldName = name;
  field.FieldType = type;
  field.FieldSize = size;
  return field;
}

// One row of the test tables: every field may be NULL.
struct TRow {
  std::optional<std::int32_t> Id, K, V, Cnt, Sum, Prev;
  std::optional<std::string> S;
  bool operator==(const TRow&) const = default;
};

std::string Text(const std::optional<std::int32_t>& value) {
  return value ? std::to_string(*value) : std::string("null");
}

void PrintTo(const TRow& row, std::ostream* out) {
  *out << "{id " << Text(row.Id) << " k " << Text(row.K) << " s "
       << (row.S ? "'" + *row.S + "'" : std::string("null")) << " v " << Text(row.V) << " cnt "
       << Text(row.Cnt) << " sum " << Text(row.Sum) << " prev " << Text(row.Prev) << "}";
}

enum TColumn { cId, cK, cS, cV, cCnt, cSum, cPrev, cPad };

// A data file on a failing-file list with the fields ID, K, S (string 6), V, CNT, SUM, PREV
// (47 bytes with the record header) and PAD strings that set the record size.
class SortTable {
 public:
  SortTable(TFileList& list, bool inMemory, const std::string& name, std::int16_t language,
            std::vector<std::uint8_t> padSizes = {1})
      : FFile(list) {
    FFile.SetFileName(name);
    FFile.SetInMemory(inMemory);
    TDataFileSettings settings;
    settings.LanguageId = language;
    std::vector<TFieldDescriptor> fields{
        Field("ID", kFieldTypeInteger),  Field("K", kFieldTypeInteger),
        Field("S", kFieldTypeString, 6), Field("V", kFieldTypeInteger),
        Field("CNT", kFieldTypeInteger), Field("SUM", kFieldTypeInteger),
        Field("PREV", kFieldTypeInteger)};
    for (std::size_t i = 0; i < padSizes.size(); ++i) {
      fields.push_back(Field("PAD" + std::to_string(i), kFieldTypeString, padSizes[i]));
    }
    FFile.CreateDataFile(fields, settings);
    FFile.FlushHeader(false);
  }

  TDataFile& File() { return FFile; }
  const TFieldDescriptor& Desc(TColumn column) const {
    return FFile.Descriptors()[static_cast<std::size_t>(column)];
  }
  TTableLocale Locale() const {
    return {static_cast<std::uint16_t>(FFile.LanguageId()),
            static_cast<std::uint16_t>(FFile.SortId())};
  }

  void SetInt(std::span<std::uint8_t> image, TColumn column, std::optional<std::int32_t> value) {
    SetField(image, Desc(column), value ? &*value : nullptr, false, Locale());
  }
  std::optional<std::int32_t> Int(std::span<const std::uint8_t> image, TColumn column) const {
    std::int32_t value = 0;
    if (GetField(image, Desc(column),
                 std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(&value), 4)))
      return std::nullopt;
    return value;
  }

  void Fill(std::span<std::uint8_t> image, const TRow& row) {
    SetInt(image, cId, row.Id);
    SetInt(image, cK, row.K);
    SetInt(image, cV, row.V);
    SetInt(image, cCnt, row.Cnt);
    SetInt(image, cSum, row.Sum);
    SetInt(image, cPrev, row.Prev);
    SetField(image, Desc(cS), row.S ? row.S->c_str() : nullptr, false, Locale());
    for (std::size_t i = cPad; i < FFile.Descriptors().size(); ++i) {
      SetField(image, FFile.Descriptors()[i], "pad", false, Locale());
    }
  }
  TRow Read(std::span<const std::uint8_t> image) const {
    TRow row{Int(image, cId),  Int(image, cK),    Int(image, cV), Int(image, cCnt),
             Int(image, cSum), Int(image, cPrev), std::nullopt};
    std::array<std::uint8_t, 8> text{};
    if (!GetField(image, Desc(cS), text)) row.S = std::string(reinterpret_cast<char*>(text.data()));
    return row;
  }

  // Appends the rows (RowIds 1, 2, ...); the rows whose index is in `deleted` become deleted
  // slots.
  void Append(const std::vector<TRow>& rows, const std::vector<bool>& deleted = {}) {
    std::int32_t lastRowId = FFile.LastAutoInc();
    for (std::size_t i = 0; i < rows.size(); ++i) {
      TRecord* record = FFile.GetRecord(FFile.NextRecordNo());
      InitRecord(record->Image, record->Number, true, lastRowId);
      Fill(record->Image, rows[i]);
      if (i < deleted.size() && deleted[i]) SetDeleted(record->Image, true);
      FFile.MarkRecordChanged(record);
      FFile.ReleaseRecord(record);
    }
    FFile.SetLastAutoInc(lastRowId);
  }

  // Every record with its record number and RowId checked against its position.
  std::vector<TRow> ReadAll() {
    std::vector<TRow> rows;
    for (std::int32_t n = 1; n < FFile.NextRecordNo(); ++n) {
      TRecord* record = FFile.GetRecord(n);
      EXPECT_FALSE(IsDeleted(record->Image)) << n;
      EXPECT_EQ(RecordNoOrNextFree(record->Image), n);
      EXPECT_EQ(RowId(record->Image), n);
      rows.push_back(Read(record->Image));
      FFile.ReleaseRecord(record);
    }
    return rows;
  }

  std::int64_t ExpectedFileSize() const {
    return static_cast<std::int64_t>(kDataHeaderSize + FFile.FieldCount() * kFieldDescriptorSize) +
           static_cast<std::int64_t>(FFile.RecordCount()) * FFile.RecordSize();
  }

  // Every record in the cache (the in-memory path) or none (the run-and-merge path).
  void CacheEverything() {
    FFile.RecordCache().SetCapacity(static_cast<std::size_t>(FFile.RecordCount()) + 16);
    for (std::int32_t n = 1; n < FFile.NextRecordNo(); ++n) FFile.ReleaseRecord(FFile.GetRecord(n));
  }
  void CacheNothing() {
    FFile.WriteChangedRecords();
    FFile.RecordCache().Discard();
  }

  TSortField SortOn(TColumn column, bool descending = false) const {
    return TSortField{Desc(column), descending};
  }

 private:
  TDataFile FFile;
};

TRow IntRow(std::int32_t id, std::optional<std::int32_t> k, std::optional<std::string> s = {},
            std::optional<std::int32_t> v = {}) {
  TRow row;
  row.Id = id;
  row.K = k;
  row.S = std::move(s);
  row.V = v;
  return row;
}

std::vector<std::int32_t> Ids(const std::vector<TRow>& rows) {
  std::vector<std::int32_t> ids;
  for (const TRow& row : rows) ids.push_back(row.Id.value_or(-1));
  return ids;
}

// Names of the run files among the files a list made.
std::vector<std::string> MadeRunNames(const std::vector<std::string>& made) {
  std::vector<std::string> runs;
  for (const std::string& name : made) {
    if (name.size() > 4 && name.substr(name.size() - 4) == ".TMP") runs.push_back(name);
  }
  // A disk file is made again whenever it is opened after it left the list.
  std::sort(runs.begin(), runs.end());
  runs.erase(std::unique(runs.begin(), runs.end()), runs.end());
  return runs;
}

class RecordSorterTest : public ::testing::Test {
 protected:
  RecordSorterTest() {
    InstallFailingFiles(list, faults);
    // Remember every memory file made, to check that no run file outlives its sort.
    list.SetMemoryFileFactory([this](const std::string& name, bool temporary, bool exclusive) {
      made.push_back(name);
      return std::make_unique<TFailingFile<TMemoryFile>>(name, temporary, exclusive, faults);
    });
    list.SetDiskFileFactory([this](const std::string& name, bool temporary, bool exclusive) {
      made.push_back(name);
      return std::make_unique<TFailingFile<TPhysicalFile>>(name, temporary, exclusive, faults);
    });
  }

  void ExpectNoRunFileLeft() {
    for (const std::string& name : MadeRunNames(made)) {
      EXPECT_FALSE(list.ListedFileExists(name, true)) << name;
      EXPECT_FALSE(list.ListedFileExists(name, false)) << name;
    }
  }

  TFileList list;
  TFileFaults faults;
  std::vector<std::string> made;
};

// --- Cases that pin the output down ---------------------------------------------------------

struct TPathCase {
  const char* Name;
  bool InMemoryPath;
};

class RecordSorterPathTest : public RecordSorterTest,
                             public ::testing::WithParamInterface<TPathCase> {
 protected:
  void Prepare(SortTable& table) {
    if (GetParam().InMemoryPath) {
      table.CacheEverything();
    } else {
      table.CacheNothing();
    }
  }
  TSortSpec Spec() const {
    TSortSpec spec;
    spec.RunRecordsLimit = GetParam().InMemoryPath ? 0 : 2;  // several runs of a few rows
    return spec;
  }
};

TEST_P(RecordSorterPathTest, DescendingIntegersComeOutLargestFirstWithFreshNumbers) {
  SortTable table(list, true, "T.DAT", 0);
  table.Append({IntRow(1, 1), IntRow(2, 3), IntRow(3, 2)});
  Prepare(table);
  TSortSpec spec = Spec();
  spec.Fields = {table.SortOn(cK, true)};
  EXPECT_EQ(SortRecords(table.File(), spec), 3);
  std::vector<TRow> rows = table.ReadAll();  // also checks record numbers and RowIds 1, 2, 3
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].K, 3);
  EXPECT_EQ(rows[1].K, 2);
  EXPECT_EQ(rows[2].K, 1);
  ExpectNoRunFileLeft();
}

TEST_P(RecordSorterPathTest, EqualKeysKeepTheirOrderAndNullsComeFirst) {
  SortTable table(list, true, "T.DAT", 0);
  table.Append({IntRow(1, 5), IntRow(2, std::nullopt), IntRow(3, 5), IntRow(4, 1), IntRow(5, 5),
                IntRow(6, std::nullopt)});
  Prepare(table);
  TSortSpec spec = Spec();
  spec.Fields = {table.SortOn(cK)};
  SortRecords(table.File(), spec);
  EXPECT_EQ(Ids(table.ReadAll()), (std::vector<std::int32_t>{2, 6, 4, 1, 3, 5}));
}

TEST_P(RecordSorterPathTest, DistinctKeepsTheFirstOfEqualRowsAndCutsTheFile) {
  SortTable table(list, true, "T.DAT", 0);
  table.Append({IntRow(1, 1, "A"), IntRow(2, 1, "A"), IntRow(3, 2, "B")});
  Prepare(table);
  TSortSpec spec = Spec();
  spec.Fields = {table.SortOn(cS), table.SortOn(cK)};
  spec.Duplicates = TDuplicateMode::Remove;
  EXPECT_EQ(SortRecords(table.File(), spec), 2);
  EXPECT_EQ(table.File().RecordCount(), 2);
  EXPECT_EQ(table.File().FileSize(), table.ExpectedFileSize());
  EXPECT_EQ(Ids(table.ReadAll()), (std::vector<std::int32_t>{1, 3}));
}

TEST_P(RecordSorterPathTest, MaximumKeepsTheSmallestKeys) {
  SortTable table(list, true, "T.DAT", 0);
  std::vector<TRow> rows;
  for (int i = 0; i < 100; ++i) rows.push_back(IntRow(i + 1, (i * 37) % 100));
  table.Append(rows);
  Prepare(table);
  TSortSpec spec = Spec();
  spec.Fields = {table.SortOn(cK)};
  spec.MaxRows = 10;
  EXPECT_EQ(SortRecords(table.File(), spec), 10);
  EXPECT_EQ(table.File().FileSize(), table.ExpectedFileSize());
  std::vector<TRow> sorted = table.ReadAll();
  ASSERT_EQ(sorted.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(sorted[static_cast<std::size_t>(i)].K, i);
}

TEST_P(RecordSorterPathTest, DeletedSlotsAreLeftOut) {
  SortTable table(list, true, "T.DAT", 0);
  table.Append({IntRow(1, 3), IntRow(2, 2), IntRow(3, 1)}, {false, true, false});
  Prepare(table);
  TSortSpec spec = Spec();
  spec.Fields = {table.SortOn(cK)};
  EXPECT_EQ(SortRecords(table.File(), spec), 2);
  EXPECT_EQ(table.File().FirstFree(), 0);
  EXPECT_EQ(Ids(table.ReadAll()), (std::vector<std::int32_t>{3, 1}));
}

// GROUP BY K with COUNT and SUM(V), HAVING COUNT > 1, TOP 2: the last group kept must have
// seen all its rows although the maximum is reached with it.
TEST_P(RecordSorterPathTest, GroupsAreCompleteBeforeTheMaximumStopsTheOutput) {
  SortTable table(list, true, "T.DAT", 0);
  table.Append({IntRow(1, 1, {}, 10), IntRow(2, 2, {}, 5), IntRow(3, 1, {}, 1), IntRow(4, 3, {}, 7),
                IntRow(5, 4, {}, 2), IntRow(6, 3, {}, 8), IntRow(7, 3, {}, 9),
                IntRow(8, 4, {}, 4)});
  Prepare(table);
  TSortSpec spec = Spec();
  spec.Fields = {table.SortOn(cK)};
  spec.Duplicates = TDuplicateMode::Combine;
  spec.MaxRows = 2;
  spec.Callbacks.Accumulate = [&](std::span<std::uint8_t> row, std::span<const std::uint8_t> other,
                                  bool initialise) {
    if (initialise) {
      table.SetInt(row, cCnt, 1);
      table.SetInt(row, cSum, table.Int(row, cV));
    } else {
      table.SetInt(row, cCnt, *table.Int(row, cCnt) + 1);
      table.SetInt(row, cSum, *table.Int(row, cSum) + *table.Int(other, cV));
    }
  };
  spec.Callbacks.Keep = [&](std::span<const std::uint8_t> row) {
    return *table.Int(row, cCnt) > 1;
  };
  EXPECT_EQ(SortRecords(table.File(), spec), 2);
  std::vector<TRow> rows = table.ReadAll();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].K, 1);
  EXPECT_EQ(rows[0].Sum, 11);
  EXPECT_EQ(rows[1].K, 3);
  EXPECT_EQ(rows[1].Cnt, 3);
  EXPECT_EQ(rows[1].Sum, 24);
}

INSTANTIATE_TEST_SUITE_P(Paths, RecordSorterPathTest,
                         ::testing::Values(TPathCase{"InMemory", true},
                                           TPathCase{"RunAndMerge", false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RecordSorterTest, RunsHoldAtMostOneMegabyteOfRecords) {
  EXPECT_EQ(SortRunRecords(1000, 8), 1048u);
  EXPECT_EQ(SortRunRecords(26, 8), 8192u);
  EXPECT_EQ(SortRunRecords(65535, 8), 16u);
  // Keys longer than the records (the same field sorted twice) bound the run too.
  EXPECT_EQ(SortRunRecords(100, 4096), 256u);
}

// 5000 records of 1000 bytes on disk: runs of 1048 (four of them and one of 808), merged,
// and no run file left in the run folder.
TEST_F(RecordSorterTest, LargeRecordsGoThroughRunFilesOnDisk) {
  TScratchFolder folder;
  SortTable table(list, false, folder.File("BIG.DAT"), 0, {250, 250, 250, 195});
  ASSERT_EQ(table.File().RecordSize(), 1000);
  std::vector<TRow> rows;
  std::mt19937 random(5);
  for (int i = 0; i < 5000; ++i) rows.push_back(IntRow(i + 1, static_cast<int>(random() % 1000)));
  table.Append(rows);
  table.CacheNothing();
  TSortSpec spec;
  spec.Fields = {table.SortOn(cK, true)};
  spec.RunDirectory = folder.Path() + "/";
  EXPECT_EQ(SortRecords(table.File(), spec), 5000);
  EXPECT_EQ(MadeRunNames(made).size(), 5u);
  std::vector<TRow> sorted = table.ReadAll();
  ASSERT_EQ(sorted.size(), 5000u);
  EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(),
                             [](const TRow& a, const TRow& b) { return *a.K > *b.K; }));
  DIR* dir = opendir(folder.Path().c_str());
  ASSERT_NE(dir, nullptr);
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) names.push_back(entry->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "BIG.DAT"}));
}

TEST_F(RecordSorterTest, RefusesSortDescriptionsItCannotKey) {
  SortTable table(list, true, "T.DAT", 0);
  table.Append({IntRow(1, 1)});
  TSortSpec spec;
  TFieldDescriptor memo = Field("M", kFieldTypeBlob);
  memo.FieldOffset = 9;
  memo.PhysicalSize = 8;
  spec.Fields = {TSortField{memo, false}};
  EXPECT_EQ(RaisedCode([&] { SortRecords(table.File(), spec); }), codes::kInvalidIndexField);
  TFieldDescriptor outside = table.Desc(cS);
  outside.FieldOffset = 60000;
  spec.Fields = {TSortField{outside, false}};
  EXPECT_EQ(RaisedCode([&] { SortRecords(table.File(), spec); }), codes::kInvalidFieldDefinition);
  spec.Fields.assign(kMaxSortFields + 1, table.SortOn(cK));
  EXPECT_EQ(RaisedCode([&] { SortRecords(table.File(), spec); }), codes::kInvalidFieldDefinition);
  EXPECT_EQ(table.ReadAll().size(), 1u);
}

// --- Model test --------------------------------------------------------------------------------

// The order of two rows on one sort field, computed directly from the values:
// NULL first, numbers by value, text by bytes or by the locale, upper-cased first when the
// sort ignores case; a descending field the other way round.
int CompareOn(const TRow& a, const TRow& b, TColumn column, bool descending, bool ignoreCase,
              std::uint16_t language) {
  auto three = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
  int result = 0;
  if (column == cS) {
    if (!a.S || !b.S) {
      result = three(a.S.has_value(), b.S.has_value());
    } else {
      std::string x = *a.S, y = *b.S;
      if (ignoreCase) {
        UpperCaseLocale(language, 0, x.data());
        UpperCaseLocale(language, 0, y.data());
      }
      if (language == 0) {
        const int bytes = std::memcmp(x.c_str(), y.c_str(), std::min(x.size(), y.size()) + 1);
        result = bytes < 0 ? -1 : (bytes > 0 ? 1 : 0);
      } else {
        result = CompareLocaleStrings(language, 0, x.c_str(), false, 0, y.c_str());
      }
    }
  } else {
    const std::optional<std::int32_t>& x = column == cK ? a.K : (column == cV ? a.V : a.Id);
    const std::optional<std::int32_t>& y = column == cK ? b.K : (column == cV ? b.V : b.Id);
    result = !x || !y ? three(x.has_value(), y.has_value()) : three(*x, *y);
  }
  return descending ? -result : result;
}

struct TModelSpec {
  std::vector<std::pair<TColumn, bool>> Fields;
  bool IgnoreCase = false;
  std::uint16_t Language = 0;
  TDuplicateMode Mode = TDuplicateMode::Keep;
  std::int64_t MaxRows = -1;
  int KeepRule = 0;  // 0 every group, 1 odd counts, 2 sums not divisible by 3
  bool Finalise = false;
};

int CompareRows(const TModelSpec& spec, const TRow& a, const TRow& b) {
  for (const auto& [column, descending] : spec.Fields) {
    const int result = CompareOn(a, b, column, descending, spec.IgnoreCase, spec.Language);
    if (result != 0) return result;
  }
  return 0;
}

bool KeepGroup(const TModelSpec& spec, std::optional<std::int32_t> count,
               std::optional<std::int32_t> sum) {
  if (spec.KeepRule == 1) return *count % 2 == 1;
  if (spec.KeepRule == 2) return *sum % 3 != 0;
  return true;
}

// The callbacks of a GROUP BY with COUNT, SUM(V) and the previous group's running sum.
void InstallGroupCallbacks(SortTable& table, const TModelSpec& model, TSortSpec& spec) {
  auto firstGroup = std::make_shared<bool>(true);
  spec.Callbacks.Accumulate = [&table, firstGroup](std::span<std::uint8_t> row,
                                                   std::span<const std::uint8_t> other,
                                                   bool initialise) {
    if (initialise) {
      // The very first group sees itself as the previous row.
      EXPECT_EQ(*firstGroup, std::equal(row.begin(), row.end(), other.begin(), other.end()));
      table.SetInt(row, cPrev, *firstGroup ? -1 : table.Int(other, cSum).value_or(0));
      *firstGroup = false;
      table.SetInt(row, cCnt, 1);
      table.SetInt(row, cSum, table.Int(row, cV).value_or(0));
    } else {
      table.SetInt(row, cCnt, *table.Int(row, cCnt) + 1);
      table.SetInt(row, cSum, *table.Int(row, cSum) + table.Int(other, cV).value_or(0));
    }
  };
  if (model.Finalise) {
    spec.Callbacks.Finalise = [&table](std::span<std::uint8_t> row) {
      table.SetInt(row, cSum, *table.Int(row, cSum) * 2);
    };
  }
  if (model.KeepRule != 0) {
    spec.Callbacks.Keep = [&table, model](std::span<const std::uint8_t> row) {
      return KeepGroup(model, table.Int(row, cCnt), table.Int(row, cSum));
    };
  }
}

// The expected result: std::stable_sort, then the duplicates and the maximum.
std::vector<TRow> ModelSort(const TModelSpec& spec, std::vector<TRow> rows) {
  std::stable_sort(rows.begin(), rows.end(),
                   [&](const TRow& a, const TRow& b) { return CompareRows(spec, a, b) < 0; });
  const auto full = [&](const std::vector<TRow>& out) {
    return spec.MaxRows >= 0 && static_cast<std::int64_t>(out.size()) >= spec.MaxRows;
  };
  std::vector<TRow> out;
  if (spec.MaxRows == 0) return out;
  if (spec.Mode != TDuplicateMode::Combine) {
    for (const TRow& row : rows) {
      if (spec.Mode == TDuplicateMode::Remove && !out.empty() &&
          CompareRows(spec, out.back(), row) == 0)
        continue;
      out.push_back(row);
      if (full(out)) break;
    }
    return out;
  }
  std::optional<std::int32_t> previousSum;  // the last group's sum before it was finalised
  for (std::size_t first = 0; first < rows.size() && !full(out);) {
    std::size_t end = first + 1;
    while (end < rows.size() && CompareRows(spec, rows[first], rows[end]) == 0) ++end;
    TRow group = rows[first];
    group.Prev = first == 0 ? -1 : previousSum.value_or(0);
    group.Cnt = static_cast<std::int32_t>(end - first);
    std::int32_t sum = 0;
    for (std::size_t i = first; i < end; ++i) sum += rows[i].V.value_or(0);
    previousSum = sum;
    group.Sum = spec.Finalise ? sum * 2 : sum;
    if (KeepGroup(spec, group.Cnt, group.Sum)) out.push_back(group);
    first = end;
  }
  return out;
}

TEST_F(RecordSorterTest, ModelOfRandomTablesAndSortDescriptions) {
  std::mt19937 random(20261211);
  const std::vector<std::string> words{"a",  "A",  "b",    "B",    "ab",    "AB",
                                       "Ab", "ba", "\xE4", "\xC4", "a\xE4", "z"};
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    TModelSpec model;
    model.Language = pick(2) == 0 ? 0 : kGerman;
    const std::string name = "M" + std::to_string(round) + ".DAT";
    SortTable table(list, true, name, static_cast<std::int16_t>(model.Language),
                    {static_cast<std::uint8_t>(pick(2) == 0 ? 1 : 200)});
    const int count = pick(4) == 0 ? pick(5) : pick(300);
    const int spread = 1 + pick(30);
    std::vector<TRow> rows;
    std::vector<bool> deleted;
    for (int i = 0; i < count; ++i) {
      TRow row;
      row.Id = i + 1;
      if (pick(8) != 0) row.K = pick(spread) - spread / 2;
      if (pick(8) != 0)
        row.S = words[static_cast<std::size_t>(pick(static_cast<int>(words.size())))];
      if (pick(6) != 0) row.V = pick(10);
      rows.push_back(row);
      deleted.push_back(pick(10) == 0);
    }
    table.Append(rows, deleted);
    // The rows as stored (text the table's code page cannot hold is cut or NULL).
    std::vector<TRow> live;
    for (std::int32_t n = 1; n < table.File().NextRecordNo(); ++n) {
      TRecord* record = table.File().GetRecord(n);
      if (!IsDeleted(record->Image)) live.push_back(table.Read(record->Image));
      table.File().ReleaseRecord(record);
    }

    const std::vector<TColumn> columns{cK, cS, cV, cId};
    const int fieldCount = pick(4);
    for (int i = 0; i < fieldCount; ++i) {
      model.Fields.emplace_back(columns[static_cast<std::size_t>(pick(4))], pick(2) == 0);
    }
    model.IgnoreCase = pick(2) == 0;
    model.Mode = static_cast<TDuplicateMode>(pick(3));
    const int maxKind = pick(5);
    model.MaxRows = maxKind == 0 ? 0 : (maxKind == 1 ? 1 + pick(count + 2) : -1);
    model.KeepRule = pick(3);
    model.Finalise = pick(2) == 0;

    TSortSpec spec;
    for (const auto& [column, descending] : model.Fields) {
      spec.Fields.push_back(table.SortOn(column, descending));
    }
    spec.CaseInsensitive = model.IgnoreCase;
    spec.Duplicates = model.Mode;
    spec.MaxRows = model.MaxRows;
    if (model.Mode == TDuplicateMode::Combine) InstallGroupCallbacks(table, model, spec);
    const bool inMemoryPath = pick(2) == 0;
    if (inMemoryPath) {
      table.CacheEverything();
    } else {
      table.CacheNothing();
      spec.RunRecordsLimit = static_cast<std::size_t>(1 + pick(40));
    }

    const std::vector<TRow> expected = ModelSort(model, live);
    EXPECT_EQ(SortRecords(table.File(), spec), static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(table.File().FileSize(), table.ExpectedFileSize());
    const std::vector<TRow> actual = table.ReadAll();
    EXPECT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i) {
      if (actual[i] == expected[i]) continue;
      ADD_FAILURE() << "row " << i + 1 << " in memory " << inMemoryPath << " mode "
                    << static_cast<int>(model.Mode) << " language " << model.Language
                    << " ignore case " << model.IgnoreCase << " fields " <<
          [&] {
            std::string text;
            for (const auto& [column, descending] : model.Fields)
              text += std::to_string(column) + (descending ? "d " : "a ");
            return text;
          }() << ": "
                    << ::testing::PrintToString(actual[i]) << " expected "
                    << ::testing::PrintToString(expected[i]);
      break;
    }
    ExpectNoRunFileLeft();
    table.File().Close();
    table.File().DeleteFile();
  }
}

// --- Faults ------------------------------------------------------------------------------------

// A write that fails at any point of a sort raises, leaves no run file behind and leaves a
// data file that opens and passes its structure check (its order is undefined: the caller
// throws a result table away after a failed sort).
TEST_F(RecordSorterTest, AWriteFailingAnywhereLeavesNoRunFileAndASoundFile) {
  for (const bool inMemoryPath : {false, true}) {
    SCOPED_TRACE(inMemoryPath);
    bool succeeded = false;
    for (std::int64_t budget = 0; !succeeded && budget < 400000; budget += 97) {
      SCOPED_TRACE(budget);
      faults.WriteBudget = -1;
      std::int32_t slots = 0;
      {
        SortTable table(list, true, "F.DAT", 0, {40});
        std::vector<TRow> rows;
        for (int i = 0; i < 120; ++i) rows.push_back(IntRow(i + 1, (i * 53) % 17, "x", i % 5));
        table.Append(rows);
        table.File().WriteChangedRecords();
        table.File().FlushHeader(false);
        if (inMemoryPath) {
          table.CacheEverything();
        } else {
          table.CacheNothing();
        }
        slots = table.File().RecordCount();
        TSortSpec spec;
        spec.Fields = {table.SortOn(cK)};
        spec.Duplicates = TDuplicateMode::Remove;
        spec.RunRecordsLimit = 16;
        faults.WriteBudget = budget;
        const int code = RaisedCode([&] { SortRecords(table.File(), spec); });
        faults.WriteBudget = -1;
        succeeded = code == 0;
        if (!succeeded) {
          EXPECT_EQ(code, codes::kWriteError);
        }
        if (succeeded) {
          EXPECT_EQ(table.ReadAll().size(), 17u);
          table.File().FlushHeader(false);
        }
        ExpectNoRunFileLeft();
      }
      TDataFile reopened(list);
      reopened.SetFileName("F.DAT");
      reopened.SetInMemory(true);
      ASSERT_NO_THROW(reopened.Open());
      ASSERT_NO_THROW(reopened.CheckStructure());
      if (!succeeded) {
        EXPECT_EQ(reopened.RecordCount(), slots);
      }
      reopened.Close();
    }
    EXPECT_TRUE(succeeded);
  }
}

}  // namespace
}  // namespace kura
