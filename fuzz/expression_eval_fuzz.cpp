// Arbitrary text parsed, bound and evaluated against one fixed record holding a field of
// every type (some NULL): a value or an engine error, never a crash, a hang or a leak. The
// first byte picks the binding options and the locale.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/engine_error.h"
#include "sql/expression_binder.h"
#include "sql/expression_evaluator.h"
#include "sql/expression_parser.h"
#include "sql/record_fields.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/record_image.h"

namespace {

struct TFixedRecord {
  std::vector<kura::TFieldDescriptor> Fields;
  std::vector<std::uint8_t> Image;

  TFixedRecord() {
    using namespace kura;
    struct TSpec {
      const char* Name;
      std::uint8_t Type;
      std::uint8_t SubType;
      std::uint8_t Size;
      const char* Value;  // nullptr: NULL
    };
    const TSpec specs[] = {
        {"s", kFieldTypeString, 0, 20, "Hello"},
        {"e", kFieldTypeString, 0, 10, nullptr},
        {"d", kFieldTypeDate, 0, 0, "2001-02-03"},
        {"m", kFieldTypeBlob, kSubTypeMemo, 0, nullptr},
        {"b", kFieldTypeBoolean, 0, 0, "TRUE"},
        {"si", kFieldTypeSmallInt, 0, 0, "-7"},
        {"i", kFieldTypeInteger, 0, 0, "10"},
        {"n", kFieldTypeInteger, 0, 0, nullptr},
        {"f", kFieldTypeFloat, 0, 0, "2.5"},
        {"bcd", kFieldTypeBcd, 0, 0, "-12.25"},
        {"by", kFieldTypeBytes, 0, 4, "ab"},
        {"t", kFieldTypeTime, 0, 0, "13:14:15"},
        {"ts", kFieldTypeTimestamp, 0, 0, "2001-02-03 04:05"},
        {"w", kFieldTypeWord, 0, 0, "65535"},
        {"big", kFieldTypeLargeInt, 0, 0, "9000000000"},
        {"a", kFieldTypeInteger, kSubTypeAutoInc, 0, nullptr},
    };
    for (const TSpec& spec : specs) {
      TFieldDescriptor field;
      field.FieldName = spec.Name;
      field.FieldType = spec.Type;
      field.FieldSubType = spec.SubType;
      field.FieldSize = spec.Size;
      field.FieldDecimals = spec.Type == kFieldTypeBcd ? 2 : 0;
      Fields.push_back(field);
    }
    Image.assign(LayoutFields(Fields), 0);
    std::int32_t lastRowId = 0;
    InitRecord(Image, 1, true, lastRowId);
    for (std::size_t i = 0; i < Fields.size(); ++i) {
      if (specs[i].Value == nullptr) continue;
      std::vector<std::uint8_t> bytes = ValueFromText(Fields[i].FieldType, specs[i].Value,
                                                      Fields[i].FieldSize, Fields[i].FieldDecimals);
      bytes.push_back(0);
      SetField(Image, Fields[i], bytes.data(), true, {});
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TFixedRecord record;
  if (size == 0) return 0;
  const std::uint8_t options = data[0];
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  kura::TExpressionParser parser;
  parser.SetContextName("fuzz");
  parser.SetExpression(text);
  kura::TRecordFields fields(record.Fields, record.Image.size());
  kura::TBindOptions bind;
  bind.ContextName = "fuzz";
  bind.StringConstantsAsColumns = (options & 1) != 0;
  bind.BooleanColumnsStandAlone = (options & 2) != 0;
  kura::TEvalLocale locale;
  if (options & 4) locale.LanguageId = 1033;
  try {
    parser.NextToken();
    kura::TExpTokenPtr tree =
        parser.ParseExpression(kura::kAllowPredicates | kura::kAllowAggregates);
    kura::BindExpression(bind, &fields, nullptr, *tree);
    if (options & 8) {
      // As a filter compare node when the top is a comparison.
      if (tree->FKind == kura::kNodeBinary && tree->FOperator >= 3 && tree->FOperator <= 8) {
        tree->FKind = kura::kNodeCompare;
        tree->FCaseInsensitive = 1;
        tree->FPartialLength = options >> 4;
      }
    }
    kura::TExpTokenPtr value =
        kura::EvaluateExpression(*tree, record.Image.data(), &fields, locale);
    if (value->FKind != kura::kNodeConstant) std::abort();
  } catch (const kura::EKuraEngineError& error) {
    // Syntax and type errors, or a computed string grown too long (out of memory).
    if ((error.ErrorCode != 11949 && error.ErrorCode != 11016) || error.ErrorText.size() > 255) {
      std::abort();
    }
  }
  return 0;
}
