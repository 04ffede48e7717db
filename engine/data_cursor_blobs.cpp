// The cursor's BLOB calls: they find the field and hand the record buffer to the cursor's
// buffer list (cursor_blobs.h). Opening a stored value reads the BLOB file under the read lock
// of one engine operation.
#include <utility>

#include "base/engine_codes.h"
#include "engine/cursor_blobs.h"
#include "engine/data_cursor.h"
#include "engine/data_table.h"

namespace kura {
namespace {

// Keeps a read bracket of the cursor open for a scope.
class TBlobReadScope {
 public:
  explicit TBlobReadScope(TDataCursor& cursor) : FCursor(cursor) { FCursor.BeginRead(); }
  ~TBlobReadScope() { FCursor.EndRead(); }
  TBlobReadScope(const TBlobReadScope&) = delete;
  TBlobReadScope& operator=(const TBlobReadScope&) = delete;

 private:
  TDataCursor& FCursor;
};

}  // namespace

TCursorBlobs& TDataCursor::Blobs() {
  if (!FBlobs) FBlobs = std::make_unique<TCursorBlobs>();
  return *FBlobs;
}

const TFieldDescriptor* TDataCursor::BlobFieldDesc(int fieldNo, std::size_t bufferSize) const {
  RequireOpen();
  if (fieldNo < 1 || fieldNo > FieldCount()) return nullptr;
  if (bufferSize < FRecordSize) Raise(codes::kRecordBuffersCorrupt);
  return &FFields[static_cast<std::size_t>(fieldNo - 1)].Descriptor;
}

std::uint16_t TDataCursor::OpenBlob(int fieldNo, std::span<std::uint8_t> buffer,
                                    std::uint32_t& size, TBlobOpenMode mode,
                                    bool releaseAfterPost) {
  size = 0;
  const TFieldDescriptor* field = BlobFieldDesc(fieldNo, buffer.size());
  if (field == nullptr) return codes::kInvalidBlobField;
  const std::int32_t recordNo = PhysicalRecordNo();
  const TBlobReadScope scope(*this);
  // A stored value is read from disk: in lazy mode the read lock is taken for it here (a
  // change it reveals drops the stale blocks and has the next step re-synchronise).
  ReadMissesCache();
  return Blobs().Open(*FTable, *field, buffer, recordNo, mode, releaseAfterPost, size);
}

std::uint16_t TDataCursor::ReadBlob(int fieldNo, std::span<const std::uint8_t> buffer,
                                    std::uint32_t offset, std::uint32_t count, std::uint8_t* target,
                                    std::uint32_t& copied) {
  copied = 0;
  const TFieldDescriptor* field = BlobFieldDesc(fieldNo, buffer.size());
  if (field == nullptr) return codes::kInvalidBlobField;
  return Blobs().Read(*field, buffer, offset, count, target, copied);
}

std::uint16_t TDataCursor::WriteBlob(int fieldNo, std::span<std::uint8_t> buffer,
                                     std::uint32_t offset, std::uint32_t count,
                                     const std::uint8_t* source) {
  const TFieldDescriptor* field = BlobFieldDesc(fieldNo, buffer.size());
  if (field == nullptr) return codes::kInvalidBlobField;
  return Blobs().Write(*field, buffer, offset, count, source);
}

std::uint16_t TDataCursor::TruncateBlob(int fieldNo, std::span<std::uint8_t> buffer,
                                        std::uint32_t newSize) {
  const TFieldDescriptor* field = BlobFieldDesc(fieldNo, buffer.size());
  if (field == nullptr) return codes::kInvalidBlobField;
  return Blobs().Truncate(*field, buffer, newSize);
}

std::uint16_t TDataCursor::GetBlobSize(int fieldNo, std::span<const std::uint8_t> buffer,
                                       std::uint32_t& size) {
  size = 0;
  const TFieldDescriptor* field = BlobFieldDesc(fieldNo, buffer.size());
  if (field == nullptr) return codes::kInvalidBlobField;
  return Blobs().GetSize(*field, buffer, size);
}

std::uint16_t TDataCursor::CloseBlob(int fieldNo, std::span<std::uint8_t> buffer) {
  const TFieldDescriptor* field = BlobFieldDesc(fieldNo, buffer.size());
  if (field == nullptr) return codes::kInvalidBlobField;
  return Blobs().Close(*field, buffer);
}

void TDataCursor::FreeBlobs(bool onlyReleaseAfterPost) {
  if (FBlobs) FBlobs->FreeAll(onlyReleaseAfterPost);
}

}  // namespace kura
