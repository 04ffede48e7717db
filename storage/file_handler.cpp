#include "storage/file_handler.h"

#include <cerrno>

#include "base/engine_error.h"
#include "storage/os_errors.h"

namespace kura {

TFileHandler::TFileHandler(TFileList& list) : FList(list) {}

TFileHandler::~TFileHandler() {
  if (FOpen && FFile) FList.CloseListedFile(FFile, FInMemory, FHandleId);
}

void TFileHandler::RaiseFileError(const TFileStatus& status) const {
  RaiseTableErrorWithOSError(status.Code, FFileName, status.OSError);
}

TAbstractFile& TFileHandler::OpenFileObject() const {
  if (!FOpen || !FFile) RaiseFileError(OSFailure(EBADF));
  return *FFile;
}

void TFileHandler::Open() {
  if (FOpen) return;
  if (!FileExists()) RaiseFileError(OSFailure(ENOENT));
  TAbstractFile* file = nullptr;
  bool readOnly = false, readOnlyAttribute = false;
  const TFileResult<std::int32_t> handle = FList.OpenListedFile(
      FFileName, FInMemory, FTemporary, FExclusive, file, readOnly, readOnlyAttribute);
  if (!handle.Ok()) RaiseFileError(handle.Status);
  FFile = file;
  FHandleId = handle.Value;
  FOpenedReadOnly = readOnly;
  FReadOnlyAttribute = readOnlyAttribute;
  FOpen = true;
}

void TFileHandler::Close() {
  if (!FOpen) return;
  const TFileStatus result =
      FFile ? FList.CloseListedFile(FFile, FInMemory, FHandleId) : TFileStatus{};
  FFile = nullptr;
  FHandleId = 0;
  FOpen = false;
  if (!result.Ok()) RaiseFileError(result);
}

void TFileHandler::CreateFile() {
  if (FOpen) Close();  // a handler holds one handle: the old one goes first
  TAbstractFile* file = nullptr;
  const TFileResult<std::int32_t> handle =
      FList.CreateListedFile(FFileName, FInMemory, FTemporary, file);
  if (!handle.Ok()) RaiseFileError(handle.Status);
  FFile = file;
  FHandleId = handle.Value;
  FOpenedReadOnly = FReadOnlyAttribute = false;
  FOpen = true;
}

void TFileHandler::DeleteFile() {
  if (const TFileStatus result = FList.DeleteListedFile(FFileName, FInMemory); !result.Ok())
    RaiseFileError(result);
}

void TFileHandler::RenameFile(const std::string& newName) {
  if (const TFileStatus result = FList.RenameListedFile(FFileName, FInMemory, newName);
      !result.Ok())
    RaiseFileError(result);
  FFileName = newName;
}

void TFileHandler::CopyToFile(const std::string& destinationName, bool compress, int progressStep,
                              TProgressCallback callback, void* callbackData) {
  TAbstractFile& file = OpenFileObject();
  const TCopyProgress progress{progressStep, callback, callbackData};
  if (const TFileStatus result =
          FList.CopyListedFileTo(&file, FHandleId, progress, compress, destinationName, FInMemory);
      !result.Ok())
    RaiseFileError(result);
}

void TFileHandler::CopyFromFile(const std::string& sourceName, bool compress, int progressStep,
                                TProgressCallback callback, void* callbackData) {
  TAbstractFile& file = OpenFileObject();
  const TCopyProgress progress{progressStep, callback, callbackData};
  if (const TFileStatus result =
          FList.CopyListedFileFrom(&file, FHandleId, progress, compress, sourceName, FInMemory);
      !result.Ok())
    RaiseFileError(result);
}

std::int64_t TFileHandler::ReadBuffer(void* buffer, std::int64_t count, bool allowShort) {
  TAbstractFile& file = OpenFileObject();
  const TFileResult<std::int64_t> got = file.Read(FHandleId, buffer, count);
  if (!got.Ok() || (got.Value < count && !allowShort))
    RaiseFileError(FileFailure(codes::kReadError, got.Status.OSError));
  return got.Value;
}

void TFileHandler::WriteBuffer(const void* buffer, std::int64_t count) {
  TAbstractFile& file = OpenFileObject();
  const TFileResult<std::int64_t> put = file.Write(FHandleId, buffer, count);
  if (!put.Ok() || put.Value != count)
    RaiseFileError(FileFailure(codes::kWriteError, put.Status.OSError));
}

void TFileHandler::FlushFile() {
  TAbstractFile& file = OpenFileObject();
  if (const TFileStatus flushed = file.Flush(); !flushed.Ok())
    RaiseFileError(FileFailure(codes::kWriteError, flushed.OSError));
}

std::int64_t TFileHandler::Seek(int origin, std::int64_t offset) {
  TAbstractFile& file = OpenFileObject();
  const TFileResult<std::int64_t> position = file.Seek(FHandleId, origin, offset);
  if (!position.Ok()) RaiseFileError(FileFailure(codes::kUnknownOSError, position.Status.OSError));
  return position.Value;
}

std::int64_t TFileHandler::FileSize() {
  TAbstractFile& file = OpenFileObject();
  const TFileResult<std::int64_t> size = file.GetFileSize();
  if (!size.Ok()) RaiseFileError(FileFailure(codes::kUnknownOSError, size.Status.OSError));
  return size.Value;
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

bool TFileHandler::UnlockByteRun(std::int64_t start, std::int64_t count) {
  return FOpen && FFile && FFile->UnlockByteRun(start, count);
}

bool TFileHandler::LockRangeAbsorbing(std::int64_t length, std::int64_t start,
                                      std::int64_t absorbedCount) {
  return FOpen && FFile && FFile->LockRangeAbsorbing(length, start, absorbedCount);
}

bool TFileHandler::UnlockRangeKeeping(std::int64_t length, std::int64_t start,
                                      std::span<const std::int64_t> keptBytes) {
  return FOpen && FFile && FFile->UnlockRangeKeeping(length, start, keptBytes);
}

void TFileHandler::BeginAccess() {
  OpenFileObject().BeginAccess();
}

void TFileHandler::EndAccess() {
  if (FOpen && FFile) FFile->EndAccess();
}

}  // namespace kura
