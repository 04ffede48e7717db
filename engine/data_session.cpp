#include "engine/data_session.h"

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/first_error.h"
#include "storage/ascii_case.h"

namespace kura {
namespace {

std::string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  return error ? std::string() : current.string();
}

std::string TemporaryDirectory() {
  std::error_code error;
  const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
  return error ? std::string("/tmp") : temporary.string();
}

// The normalised path, or raises 11293 when it is too long to keep.
std::string CheckedPath(std::string_view path) {
  std::string normalised = NormaliseDirectoryPath(path);
  if (normalised.size() > kMaxSessionText) RaiseEngineError(codes::kInvalidDatabase);
  return normalised;
}

std::mutex& DefaultSessionLock() {
  static std::mutex lock;
  return lock;
}

std::unique_ptr<TDataSession>& DefaultSessionSlot() {
  static std::unique_ptr<TDataSession> session;
  return session;
}

}  // namespace

std::string NormaliseDirectoryPath(std::string_view path) {
  std::string result(TrimAsciiBlanks(path));
  std::replace(result.begin(), result.end(), '\\', '/');
  if (!result.empty() && result.back() != '/') result += '/';
  return result;
}

TDataSession::TDataSession(bool serverSide, TFileList& list)
    : FServerSide(serverSide),
      FFiles(list),
      FWorkingDir(NormaliseDirectoryPath(CurrentDirectory())),
      FPrivateDir(NormaliseDirectoryPath(TemporaryDirectory())),
      FSlotSource(std::random_device{}()) {}

TDataSession::~TDataSession() {
  RemoveAllPasswords();
  try {
    CloseAllDirectories();
  } catch (const EKuraEngineError&) {
    // Nothing can be raised from here; every directory is gone all the same.
  }
}

void TDataSession::SetSessionType(TSessionType type) {
  if (type == TSessionType::stRemote) RaiseEngineError(codes::kCannotConnect);
}

void TDataSession::SetPrivateDir(std::string_view value) {
  const std::string stored = value.empty() ? std::string() : CheckedPath(value);
  if (stored != FPrivateDir) FPrivateDir = stored;
}

const std::string& TDataSession::GetPrivateDir() const {
  return FPrivateDir.empty() ? FWorkingDir : FPrivateDir;
}

void TDataSession::AddPassword(std::string_view text) {
  if (text.empty() || HasPassword(text)) return;
  if (text.size() > kMaxSessionText) RaiseEngineError(codes::kInvalidPassword);
  FPasswords.emplace_back(text);
}

void TDataSession::RemovePassword(std::string_view text) {
  const auto it = std::find(FPasswords.begin(), FPasswords.end(), text);
  if (it != FPasswords.end()) FPasswords.erase(it);
}

void TDataSession::RemoveAllPasswords() {
  while (!FPasswords.empty()) FPasswords.pop_back();
}

bool TDataSession::HasPassword(std::string_view text) const {
  return std::find(FPasswords.begin(), FPasswords.end(), text) != FPasswords.end();
}

TDataDirectory& TDataSession::OpenDirectory(std::string_view databaseName,
                                            std::string_view directory) {
  const bool memory = EqualsIgnoringAsciiCase(TrimAsciiBlanks(databaseName), kInMemoryDatabaseName);
  std::string path = CheckedPath(directory);
  if (path.empty() && !memory) path = FWorkingDir;
  if (databaseName.size() > kMaxSessionText) RaiseEngineError(codes::kInvalidDatabase);
  for (const auto& listed : FDirectories) {
    if (EqualsIgnoringAsciiCase(TrimAsciiBlanks(listed->Path()), TrimAsciiBlanks(path))) {
      listed->AddReference();
      return *listed;
    }
  }
  auto created = std::make_unique<TDataDirectory>(*this);
  created->SetDatabaseName(databaseName);
  created->SetPath(path);
  created->AddReference();
  FDirectories.push_back(std::move(created));
  return *FDirectories.back();
}

void TDataSession::CloseDirectory(TDataDirectory* directory) {
  const auto it =
      std::find_if(FDirectories.begin(), FDirectories.end(),
                   [directory](const auto& listed) { return listed.get() == directory; });
  if (it == FDirectories.end()) return;
  if ((*it)->DropReference() > 0) return;
  std::unique_ptr<TDataDirectory> leaving = std::move(*it);
  FDirectories.erase(it);
  leaving->CloseAllTables();
}

void TDataSession::CloseAllDirectories() {
  TFirstError errors;
  while (!FDirectories.empty()) {
    std::unique_ptr<TDataDirectory> leaving = std::move(FDirectories.front());
    FDirectories.erase(FDirectories.begin());
    errors.Try([&] { leaving->CloseAllTables(); });
  }
  errors.RaiseIfAny();
}

std::uint16_t TDataSession::DrawReadSlot() {
  std::uniform_int_distribution<int> slots(1, kMaxReadSlot);
  return static_cast<std::uint16_t>(slots(FSlotSource));
}

TDataSession& EnsureDefaultDataSession() {
  std::lock_guard<std::mutex> guard(DefaultSessionLock());
  auto& slot = DefaultSessionSlot();
  if (!slot) slot = std::make_unique<TDataSession>(false);
  return *slot;
}

TDataSession& DefaultDataSession() {
  std::lock_guard<std::mutex> guard(DefaultSessionLock());
  auto& slot = DefaultSessionSlot();
  if (!slot) RaiseEngineError(codes::kEngineNotInitialized);
  return *slot;
}

bool DefaultDataSessionExists() {
  std::lock_guard<std::mutex> guard(DefaultSessionLock());
  return DefaultSessionSlot() != nullptr;
}

void FreeDefaultDataSession() {
  std::unique_ptr<TDataSession> leaving;
  {
    std::lock_guard<std::mutex> guard(DefaultSessionLock());
    leaving = std::move(DefaultSessionSlot());
  }
}

}  // namespace kura
