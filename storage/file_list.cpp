#include "storage/file_list.h"

#include <cctype>
#include <cerrno>

#include "storage/ascii_case.h"
#include "storage/os_errors.h"
#include "storage/physical_file.h"

namespace kura {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

std::string_view TrimBlanks(std::string_view name) {
  const auto first = name.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

// Characters of UTF-8 text: every byte that does not continue a sequence.
std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  return count;
}

}  // namespace

TFileList::TFileList()
    : FDiskFileFactory([](const std::string& path, bool temporary, bool exclusive) {
        return std::make_unique<TPhysicalFile>(path, temporary, exclusive);
      }),
      FMemoryFileFactory([](const std::string& name, bool temporary, bool exclusive) {
        return std::make_unique<TMemoryFile>(name, temporary, exclusive);
      }) {}

TFileList::~TFileList() = default;

std::string TFileList::ListKey(std::string_view name, bool inMemory) {
  const std::string_view trimmed = TrimBlanks(name);
  if (trimmed.empty() || CharacterCount(trimmed) > kMaxFileNameLength) return {};
  return inMemory ? std::string(trimmed) : ResolveDiskFileName(trimmed);
}

// Why ListKey gave no key: a blank name names no file, a long one is refused.
static TFileStatus BadNameError(std::string_view name) {
  return OSFailure(TrimBlanks(name).empty() ? ENOENT : ENAMETOOLONG);
}

int TFileList::FindIndex(const std::string& key, bool inMemory) {
  for (std::size_t i = 0; i < FFiles.size(); ++i) {
    const TAbstractFile& file = *FFiles[i];
    if (file.IsInMemory() != inMemory) continue;
    if (inMemory ? EqualsIgnoringAsciiCase(file.Name(), key) : file.Name() == key)
      return static_cast<int>(i);
  }
  return -1;
}

int TFileList::FindIndex(const TAbstractFile* file) {
  for (std::size_t i = 0; i < FFiles.size(); ++i)
    if (FFiles[i].get() == file) return static_cast<int>(i);
  return -1;
}

std::unique_ptr<TAbstractFile> TFileList::MakeFile(const std::string& key, bool inMemory,
                                                   bool temporary, bool exclusive) {
  if (inMemory) return FMemoryFileFactory(key, temporary, exclusive);
  return FDiskFileFactory(key, temporary, exclusive);
}

void TFileList::Remove(int index) {
  FFiles.erase(FFiles.begin() + index);
}

TFileResult<std::int32_t> TFileList::CreateListedFile(std::string_view name, bool inMemory,
                                                      bool temporary, TAbstractFile*& file) {
  Guard guard(FLock);
  file = nullptr;
  const std::string key = ListKey(name, inMemory);
  if (key.empty()) return BadNameError(name);
  const int index = FindIndex(key, inMemory);
  if (index >= 0) {
    TAbstractFile& listed = *FFiles[index];
    if (listed.OpenCount() > 0) return OSFailure(EAGAIN);
    listed.SetExclusive(true);
    listed.SetTemporary(temporary);
    const TFileResult<std::int32_t> handle = listed.CreateFile();
    if (handle.Ok()) file = &listed;
    return handle;
  }
  std::unique_ptr<TAbstractFile> made = MakeFile(key, inMemory, temporary, true);
  const TFileResult<std::int32_t> handle = made->CreateFile();
  if (!handle.Ok()) return handle;
  file = made.get();
  FFiles.push_back(std::move(made));
  return handle;
}

TFileResult<std::int32_t> TFileList::OpenListedFile(std::string_view name, bool inMemory,
                                                    bool temporary, bool exclusive,
                                                    TAbstractFile*& file, bool& readOnly,
                                                    bool& readOnlyAttribute) {
  Guard guard(FLock);
  file = nullptr;
  readOnly = readOnlyAttribute = false;
  const std::string key = ListKey(name, inMemory);
  if (key.empty()) return BadNameError(name);
  const int index = FindIndex(key, inMemory);
  TFileResult<std::int32_t> handle = 0;
  TAbstractFile* opened;
  if (index >= 0) {
    opened = FFiles[index].get();
    if (opened->OpenCount() > 0) {
      if (opened->IsExclusive() || exclusive) return OSFailure(EAGAIN);
    } else {
      opened->SetExclusive(exclusive);
      opened->SetTemporary(temporary);
    }
    handle = opened->OpenFile();
    if (!handle.Ok()) return handle;
  } else {
    // A memory file exists only once it has been created.
    if (inMemory) return OSFailure(ENOENT);
    std::unique_ptr<TAbstractFile> made = MakeFile(key, inMemory, temporary, exclusive);
    handle = made->OpenFile();
    if (!handle.Ok()) return handle;
    opened = made.get();
    FFiles.push_back(std::move(made));
  }
  file = opened;
  readOnly = opened->IsReadOnly();
  readOnlyAttribute = opened->HasReadOnlyAttribute();
  return handle;
}

TFileStatus TFileList::CloseListedFile(TAbstractFile* file, bool inMemory, std::int32_t handleId) {
  Guard guard(FLock);
  const int index = FindIndex(file);
  if (index < 0 || file->IsInMemory() != inMemory) return OSFailure(ENOENT);
  const TFileStatus result = file->CloseHandle(handleId);
  if (result.Ok() && !inMemory && file->OpenCount() == 0) Remove(index);
  return result;
}

TFileStatus TFileList::RenameListedFile(std::string_view name, bool inMemory,
                                        std::string_view newName) {
  Guard guard(FLock);
  const std::string key = ListKey(name, inMemory);
  const std::string newKey = ListKey(newName, inMemory);
  if (key.empty()) return BadNameError(name);
  if (newKey.empty()) return BadNameError(newName);
  const int index = FindIndex(key, inMemory);
  if (index >= 0 && FFiles[index]->OpenCount() > 0) return OSFailure(EAGAIN);
  if (inMemory) {
    if (index < 0) return OSFailure(ENOENT);
    const int taken = FindIndex(newKey, true);
    if (taken >= 0 && taken != index) return OSFailure(EEXIST);
    return FFiles[index]->Rename(std::string(TrimBlanks(newName)));
  }
  std::unique_ptr<TAbstractFile> unlisted = MakeFile(key, false, false, false);
  return unlisted->Rename(std::string(newName));
}

TFileStatus TFileList::DeleteListedFile(std::string_view name, bool inMemory) {
  Guard guard(FLock);
  const std::string key = ListKey(name, inMemory);
  if (key.empty()) return BadNameError(name);
  const int index = FindIndex(key, inMemory);
  if (index >= 0 && FFiles[index]->OpenCount() > 0) return OSFailure(EAGAIN);
  if (inMemory) {
    if (index < 0) return OSFailure(ENOENT);
    const TFileStatus result = FFiles[index]->Delete();
    if (result.Ok()) Remove(index);
    return result;
  }
  std::unique_ptr<TAbstractFile> unlisted = MakeFile(key, false, false, false);
  return unlisted->Delete();
}

bool TFileList::ListedFileExists(std::string_view name, bool inMemory) {
  Guard guard(FLock);
  const std::string key = ListKey(name, inMemory);
  if (key.empty()) return false;
  if (FindIndex(key, inMemory) >= 0) return true;
  return !inMemory && DiskFileExists(key);
}

TFileStatus TFileList::CopyListedFileTo(TAbstractFile* file, std::int32_t handleId,
                                        const TCopyProgress& progress, bool compress,
                                        std::string_view destinationName,
                                        bool destinationInMemory) {
  Guard guard(FLock);
  if (FindIndex(file) < 0) return OSFailure(ENOENT);
  TAbstractFile* destination = nullptr;
  const TFileResult<std::int32_t> handle =
      CreateListedFile(destinationName, destinationInMemory, false, destination);
  if (!handle.Ok()) return handle.Status;
  const TFileStatus result =
      CopyFileContents(*file, handleId, *destination, handle.Value,
                       compress ? TCopyMode::Compress : TCopyMode::Plain, progress);
  CloseListedFile(destination, destinationInMemory, handle.Value);
  // Half a copy must not pass for a good one (a backup, say): it goes.
  if (!result.Ok()) DeleteListedFile(destinationName, destinationInMemory);
  return result;
}

TFileStatus TFileList::CopyListedFileFrom(TAbstractFile* file, std::int32_t handleId,
                                          const TCopyProgress& progress, bool compress,
                                          std::string_view sourceName, bool sourceInMemory) {
  Guard guard(FLock);
  if (FindIndex(file) < 0) return OSFailure(ENOENT);
  TAbstractFile* source = nullptr;
  bool readOnly, readOnlyAttribute;
  const TFileResult<std::int32_t> handle =
      OpenListedFile(sourceName, sourceInMemory, false, true, source, readOnly, readOnlyAttribute);
  if (!handle.Ok()) return handle.Status;
  TFileStatus result = CopyFileContents(*source, handle.Value, *file, handleId,
                                        compress ? TCopyMode::Inflate : TCopyMode::Plain, progress);
  // Cut what the file held beyond the copy, so a longer old file leaves no tail behind.
  if (result.Ok()) {
    if (const auto cut = file->Write(handleId, nullptr, 0); !cut.Ok())
      result = FileFailure(codes::kWriteError, cut.Status.OSError);
  }
  CloseListedFile(source, sourceInMemory, handle.Value);
  return result;
}

TAbstractFile* TFileList::FindListedFile(std::string_view name, bool inMemory) {
  Guard guard(FLock);
  const std::string key = ListKey(name, inMemory);
  if (key.empty()) return nullptr;
  const int index = FindIndex(key, inMemory);
  return index < 0 ? nullptr : FFiles[index].get();
}

TFileList::TFileFactory TFileList::SetDiskFileFactory(TFileFactory factory) {
  Guard guard(FLock);
  std::swap(FDiskFileFactory, factory);
  return factory;
}

TFileList::TFileFactory TFileList::SetMemoryFileFactory(TFileFactory factory) {
  Guard guard(FLock);
  std::swap(FMemoryFileFactory, factory);
  return factory;
}

TFileList& FileList() {
  // Never destroyed: handlers owned by other static objects may still close their files
  // while the process exits.
  static TFileList* const list = new TFileList;
  return *list;
}

}  // namespace kura
