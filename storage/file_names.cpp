#include "storage/file_names.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace kura {
namespace {

std::string WithSlashes(std::string_view text) {
  std::string result(text);
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  text = text.substr(text.size() - tail.size());
  for (std::size_t i = 0; i < tail.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(text[i])) !=
        std::toupper(static_cast<unsigned char>(tail[i])))
      return false;
  return true;
}

std::string WithTrailingSlash(std::string_view directory) {
  std::string result = WithSlashes(directory);
  if (!result.empty() && result.back() != '/') result += '/';
  return result;
}

}  // namespace

std::string TableFileName(std::string_view directory, std::string_view tableName,
                          std::string_view extension) {
  std::string name = WithSlashes(tableName);
  if (EndsWithIgnoringCase(name, kDataExtension)) name.resize(name.size() - kDataExtension.size());
  name += extension;
  if (name.find('/') != std::string::npos) return name;
  return WithTrailingSlash(directory) + name;
}

std::string TemporaryFileName(std::string_view directory, std::string_view extension,
                              TFileList& list) {
  const long threadId = std::labs(static_cast<long>(syscall(SYS_gettid)));
  const std::string prefix = WithTrailingSlash(directory) + std::to_string(threadId).substr(0, 5);
  for (unsigned long counter = 0;; ++counter) {
    std::string name = prefix + std::to_string(counter) + std::string(extension);
    if (!list.ListedFileExists(name, true) && !list.ListedFileExists(name, false)) return name;
  }
}

}  // namespace kura
