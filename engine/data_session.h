// The engine's session: the root through which every directory ("database") and, below it,
// every shared table and cursor of one dataset session is reached.
//
// A session carries the settings the storage and the cursors consult on every operation
// (record lock retries and wait, lock protocol, change detection, forced flushing, progress
// granularity, buffer limits), the directories opened through it, and the table passwords
// the user supplied. It is used by one thread at a time and takes no lock of its own.
//
// Settings and their initial values:
//
//   SETTING                 TYPE                INITIAL
//   ServerSide              bool, fixed         given to the constructor (always false here)
//   WorkingDir              text <= 255         current directory at creation, trimmed, "/"
//   PrivateDir              text <= 255         system temporary folder, trimmed, "/"
//   ForceBufferFlush        bool                false
//   StrictChangeDetection   bool                false
//   LockRetryCount          8-bit unsigned      15
//   LockWaitTime            16-bit unsigned ms  100
//   LockProtocol            pessimistic/optim.  pessimistic
//   ProgressSteps           16-bit unsigned     20
//   RecordBufferBytes       32-bit signed       16384
//   RecordBufferCount       32-bit signed       8192
//   IndexBufferBytes        32-bit signed       16384
//   BlobBufferBytes         32-bit signed       32768
//   BlobBufferCount         32-bit signed       8192
//
// Paths use "/" as separator; a "\" given by a caller is read as "/". Directory paths keep a
// trailing "/"; the empty path is the process's in-memory directory.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/table_locks.h"
#include "storage/file_list.h"
#include "storage/progress_steps.h"

namespace kura {

class TDataDirectory;

enum class TSessionType { stLocal, stRemote };
// When cursors lock a record for editing: at the start of an edit (pessimistic) or only
// while posting it (optimistic).
enum class TRecordLockProtocol : std::uint8_t { lpPessimistic = 0, lpOptimistic = 1 };

// Longest text kept in a path, a database name or a password.
inline constexpr std::size_t kMaxSessionText = 255;
// The database name of the in-memory directory (compared without regard to case).
inline constexpr std::string_view kInMemoryDatabaseName = "Memory";

class TDataSession {
 public:
  // Creates the session with the initial values above. Tables are opened through list (the
  // process's file list unless a test, or a forked child, gives its own).
  explicit TDataSession(bool serverSide = false, TFileList& list = FileList());
  // Removes the passwords (last first) and frees every directory in list order; errors of
  // closing tables are dropped here (call CloseAllDirectories first to see them). Every
  // cursor must already be closed.
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  bool ServerSide() const { return FServerSide; }
  TFileList& Files() const { return FFiles; }

  // Only local sessions exist: asking for a remote one raises 11280 (no connection can be
  // established) and leaves the session local.
  TSessionType SessionType() const { return TSessionType::stLocal; }
  void SetSessionType(TSessionType type);

  // --- Settings. A setter given the value already held does nothing. --------------------
  const std::string& WorkingDir() const { return FWorkingDir; }
  // The stored private directory; empty means the working directory is used.
  const std::string& PrivateDirSetting() const { return FPrivateDir; }
  // Empty (or blanks only) stores the empty string; otherwise the value is trimmed of
  // blanks, "\" read as "/", a "/" appended unless it ends with one, and the result stored
  // when it differs. A result longer than 255 characters raises 11293 and keeps the old
  // value.
  void SetPrivateDir(std::string_view value);
  // Where temporary tables go: PrivateDir, or WorkingDir when PrivateDir is empty.
  const std::string& GetPrivateDir() const;

  bool ForceBufferFlush() const { return FForceBufferFlush; }
  void SetForceBufferFlush(bool value) { FForceBufferFlush = value; }
  bool StrictChangeDetection() const { return FStrictChangeDetection; }
  void SetStrictChangeDetection(bool value) { FStrictChangeDetection = value; }
  std::uint8_t LockRetryCount() const { return FLockRetryCount; }
  void SetLockRetryCount(std::uint8_t value) { FLockRetryCount = value; }
  std::uint16_t LockWaitTime() const { return FLockWaitTime; }
  void SetLockWaitTime(std::uint16_t value) { FLockWaitTime = value; }
  TRecordLockProtocol LockProtocol() const { return FLockProtocol; }
  void SetLockProtocol(TRecordLockProtocol value) { FLockProtocol = value; }
  std::uint16_t ProgressSteps() const { return FProgressSteps; }
  void SetProgressSteps(std::uint16_t value) { FProgressSteps = value; }
  // The progress notifications of one long operation under the current ProgressSteps.
  TProgressSteps MakeProgress() const {
    return TProgressSteps(TProgressSteps::StepFor(FProgressSteps));
  }

  std::int32_t RecordBufferBytes() const { return FRecordBufferBytes; }
  void SetRecordBufferBytes(std::int32_t value) { FRecordBufferBytes = value; }
  std::int32_t RecordBufferCount() const { return FRecordBufferCount; }
  void SetRecordBufferCount(std::int32_t value) { FRecordBufferCount = value; }
  std::int32_t IndexBufferBytes() const { return FIndexBufferBytes; }
  void SetIndexBufferBytes(std::int32_t value) { FIndexBufferBytes = value; }
  std::int32_t BlobBufferBytes() const { return FBlobBufferBytes; }
  void SetBlobBufferBytes(std::int32_t value) { FBlobBufferBytes = value; }
  std::int32_t BlobBufferCount() const { return FBlobBufferCount; }
  void SetBlobBufferCount(std::int32_t value) { FBlobBufferCount = value; }

  // --- Passwords (exact, case-sensitive comparison) -------------------------------------
  // Ignored when empty or already listed; appended otherwise. A text longer than 255
  // characters raises 10015 (no table password can be that long).
  void AddPassword(std::string_view text);
  // Removes the first entry equal to the text, if any.
  void RemovePassword(std::string_view text);
  // Empties the list, last entry first.
  void RemoveAllPasswords();
  bool HasPassword(std::string_view text) const;
  const std::vector<std::string>& Passwords() const { return FPasswords; }

  // --- Directories ----------------------------------------------------------------------
  // The directory to use for a database connection, its reference count raised by one.
  // The path: for a name other than "Memory" (any case) the given directory trimmed, "\"
  // read as "/", with a trailing "/", or WorkingDir when it is empty; for "Memory" the
  // same normalisation, but an empty directory gives the empty path, the in-memory
  // directory. The first listed directory whose path matches after trimming, without regard
  // to case, is reused; otherwise a new one is appended. The path is not checked here: a
  // missing directory shows up as a missing table (11010) when a table is opened. A path
  // longer than 255 characters raises 11293.
  TDataDirectory& OpenDirectory(std::string_view databaseName, std::string_view directory);
  // Lowers the directory's count (never below 0); at 0 the directory leaves the list and is
  // freed. A directory that is not listed is ignored. Errors raised while its tables are
  // closed propagate after it has been removed from the list.
  void CloseDirectory(TDataDirectory* directory);
  // Frees every directory in list order, whatever its count; raises the first error after
  // all are gone.
  void CloseAllDirectories();
  const std::vector<std::unique_ptr<TDataDirectory>>& Directories() const { return FDirectories; }

  // --- Locking ---------------------------------------------------------------------------
  // The retry rules of the table byte, write ranges and read slots, and the pause used for
  // every lock wait. Tests shorten them; the defaults are those of table_locks.h.
  const TLockRetryRules& LockRetryRules() const { return FRetryRules; }
  void SetLockRetryRules(TLockRetryRules rules) { FRetryRules = std::move(rules); }
  // A read slot drawn uniformly from 1 .. 65 535.
  std::uint16_t DrawReadSlot();

 private:
  const bool FServerSide;
  TFileList& FFiles;
  std::vector<std::unique_ptr<TDataDirectory>> FDirectories;
  std::vector<std::string> FPasswords;
  std::string FWorkingDir;
  std::string FPrivateDir;
  bool FForceBufferFlush = false;
  bool FStrictChangeDetection = false;
  std::uint8_t FLockRetryCount = 15;
  std::uint16_t FLockWaitTime = 100;
  TRecordLockProtocol FLockProtocol = TRecordLockProtocol::lpPessimistic;
  std::uint16_t FProgressSteps = 20;
  std::int32_t FRecordBufferBytes = 16384;
  std::int32_t FRecordBufferCount = 8192;
  std::int32_t FIndexBufferBytes = 16384;
  std::int32_t FBlobBufferBytes = 32768;
  std::int32_t FBlobBufferCount = 8192;
  TLockRetryRules FRetryRules;
  std::mt19937 FSlotSource;
};

// Directory paths as the session keeps them: blanks trimmed at both ends, "\" read as "/",
// and a trailing "/" unless empty.
std::string NormaliseDirectoryPath(std::string_view path);

// The process-wide default session. EnsureDefaultDataSession creates it on first use (and
// answers it); DefaultDataSession raises 10758 while it does not exist yet.
TDataSession& EnsureDefaultDataSession();
TDataSession& DefaultDataSession();
bool DefaultDataSessionExists();
// Frees the default session (process shutdown); a later Ensure creates a new one.
void FreeDefaultDataSession();

}  // namespace kura
