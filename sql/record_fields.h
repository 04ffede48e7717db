// Columns of one table's record image for binding and evaluation: names resolve to the
// table's field descriptors, values are read from the record image handed to the evaluator
// (a const std::uint8_t* of the record's full size). Cursors and the SQL layer bring their
// own resolvers and fetchers; this one serves plain records (tests, tools, fuzzing).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "sql/expression_binder.h"
#include "sql/expression_evaluator.h"
#include "storage/field_descriptor.h"

namespace kura {

// Gives a column node the field's number, type, subtype, size and scale.
void SetColumnType(TExpToken& node, const TFieldDescriptor& field);

class TRecordFields : public TColumnResolver, public TColumnFetcher {
 public:
  // Reads a BLOB field's whole value (the text of a memo) for the record; without a reader a
  // BLOB column evaluates as NULL.
  using TBlobReader = std::function<bool(const std::uint8_t* record, const TFieldDescriptor& field,
                                         std::string& value)>;

  // The descriptors must outlive this object; records are recordSize bytes.
  TRecordFields(std::span<const TFieldDescriptor> fields, std::size_t recordSize);

  void SetBlobReader(TBlobReader reader) { FBlobReader = std::move(reader); }

  // Names compare without regard to ASCII case; a correlation name is not checked.
  bool ResolveColumn(TExpToken& node) override;
  void FetchColumn(const void* record, TExpToken& node) override;

 private:
  std::span<const TFieldDescriptor> FFields;
  std::size_t FRecordSize;
  TBlobReader FBlobReader;
};

}  // namespace kura
