#include "dataset/result_cursor.h"

namespace kura {

bool FieldValuesEqual(TFieldType type, const TFieldValue& a, const TFieldValue& b) {
  if (a.IsNull || b.IsNull) return a.IsNull && b.IsNull;
  if (IsTextType(type)) return a.Text == b.Text;
  if (IsFloatType(type)) return a.Float == b.Float;
  return a.Integer == b.Integer;
}

int TResultCursor::GetNextRecords(int count, std::vector<TRowBuffer>& rows) {
  rows.clear();
  for (int i = 0; i < count; ++i) {
    TRowBuffer row;
    if (GetNextRecord(row.Values) != TFetchResult::kOk) break;
    row.RecNo = RecNo();
    row.Bookmark = GetBookmark();
    rows.push_back(std::move(row));
  }
  return static_cast<int>(rows.size());
}

bool TResultCursor::Locate(int field, const TFieldValue& value, TRecord& record) {
  const std::vector<TFieldDef>& defs = FieldDefs();
  if (field < 0 || static_cast<std::size_t>(field) >= defs.size()) return false;
  const TFieldType type = defs[static_cast<std::size_t>(field)].DataType;
  First();
  TRecord row;
  while (GetNextRecord(row) == TFetchResult::kOk) {
    if (static_cast<std::size_t>(field) < row.size() &&
        FieldValuesEqual(type, row[static_cast<std::size_t>(field)], value)) {
      record = std::move(row);
      return true;
    }
  }
  return false;
}

}  // namespace kura
