#include "sql/select_canned.h"

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "sql/expression_evaluator.h"
#include "sql/expression_values.h"
#include "sql/query_checks.h"
#include "sql/query_statement.h"
#include "sql/result_aggregates.h"
#include "sql/result_table.h"
#include "sql/select_conditions.h"
#include "sql/source_rows.h"
#include "sql/top_rows.h"
#include "storage/field_types.h"
#include "storage/index_key.h"
#include "storage/progress_steps.h"

namespace kura {

namespace {

// One level of the nested loop.
struct TLoopLevel {
  std::size_t Table = 0;   // place in the source list
  bool OuterJoin = false;  // no partner row: one row of NULLs
  // Parts naming this table and outer ones: pre-evaluated per outer row into Filter, and
  // checked again on every combination.
  std::vector<const TExpToken*> JoinParts;
  TFilter* Filter = nullptr;
  // An equality of one of this table's columns with an outer column that an index leading
  // with that column serves: per outer row a range on that index finds the partners.
  int RangeFieldNo = 0;
  const TExpToken* RangeOuterColumn = nullptr;
};

TLoopLevel LevelOf(std::size_t table, bool outerJoin) {
  TLoopLevel level;
  level.Table = table;
  level.OuterJoin = outerJoin;
  return level;
}

bool IsStarCount(const TResultField& field) {
  const TExpToken& argument = *field.Expression->FArgs.front();
  return argument.FKind == kNodeColumn && argument.FColumnName == "*";
}

class TCannedSelect {
 public:
  TCannedSelect(TDataQuery& query, TDataDirectory& directory)
      : FQuery(query), FDirectory(directory), FRows(query.FSourceTables) {}

  TDataCursor* Run() {
    for (TSourceTable& table : FQuery.FSourceTables) {
      table.Cursor->DropFilter(nullptr);
      table.Cursor->CancelRange();
      table.Cursor->SetIndexNo(kRecordOrderIndexNo);
    }
    CreateResultTable();
    PlanLoop();
    for (std::size_t level = 1; level < FLevels.size(); ++level) ChooseRange(FLevels[level]);
    if (!CountOnly()) Generate();
    GroupOrDistinct();
    AppendUnionPart();
    OrderAndTop();
    HideAverageCounts();
    FQuery.FRecordCount = FResult->RecordCount();
    FResult->First();
    return FResult;
  }

 private:
  // --- The result table ----------------------------------------------------------------

  void CreateResultTable() {
    FQuery.FResultTable.reset();
    FLayout = MakeResultLayout(FQuery);
    auto table = std::make_unique<TResultTable>(FQuery, FDirectory, FLayout);
    FResult = &table->Cursor();
    FQuery.FResultTable = std::move(table);
    FQuery.FResultCursor = FResult;
    const TDataFile& data = FResult->Table()->Data();
    FFields.assign(data.Descriptors().begin(), data.Descriptors().end());
    FLocale = FResult->Locale();
    FRecord.assign(FResult->RecordSize(), 0);
    FAggregates = std::make_unique<TGroupAggregates>(FQuery, FLayout, FFields,
                                                     FResult->RecordSize(), FLocale);
  }

  TEvalLocale EvalLocale() const { return TEvalLocale{FQuery.FLanguageId, FQuery.FSortId}; }

  TExpTokenPtr Evaluate(const TExpToken& tree) {
    return EvaluateExpression(tree, nullptr, &FRows, EvalLocale());
  }

  // Stores a value into result field fieldNo (1-based) of the record; BLOBs through the
  // result cursor's buffers, written when the record is posted.
  void StoreColumn(std::span<std::uint8_t> record, int fieldNo, const TExpToken& value) {
    const TFieldDescriptor& field = FFields[static_cast<std::size_t>(fieldNo) - 1];
    if (field.FieldType != kFieldTypeBlob) {
      StoreResultValue(record, field, value, FLocale);
      return;
    }
    if (value.FIsNull || value.FDataSize <= 0) return;
    std::uint32_t size = 0;
    auto length = static_cast<std::uint32_t>(value.FDataSize);
    if (field.FieldSubType == kSubTypeMemo && length > 0) --length;  // without its terminator
    if (length == 0) return;
    FResult->RaiseError(FResult->OpenBlob(fieldNo, record, size, TBlobOpenMode::ReadWrite, true));
    FResult->RaiseError(FResult->WriteBlob(fieldNo, record, 0, length, value.Data()));
  }

  // The record of the current combination: every column's value, aggregates per row.
  void BuildRow(std::span<std::uint8_t> record) {
    FResult->InitNewRecord(record);
    for (std::size_t i = 0; i < FQuery.FResultFields.size(); ++i) {
      const TResultField& field = FQuery.FResultFields[i];
      const int fieldNo = static_cast<int>(i) + 1;
      if (field.Aggregate == akNone) {
        StoreColumn(record, fieldNo, *Evaluate(*field.Expression));
        continue;
      }
      bool present = true;
      TExpTokenPtr value;
      if (!IsStarCount(field)) {
        value = Evaluate(*field.Expression->FArgs.front());
        present = value->FIsNull == 0;
      }
      if (field.Aggregate == akCount) {
        value = NewToken();
        SetInt32(*value, present ? 1 : 0);
      }
      StoreColumn(record, fieldNo, *value);
      if (FLayout.AvgCountFields[i] != 0) {
        TExpTokenPtr count = NewToken();
        SetInt32(*count, present ? 1 : 0);
        StoreColumn(record, FLayout.AvgCountFields[i], *count);
      }
    }
  }

  void Append(std::span<std::uint8_t> record) {
    FResult->PostInsert(record, false);
    ++FAppended;
  }

  // --- Planning --------------------------------------------------------------------------

  std::size_t PlaceOf(const void* table) const { return FRows.IndexOf(table); }

  // Join kinds and ON parts by source place.
  void CollectJoins(std::vector<std::uint8_t>& kinds,
                    std::vector<std::vector<const TExpToken*>>& onParts) const {
    kinds.assign(FQuery.FSourceTables.size(), jkInner);
    onParts.assign(FQuery.FSourceTables.size(), {});
    for (const TJoin& join : FQuery.FJoins) {
      std::size_t place = static_cast<std::size_t>(join.SourcePosition) - 1;
      if (join.SourcePosition < 1 || place >= kinds.size()) {
        RaiseQueryError("Internal join error - JOIN clause expression for table \"" +
                        std::to_string(join.SourcePosition) + "\" is invalid");
      }
      kinds[place] = join.Kind;
      if (join.Condition) onParts[place] = SplitAtAnd(*join.Condition);
    }
  }

  void PlanLoop() {
    std::vector<std::uint8_t> kinds;
    std::vector<std::vector<const TExpToken*>> onParts;
    CollectJoins(kinds, onParts);
    std::vector<const TExpToken*> where;
    if (FQuery.FWhere) where = SplitAtAnd(*FQuery.FWhere);
    bool outer =
        std::any_of(kinds.begin(), kinds.end(), [](std::uint8_t k) { return k != jkInner; });
    if (outer) {
      PlanOuterJoins(kinds, onParts, where);
    } else {
      for (auto& parts : onParts) where.insert(where.end(), parts.begin(), parts.end());
      PlanInnerJoins(where);
    }
  }

  // Parts naming one table and holding no sub-select go onto that table's cursor (those of
  // tables in `nullable` excepted); answers the rest.
  std::vector<const TExpToken*> InstallSingleTableParts(const std::vector<const TExpToken*>& parts,
                                                        const std::set<std::size_t>& nullable) {
    std::vector<std::vector<const TExpToken*>> byTable(FRows.Count());
    std::vector<const TExpToken*> rest;
    for (const TExpToken* part : parts) {
      std::set<const void*> tables = TablesNamed(*part);
      std::size_t place = tables.size() == 1 ? PlaceOf(*tables.begin()) : FRows.Count();
      bool single = place < FRows.Count() && !nullable.count(place) && !HoldsSubSelect(*part);
      if (single) {
        byTable[place].push_back(part);
      } else {
        rest.push_back(part);
      }
    }
    for (std::size_t i = 0; i < byTable.size(); ++i) {
      if (byTable[i].empty()) continue;
      TSourceTable& table = FRows.Table(i);
      InstallCondition(*table.Cursor, nullptr,
                       PreEvaluateAll(byTable[i], *table.Cursor, &table, nullptr));
    }
    return rest;
  }

  // The level index of the innermost table a part names, or -1 when it names none that
  // the loop walks.
  int InnermostLevel(const TExpToken& part) const {
    int innermost = -1;
    for (const void* table : TablesNamed(part)) {
      std::size_t place = PlaceOf(table);
      for (std::size_t level = 0; level < FLevels.size(); ++level) {
        if (FLevels[level].Table == place) innermost = std::max(innermost, static_cast<int>(level));
      }
    }
    return innermost;
  }

  // Multi-table parts without sub-selects join the level of the innermost table they name.
  void PlaceJoinParts(const std::vector<const TExpToken*>& parts) {
    for (const TExpToken* part : parts) {
      int level = HoldsSubSelect(*part) ? -1 : InnermostLevel(*part);
      if (level <= 0) {
        FResidual.push_back(part);
      } else {
        FLevels[static_cast<std::size_t>(level)].JoinParts.push_back(part);
      }
    }
  }

  void PlanInnerJoins(const std::vector<const TExpToken*>& parts) {
    std::vector<const TExpToken*> rest = InstallSingleTableParts(parts, {});
    std::size_t driving = 0;
    if (!FQuery.FNoJoinOptimize && FRows.Count() > 1) {
      std::int64_t fewest = FRows.Table(0).Cursor->RecordCount();
      for (std::size_t i = 1; i < FRows.Count(); ++i) {
        std::int64_t count = FRows.Table(i).Cursor->RecordCount();
        if (count < fewest) {
          fewest = count;
          driving = i;
        }
      }
    }
    FLevels.push_back(LevelOf(driving, false));
    for (std::size_t i = 0; i < FRows.Count(); ++i) {
      if (i != driving) FLevels.push_back(LevelOf(i, false));
    }
    PlaceJoinParts(rest);
  }

  void PlanOuterJoins(const std::vector<std::uint8_t>& kinds,
                      const std::vector<std::vector<const TExpToken*>>& onParts,
                      const std::vector<const TExpToken*>& where) {
    std::size_t count = FRows.Count();
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    std::vector<bool> outer(count, false);
    for (std::size_t i = 1; i < count; ++i) {
      if (kinds[i] == jkLeft) outer[i] = true;
      if (kinds[i] != jkRight) continue;
      // a RIGHT JOIN b is b LEFT JOIN a; only the two-table form is walked so.
      if (count != 2) RaiseQueryError("Internal join optimization error");
      order = {1, 0};
      outer = {true, false};
    }
    std::set<std::size_t> nullable;
    for (std::size_t i = 0; i < count; ++i) {
      if (outer[i]) nullable.insert(i);
    }
    std::vector<const TExpToken*> rest = InstallSingleTableParts(where, nullable);
    for (std::size_t level = 0; level < count; ++level) {
      FLevels.push_back(LevelOf(order[level], outer[order[level]]));
    }
    // ON parts belong to the joined table's level, whichever tables they name.
    for (std::size_t place = 0; place < count; ++place) {
      for (const TExpToken* part : onParts[place]) {
        std::size_t target = kinds[place] == jkRight ? 0 : place;
        int level = InnermostLevel(*part);
        TLoopLevel* owner = nullptr;
        for (TLoopLevel& candidate : FLevels) {
          if (candidate.Table == target) owner = &candidate;
        }
        if (HoldsSubSelect(*part) || owner == nullptr ||
            level > static_cast<int>(owner - FLevels.data())) {
          RaiseQueryError("Internal join error - JOIN clause expression for table \"" +
                          FRows.Table(target).TableName + "\" is invalid");
        }
        if (owner == FLevels.data()) {
          FResidual.push_back(part);
        } else {
          owner->JoinParts.push_back(part);
        }
      }
    }
    FResidual.insert(FResidual.end(), rest.begin(), rest.end());
  }

  // --- Inner lookups served by an index ------------------------------------------------

  // The index (0 primary, 1.. secondary) whose key starts with the field, ascending and
  // case-sensitive, or -1.
  static int IndexLeadingWith(const TDataCursor& cursor, int fieldNo) {
    std::vector<int> candidates;
    if (cursor.HasPrimaryIndex()) candidates.push_back(0);
    for (int no = 1; no <= cursor.SecondaryIndexCount(); ++no) candidates.push_back(no);
    for (int no : candidates) {
      TIndexDescriptor index = cursor.ReadIndexDescriptor(no);
      if (index.KeyFieldCount > 0 && index.KeyFields[0] == fieldNo && !index.CaseInsensitive &&
          !index.FieldDescending[0]) {
        return no;
      }
    }
    return -1;
  }

  // A join part "column of this table = column of an outer table" on numbers or dates.
  void ChooseRange(TLoopLevel& loop) {
    const void* table = &FRows.Table(loop.Table);
    for (const TExpToken* part : loop.JoinParts) {
      if (part->FKind != kNodeBinary || part->FOperator != opEqual) continue;
      const TExpToken* mine = part->FLeft;
      const TExpToken* outer = part->FRight;
      if (mine->FSourceTable != table) std::swap(mine, outer);
      bool columns = mine->FKind == kNodeColumn && outer->FKind == kNodeColumn &&
                     mine->FSourceTable == table && outer->FSourceTable != table &&
                     outer->FSourceTable != nullptr;
      if (!columns || IsStringLike(mine->FDataType, mine->FSubType) ||
          mine->FDataType == kFieldTypeBlob || mine->FDataType != outer->FDataType) {
        continue;
      }
      TDataCursor& cursor = *FRows.Table(loop.Table).Cursor;
      int index = IndexLeadingWith(cursor, mine->FFieldNo);
      if (index < 0) continue;
      cursor.SetIndexNo(index);
      loop.RangeFieldNo = mine->FFieldNo;
      loop.RangeOuterColumn = outer;
      return;
    }
  }

  // The range of the level's index holding the outer row's value.
  void SetLookupRange(TLoopLevel& loop, TDataCursor& cursor) {
    const TFieldDescriptor& field =
        cursor.Table()->Data().Descriptors()[static_cast<std::size_t>(loop.RangeFieldNo) - 1];
    std::vector<std::uint8_t> image(cursor.Table()->Data().RecordSize(), 0);
    StoreResultValue(image, field, *Evaluate(*loop.RangeOuterColumn), cursor.Locale());
    cursor.SetRange(false, image, 1, image, 1);
  }

  // --- COUNT(*) over one table -----------------------------------------------------------

  bool CountOnly() {
    if (!FQuery.FCountOnly || !FResidual.empty() || FLevels.size() != 1) return false;
    TExpTokenPtr count = NewToken();
    SetInt64(*count, FRows.Table(0).Cursor->RecordCount());
    FResult->InitNewRecord(FRecord);
    StoreColumn(FRecord, 1, *count);
    Append(FRecord);
    return true;
  }

  // --- Row generation --------------------------------------------------------------------

  bool StopsEarly() const {
    if (FQuery.FMaxRowCount >= 0 && FAppended >= FQuery.FMaxRowCount) return true;
    bool sortsLater = FQuery.FHasOrderBy || FQuery.FHasGroupBy || FQuery.FDistinct ||
                      FQuery.FUnionNext != nullptr || FQuery.FImplicitGroup;
    return FQuery.FTop >= 0 && !sortsLater && FAppended >= FQuery.FTop;
  }

  void Generate() {
    FDrivingCount = FRows.Table(FLevels.front().Table).Cursor->RecordCount();
    FProgress = std::make_unique<TProgressSteps>(FDirectory.Session().MakeProgress());
    if (FQuery.FImplicitGroup) FGroupRow.assign(FResult->RecordSize(), 0);
    FTopRows = MakeTopRows();
    TCursorAppendRun run(*FResult);
    if (!StopsEarly()) Walk(0);
    if (FTopRows) AppendTopRows();
    if (FQuery.FImplicitGroup) AppendImplicitGroup();
    run.End();
    if (!FAborted) ReportProgress(100);
  }

  void ReportProgress(int percent) {
    TQueryStatement& statement = *FQuery.FStatement;
    if (statement.FProgress == nullptr || FProgress == nullptr) return;
    bool report = percent >= 100 ? FProgress->Finish() : FProgress->Advance(percent);
    if (report && statement.FProgress(&statement, percent, statement.FProgressData) != 0) {
      FStopped = FAborted = true;
    }
  }

  void Walk(std::size_t level) {
    if (level == FLevels.size()) {
      EmitCombination();
      return;
    }
    TLoopLevel& loop = FLevels[level];
    TSourceTable& table = FRows.Table(loop.Table);
    TDataCursor& cursor = *table.Cursor;
    if (loop.RangeOuterColumn != nullptr) {
      SetLookupRange(loop, cursor);
    } else if (!loop.JoinParts.empty()) {
      loop.Filter = InstallCondition(cursor, loop.Filter,
                                     PreEvaluateAll(loop.JoinParts, cursor, &table, &FRows));
    }
    std::span<std::uint8_t> buffer = FRows.Buffer(loop.Table);
    bool partnered = false;
    cursor.First();
    while (!FStopped && cursor.GetNextRecord(buffer) == 0) {
      partnered = true;
      if (level == 0) ++FDrivingDone;
      Walk(level + 1);
      if (level == 0 && FDrivingCount > 0) {
        ReportProgress(static_cast<int>(FDrivingDone * 100 / FDrivingCount));
      }
    }
    if (!partnered && loop.OuterJoin && !FStopped) {
      FRows.SetNullRow(loop.Table, true);
      Walk(level + 1);
      FRows.SetNullRow(loop.Table, false);
    }
  }

  bool Passes(const std::vector<const TExpToken*>& parts) {
    return std::all_of(parts.begin(), parts.end(), [this](const TExpToken* part) {
      return EvaluateCondition(*part, nullptr, &FRows, EvalLocale());
    });
  }

  void EmitCombination() {
    for (const TLoopLevel& loop : FLevels) {
      if (loop.JoinParts.empty() || FRows.IsNullRow(loop.Table)) continue;
      if (!Passes(loop.JoinParts)) return;
    }
    if (!Passes(FResidual)) return;
    if (FQuery.FImplicitGroup) {
      AccumulateImplicit();
      return;
    }
    BuildRow(FRecord);
    if (FTopRows) {
      FTopRows->Offer(FRecord);
      return;
    }
    Append(FRecord);
    if (StopsEarly()) FStopped = true;
  }

  // ORDER BY with TOP n over plain rows: only the n best rows need to reach the result
  // table, whose sort then orders them as it would have ordered all of them. Not with a row
  // limit (that keeps the first rows found) nor with BLOB columns (stored as the row is built).
  std::unique_ptr<TTopRows> MakeTopRows() const {
    bool plainRows = !FQuery.FHasGroupBy && !FQuery.FDistinct && !FQuery.FImplicitGroup &&
                     FQuery.FUnionNext == nullptr && FQuery.FMaxRowCount < 0;
    if (FQuery.FTop < 0 || !plainRows || !NeedsOrderSort()) return nullptr;
    bool blobs = std::any_of(FFields.begin(), FFields.end(), [](const TFieldDescriptor& field) {
      return field.FieldType == kFieldTypeBlob;
    });
    if (blobs) return nullptr;
    return std::make_unique<TTopRows>(OrderByFields(), FQuery.FOrderByNoCase, FLocale,
                                      FRecord.size(), FQuery.FTop);
  }

  void AppendTopRows() {
    for (std::vector<std::uint8_t>& record : FTopRows->TakeInArrivalOrder()) Append(record);
    FTopRows.reset();
  }

  void AccumulateImplicit() {
    if (FGroupRows++ == 0) {
      BuildRow(FGroupRow);
      return;
    }
    BuildRow(FRecord);
    FAggregates->Accumulate(FGroupRow, FRecord, false);
  }

  void AppendImplicitGroup() {
    if (FGroupRows == 0) {
      // No rows: every column over NULL rows, counts 0.
      for (std::size_t i = 0; i < FRows.Count(); ++i) FRows.SetNullRow(i, true);
      BuildRow(FGroupRow);
      for (std::size_t i = 0; i < FRows.Count(); ++i) FRows.SetNullRow(i, false);
      TExpTokenPtr zero = NewToken();
      SetInt32(*zero, 0);
      for (std::size_t i = 0; i < FQuery.FResultFields.size(); ++i) {
        if (FQuery.FResultFields[i].Aggregate == akCount)
          StoreColumn(FGroupRow, static_cast<int>(i) + 1, *zero);
        if (FLayout.AvgCountFields[i] != 0)
          StoreColumn(FGroupRow, FLayout.AvgCountFields[i], *zero);
      }
    }
    FAggregates->Finalise(FGroupRow);
    Append(FGroupRow);
  }

  // --- Sorting ---------------------------------------------------------------------------

  TSortField SortFieldOf(int resultColumn, bool descending) const {
    return TSortField{FFields[static_cast<std::size_t>(resultColumn) - 1], descending};
  }

  void Sort(std::vector<TSortField> fields, TDuplicateMode mode, std::int64_t maxRows,
            bool caseInsensitive, TSortCallbacks callbacks = {}) {
    TSortSpec spec;
    spec.Fields = std::move(fields);
    spec.Duplicates = mode;
    spec.MaxRows = maxRows;
    spec.CaseInsensitive = caseInsensitive;
    spec.Callbacks = std::move(callbacks);
    spec.RunDirectory = FDirectory.Session().GetPrivateDir();
    FResult->SortTable(std::move(spec));
  }

  std::vector<TSortField> AllColumns() const {
    std::vector<TSortField> fields;
    for (std::size_t i = 1; i <= FLayout.ColumnCount; ++i) {
      fields.push_back(SortFieldOf(static_cast<int>(i), false));
    }
    return fields;
  }

  // The grouping or DISTINCT sort already leaves the rows in ORDER BY order.
  bool GroupingGivesOrder() const {
    if (FQuery.FOrderByNoCase || FQuery.FUnionNext != nullptr) return false;
    std::vector<int> sorted;
    if (FQuery.FHasGroupBy) {
      for (const TGroupByField& item : FQuery.FGroupBy) sorted.push_back(item.ResultColumn);
    } else if (FQuery.FDistinct) {
      for (std::size_t i = 1; i <= FLayout.ColumnCount; ++i) sorted.push_back(static_cast<int>(i));
    } else {
      return false;
    }
    if (FQuery.FOrderBy.size() != sorted.size()) return false;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
      const TOrderByField& item = FQuery.FOrderBy[i];
      if (item.Descending || item.ResultColumn != sorted[i]) return false;
    }
    return true;
  }

  bool NeedsOrderSort() const { return FQuery.FHasOrderBy && !GroupingGivesOrder(); }

  void GroupOrDistinct() {
    std::int64_t top = NeedsOrderSort() || FQuery.FUnionNext != nullptr ? -1 : FQuery.FTop;
    if (FQuery.FHasGroupBy) {
      std::vector<TSortField> fields;
      for (const TGroupByField& item : FQuery.FGroupBy) {
        fields.push_back(SortFieldOf(item.ResultColumn, false));
      }
      Sort(std::move(fields), TDuplicateMode::Combine, top, false, FAggregates->Callbacks());
    } else if (FQuery.FDistinct) {
      Sort(AllColumns(), TDuplicateMode::Remove, top, false);
    }
  }

  void AppendUnionPart() {
    TDataQuery* part = FQuery.FUnionNext;
    if (part == nullptr) return;
    TDataCursor& source = *part->FResultCursor;
    std::vector<TFieldDescriptor> fields;
    for (int no = 1; no <= source.FieldCount(); ++no) {
      fields.push_back(source.GetFieldDesc(no).Descriptor);
    }
    TRecordFields reader(fields, source.RecordSize());
    reader.SetBlobReader(
        [&source](const std::uint8_t* record, const TFieldDescriptor& field, std::string& value) {
          return source.ReadStoredBlob(field, std::span(record, source.RecordSize()), value);
        });
    std::vector<std::uint8_t> buffer(source.RecordSize(), 0);
    source.First();
    TCursorAppendRun run(*FResult);
    while (source.GetNextRecord(buffer) == 0) {
      FResult->InitNewRecord(FRecord);
      for (std::size_t i = 0; i < FLayout.ColumnCount; ++i) {
        TExpTokenPtr value = NewToken();
        value->FKind = kNodeConstant;
        SetColumnType(*value, fields[i]);
        reader.FetchColumn(buffer.data(), *value);
        StoreColumn(FRecord, static_cast<int>(i) + 1, *value);
      }
      Append(FRecord);
    }
    run.End();
    if (!FQuery.FUnionAll) Sort(AllColumns(), TDuplicateMode::Remove, -1, false);
  }

  std::vector<TSortField> OrderByFields() const {
    std::vector<TSortField> fields;
    for (const TOrderByField& item : FQuery.FOrderBy) {
      fields.push_back(SortFieldOf(item.ResultColumn, item.Descending));
    }
    return fields;
  }

  void OrderAndTop() {
    if (NeedsOrderSort()) {
      Sort(OrderByFields(), TDuplicateMode::Keep, FQuery.FTop, FQuery.FOrderByNoCase);
      return;
    }
    // TOP after a UNION without ORDER BY: the first rows as they stand.
    if (FQuery.FTop >= 0 && FQuery.FUnionNext != nullptr) {
      Sort({}, TDuplicateMode::Keep, FQuery.FTop, false);
    }
  }

  // The AVG count fields are the grouping's own: the caller sees the result columns only.
  void HideAverageCounts() {
    if (FLayout.Fields.size() == FLayout.ColumnCount) return;
    std::vector<TCursorFieldDefinition> fields;
    for (std::size_t i = 1; i <= FLayout.ColumnCount; ++i) {
      TCursorFieldDefinition field;
      field.TableFieldNo = static_cast<int>(i);
      fields.push_back(std::move(field));
    }
    FResult->SetCalculatedFields(fields, nullptr);
  }

  TDataQuery& FQuery;
  TDataDirectory& FDirectory;
  TSourceRows FRows;
  TResultLayout FLayout;
  TDataCursor* FResult = nullptr;
  std::vector<TFieldDescriptor> FFields;
  TTableLocale FLocale;
  std::vector<std::uint8_t> FRecord;
  std::vector<std::uint8_t> FGroupRow;
  std::int64_t FGroupRows = 0;
  std::unique_ptr<TGroupAggregates> FAggregates;
  std::vector<TLoopLevel> FLevels;
  std::vector<const TExpToken*> FResidual;
  std::int64_t FAppended = 0;
  bool FStopped = false;
  bool FAborted = false;
  std::int64_t FDrivingCount = 0;
  std::int64_t FDrivingDone = 0;
  std::unique_ptr<TProgressSteps> FProgress;
  std::unique_ptr<TTopRows> FTopRows;
};

}  // namespace

TDataCursor* ExecuteCannedSelect(TDataQuery& query, TDataDirectory& directory) {
  return TCannedSelect(query, directory).Run();
}

}  // namespace kura
