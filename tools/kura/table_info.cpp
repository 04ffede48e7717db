#include "tools/kura/table_info.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <sstream>

#include "dataset/cp932.h"
#include "storage/field_types.h"

namespace kura::tool {
namespace {

constexpr double kDaysFrom1899To1970 = 25569.0;
constexpr double kSecondsPerDay = 86400.0;

TFact Number(std::string label, std::string key, std::int64_t value) {
  return {std::move(label), std::move(key), std::to_string(value), TFactKind::Number};
}
TFact Flag(std::string label, std::string key, bool value) {
  return {std::move(label), std::move(key), value ? "yes" : "no", TFactKind::Flag};
}
TFact Text(std::string label, std::string key, std::string value) {
  return {std::move(label), std::move(key), std::move(value), TFactKind::Text};
}
TFact Unknown(std::string label, std::string key) {
  return {std::move(label), std::move(key), "?", TFactKind::Unknown};
}

// The header's LastUpdated as local date and time, or the raw number when it is no date.
std::string LastUpdatedText(double stored) {
  const double days = stored + kLastUpdatedBias - kDaysFrom1899To1970;
  const double seconds = std::round(days * kSecondsPerDay);
  // Years 1 to 9999 only: anything else is a damaged header, shown as it is.
  if (!std::isfinite(seconds) || seconds < -62135596800.0 || seconds > 253402300799.0) {
    char raw[64];
    std::snprintf(raw, sizeof raw, "%.6f", stored);
    return raw;
  }
  const auto when = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&when, &parts);  // the stored value is local time already
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

std::string VersionText(std::int64_t engineVersion) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%02lld", static_cast<long long>(engineVersion / 10000),
                static_cast<long long>(engineVersion % 10000 / 100));
  return text;
}

std::string BlobTypeName(std::uint8_t subType) {
  switch (subType) {
    case kSubTypeMemo:
      return "MEMO";
    case kSubTypeNone:
    case kSubTypeBinaryBlob:
      return "BLOB";
    case kSubTypeFormattedMemo:
      return "FMTMEMO";
    case kSubTypeGraphic:
      return "GRAPHIC";
    case kSubTypeOleObject:
    case kSubTypeOleObject2:
      return "OLEOBJ";
    case kSubTypeTypedBinary:
      return "TYPEDBLOB";
    default:
      return "BLOB(" + std::to_string(subType) + ")";
  }
}

// Whether the table's contents may be shown: always for a table that is not encrypted,
// else only with its password. reason says why not.
bool ContentsShown(const TTablePath& path, TDataFile& data, const TInfoAccess& access,
                   std::string& reason) {
  if (!data.Encrypted()) return true;
  std::optional<std::string> password = access.Password;
  if (!password && access.Ask) password = access.Ask(path.TableName());
  if (!password) {
    reason = "hidden: the table is encrypted and no password was given";
    return false;
  }
  // Stored passwords are code page 932; one that does not convert cannot match.
  const std::optional<std::string> stored = TryUtf8ToCp932(*password);
  if (stored && !stored->empty() && *stored == data.Password()) return true;
  reason = "hidden: the table is encrypted and the password given is not its password";
  return false;
}

TFacts DataFacts(TDataFile& data, bool shown, const std::string& hiddenReason) {
  const TDataHeader& header = data.Header();
  TFacts facts = {Text("data file", "file", data.FileName()),
                  Number("version", "version", header.Version),
                  Number("change count", "changeCount", header.ChangeCount),
                  Text("last updated", "lastUpdated", LastUpdatedText(header.LastUpdated)),
                  Text("engine version", "engineVersion", VersionText(header.EngineVersion)),
                  Number("record size", "recordSize", header.RecordSize),
                  Number("fields", "fieldCount", header.FieldCount),
                  Number("BLOB fields", "blobFieldCount", header.BlobFieldCount),
                  Number("record slots", "recordSlots", data.RecordCount()),
                  Number("first free slot", "firstFree", header.FirstFree),
                  Number("last auto-increment", "lastAutoInc", header.LastAutoInc),
                  Number("last BLOB change", "lastBlobChange", header.LastBlobChange),
                  Number("BLOB block size", "blobBlockSize", data.BlobBlockSize()),
                  Text("description", "description", Cp932ToUtf8(data.Description())),
                  Flag("encrypted", "encrypted", data.Encrypted()),
                  Number("language id", "languageId", header.LanguageId),
                  Number("sort id", "sortId", header.SortId),
                  Number("user major version", "userMajorVersion", header.UserMajorVersion),
                  Number("user minor version", "userMinorVersion", header.UserMinorVersion),
                  Text("contents", "contents", shown ? "shown" : hiddenReason)};
  if (!shown) {
    facts.erase(std::remove_if(facts.begin(), facts.end(),
                               [](const TFact& fact) { return fact.Key == "description"; }),
                facts.end());
  }
  return facts;
}

const char* CharCaseName(std::uint8_t charCase) {
  switch (charCase) {
    case 1:
      return "lower";
    case 2:
      return "upper";
    default:
      return "unchanged";
  }
}

TFacts FieldFacts(const TFieldDescriptor& field) {
  return {Number("no", "number", field.FieldNo),
          Text("name", "name", Cp932ToUtf8(field.FieldName)),
          Text("type", "type", FieldTypeName(field)),
          Number("code", "typeCode", field.FieldType),
          Number("sub", "subType", field.FieldSubType),
          Number("offset", "offset", field.FieldOffset),
          Number("bytes", "physicalSize", field.PhysicalSize),
          Flag("required", "required", field.Required != 0),
          Text("case", "charCase", CharCaseName(field.CharCase)),
          Text("min", "minValue", Cp932ToUtf8(field.MinValue)),
          Text("max", "maxValue", Cp932ToUtf8(field.MaxValue)),
          Text("default", "defaultValue", Cp932ToUtf8(field.DefaultValue)),
          Text("description", "description", Cp932ToUtf8(field.FieldDescription))};
}

TFacts IndexHeaderFacts(TIndexFile& index) {
  const TIndexHeader& header = index.Header();
  return {Text("index file", "file", index.FileName()),
          Number("change count", "changeCount", header.IndexChangeCount),
          Number("pages", "pages", header.NextPageNo - 1),
          Number("live records", "liveRecords", header.LiveRecordCount),
          Number("secondary indexes", "secondaryCount", header.SecondaryCount),
          Flag("primary index", "hasPrimaryIndex", !header.NoPrimaryIndex)};
}

std::string KeyFieldNames(const TIndexDescriptor& descriptor, TDataFile& data) {
  std::string names;
  for (int i = 0; i < descriptor.KeyFieldCount && i < kMaxKeyFields; ++i) {
    if (!names.empty()) names += ",";
    const TFieldDescriptor* field = data.DescriptorByNumber(descriptor.KeyFields[i]);
    if (field) {
      names += Cp932ToUtf8(field->FieldName);
    } else {
      names.append("#").append(std::to_string(descriptor.KeyFields[i]));  // no such field
    }
    if (descriptor.FieldDescending[i] && !descriptor.Descending) names += " DESC";
  }
  return names;
}

const char* CompressionName(std::uint8_t compression) {
  switch (compression) {
    case kCompressNone:
      return "none";
    case kCompressDupBytes:
      return "dupbyte";
    case kCompressTrailBytes:
      return "trailbyte";
    case kCompressFull:
      return "full";
    default:
      return "?";
  }
}

TFacts IndexFacts(int slot, TIndexFile& index, TDataFile& data) {
  const TIndexDescriptor& descriptor = index.Header().Descriptors[slot];
  TFacts facts = {Number("slot", "slot", slot),
                  Text("name", "name",
                       slot == kPrimaryIndexSlot ? "(primary)" : Cp932ToUtf8(descriptor.IndexName)),
                  Text("fields", "fields", KeyFieldNames(descriptor, data)),
                  Number("key length", "keyLength", descriptor.KeyLength),
                  Flag("unique", "unique", descriptor.Unique),
                  Flag("descending", "descending", descriptor.Descending),
                  Flag("nocase", "caseInsensitive", descriptor.CaseInsensitive),
                  Text("compression", "compression", CompressionName(descriptor.Compression)),
                  Number("root page", "rootPage", descriptor.RootPage)};
  try {
    facts.push_back(Number("keys", "keys", index.Tree(slot).KeyCount()));
  } catch (const std::exception&) {
    facts.push_back(Unknown("keys", "keys"));
  }
  return facts;
}

TFacts BlobFacts(TBlobFile& blob) {
  const TBlobHeader& header = blob.Header();
  return {Text("BLOB file", "file", blob.FileName()),
          Number("change count", "changeCount", header.BlobChangeCount),
          Number("block size", "blockSize", blob.BlockSize()),
          Number("blocks", "blocks", header.NextBlockNo - 1),
          Number("first free block", "firstFreeBlock", header.FirstFreeBlock)};
}

// --- Text ------------------------------------------------------------------------------

void WriteFactsText(std::ostream& out, const TFacts& facts) {
  std::size_t width = 0;
  for (const TFact& fact : facts) width = std::max(width, fact.Label.size());
  for (const TFact& fact : facts) {
    std::ostringstream line;
    line << "  " << std::left << std::setw(static_cast<int>(width) + 1) << (fact.Label + ":") << ' '
         << fact.Value;
    std::string text = line.str();
    while (text.back() == ' ') text.pop_back();
    out << text << '\n';
  }
}

// Rows as columns under their labels; a column empty in every row is left out.
void WriteRowsText(std::ostream& out, const std::vector<TFacts>& rows) {
  if (rows.empty()) return;
  const std::size_t columns = rows.front().size();
  std::vector<std::size_t> widths(columns, 0);
  for (std::size_t c = 0; c < columns; ++c)
    for (const TFacts& row : rows) widths[c] = std::max(widths[c], row[c].Value.size());
  auto line = [&](auto cell) {
    std::string text = " ";
    for (std::size_t c = 0; c < columns; ++c) {
      if (widths[c] == 0) continue;
      std::string value = cell(c);
      value.resize(std::max(value.size(), std::max(widths[c], rows.front()[c].Label.size())), ' ');
      text += " " + value;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << '\n';
  };
  line([&](std::size_t c) { return rows.front()[c].Label; });
  for (const TFacts& row : rows) line([&](std::size_t c) { return row[c].Value; });
}

// --- JSON ------------------------------------------------------------------------------

// The length of the well-formed UTF-8 sequence text starts with, 0 when it is none.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  std::uint32_t lowest = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    lowest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  std::uint32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code < lowest || code > 0x10FFFF || surrogate ? 0 : length;
}

std::string JsonValue(const TFact& fact) {
  switch (fact.Kind) {
    case TFactKind::Number:
      return fact.Value;
    case TFactKind::Flag:
      return fact.Value == "yes" ? "true" : "false";
    case TFactKind::Unknown:
      return "null";
    case TFactKind::Text:
      break;
  }
  return JsonString(fact.Value);
}

void WriteFactsJson(std::ostream& out, const TFacts& facts) {
  if (facts.empty()) {
    out << "null";
    return;
  }
  out << '{';
  for (std::size_t i = 0; i < facts.size(); ++i)
    out << (i ? ", " : "") << JsonString(facts[i].Key) << ": " << JsonValue(facts[i]);
  out << '}';
}

void WriteRowsJson(std::ostream& out, const std::vector<TFacts>& rows) {
  out << '[';
  for (std::size_t i = 0; i < rows.size(); ++i) {
    out << (i ? ",\n      " : "\n      ");
    WriteFactsJson(out, rows[i]);
  }
  out << (rows.empty() ? "]" : "\n    ]");
}

}  // namespace

std::string FieldTypeName(const TFieldDescriptor& field) {
  const std::string size = std::string("(").append(std::to_string(field.FieldSize)).append(")");
  switch (field.FieldType) {
    case kFieldTypeString:
      return "CHAR" + size;
    case kFieldTypeDate:
      return "DATE";
    case kFieldTypeBlob:
      return BlobTypeName(field.FieldSubType);
    case kFieldTypeBoolean:
      return "BOOLEAN";
    case kFieldTypeSmallInt:
      return "SMALLINT";
    case kFieldTypeInteger:
      return field.FieldSubType == kSubTypeAutoInc ? "AUTOINC" : "INTEGER";
    case kFieldTypeFloat:
      return field.FieldSubType == kSubTypeMoney ? "MONEY" : "FLOAT";
    case kFieldTypeBcd:
      return "DECIMAL(," + std::to_string(field.FieldDecimals) + ")";
    case kFieldTypeBytes:
      return "BYTES" + size;
    case kFieldTypeTime:
      return "TIME";
    case kFieldTypeTimestamp:
      return "TIMESTAMP";
    case kFieldTypeWord:
      return "WORD";
    case kFieldTypeVarBytes:
      return "VARBYTES" + size;
    case kFieldTypeLargeInt:
      return "LARGEINT";
    default:
      return "type " + std::to_string(field.FieldType);
  }
}

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '"' || byte == '\\') {
      json += '\\';
      json += text[i++];
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      json += escaped;
      ++i;
    } else if (const std::size_t length = Utf8SequenceLength(text.substr(i)); length > 0) {
      json.append(text.substr(i, length));
      i += length;
    } else {
      json += "\\ufffd";  // not UTF-8 (a file name, say): the JSON stays valid
      ++i;
    }
  }
  return json + "\"";
}

TTableInfo ReadTableInfo(const TTablePath& path, TFileList& list, const TInfoAccess& access) {
  TTableInfo info;
  info.Table = path.TableName();
  TTableReader reader(path, list);
  reader.Open(info.Problems);
  if (!reader.DataOpen()) return info;
  try {
    if (!reader.LockForReading()) {
      info.Problems.push_back(FileProblem(path.DataName(), "no read lock could be had"));
      return info;
    }
  } catch (const std::exception& error) {
    info.Problems.push_back(FileProblem(path.DataName(), error.what()));
    return info;
  }
  std::string hiddenReason;
  const bool shown = ContentsShown(path, reader.Data(), access, hiddenReason);
  info.Data = DataFacts(reader.Data(), shown, hiddenReason);
  if (!shown) return info;
  for (const TFieldDescriptor& field : reader.Data().Descriptors())
    info.Fields.push_back(FieldFacts(field));
  if (reader.IndexOpen()) {
    info.Index = IndexHeaderFacts(reader.Index());
    for (int slot = 0; slot < kIndexSlotCount; ++slot)
      if (reader.Index().SlotInUse(slot))
        info.Indexes.push_back(IndexFacts(slot, reader.Index(), reader.Data()));
  }
  if (reader.BlobOpen()) info.Blob = BlobFacts(reader.Blob());
  return info;
}

void WriteInfoText(std::ostream& out, const std::vector<TTableInfo>& tables) {
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const TTableInfo& table = tables[i];
    if (i > 0) out << '\n';
    out << "Table " << table.Table << '\n';
    if (!table.Data.empty()) {
      out << "Data file\n";
      WriteFactsText(out, table.Data);
      if (!table.Fields.empty()) out << "Fields\n";
      WriteRowsText(out, table.Fields);
    }
    if (!table.Index.empty()) {
      out << "Index file\n";
      WriteFactsText(out, table.Index);
      out << "Indexes\n";
      WriteRowsText(out, table.Indexes);
    }
    if (!table.Blob.empty()) {
      out << "BLOB file\n";
      WriteFactsText(out, table.Blob);
    }
    for (const std::string& problem : table.Problems) out << "problem: " << problem << '\n';
  }
}

void WriteInfoJson(std::ostream& out, const std::vector<TTableInfo>& tables) {
  out << "{\"tables\": [";
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const TTableInfo& table = tables[i];
    out << (i ? ",\n  {" : "\n  {") << "\"table\": " << JsonString(table.Table);
    out << ",\n    \"data\": ";
    WriteFactsJson(out, table.Data);
    out << ",\n    \"fields\": ";
    WriteRowsJson(out, table.Fields);
    out << ",\n    \"index\": ";
    WriteFactsJson(out, table.Index);
    out << ",\n    \"indexes\": ";
    WriteRowsJson(out, table.Indexes);
    out << ",\n    \"blob\": ";
    WriteFactsJson(out, table.Blob);
    out << ",\n    \"problems\": [";
    for (std::size_t p = 0; p < table.Problems.size(); ++p)
      out << (p ? ", " : "") << JsonString(table.Problems[p]);
    out << "]}";
  }
  out << (tables.empty() ? "]}\n" : "\n]}\n");
}

}  // namespace kura::tool
