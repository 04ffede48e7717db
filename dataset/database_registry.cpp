#include <cctype>
#include <map>
#include <mutex>

#include "dataset/query_provider.h"

namespace kura {
namespace {

std::string UpperName(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

std::mutex registry_mutex;

std::map<std::string, std::shared_ptr<TQueryProvider>>& Registry() {
  static std::map<std::string, std::shared_ptr<TQueryProvider>> registry;
  return registry;
}

}  // namespace

void RegisterDatabase(std::string_view name, std::shared_ptr<TQueryProvider> provider) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  Registry()[UpperName(name)] = std::move(provider);
}

void UnregisterDatabase(std::string_view name) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  Registry().erase(UpperName(name));
}

std::shared_ptr<TQueryProvider> FindDatabase(std::string_view name) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  auto it = Registry().find(UpperName(name));
  return it == Registry().end() ? nullptr : it->second;
}

}  // namespace kura
