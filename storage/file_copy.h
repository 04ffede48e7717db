// Whole-file copies between two open files of the file layer.
#pragma once

#include <cstdint>

#include "storage/abstract_file.h"

namespace kura {

// Receives the percentage of the source copied so far (0..100) and the caller's data.
using TProgressCallback = void (*)(int percent, void* data);

// Chunk size of a copy: the source is read, and the compressed form written, this much at
// a time.
inline constexpr std::int64_t kCopyChunkSize = 65536;
// zlib level of compressed copies: the best compression.
inline constexpr int kCopyCompressionLevel = 9;

enum class TCopyMode {
  Plain,     // bytes as they are
  Compress,  // each chunk deflated into its own zlib stream, the streams back to back
  Inflate,   // the reverse of Compress: the source is a series of zlib streams
};

struct TCopyProgress {
  // Report only when the percentage has grown by at least this much since the last report
  // (the first report needs at least the step itself).
  int Step = 0;
  TProgressCallback Callback = nullptr;
  void* Data = nullptr;
};

// Copies the source, from its start, to the destination, from its start, through the two
// handles. Answers the first failure: 9217 a read, 9218 a write (each with the system's
// reason), 15001 compression, 15002 decompression (a damaged or truncated compressed source).
// Does not cut the destination; the caller does when it may be longer than the copy.
TFileStatus CopyFileContents(TAbstractFile& source, std::int32_t sourceHandle,
                             TAbstractFile& destination, std::int32_t destinationHandle,
                             TCopyMode mode, const TCopyProgress& progress);

}  // namespace kura
