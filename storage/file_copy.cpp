#include "storage/file_copy.h"

#include <zlib.h>

#include <vector>

#include "storage/os_errors.h"
#include "storage/progress_steps.h"

namespace kura {
namespace {

// Reports the percentage copied whenever it has grown by the step since the last report.
class TProgressReporter {
 public:
  TProgressReporter(const TCopyProgress& progress, std::int64_t total)
      : FProgress(progress), FTotal(total), FSteps(progress.Step) {}

  void Copied(std::int64_t bytes) {
    if (!FProgress.Callback || FTotal <= 0) return;  // an empty source has nothing to report
    const int percent = static_cast<int>(bytes * 100 / FTotal);
    if (FSteps.Advance(percent)) FProgress.Callback(percent, FProgress.Data);
  }

 private:
  const TCopyProgress& FProgress;
  std::int64_t FTotal;
  TProgressSteps FSteps;
};

// The source and destination of one copy, read and written at their handles' positions.
struct TCopyEnds {
  TAbstractFile& Source;
  std::int32_t SourceHandle;
  TAbstractFile& Destination;
  std::int32_t DestinationHandle;

  // Bytes read into buffer; a failed read is reported as 9217 with the system's reason.
  TFileResult<std::int64_t> ReadChunk(std::vector<unsigned char>& buffer) {
    Source.BeginAccess();
    const TFileResult<std::int64_t> got = Source.Read(SourceHandle, buffer.data(), kCopyChunkSize);
    Source.EndAccess();
    if (!got.Ok()) return FileFailure(codes::kReadError, got.Status.OSError);
    return got;
  }

  // Writes all bytes; anything less is reported as 9218 with the system's reason.
  TFileStatus WriteAll(const unsigned char* bytes, std::int64_t count) {
    if (count == 0) return {};  // a zero-length write would cut the file
    Destination.BeginAccess();
    const TFileResult<std::int64_t> put = Destination.Write(DestinationHandle, bytes, count);
    Destination.EndAccess();
    if (!put.Ok() || put.Value != count) return FileFailure(codes::kWriteError, put.Status.OSError);
    return {};
  }
};

TFileStatus CopyPlain(TCopyEnds& ends, TProgressReporter& reporter) {
  std::vector<unsigned char> chunk(kCopyChunkSize);
  std::int64_t copied = 0;
  for (;;) {
    const TFileResult<std::int64_t> got = ends.ReadChunk(chunk);
    if (!got.Ok()) return got.Status;
    if (const TFileStatus put = ends.WriteAll(chunk.data(), got.Value); !put.Ok()) return put;
    copied += got.Value;
    reporter.Copied(copied);
    if (got.Value < kCopyChunkSize) return {};
  }
}

TFileStatus CopyCompressed(TCopyEnds& ends, TProgressReporter& reporter) {
  std::vector<unsigned char> chunk(kCopyChunkSize);
  std::vector<unsigned char> packed(compressBound(kCopyChunkSize));
  std::int64_t copied = 0;
  for (;;) {
    const TFileResult<std::int64_t> got = ends.ReadChunk(chunk);
    if (!got.Ok()) return got.Status;
    if (got.Value > 0) {
      uLongf packedSize = static_cast<uLongf>(packed.size());
      if (compress2(packed.data(), &packedSize, chunk.data(), static_cast<uLong>(got.Value),
                    kCopyCompressionLevel) != Z_OK)
        return FileFailure(codes::kCompressError);
      const TFileStatus put = ends.WriteAll(packed.data(), static_cast<std::int64_t>(packedSize));
      if (!put.Ok()) return put;
    }
    copied += got.Value;
    reporter.Copied(copied);
    if (got.Value < kCopyChunkSize) return {};
  }
}

// Inflates the zlib streams of the source one after another into the destination.
class TInflater {
 public:
  TInflater() { FReady = inflateInit(&FStream) == Z_OK; }
  ~TInflater() {
    if (FReady) inflateEnd(&FStream);
  }

  TFileStatus Run(TCopyEnds& ends, TProgressReporter& reporter) {
    if (!FReady) return FileFailure(codes::kUncompressError);
    std::vector<unsigned char> chunk(kCopyChunkSize);
    std::int64_t consumed = 0;
    for (;;) {
      const TFileResult<std::int64_t> got = ends.ReadChunk(chunk);
      if (!got.Ok()) return got.Status;
      if (const TFileStatus result = InflateChunk(ends, chunk.data(), got.Value); !result.Ok())
        return result;
      consumed += got.Value;
      reporter.Copied(consumed);
      if (got.Value < kCopyChunkSize) break;
    }
    // A stream cut short is a damaged source.
    return FInStream ? FileFailure(codes::kUncompressError) : TFileStatus{};
  }

 private:
  TFileStatus InflateChunk(TCopyEnds& ends, unsigned char* input, std::int64_t count) {
    FStream.next_in = input;
    FStream.avail_in = static_cast<uInt>(count);
    bool outputFull = false;
    while (FStream.avail_in > 0 || outputFull) {
      if (!FInStream) {
        if (FStream.avail_in == 0) break;
        inflateReset(&FStream);
        FInStream = true;
      }
      FStream.next_out = FOutput.data();
      FStream.avail_out = static_cast<uInt>(FOutput.size());
      const int status = inflate(&FStream, Z_NO_FLUSH);
      if (status == Z_STREAM_END)
        FInStream = false;
      else if (status != Z_OK && status != Z_BUF_ERROR)
        return FileFailure(codes::kUncompressError);
      const auto produced = static_cast<std::int64_t>(FOutput.size() - FStream.avail_out);
      if (const TFileStatus put = ends.WriteAll(FOutput.data(), produced); !put.Ok()) return put;
      if (status == Z_BUF_ERROR) break;  // needs the next chunk
      outputFull = FStream.avail_out == 0;
    }
    return {};
  }

  z_stream FStream{};
  bool FReady = false;
  bool FInStream = false;
  std::vector<unsigned char> FOutput = std::vector<unsigned char>(kCopyChunkSize);
};

}  // namespace

TFileStatus CopyFileContents(TAbstractFile& source, std::int32_t sourceHandle,
                             TAbstractFile& destination, std::int32_t destinationHandle,
                             TCopyMode mode, const TCopyProgress& progress) {
  if (const auto at = source.Seek(sourceHandle, kSeekFromStart, 0); !at.Ok())
    return FileFailure(codes::kReadError, at.Status.OSError);
  if (const auto at = destination.Seek(destinationHandle, kSeekFromStart, 0); !at.Ok())
    return FileFailure(codes::kWriteError, at.Status.OSError);
  TCopyEnds ends{source, sourceHandle, destination, destinationHandle};
  const TFileResult<std::int64_t> size = source.GetFileSize();
  TProgressReporter reporter(progress, size.Ok() ? size.Value : 0);
  switch (mode) {
    case TCopyMode::Compress:
      return CopyCompressed(ends, reporter);
    case TCopyMode::Inflate: {
      TInflater inflater;
      return inflater.Run(ends, reporter);
    }
    case TCopyMode::Plain:
    default:
      return CopyPlain(ends, reporter);
  }
}

}  // namespace kura
