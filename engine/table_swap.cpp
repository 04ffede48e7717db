#include "engine/table_swap.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "storage/ascii_case.h"
#include "storage/file_handler.h"
#include "storage/file_names.h"

namespace kura {
namespace {

constexpr std::array<std::uint8_t, 4> kNoteMark = {'K', 'S', 'W', 'P'};
constexpr std::size_t kNoteFixedSize = 6;
constexpr std::uint8_t kKeepBackupsFlag = 1;
constexpr std::uint8_t kNewBlobFileFlag = 2;

struct TExtensionPair {
  std::string_view Table;
  std::string_view Backup;
};

// The index file first and the data file last: while a swap is being finished the table's
// data file is the last thing to change.
constexpr std::array<TExtensionPair, 3> kSwappedFiles = {{
    {kIndexExtension, kIndexBackupExtension},
    {kBlobExtension, kBlobBackupExtension},
    {kDataExtension, kDataBackupExtension},
}};

std::vector<std::uint8_t> EncodeNote(const TTableSwap& swap) {
  std::vector<std::uint8_t> bytes(kNoteMark.begin(), kNoteMark.end());
  bytes.push_back(static_cast<std::uint8_t>((swap.KeepBackups ? kKeepBackupsFlag : 0) |
                                            (swap.NewHasBlobFile ? kNewBlobFileFlag : 0)));
  bytes.push_back(static_cast<std::uint8_t>(swap.NewTableName.size()));
  bytes.insert(bytes.end(), swap.NewTableName.begin(), swap.NewTableName.end());
  return bytes;
}

// The swap a note describes, or nothing for a note cut short.
std::optional<TTableSwap> DecodeNote(std::span<const std::uint8_t> bytes,
                                     std::string_view tableName, bool inMemory) {
  if (bytes.size() < kNoteFixedSize ||
      !std::equal(kNoteMark.begin(), kNoteMark.end(), bytes.begin()))
    return std::nullopt;
  const std::size_t length = bytes[5];
  if (length == 0 || bytes.size() != kNoteFixedSize + length) return std::nullopt;
  TTableSwap swap;
  swap.TableName = std::string(tableName);
  swap.NewTableName.assign(bytes.begin() + kNoteFixedSize, bytes.end());
  // A name that leaves the directory is not one a swap wrote.
  if (swap.NewTableName.find_first_of("/\\") != std::string::npos) return std::nullopt;
  // Nor is one naming the table itself: its files would be moved to the backups.
  if (EqualsIgnoringAsciiCase(TrimAsciiBlanks(swap.NewTableName), TrimAsciiBlanks(tableName)))
    return std::nullopt;
  swap.InMemory = inMemory;
  swap.KeepBackups = (bytes[4] & kKeepBackupsFlag) != 0;
  swap.NewHasBlobFile = (bytes[4] & kNewBlobFileFlag) != 0;
  return swap;
}

// The file steps of a swap, counted so that a test can stop them where a crash would.
class TSwapSteps {
 public:
  TSwapSteps(TDataDirectory& directory, const TTableSwap& swap, int stopAfter)
      : FDirectory(directory),
        FSwap(swap),
        FFiles(directory.Session().Files()),
        FStopAfter(stopAfter) {}

  // Answers false when the test's stop was reached.
  bool Run() {
    for (const TExtensionPair& pair : kSwappedFiles) {
      if (!DeleteIfPresent(TableFile(pair.Backup))) return false;
    }
    if (!WriteNote()) return false;
    return Finish();
  }

  bool Finish() {
    // The data file moves last: once the new one has gone, every file has moved (and a note
    // naming a table that never was moves nothing).
    const bool moving = FFiles.ListedFileExists(NewFile(kDataExtension), FSwap.InMemory);
    for (const TExtensionPair& pair : kSwappedFiles) {
      if (!moving) break;
      const std::string newFile = NewFile(pair.Table);
      const bool newPresent = FFiles.ListedFileExists(newFile, FSwap.InMemory);
      const bool oldPresent = FFiles.ListedFileExists(TableFile(pair.Table), FSwap.InMemory);
      // The table's file is still the old one while the new one has not moved, and always
      // when the new table has no file of this kind.
      const bool oldIsOld = newPresent || (pair.Table == kBlobExtension && !FSwap.NewHasBlobFile);
      if (oldPresent && oldIsOld && !Rename(TableFile(pair.Table), TableFile(pair.Backup)))
        return false;
      if (newPresent && !Rename(newFile, TableFile(pair.Table))) return false;
    }
    if (!FSwap.KeepBackups) {
      for (const TExtensionPair& pair : kSwappedFiles) {
        if (!DeleteIfPresent(TableFile(pair.Backup))) return false;
      }
    }
    return DeleteIfPresent(TableFile(kSwapNoteExtension));
  }

 private:
  std::string TableFile(std::string_view extension) const {
    return FDirectory.TableFileName(FSwap.TableName, extension);
  }
  std::string NewFile(std::string_view extension) const {
    return FDirectory.TableFileName(FSwap.NewTableName, extension);
  }
  // Answers false when the test's stop is reached before this step.
  bool Step() { return FStopAfter < 0 || FDone++ < FStopAfter; }
  void Check(const TFileStatus& status) const {
    if (!status.Ok()) RaiseTableErrorWithOSError(status.Code, FSwap.TableName, status.OSError);
  }
  bool DeleteIfPresent(const std::string& file) {
    if (!FFiles.ListedFileExists(file, FSwap.InMemory)) return true;
    if (!Step()) return false;
    Check(FFiles.DeleteListedFile(file, FSwap.InMemory));
    return true;
  }
  bool Rename(const std::string& from, const std::string& to) {
    if (!Step()) return false;
    Check(FFiles.RenameListedFile(from, FSwap.InMemory, to));
    return true;
  }
  bool WriteNote() {
    if (!Step()) return false;
    const std::vector<std::uint8_t> bytes = EncodeNote(FSwap);
    TFileHandler note(FFiles);
    note.SetFileName(TableFile(kSwapNoteExtension));
    note.SetInMemory(FSwap.InMemory);
    note.CreateFile();
    try {
      note.Seek(kSeekFromStart, 0);
      note.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
      note.FlushFile();
    } catch (...) {
      note.Close();
      FFiles.DeleteListedFile(note.FileName(), FSwap.InMemory);
      throw;
    }
    note.Close();
    return true;
  }

  TDataDirectory& FDirectory;
  const TTableSwap& FSwap;
  TFileList& FFiles;
  int FStopAfter;
  int FDone = 0;
};

}  // namespace

void SwapInTable(TDataDirectory& directory, const TTableSwap& swap) {
  TSwapSteps(directory, swap, -1).Run();
}

void SwapInTableStoppingAfter(TDataDirectory& directory, const TTableSwap& swap, int steps) {
  TSwapSteps(directory, swap, steps).Run();
}

void FinishTableSwap(TDataDirectory& directory, std::string_view tableName, bool inMemory) {
  TFileList& files = directory.Session().Files();
  const std::string noteFile = directory.TableFileName(tableName, kSwapNoteExtension);
  if (!files.ListedFileExists(noteFile, inMemory)) return;
  std::vector<std::uint8_t> bytes;
  {
    TFileHandler note(files);
    note.SetFileName(noteFile);
    note.SetInMemory(inMemory);
    note.Open();
    try {
      // A note is a few hundred bytes at most; anything longer is not one.
      const std::int64_t size = std::min<std::int64_t>(note.FileSize(), 1024);
      bytes.resize(static_cast<std::size_t>(size));
      note.Seek(kSeekFromStart, 0);
      const std::int64_t got = note.ReadBuffer(bytes.data(), size, true);
      bytes.resize(static_cast<std::size_t>(got));
    } catch (...) {
      note.Close();
      throw;
    }
    note.Close();
  }
  const std::optional<TTableSwap> swap = DecodeNote(bytes, tableName, inMemory);
  if (!swap) {
    const TFileStatus deleted = files.DeleteListedFile(noteFile, inMemory);
    if (!deleted.Ok()) RaiseTableErrorWithOSError(deleted.Code, tableName, deleted.OSError);
    return;
  }
  TSwapSteps(directory, *swap, -1).Finish();
}

}  // namespace kura
