#include "tools/kura/table_reader.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "base/engine_error.h"
#include "engine/table_locks.h"
#include "storage/file_names.h"

namespace kura::tool {
namespace {

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The path without a table file extension (".DAT", ".IDX", ".BLB" in any case).
std::string WithoutTableExtension(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  const std::string extension = UpperCase(path.substr(dot));
  for (std::string_view known : {kDataExtension, kIndexExtension, kBlobExtension})
    if (extension == known) return path.substr(0, dot);
  return path;
}

bool ListedFileExists(TFileList& list, const std::string& name, bool inMemory) {
  TFileHandler probe(list);
  probe.SetFileName(name);
  probe.SetInMemory(inMemory);
  return probe.FileExists();
}

std::vector<TTablePath> TablesInDirectory(const std::filesystem::path& directory) {
  std::vector<TTablePath> tables;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    const std::filesystem::path& file = it->path();
    if (!it->is_regular_file(error)) continue;
    if (UpperCase(file.extension().string()) != kDataExtension) continue;
    tables.push_back({(file.parent_path() / file.stem()).string(), false});
  }
  std::sort(tables.begin(), tables.end(),
            [](const TTablePath& a, const TTablePath& b) { return a.Base < b.Base; });
  return tables;
}

}  // namespace

std::string TTablePath::DataName() const {
  return Base + std::string(kDataExtension);
}
std::string TTablePath::IndexName() const {
  return Base + std::string(kIndexExtension);
}
std::string TTablePath::BlobName() const {
  return Base + std::string(kBlobExtension);
}
std::string TTablePath::TableName() const {
  const std::size_t slash = Base.find_last_of("/\\");
  return slash == std::string::npos ? Base : Base.substr(slash + 1);
}

TPathResolution ResolveTablePath(const std::string& path, TFileList& list) {
  TPathResolution resolution;
  std::error_code error;
  if (!path.empty() && std::filesystem::is_directory(path, error)) {
    resolution.Tables = TablesInDirectory(path);
    if (resolution.Tables.empty()) resolution.Error = path + ": the directory holds no table";
    return resolution;
  }
  TTablePath table{WithoutTableExtension(path), false};
  if (path.empty() || !ListedFileExists(list, table.DataName(), false)) {
    resolution.Error = path + ": no such table (looked for " + table.DataName() + ")";
    return resolution;
  }
  resolution.Tables.push_back(table);
  return resolution;
}

std::string FileProblem(const std::string& fileName, const std::string& what) {
  return fileName + ": " + what;
}

TTableReader::TTableReader(const TTablePath& path, TFileList& list)
    : FPath(path),
      FList(list),
      FData(list),
      FIndex(list),
      FBlob(list),
      FRandom(std::random_device{}()) {
  FData.SetFileName(path.DataName());
  FIndex.SetFileName(path.IndexName());
  FBlob.SetFileName(path.BlobName());
  for (TFileHandler* file :
       {static_cast<TFileHandler*>(&FData), static_cast<TFileHandler*>(&FIndex),
        static_cast<TFileHandler*>(&FBlob)})
    file->SetInMemory(path.InMemory);
}

TTableReader::~TTableReader() {
  Close();
}

TTableLocale TTableReader::Locale() const {
  return {static_cast<std::uint16_t>(FData.LanguageId()),
          static_cast<std::uint16_t>(FData.SortId())};
}

void TTableReader::Open(std::vector<std::string>& problems) {
  try {
    FData.Open();
  } catch (const std::exception& error) {
    problems.push_back(FileProblem(FData.FileName(), error.what()));
    return;
  }
  FIndex.SetTable(
      std::vector<TFieldDescriptor>(FData.Descriptors().begin(), FData.Descriptors().end()),
      Locale(), FData.Encrypted());
  try {
    if (!FIndex.FileExists()) {
      problems.push_back(
          FileProblem(FIndex.FileName(),
                      "missing: the table has no index file (opening the table would "
                      "make an empty one and lose every index)"));
    } else {
      FIndex.Open();
    }
  } catch (const std::exception& error) {
    problems.push_back(FileProblem(FIndex.FileName(), error.what()));
  }
  if (FData.BlobFieldCount() <= 0) return;
  try {
    FBlob.ConfigureFrom(FData);
    if (!FBlob.FileExists()) {
      problems.push_back(FileProblem(FBlob.FileName(), "missing: the table has " +
                                                           std::to_string(FData.BlobFieldCount()) +
                                                           " BLOB fields but no BLOB file"));
    } else {
      FBlob.Open();
    }
  } catch (const std::exception& error) {
    problems.push_back(FileProblem(FBlob.FileName(), error.what()));
  }
  if (FIndex.IsOpen()) FData.SetHasPrimaryIndex(!FIndex.NoPrimaryIndex());
}

bool TTableReader::TakeSlot(TFileHandler& file, std::uint16_t& slot) {
  const TLockRetryRules rules;
  std::uniform_int_distribution<int> draw(1, kMaxReadSlot);
  const bool taken = TryRepeatedly(rules, rules.FixedTries, rules.FixedPauseMs, [&] {
    slot = static_cast<std::uint16_t>(draw(FRandom));
    return file.LockRange(1, ReadSlotPosition(slot));
  });
  if (!taken) slot = 0;
  return taken;
}

bool TTableReader::LockForReading() {
  // Like the engine, a table whose files carry the read-only attribute takes no locks: nobody
  // can write it.
  const bool readOnly = FData.ReadOnlyAttribute() || FIndex.ReadOnlyAttribute() ||
                        (FBlob.IsOpen() && FBlob.ReadOnlyAttribute());
  if (readOnly) return true;
  if (FIndex.IsOpen() && FIndexSlot == 0 && !TakeSlot(FIndex, FIndexSlot)) return false;
  if (FBlob.IsOpen() && FBlobSlot == 0 && !TakeSlot(FBlob, FBlobSlot)) {
    ReleaseSlots();
    return false;
  }
  // Nothing is cached yet beyond the headers, so a changed header is all there is to refresh.
  FData.HeaderChangedOnDisk();
  if (FIndex.IsOpen()) FIndex.IndexHeaderChangedOnDisk();
  if (FBlob.IsOpen()) FBlob.BlobHeaderChangedOnDisk();
  return true;
}

void TTableReader::ReleaseSlots() {
  if (FBlobSlot != 0) FBlob.UnlockRange(1, ReadSlotPosition(FBlobSlot));
  if (FIndexSlot != 0) FIndex.UnlockRange(1, ReadSlotPosition(FIndexSlot));
  FBlobSlot = FIndexSlot = 0;
}

void TTableReader::Close() {
  ReleaseSlots();
  for (TFileHandler* file :
       {static_cast<TFileHandler*>(&FBlob), static_cast<TFileHandler*>(&FIndex),
        static_cast<TFileHandler*>(&FData)}) {
    try {
      file->Close();
    } catch (const std::exception&) {
      // Closing a file opened for reading loses nothing; the checks have been reported.
    }
  }
}

}  // namespace kura::tool
