// The input of the fuzz targets that take a table's three files: byte 0 flags; bytes 1-4 and
// 5-8 the little-endian lengths of the data and index parts (cut to what follows); then the
// data part, the index part, and the rest as the BLOB file (no BLOB file when empty).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "storage/file_handler.h"
#include "storage/file_list.h"

namespace kura::fuzzing {

struct TTableParts {
  std::string Data;
  std::string Index;
  std::string Blob;
  std::uint8_t Flags = 0;
};

inline std::uint32_t PartLength(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline TTableParts SplitTableParts(const std::uint8_t* data, std::size_t size) {
  TTableParts parts;
  if (size < 9) return parts;
  parts.Flags = data[0];
  std::size_t rest = size - 9;
  const std::uint8_t* p = data + 9;
  const std::size_t dataLength = std::min<std::size_t>(PartLength(data + 1), rest);
  parts.Data.assign(reinterpret_cast<const char*>(p), dataLength);
  p += dataLength;
  rest -= dataLength;
  const std::size_t indexLength = std::min<std::size_t>(PartLength(data + 5), rest);
  parts.Index.assign(reinterpret_cast<const char*>(p), indexLength);
  p += indexLength;
  rest -= indexLength;
  parts.Blob.assign(reinterpret_cast<const char*>(p), rest);
  return parts;
}

// Makes the memory file name hold bytes; no file at all when bytes is empty.
inline void StoreMemoryFile(TFileList& list, const char* name, const std::string& bytes) {
  if (bytes.empty()) {
    list.DeleteListedFile(name, true);
    return;
  }
  TFileHandler raw(list);
  raw.SetFileName(name);
  raw.SetInMemory(true);
  raw.CreateFile();
  raw.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

}  // namespace kura::fuzzing
