#include "engine/navigation_test_support.h"

#include <gtest/gtest.h>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/field_types.h"
#include "storage/index_tree_check.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura::test {

namespace {
constexpr std::uint16_t kGermanStandard = 0x0407;
}

TNavTable::TNavTable(const TNavTableOptions& options) : Options(options) {
  TFieldDescriptor name;
  name.FieldName = "NAME";
  name.FieldType = kFieldTypeString;
  name.FieldSize = static_cast<std::uint8_t>(options.NameSize);
  Fields.push_back(name);
  TFieldDescriptor number;
  number.FieldName = "N";
  number.FieldType = kFieldTypeInteger;
  Fields.push_back(number);
  RecordSize = LayoutFields(Fields);
  if (options.WithLocale) Locale.LanguageId = kGermanStandard;

  const int keyFields = options.NumberField ? 2 : 1;
  Descriptor.IndexName = "ByName";
  Descriptor.Unique = options.Unique;
  Descriptor.Descending = options.Descending;
  Descriptor.Compression = options.Compression;
  Descriptor.UncountedIndex = options.Uncounted;
  Descriptor.KeyFieldCount = static_cast<std::uint8_t>(keyFields);
  for (int i = 0; i < keyFields; ++i) Descriptor.KeyFields[i] = static_cast<std::uint16_t>(i + 1);
  Descriptor.FieldDescending[0] = options.NameDescending;
  Descriptor.KeyLength = static_cast<std::uint16_t>(
      KeyLengthOf(std::span(Fields.data(), static_cast<std::size_t>(keyFields)), options.Unique));
  Keys = MakeKeyFormat(1, Descriptor, Fields, Locale);
  Pages = PageFormatOf(1, Descriptor);
  Store = std::make_unique<TMemoryPageStore>(1, Pages, options.Images);
  Tree = std::make_unique<TIndexTree>(*Store, Keys, Pages);
}

std::vector<std::uint8_t> TNavTable::MakeRecord(const std::string& name, std::int32_t number,
                                                std::int32_t rowId) const {
  std::vector<std::uint8_t> record(RecordSize, 0);
  SetField(record, Fields[0], name.c_str(), false, Locale);
  std::uint8_t bytes[4];
  PutI32LE(bytes, number);
  SetField(record, Fields[1], bytes, false, Locale);
  SetRowId(record, rowId);
  return record;
}

TKey TNavTable::KeyFor(const std::string& name, std::int32_t number, std::int32_t rowId) const {
  TKey key(static_cast<std::size_t>(Keys.KeyLength));
  BuildKey(Keys, MakeRecord(name, number, rowId), key);
  return key;
}

TKey TNavTable::KeyOf(std::int32_t recordNo) const {
  TKey key(static_cast<std::size_t>(Keys.KeyLength));
  BuildKey(Keys, Records.at(recordNo - 1), key);
  return key;
}

std::int32_t TNavTable::Insert(const std::string& name, std::int32_t number) {
  const auto recordNo = static_cast<std::int32_t>(Records.size() + 1);
  std::vector<std::uint8_t> record = MakeRecord(name, number, recordNo);
  TKey key(static_cast<std::size_t>(Keys.KeyLength));
  BuildKey(Keys, record, key);
  if (!Tree->Insert(key.data(), recordNo)) return 0;
  Records.push_back(std::move(record));
  Names.push_back(name);
  Live.SetSize(static_cast<std::uint32_t>(recordNo));
  Live.SetBit(static_cast<std::uint32_t>(recordNo));
  return recordNo;
}

void TNavTable::Delete(std::int32_t recordNo) {
  ASSERT_TRUE(IsLive(recordNo));
  ASSERT_TRUE(Tree->Delete(KeyOf(recordNo).data()));
  Live.ClearBit(static_cast<std::uint32_t>(recordNo));
}

void TNavTable::ExpectSound() const {
  TTreeCheckReport report = CheckIndexTree(*Store, Keys, Pages);
  EXPECT_TRUE(report.Ok()) << report.Text();
  EXPECT_EQ(Store->PinnedPages(), 0);
}

TPage* TFailingStore::GetPage(std::int32_t pageNo) {
  ++FReads;
  if (FAllowed == 0) RaiseEngineError(codes::kIndexPagesCorrupt);
  if (FAllowed > 0) --FAllowed;
  return TForwardingPageStore::GetPage(pageNo);
}

}  // namespace kura::test
