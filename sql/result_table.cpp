#include "sql/result_table.h"

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <string>

#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "sql/query_binder.h"
#include "storage/ascii_case.h"
#include "storage/field_types.h"

namespace kura {

namespace {

constexpr const char* kAvgCountName = "Sys__Avg__Count";

std::string FieldNameOf(const TResultField& field) {
  std::string name = ResultColumnName(field);
  if (name.empty() || !ValidFirstNameByte(static_cast<unsigned char>(name.front()))) {
    name = "_" + name;
  }
  if (name.size() > kMaxResultFieldName) name.resize(kMaxResultFieldName);
  return name;
}

bool NameTaken(const std::vector<TFieldDescriptor>& fields, const std::string& name) {
  return std::any_of(fields.begin(), fields.end(), [&name](const TFieldDescriptor& field) {
    return EqualsIgnoringAsciiCase(field.FieldName, name);
  });
}

// The name itself, else the name with "_2", "_3", ... in place of its end.
std::string UniqueName(const std::vector<TFieldDescriptor>& fields, std::string name) {
  for (int n = 2; NameTaken(fields, name); ++n) {
    std::string suffix = "_" + std::to_string(n);
    std::string base = name.substr(0, std::min(name.size(), kMaxResultFieldName - suffix.size()));
    std::size_t cut = base.rfind('_');
    if (n > 2 && cut != std::string::npos) base.resize(cut);
    name = base + suffix;
  }
  return name;
}

TFieldDescriptor ColumnDescriptor(const TResultField& field) {
  const TExpToken& node = *field.Expression;
  TFieldDescriptor descriptor;
  const bool plain = field.Aggregate == akNone && node.FKind == kNodeColumn &&
                     node.FSourceTable != nullptr && field.SourceFieldNo != 0;
  if (plain) {
    const auto& table = *static_cast<const TSourceTable*>(node.FSourceTable);
    const TFieldDescriptor& source =
        table.Cursor->Table()->Data().Descriptors()[node.FFieldNo - 1u];
    descriptor = MakeFieldDescriptor("", source.FieldType, source.FieldSize, source.FieldSubType,
                                     source.FieldDecimals);
    descriptor.FieldDescription = table.TableName + "." + source.FieldName;
  } else {
    std::uint8_t size = 0;
    if (HasDeclaredSize(field.DataType)) {
      size = static_cast<std::uint8_t>(std::clamp<std::int32_t>(field.Size, 1, kMaxDeclaredSize));
    }
    descriptor = MakeFieldDescriptor("", field.DataType, size, field.SubType, field.Scale);
  }
  if (descriptor.FieldSubType == kSubTypeAutoInc) descriptor.FieldSubType = kSubTypeNone;
  return descriptor;
}

std::string UniqueTableName() {
  static std::atomic<unsigned> counter{0};
  return "KuraResult" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

// The directory part of an INTO name ("dir\name"), empty when there is none.
std::string DirectoryPart(const std::string& name) {
  std::size_t slash = name.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

}  // namespace

std::vector<std::string> ResultFieldNames(const TDataQuery& query) {
  std::vector<TFieldDescriptor> named;
  std::vector<std::string> names;
  for (const TResultField& field : query.FResultFields) {
    named.push_back(MakeFieldDescriptor(UniqueName(named, FieldNameOf(field)), kFieldTypeInteger));
    names.push_back(named.back().FieldName);
  }
  return names;
}

TResultLayout MakeResultLayout(const TDataQuery& query) {
  TResultLayout layout;
  layout.ColumnCount = query.FResultFields.size();
  std::vector<std::string> names = ResultFieldNames(query);
  for (std::size_t i = 0; i < query.FResultFields.size(); ++i) {
    TFieldDescriptor descriptor = ColumnDescriptor(query.FResultFields[i]);
    descriptor.FieldName = names[i];
    layout.Fields.push_back(std::move(descriptor));
  }
  for (std::size_t i = 0; i < query.FResultFields.size(); ++i) {
    int countField = 0;
    if (query.FResultFields[i].Aggregate == akAvg) {
      std::string name =
          UniqueName(layout.Fields, kAvgCountName + std::to_string(layout.Fields.size() + 1));
      layout.Fields.push_back(MakeFieldDescriptor(name, kFieldTypeInteger));
      countField = static_cast<int>(layout.Fields.size());
    }
    layout.AvgCountFields.push_back(countField);
  }
  return layout;
}

TResultTable::TResultTable(const TDataQuery& query, TDataDirectory& statementDirectory,
                           const TResultLayout& layout) {
  TDataSession& session = statementDirectory.Session();
  TDataDirectory* directory = &statementDirectory;
  std::string name = query.FIntoTable;
  const bool kept = !name.empty();
  if (query.FIntoMemory || (statementDirectory.IsInMemory() && !kept)) {
    directory = FOpenedDirectory = &session.OpenDirectory(kInMemoryDatabaseName, {});
  } else if (kept && !DirectoryPart(name).empty()) {
    std::string part = DirectoryPart(name);
    directory = FOpenedDirectory = &session.OpenDirectory(part, part);
    name = name.substr(part.size() + 1);
  } else if (!kept) {
    const std::string& path = session.GetPrivateDir();
    directory = FOpenedDirectory = &session.OpenDirectory(path, path);
  }
  if (name.empty()) name = UniqueTableName();
  try {
    TTableDefinition definition;
    definition.Fields = layout.Fields;
    definition.Settings.LanguageId = static_cast<std::int16_t>(query.FLanguageId);
    definition.Settings.SortId = static_cast<std::int16_t>(query.FSortId);
    if (query.FEncrypted && !query.FPassword.empty()) {
      definition.Settings.Encrypted = true;
      definition.Settings.Password = query.FPassword;
      session.AddPassword(query.FPassword);
    }
    FCursor = std::make_unique<TDataCursor>(*directory);
    FCursor->SetTableName(name);
    FCursor->SetInMemory(directory->IsInMemory());
    FCursor->SetExclusive(true);
    FCursor->SetTemporary(!kept);
    FCursor->CreateTable(definition, true);
    FCursor->Open();
  } catch (...) {
    FCursor.reset();
    if (FOpenedDirectory != nullptr) session.CloseDirectory(FOpenedDirectory);
    throw;
  }
}

TResultTable::~TResultTable() {
  if (FCursor == nullptr) return;
  TDataDirectory& directory = FCursor->Directory();
  FCursor.reset();  // closes quietly; a temporary table's files go with it
  if (FOpenedDirectory == nullptr) return;
  try {
    directory.Session().CloseDirectory(FOpenedDirectory);
  } catch (...) {  // nothing of ours is left open in it
  }
}

}  // namespace kura
