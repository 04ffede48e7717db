// Sorting many keys of one format at once (result sorts, bottom-up index builds).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "storage/collation.h"
#include "storage/index_key.h"

namespace kura {

// Whether keys of the format compare as plain unsigned bytes, first byte first.
inline bool KeysCompareAsBytes(const TKeyFormat& format) {
  if (format.Kind == TKeyKind::SysDeleted) return true;
  return format.Kind == TKeyKind::Ordinary && format.Locale.LanguageId == kAnsiStandardLanguageId &&
         !format.Descending;
}

// The first 8 bytes of a key (fewer for a shorter key, padded with zeros) as one big-endian
// number: for keys that compare as bytes, a smaller prefix means a smaller key.
inline std::uint64_t KeyPrefix(const std::uint8_t* key, std::size_t keyLength) {
  const std::size_t bytes = std::min<std::size_t>(8, keyLength);
  std::uint64_t prefix = 0;
  for (std::size_t b = 0; b < 8; ++b) prefix = (prefix << 8) | (b < bytes ? key[b] : 0u);
  return prefix;
}

// Puts `order` (indexes of keys) in key order, equal keys by index. keyAt(i) gives key i.
// Keys that compare as bytes are sorted on their first 8 bytes read as one big-endian
// number, kept next to the index, and only equal prefixes compare the rest: the same order
// without a call and a cache miss for most comparisons.
template <typename TKeyAt>
void SortKeyIndexes(std::vector<std::uint32_t>& order, const TKeyFormat& format, TKeyAt keyAt) {
  auto less = [&](std::uint32_t a, std::uint32_t b) {
    const int result = CompareKeys(format, keyAt(a), keyAt(b));
    return result != 0 ? result < 0 : a < b;
  };
  if (!KeysCompareAsBytes(format)) {
    std::sort(order.begin(), order.end(), less);
    return;
  }
  struct TEntry {
    std::uint64_t Prefix;
    std::uint32_t Index;
  };
  std::vector<TEntry> entries;
  entries.reserve(order.size());
  const auto keyLength = static_cast<std::size_t>(format.KeyLength);
  for (const std::uint32_t i : order) entries.push_back({KeyPrefix(keyAt(i), keyLength), i});
  std::sort(entries.begin(), entries.end(), [&](const TEntry& a, const TEntry& b) {
    return a.Prefix != b.Prefix ? a.Prefix < b.Prefix : less(a.Index, b.Index);
  });
  for (std::size_t i = 0; i < entries.size(); ++i) order[i] = entries[i].Index;
}

}  // namespace kura
