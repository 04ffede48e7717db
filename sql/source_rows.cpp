#include "sql/source_rows.h"

#include "engine/data_cursor.h"
#include "engine/data_table.h"

namespace kura {

namespace {

template <typename TVisit>
void VisitTree(const TExpToken& node, TVisit& visit) {
  visit(node);
  if (node.FLeft != nullptr) VisitTree(*node.FLeft, visit);
  if (node.FRight != nullptr) VisitTree(*node.FRight, visit);
  for (const TExpToken* arg : node.FArgs) {
    if (arg != nullptr) VisitTree(*arg, visit);
  }
}

void CollectAndParts(const TExpToken& node, std::vector<const TExpToken*>& parts) {
  if (node.FKind == kNodeBinary && node.FOperator == opAnd && node.FLeft != nullptr &&
      node.FRight != nullptr) {
    CollectAndParts(*node.FLeft, parts);
    CollectAndParts(*node.FRight, parts);
    return;
  }
  parts.push_back(&node);
}

}  // namespace

TSourceRows::TSourceRows(std::vector<TSourceTable>& tables) : FTables(tables) {
  for (TSourceTable& table : tables) {
    const TDataFile& data = table.Cursor->Table()->Data();
    FFields.emplace_back(data.Descriptors().begin(), data.Descriptors().end());
    FBuffers.emplace_back(table.Cursor->RecordSize(), 0);
    FNullRows.push_back(false);
  }
  for (std::size_t i = 0; i < tables.size(); ++i) {
    auto reader = std::make_unique<TRecordFields>(FFields[i], FBuffers[i].size());
    TDataCursor* cursor = tables[i].Cursor;
    std::size_t size = FBuffers[i].size();
    reader->SetBlobReader([cursor, size](const std::uint8_t* record, const TFieldDescriptor& field,
                                         std::string& value) {
      return cursor->ReadStoredBlob(field, std::span(record, size), value);
    });
    FReaders.push_back(std::move(reader));
  }
}

TSourceRows::~TSourceRows() = default;

std::size_t TSourceRows::IndexOf(const void* table) const {
  for (std::size_t i = 0; i < FTables.size(); ++i) {
    if (&FTables[i] == table) return i;
  }
  return FTables.size();
}

void TSourceRows::FetchColumn(const void*, TExpToken& node) {
  std::size_t i = IndexOf(node.FSourceTable);
  if (i == FTables.size() || FNullRows[i]) {
    SetNullValue(node);
    return;
  }
  FReaders[i]->FetchColumn(FBuffers[i].data(), node);
}

std::vector<const TExpToken*> SplitAtAnd(const TExpToken& condition) {
  std::vector<const TExpToken*> parts;
  CollectAndParts(condition, parts);
  return parts;
}

std::set<const void*> TablesNamed(const TExpToken& tree) {
  std::set<const void*> tables;
  auto visit = [&tables](const TExpToken& node) {
    if (node.FKind == kNodeColumn && node.FSourceTable != nullptr) {
      tables.insert(node.FSourceTable);
    }
  };
  VisitTree(tree, visit);
  return tables;
}

bool HoldsSubSelect(const TExpToken& tree) {
  bool found = false;
  auto visit = [&found](const TExpToken& node) {
    found = found || node.FKind == kNodeSubSelect || node.FSubQuery != nullptr;
  };
  VisitTree(tree, visit);
  return found;
}

}  // namespace kura
