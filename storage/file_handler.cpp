#include "storage/file_handler.h"

#include <cerrno>

#include "base/engine_error.h"
#include "storage/os_errors.h"

namespace kura {

TFileHandler::TFileHandler(TFileList& list) : FList(list) {}

TFileHandler::~TFileHandler() {
  if (FOpen && FFile) FList.CloseListedFile(FFile, FInMemory, FHandleId);
}

void TFileHandler::RaiseFileError(std::int32_t negatedCode) const {
  errno = LastFileErrno();
  RaiseTableError(static_cast<std::uint16_t>(-negatedCode), FFileName);
}

TAbstractFile& TFileHandler::OpenFileObject() const {
  if (!FOpen || !FFile) {
    errno = EBADF;
    RaiseTableError(static_cast<std::uint16_t>(kErrBadHandle), FFileName);
  }
  return *FFile;
}

void TFileHandler::Open() {
  if (FOpen) return;
  if (!FileExists()) {
    errno = ENOENT;
    RaiseTableError(static_cast<std::uint16_t>(kErrFileNotFound), FFileName);
  }
  TAbstractFile* file = nullptr;
  bool readOnly = false, readOnlyAttribute = false;
  const std::int32_t handle = FList.OpenListedFile(FFileName, FInMemory, FTemporary, FExclusive,
                                                   file, readOnly, readOnlyAttribute);
  if (handle <= 0) RaiseFileError(handle);
  FFile = file;
  FHandleId = handle;
  FOpenedReadOnly = readOnly;
  FReadOnlyAttribute = readOnlyAttribute;
  FOpen = true;
}

void TFileHandler::Close() {
  if (!FOpen) return;
  const std::int32_t result = FFile ? FList.CloseListedFile(FFile, FInMemory, FHandleId) : 0;
  FFile = nullptr;
  FHandleId = 0;
  FOpen = false;
  if (result < 0) RaiseFileError(result);
}

void TFileHandler::CreateFile() {
  if (FOpen) Close();  // a handler holds one handle: the old one goes first
  TAbstractFile* file = nullptr;
  const std::int32_t handle = FList.CreateListedFile(FFileName, FInMemory, FTemporary, file);
  if (handle <= 0) RaiseFileError(handle);
  FFile = file;
  FHandleId = handle;
  FOpenedReadOnly = FReadOnlyAttribute = false;
  FOpen = true;
}

void TFileHandler::DeleteFile() {
  if (const std::int32_t result = FList.DeleteListedFile(FFileName, FInMemory); result < 0)
    RaiseFileError(result);
}

void TFileHandler::RenameFile(const std::string& newName) {
  if (const std::int32_t result = FList.RenameListedFile(FFileName, FInMemory, newName); result < 0)
    RaiseFileError(result);
  FFileName = newName;
}

void TFileHandler::CopyToFile(const std::string& destinationName, bool compress, int progressStep,
                              TProgressCallback callback, void* callbackData) {
  TAbstractFile& file = OpenFileObject();
  const TCopyProgress progress{progressStep, callback, callbackData};
  if (const std::int32_t result =
          FList.CopyListedFileTo(&file, FHandleId, progress, compress, destinationName, FInMemory);
      result < 0)
    RaiseFileError(result);
}

void TFileHandler::CopyFromFile(const std::string& sourceName, bool compress, int progressStep,
                                TProgressCallback callback, void* callbackData) {
  TAbstractFile& file = OpenFileObject();
  const TCopyProgress progress{progressStep, callback, callbackData};
  if (const std::int32_t result =
          FList.CopyListedFileFrom(&file, FHandleId, progress, compress, sourceName, FInMemory);
      result < 0)
    RaiseFileError(result);
}

std::int64_t TFileHandler::ReadBuffer(void* buffer, std::int64_t count, bool allowShort) {
  TAbstractFile& file = OpenFileObject();
  const std::int64_t got = file.Read(FHandleId, buffer, count);
  if (got < 0 || (got < count && !allowShort)) {
    errno = got < 0 ? LastFileErrno() : 0;
    RaiseTableError(static_cast<std::uint16_t>(kErrReadFailed), FFileName);
  }
  return got;
}

void TFileHandler::WriteBuffer(const void* buffer, std::int64_t count) {
  TAbstractFile& file = OpenFileObject();
  if (file.Write(FHandleId, buffer, count) != count) {
    errno = LastFileErrno();
    RaiseTableError(static_cast<std::uint16_t>(kErrWriteFailed), FFileName);
  }
}

void TFileHandler::FlushFile() {
  TAbstractFile& file = OpenFileObject();
  if (!file.Flush()) {
    errno = LastFileErrno();
    RaiseTableError(static_cast<std::uint16_t>(kErrWriteFailed), FFileName);
  }
}

std::int64_t TFileHandler::Seek(int origin, std::int64_t offset) {
  TAbstractFile& file = OpenFileObject();
  const std::int64_t position = file.Seek(FHandleId, origin, offset);
  if (position < 0) {
    errno = LastFileErrno();
    RaiseTableError(static_cast<std::uint16_t>(kErrUnknownOS), FFileName);
  }
  return position;
}

std::int64_t TFileHandler::FileSize() {
  TAbstractFile& file = OpenFileObject();
  file.BeginAccess();
  const std::int64_t position = file.HandlePosition(FHandleId);
  const std::int64_t size = file.Seek(FHandleId, kSeekFromEnd, 0);
  file.Seek(FHandleId, kSeekFromStart, position);
  file.EndAccess();
  if (size < 0) {
    errno = LastFileErrno();
    RaiseTableError(static_cast<std::uint16_t>(kErrUnknownOS), FFileName);
  }
  return size;
}

bool TFileHandler::FileExists() {
  return FList.ListedFileExists(FFileName, FInMemory);
}

bool TFileHandler::LockRange(std::int64_t length, std::int64_t start) {
  return FOpen && FFile && FFile->LockRange(length, start);
}

bool TFileHandler::UnlockRange(std::int64_t length, std::int64_t start) {
  return FOpen && FFile && FFile->UnlockRange(length, start);
}

void TFileHandler::BeginAccess() {
  OpenFileObject().BeginAccess();
}

void TFileHandler::EndAccess() {
  if (FOpen && FFile) FFile->EndAccess();
}

}  // namespace kura
