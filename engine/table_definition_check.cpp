#include "engine/table_definition_check.h"

#include <map>
#include <set>
#include <string>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/ascii_case.h"
#include "storage/collation.h"
#include "storage/field_types.h"
#include "storage/index_key.h"
#include "storage/record_image.h"

namespace kura {
namespace {

constexpr std::size_t kMaxIndexDefinitions = 32;
constexpr std::uint32_t kMinBlobBlockSize = 64;

class TDefinitionCheck {
 public:
  TDefinitionCheck(std::string_view tableName, TTableDefinition& definition)
      : FTable(tableName), FDefinition(definition) {}

  void Options(std::int32_t lastAutoInc) const {
    const TDataFileSettings& settings = FDefinition.Settings;
    if (settings.Encrypted) {
      const std::string_view password = TrimAsciiBlanks(settings.Password);
      if (password.empty() || password.size() > kMaxPasswordLength) Raise(codes::kInvalidPassword);
    }
    if (settings.LanguageId != 0 &&
        !LocaleInstalled(static_cast<std::uint16_t>(settings.LanguageId),
                         static_cast<std::uint16_t>(settings.SortId))) {
      Raise(codes::kLanguageNotInstalled);
    }
    if (FDefinition.Fields.size() > kMaxFieldCount || lastAutoInc < -1) Raise(codes::kFieldLimits);
    const std::size_t indexes =
        1 + FDefinition.SecondaryIndexes.size() + (FDefinition.TextIndexFields.empty() ? 0 : 1);
    if (indexes > kMaxIndexDefinitions) Raise(codes::kIndexLimits);
    if (settings.BlobBlockSize < kMinBlobBlockSize) Raise(codes::kBlobFieldLimits);
  }

  void Fields() {
    std::vector<TFieldDescriptor>& fields = FDefinition.Fields;
    std::set<std::uint16_t> numbers;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      TFieldDescriptor& field = fields[i];
      field.FieldName =
          std::string(TrimAsciiBlanks(field.FieldName).substr(0, kMaxFieldNameLength));
      if (!FieldNameIsSound(fields, i)) RaiseField(codes::kInvalidFieldName, field.FieldName);
      if (field.FieldNo != 0 && !numbers.insert(field.FieldNo).second)
        RaiseField(codes::kInvalidFieldDefinition, field.FieldName);
      FPositionOf[field.FieldNo != 0 ? field.FieldNo : static_cast<std::uint16_t>(i + 1)] =
          static_cast<std::uint16_t>(i + 1);
      if (field.FieldType == 0 || field.Computed)
        RaiseField(codes::kInvalidFieldDefinition, field.FieldName);
      if (HasDeclaredSize(field.FieldType)) {
        if (field.FieldSize < 1 || field.FieldSize > kMaxDeclaredSize)
          RaiseField(codes::kInvalidFieldDefinition, field.FieldName);
      } else {
        field.FieldSize = 0;
      }
      if (field.FieldType != kFieldTypeBcd) field.FieldDecimals = 0;
      // Name, type, size and decimals are sound by now: what is left are the texts.
      if (!FieldDefinitionIsSound(fields, i))
        RaiseField(codes::kInvalidValidityCheck, field.FieldName);
    }
    // A table from a caller that gave numbers to some fields only would be ambiguous.
    if (!numbers.empty() && numbers.size() != fields.size()) Raise(codes::kInvalidFieldDefinition);
  }

  void Indexes() {
    if (FDefinition.SecondaryIndexes.size() > kMaxSecondaryIndexes) Raise(codes::kIndexLimits);
    KeyFields(FDefinition.PrimaryIndex, true);
    std::vector<std::string> names;
    for (TIndexDefinition& index : FDefinition.SecondaryIndexes) {
      index.Name = std::string(TrimAsciiBlanks(index.Name));
      if (index.Name.empty()) Raise(codes::kIndexNameMissing);
      if (!ValidFirstNameByte(static_cast<unsigned char>(index.Name[0])) ||
          index.Name.size() > kMaxIndexNameLength)
        RaiseIndex(codes::kInvalidIndexName, index.Name);
      for (const std::string& name : names) {
        if (EqualsIgnoringAsciiCase(name, index.Name)) RaiseIndex(codes::kIndexExists, index.Name);
      }
      names.push_back(index.Name);
      KeyFields(index, false);
    }
    for (std::uint16_t& number : FDefinition.TextIndexFields) {
      const TFieldDescriptor& field = FieldOf(number, {});
      const bool memo =
          field.FieldType == kFieldTypeBlob &&
          (field.FieldSubType == kSubTypeMemo || field.FieldSubType == kSubTypeFormattedMemo);
      if (field.FieldType != kFieldTypeString && !memo)
        RaiseField(codes::kInvalidIndexField, field.FieldName);
      number = FPositionOf.at(number);
    }
  }

 private:
  void KeyFields(TIndexDefinition& index, bool primary) {
    if (index.Fields.size() > static_cast<std::size_t>(kMaxKeyFields))
      RaiseIndex(codes::kIndexLimits, index.Name);
    if (index.Fields.empty() && !primary)
      RaiseEngineError(codes::kInvalidIndexFieldNumber, {}, {}, {}, FTable, {}, index.Name, "0");
    int bytes = 0;
    for (std::uint16_t& number : index.Fields) {
      const TFieldDescriptor& field = FieldOf(number, index.Name);
      if (field.FieldType == kFieldTypeBlob) RaiseIndex(codes::kInvalidIndexField, index.Name);
      TFieldDescriptor sized = field;
      RecomputePhysicalSize(sized);
      bytes += KeySize(sized) + 1;
      number = FPositionOf.at(number);
    }
    if (!index.Fields.empty() && (bytes < 1 || bytes > kMaxKeyFieldBytes))
      RaiseIndex(codes::kInvalidKeySize, index.Name);
  }

  const TFieldDescriptor& FieldOf(std::uint16_t number, std::string_view indexName) const {
    const auto found = FPositionOf.find(number);
    if (number == 0 || found == FPositionOf.end()) {
      RaiseEngineError(codes::kInvalidIndexFieldNumber, {}, {}, {}, FTable, {}, indexName,
                       std::to_string(number));
    }
    return FDefinition.Fields[found->second - 1u];
  }

  [[noreturn]] void Raise(std::uint16_t code) const { RaiseTableError(code, FTable); }
  [[noreturn]] void RaiseField(std::uint16_t code, std::string_view field) const {
    RaiseEngineError(code, {}, {}, {}, FTable, field);
  }
  [[noreturn]] void RaiseIndex(std::uint16_t code, std::string_view index) const {
    RaiseEngineError(code, {}, {}, {}, FTable, {}, index);
  }

  std::string_view FTable;
  TTableDefinition& FDefinition;
  // Field number as the definition gives it -> position (1-based).
  std::map<std::uint16_t, std::uint16_t> FPositionOf;
};

}  // namespace

void CheckTableDefinition(std::string_view tableName, TTableDefinition& definition,
                          std::int32_t lastAutoInc) {
  TDefinitionCheck check(tableName, definition);
  check.Options(lastAutoInc);
  check.Fields();
  check.Indexes();
}

}  // namespace kura
