// Restructuring a table: new field and index definitions, locale, encryption and header values
// for a table that holds records, in the cheapest of three ways.
//
//   data copy       the field layout (count, or by position a field's number, type, sub-type,
//                   stored size or decimals, required flag, character case, minimum, maximum
//                   or default text), the encryption flag, the BLOB block size or the locale
//                   changed: every live record is copied, field by field with its values
//                   converted, into a new table made under a temporary name in the same
//                   directory; the new table then takes the old one's place by renames that
//                   an interruption cannot leave half done (table_swap.h).
//   index rebuild   only index definitions (or the text index's fields or parameters)
//                   changed: the index file is copied to ".IBK", given its new definitions and
//                   built again from the records; a failure copies it back.
//   in place        only names, descriptions, the password and header values changed.
//
// A record or value that cannot be carried over stops the whole operation with the error that
// refused it, the table left as it was: a restructure never drops data silently. Only the
// values of an old field that no new field takes over are dropped, as asked.
#include <algorithm>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "engine/first_error.h"
#include "engine/table_definition_check.h"
#include "engine/table_restructure.h"
#include "engine/table_swap.h"
#include "storage/ascii_case.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/file_names.h"
#include "storage/record_image.h"

namespace kura {
namespace {

bool IsBlob(const TFieldDescriptor& field) {
  return field.FieldType == kFieldTypeBlob;
}

bool SameLayout(const TFieldDescriptor& old, const TFieldDescriptor& given,
                std::uint16_t givenNumber) {
  TFieldDescriptor sized = given;
  RecomputePhysicalSize(sized);
  return old.FieldNo == givenNumber && old.FieldType == sized.FieldType &&
         old.FieldSubType == sized.FieldSubType && old.PhysicalSize == sized.PhysicalSize &&
         old.PhysicalDecimals == sized.PhysicalDecimals && old.Required == sized.Required &&
         old.CharCase == sized.CharCase && EqualsIgnoringAsciiCase(old.MinValue, sized.MinValue) &&
         EqualsIgnoringAsciiCase(old.MaxValue, sized.MaxValue) &&
         EqualsIgnoringAsciiCase(old.DefaultValue, sized.DefaultValue);
}

// Whether a stored index descriptor already says what a checked definition (key fields as
// positions) asks for; the name aside.
bool SameIndex(const TIndexDescriptor& old, const TIndexDefinition& wanted, bool primary) {
  if (old.KeyFieldCount != wanted.Fields.size()) return false;
  if (old.Descending != wanted.Descending || old.CaseInsensitive != wanted.CaseInsensitive ||
      old.Unique != (primary || wanted.Unique) || old.UncountedIndex != wanted.Uncounted)
    return false;
  const std::uint8_t compression =
      wanted.Compression > kCompressFull ? kCompressNone : wanted.Compression;
  if (old.Compression != compression) return false;
  for (std::size_t i = 0; i < wanted.Fields.size(); ++i) {
    const bool descending = i < wanted.FieldDescending.size() && wanted.FieldDescending[i];
    if (old.KeyFields[i] != wanted.Fields[i] || old.FieldDescending[i] != descending) return false;
  }
  return true;
}

bool SameTextParams(const TTextIndexParams& a, const TTextIndexParams& b) {
  return a.Space == b.Space && a.Include == b.Include && a.StopWords == b.StopWords;
}

}  // namespace

class TTableRestructure {
 public:
  TTableRestructure(TDataCursor& cursor, const TRestructureOptions& options)
      : FCursor(cursor), FOptions(options), FDefinition(options.Definition) {}

  TRestructurePath Run() {
    for (std::size_t i = 0; i < FDefinition.Fields.size(); ++i) {
      const std::uint16_t given = FDefinition.Fields[i].FieldNo;
      FGivenNumbers.push_back(given != 0 ? given : static_cast<std::uint16_t>(i + 1));
    }
    CheckTableDefinition(FCursor.FTableName, FDefinition, FOptions.LastAutoInc);
    FDefinition.Settings.Password = std::string(TrimAsciiBlanks(FDefinition.Settings.Password));
    TDataDirectory& directory = FCursor.FDirectory;
    FInMemory = FCursor.FInMemory || directory.IsInMemory();
    // The table is taken without the cursor's navigation, which would read pages about to be
    // replaced.
    TDataTable& table =
        directory.OpenTable(FCursor.FTableName, FInMemory, true, FCursor.FTemporary);
    FCursor.FTable = &table;
    TFirstError errors;
    errors.Try([&] {
      if (table.Data().Encrypted()) FCursor.RequirePassword(table.Data().Password());
      FCurrentParams = FCursor.TextIndexParams();
      FPath = ChoosePath();
      if (FPath == TRestructurePath::DataCopy) {
        CopyIntoNewTable();
      } else {
        if (FPath == TRestructurePath::IndexRebuild) RebuildIndexes();
        RewriteInPlace();
      }
    });
    errors.Try([&] {
      if (FCursor.FTextParamsChanged) FCursor.WriteBackTextIndexParams();
    });
    FCursor.FTextParams.reset();
    FCursor.FTextParamsChanged = false;
    FCursor.FTable = nullptr;
    errors.Try([&] { directory.CloseTable(table); });
    if (errors.Failed() && !FNewTable.empty()) DropNewTable();
    errors.RaiseIfAny();
    if (!FNewTable.empty()) SwapIn();
    return FPath;
  }

 private:
  // --- Choosing the way ------------------------------------------------------------------

  TRestructurePath ChoosePath() const {
    const TDataFile& data = FCursor.FTable->Data();
    const TDataFileSettings& settings = FDefinition.Settings;
    if (settings.Encrypted != data.Encrypted() || settings.BlobBlockSize != data.BlobBlockSize() ||
        settings.LanguageId != data.LanguageId() || settings.SortId != data.SortId())
      return TRestructurePath::DataCopy;
    const std::span<const TFieldDescriptor> old = data.Descriptors();
    if (old.size() != FDefinition.Fields.size()) return TRestructurePath::DataCopy;
    for (std::size_t i = 0; i < old.size(); ++i) {
      if (!SameLayout(old[i], FDefinition.Fields[i], FGivenNumbers[i]))
        return TRestructurePath::DataCopy;
    }
    return IndexesChanged() ? TRestructurePath::IndexRebuild : TRestructurePath::InPlace;
  }

  bool IndexesChanged() const {
    const TIndexFile& index = FCursor.FTable->Index();
    if (index.SecondaryCount() != static_cast<int>(FDefinition.SecondaryIndexes.size()))
      return true;
    if (index.NoPrimaryIndex() != FDefinition.PrimaryIndex.Fields.empty()) return true;
    if (!index.NoPrimaryIndex() &&
        !SameIndex(index.ReadIndexDescriptor(kPrimaryIndexSlot), FDefinition.PrimaryIndex, true))
      return true;
    for (std::size_t i = 0; i < FDefinition.SecondaryIndexes.size(); ++i) {
      const int slot = static_cast<int>(i) + 1;
      if (!SameIndex(index.ReadIndexDescriptor(slot), FDefinition.SecondaryIndexes[i], false))
        return true;
    }
    TIndexDefinition text;
    text.Fields = FDefinition.TextIndexFields;
    const TIndexDescriptor oldText = index.ReadIndexDescriptor(kSysTextSlot);
    if (oldText.KeyFieldCount != text.Fields.size() ||
        !std::equal(text.Fields.begin(), text.Fields.end(), oldText.KeyFields.begin()))
      return true;
    return !SameTextParams(NewTextParams(), FCurrentParams);
  }

  const TTextIndexParams& NewTextParams() const {
    return FOptions.TextParams ? *FOptions.TextParams : FCurrentParams;
  }

  // --- In place ----------------------------------------------------------------------------

  void RewriteInPlace() {
    TDataTable& table = *FCursor.FTable;
    TDataFile& data = table.Data();
    TIndexFile& index = table.Index();
    table.FlushBuffers();
    // Only what changed is written: an unchanged header is not put at risk.
    for (std::size_t i = 0; i < FDefinition.Fields.size(); ++i) {
      const TFieldDescriptor& field = FDefinition.Fields[i];
      const TFieldDescriptor& old = data.Descriptors()[i];
      if (old.FieldName == field.FieldName && old.FieldDescription == field.FieldDescription &&
          old.MinValue == field.MinValue && old.MaxValue == field.MaxValue &&
          old.DefaultValue == field.DefaultValue)
        continue;
      data.ReplaceDescriptorText(static_cast<int>(i) + 1, field.FieldName, field.FieldSubType,
                                 field.FieldDescription, field.Required, field.MinValue,
                                 field.MaxValue, field.DefaultValue);
    }
    TIndexHeader header = index.Header();
    bool renamed = false;
    for (std::size_t i = 0; i < FDefinition.SecondaryIndexes.size(); ++i) {
      std::string& name = header.Descriptors[i + 1].IndexName;
      renamed = renamed || name != FDefinition.SecondaryIndexes[i].Name;
      name = FDefinition.SecondaryIndexes[i].Name;
    }
    if (renamed) index.RestoreHeader(header);
    const TDataFileSettings& settings = FDefinition.Settings;
    const bool sameInfo = data.Password() == settings.Password &&
                          data.Description() == settings.Description &&
                          data.UserMinorVersion() == settings.UserMinorVersion &&
                          data.UserMajorVersion() == settings.UserMajorVersion &&
                          RaisedLastAutoInc(data.LastAutoInc()) == data.LastAutoInc();
    if (!sameInfo)
      data.AlterTableInfo(settings.Password, settings.Description, settings.UserMinorVersion,
                          settings.UserMajorVersion, RaisedLastAutoInc(data.LastAutoInc()));
    table.FlushBuffers(true);
  }

  std::int32_t RaisedLastAutoInc(std::int32_t current) const {
    return std::max(current, FOptions.LastAutoInc);
  }

  // --- Index rebuild -----------------------------------------------------------------------

  void RebuildIndexes() {
    TIndexFile& index = FCursor.FTable->Index();
    const bool keepBackup = !FOptions.NoBackup;
    FCursor.RebuildIndexFile(
        [&] {
          TIndexHeader header = index.Header();
          for (int slot = 0; slot <= header.SecondaryCount; ++slot)
            header.Descriptors[slot] = TIndexDescriptor{};
          header.SecondaryCount = 0;
          header.NoPrimaryIndex = true;
          header.Descriptors[kSysTextSlot].KeyFieldCount = 0;
          header.Descriptors[kSysTextSlot].KeyFields = {};
          index.RestoreHeader(header);
          index.SetPrimaryIndex(FDefinition.PrimaryIndex);
          for (const TIndexDefinition& secondary : FDefinition.SecondaryIndexes)
            index.AddSecondaryIndex(secondary);
          index.SetTextIndex(FDefinition.TextIndexFields);
          FCursor.FTextParams = NewTextParams();
        },
        keepBackup);
    FCursor.FTable->Data().SetHasPrimaryIndex(!FDefinition.PrimaryIndex.Fields.empty());
  }

  // --- Data copy -----------------------------------------------------------------------------

  void CopyIntoNewTable() {
    TDataDirectory& directory = FCursor.FDirectory;
    TDataSession& session = directory.Session();
    const std::string file = TemporaryFileName(FInMemory ? std::string() : directory.Path(),
                                               kDataExtension, session.Files());
    FNewTable = file.substr(file.find_last_of('/') + 1);
    FNewTable.resize(FNewTable.size() - kDataExtension.size());
    const TDataFileSettings& settings = FDefinition.Settings;
    const bool lendPassword = settings.Encrypted && !session.HasPassword(settings.Password);
    if (lendPassword) session.AddPassword(settings.Password);
    TFirstError errors;
    errors.Try([&] {
      TDataCursor target(directory);
      target.SetTableName(FNewTable);
      target.SetInMemory(FInMemory);
      target.SetExclusive(true);
      const TTextIndexParams params = NewTextParams();
      target.CreateTable(FOptions.Definition, false, -1, &params);
      target.Open();
      // Every record keeps its row number, whether or not an auto-increment field shows it.
      target.FKeepRowIds = true;
      CopyRecords(target);
      TDataFile& data = target.FTable->Data();
      data.SetLastAutoInc(std::max(
          {data.LastAutoInc(), FCursor.FTable->Data().LastAutoInc(), FOptions.LastAutoInc}));
      // The new table must be whole on the device before it can take the old one's place.
      target.FTable->FlushBuffers(true);
      target.Close();
    });
    if (lendPassword) session.RemovePassword(settings.Password);
    errors.RaiseIfAny();
  }

  // The new position of each old field's values (0: dropped).
  std::vector<int> NewPositions() const {
    const std::size_t oldCount = FCursor.FTable->Data().Descriptors().size();
    std::vector<int> positions(oldCount, 0);
    for (std::size_t p = 0; p < FGivenNumbers.size(); ++p) {
      const std::size_t number = FGivenNumbers[p];
      if (number >= 1 && number <= oldCount) positions[number - 1] = static_cast<int>(p) + 1;
    }
    return positions;
  }

  void CopyRecords(TDataCursor& target) {
    TDataFile& data = FCursor.FTable->Data();
    const std::vector<int> positions = NewPositions();
    std::vector<std::uint8_t> image;
    std::vector<std::uint8_t> buffer(target.RecordSize());
    for (std::int32_t n = 1; n <= data.RecordCount(); ++n) {
      {
        TRecord* record = data.GetRecord(n);
        image.assign(record->Image.begin(), record->Image.end());
        data.ReleaseRecord(record);
      }
      if (IsDeleted(image)) continue;
      target.InitNewRecord(buffer);
      for (std::size_t k = 0; k < positions.size(); ++k) {
        if (positions[k] != 0)
          CopyValue(data.Descriptors()[k], image, target, positions[k], buffer);
      }
      SetRowId(buffer, RowId(image));
      target.PostInsert(buffer, false);
      target.FreeBlobs();
    }
  }

  void CopyValue(const TFieldDescriptor& from, std::span<const std::uint8_t> image,
                 TDataCursor& target, int position, std::span<std::uint8_t> buffer) {
    const TFieldDescriptor& to = target.FTable->Data().Descriptors()[position - 1];
    if (to.FieldSubType == kSubTypeAutoInc) return;  // shows the row number, which is kept
    std::vector<std::uint8_t> value(static_cast<std::size_t>(from.PhysicalSize) + 1, 0);
    if (IsBlob(from)) {
      std::string contents;
      if (!FCursor.ReadStoredBlob(from, image, contents)) return;  // NULL stays NULL
      if (!IsBlob(to)) RaiseLoss(to);
      WriteBlobValue(target, position, buffer, contents);
      return;
    }
    if (GetField(image, from, value)) return;
    const TTableLocale locale = target.Locale();
    if (IsBlob(to)) {
      WriteBlobValue(target, position, buffer, BlobText(from, value));
      return;
    }
    const bool sameScale =
        from.FieldType != kFieldTypeBcd || from.FieldDecimals == to.FieldDecimals;
    if (from.FieldType == to.FieldType && sameScale) {
      value.resize(std::max<std::size_t>(value.size(), to.PhysicalSize + 1u), 0);
      SetField(buffer, to, value.data(), true, locale);
      return;
    }
    std::vector<std::uint8_t> converted;
    try {
      const std::string text =
          ValueToText(from.FieldType, std::span(value).first(from.PhysicalSize), true);
      converted = ValueFromText(to.FieldType, text, to.FieldSize, to.FieldDecimals);
    } catch (const EConvertError&) {
      RaiseLoss(to);
    }
    converted.resize(std::max<std::size_t>(converted.size(), to.PhysicalSize + 1u), 0);
    SetField(buffer, to, converted.data(), true, locale);
  }

  // The contents a non-BLOB value gives a BLOB field: a string's text, the bytes of a bytes
  // field, the text form of anything else.
  std::string BlobText(const TFieldDescriptor& from, std::span<const std::uint8_t> value) const {
    if (from.FieldType == kFieldTypeString) {
      const auto end = std::find(value.begin(), value.end(), std::uint8_t{0});
      return std::string(value.begin(), end);
    }
    if (from.FieldType == kFieldTypeBytes || from.FieldType == kFieldTypeVarBytes)
      return std::string(value.begin(), value.begin() + from.PhysicalSize);
    try {
      return ValueToText(from.FieldType, value.first(from.PhysicalSize), true);
    } catch (const EConvertError&) {
      RaiseLoss(from);
    }
  }

  void WriteBlobValue(TDataCursor& target, int position, std::span<std::uint8_t> buffer,
                      const std::string& contents) {
    std::uint32_t size = 0;
    std::uint16_t answer = target.OpenBlob(position, buffer, size, TBlobOpenMode::ReadWrite);
    if (answer == 0 && !contents.empty())
      answer = target.WriteBlob(position, buffer, 0, static_cast<std::uint32_t>(contents.size()),
                                reinterpret_cast<const std::uint8_t*>(contents.data()));
    if (answer != 0) target.RaiseError(answer);
  }

  [[noreturn]] void RaiseLoss(const TFieldDescriptor& field) const {
    RaiseEngineError(codes::kInvalidFieldDefinition, {}, {}, {}, FCursor.FTableName,
                     field.FieldName);
  }

  void DropNewTable() {
    TFirstError ignored;  // the error that stopped the copy is the one to report
    ignored.Try([&] { FCursor.FDirectory.DeleteTable(FNewTable, FInMemory); });
    FNewTable.clear();
  }

  void SwapIn() {
    TDataDirectory& directory = FCursor.FDirectory;
    TTableSwap swap;
    swap.TableName = FCursor.FTableName;
    swap.NewTableName = FNewTable;
    swap.InMemory = FInMemory;
    swap.KeepBackups = !FOptions.NoBackup && !FInMemory;
    swap.NewHasBlobFile = FCursor.FDirectory.Session().Files().ListedFileExists(
        FCursor.FDirectory.TableFileName(FNewTable, kBlobExtension), FInMemory);
    try {
      SwapInTable(directory, swap);
    } catch (const EKuraEngineError&) {
      // Without its note the swap had not begun: the old table is whole and the new one
      // only clutter. With it, the next opening of the table finishes the swap.
      if (!directory.Session().Files().ListedFileExists(
              directory.TableFileName(FCursor.FTableName, kSwapNoteExtension), FInMemory))
        DropNewTable();
      throw;
    }
  }

  TDataCursor& FCursor;
  const TRestructureOptions& FOptions;
  // The definition as checked: index key fields as positions.
  TTableDefinition FDefinition;
  // Each new field's number as given: the old field whose values it takes over.
  std::vector<std::uint16_t> FGivenNumbers;
  bool FInMemory = false;
  TTextIndexParams FCurrentParams;
  TRestructurePath FPath = TRestructurePath::InPlace;
  // The temporary table of a data copy, once made.
  std::string FNewTable;
};

TRestructurePath TDataCursor::RestructureTable(const TRestructureOptions& options) {
  RequireClosed();
  RequireExclusive();
  RequireWritableTable();
  return TTableRestructure(*this, options).Run();
}

}  // namespace kura
