// A cursor's open BLOB buffers: the working copies of BLOB values that the cursor's caller
// reads and writes between opening a BLOB field of a record buffer and posting or freeing it.
//
// THE SLOT OF AN OPEN BLOB
// A BLOB field's slot in a record buffer is the null indicator, the 4-byte first-block number
// and the 4-byte BLOB change number (record_image.h). While the field is open, the first-block
// number is replaced by the buffer's handle, a negative 32-bit value; a value >= 0 is a stored
// first-block number (0 = no BLOB). The null indicator follows the buffer's size (1 when it is
// not empty). Closing the last use, and the post, put the first-block number back.
//
// ANSWERS: the operations answer an engine code instead of raising (0 = success):
//   10753  the field is not a BLOB field
//   9998   the slot holds a negative value that is none of this cursor's handles
//   9494   128 buffers are open already
//   10030  the slot holds no handle of this cursor (read, write, truncate, size, close)
//   8711   a read copied fewer bytes than asked for (the end of the value, not an error)
//   11013  a write or truncate of a buffer opened for reading only
//   10029  a write or truncate past the largest BLOB value (2 147 483 647 bytes)
// Failures of the BLOB file itself (8708 for a value rewritten by someone else, 8963 for a
// damaged chain) raise, and leave the buffers as they were.
//
// THE POST: WriteModified stores every modified buffer of the posted record with one new BLOB
// change number (the data header's LastBlobChange + 1), writes that number into each field's
// slot, puts the first-block numbers back and releases the modified buffers. Every modified
// buffer must be open in the posted record buffer; a modified buffer of another record buffer
// refuses the post with 8963 before anything is written, and so does a slot holding a handle
// that no open buffer answers to (it would otherwise be stored as a block number).
//
// A modified buffer whose last use is closed stays open (its handle stays in the slot) until
// the post writes it or FreeAll drops it, so that a value written and closed before the post
// is not lost.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "storage/blob_format.h"
#include "storage/field_descriptor.h"

namespace kura {

class TDataTable;

inline constexpr int kMaxOpenBlobs = 128;
// The largest BLOB value a buffer may grow to (the block header's length field is signed).
inline constexpr std::int64_t kMaxBlobValueSize = 2147483647;

enum class TBlobOpenMode : std::uint8_t {
  ReadOnly,
  ReadWrite,
};

// One open buffer.
struct TCursorBlob {
  std::int32_t Handle = 0;    // negative
  std::int32_t RecordNo = 0;  // the record it was opened for (0 for a new record)
  TBlobOpenMode Mode = TBlobOpenMode::ReadOnly;
  bool ReleaseAfterPost = false;
  int UseCount = 0;
  // FieldNo, FirstBlock, BlobChange, Data and Modified; its OpenCount is not used.
  TBlobBuffer Buffer;
};

// The text of one modified BLOB field of a record buffer, for the text index.
struct TModifiedBlobText {
  std::uint16_t FieldNo = 0;
  std::span<const std::uint8_t> Text;
};

class TCursorBlobs {
 public:
  TCursorBlobs();
  ~TCursorBlobs();
  TCursorBlobs(const TCursorBlobs&) = delete;
  TCursorBlobs& operator=(const TCursorBlobs&) = delete;

  // Opens the field of the record buffer. A handle of this cursor in the slot adds a use
  // (opened for writing, the buffer becomes writable and takes releaseAfterPost). Otherwise a
  // new buffer is made for the stored value the slot names (read from the table's BLOB file
  // when its first block is not 0) with the recordNo given, and its handle goes into the
  // slot. size receives the buffer's size.
  std::uint16_t Open(TDataTable& table, const TFieldDescriptor& field,
                     std::span<std::uint8_t> record, std::int32_t recordNo, TBlobOpenMode mode,
                     bool releaseAfterPost, std::uint32_t& size);
  // Copies min(count, size - offset) bytes from offset (none when offset >= size) into
  // target, which must hold count bytes; copied receives the number. 8711 when fewer than
  // count were copied.
  std::uint16_t Read(const TFieldDescriptor& field, std::span<const std::uint8_t> record,
                     std::uint32_t offset, std::uint32_t count, std::uint8_t* target,
                     std::uint32_t& copied);
  // Copies count bytes to offset, growing the value (with zero bytes between its end and
  // offset) as needed.
  std::uint16_t Write(const TFieldDescriptor& field, std::span<std::uint8_t> record,
                      std::uint32_t offset, std::uint32_t count, const std::uint8_t* source);
  // Sets the size (a larger size appends zero bytes).
  std::uint16_t Truncate(const TFieldDescriptor& field, std::span<std::uint8_t> record,
                         std::uint32_t newSize);
  std::uint16_t GetSize(const TFieldDescriptor& field, std::span<const std::uint8_t> record,
                        std::uint32_t& size) const;
  // Drops one use; the last one frees the buffer (unless it is modified, see above) and puts
  // the first-block number back into the slot.
  std::uint16_t Close(const TFieldDescriptor& field, std::span<std::uint8_t> record);

  // Frees every buffer, or only those marked for release after post. Record buffers that
  // still hold their handles are not touched: their slots keep a handle no buffer answers to
  // any more (10030 / 9998 on use).
  void FreeAll(bool onlyReleaseAfterPost);

  // The post: see the head of this file. fields are the table's fields (the BLOB slots of
  // the record buffer are found through them). Answers whether BLOBs were written.
  bool WriteModified(TDataTable& table, std::span<const TFieldDescriptor> fields,
                     std::span<std::uint8_t> record);

  // For a record being deleted: every BLOB field of the stored record image that holds a
  // value is emptied and its chain freed (the slots get first block 0 and one new change
  // number). Buffers this cursor has open on the record are released first. Answers whether
  // BLOBs were written.
  bool EmptyRecordBlobs(TDataTable& table, std::span<const TFieldDescriptor> fields,
                        std::span<std::uint8_t> storedRecord, std::int32_t recordNo);

  // For a new record whose BLOB slots hold stored first-block numbers (a copy of another
  // record): each such value is read into a new modified buffer of the record buffer, so
  // the post gives the new record chains of its own. Raises 9494 when the buffers would pass
  // 128 (none is left made then).
  void CopyStoredBlobs(TDataTable& table, std::span<const TFieldDescriptor> fields,
                       std::span<std::uint8_t> record, std::int32_t recordNo);

  // The modified buffers open in the record buffer, in field order: the memo texts the text
  // index takes for this post.
  std::vector<TModifiedBlobText> ModifiedTexts(std::span<const TFieldDescriptor> fields,
                                               std::span<const std::uint8_t> record) const;
  // The modified buffer of a field open in the record buffer, or nullptr.
  const TCursorBlob* ModifiedBuffer(const TFieldDescriptor& field,
                                    std::span<const std::uint8_t> record) const;

  int OpenCount() const { return static_cast<int>(FBlobs.size()); }
  // The buffer of a handle, or nullptr.
  const TCursorBlob* Find(std::int32_t handle) const;
  bool AnyModified() const;

 private:
  TCursorBlob* FindMutable(std::int32_t handle);
  // The buffer whose handle the slot holds; nullptr when the slot holds none of ours.
  TCursorBlob* InSlot(const TFieldDescriptor& field, std::span<const std::uint8_t> record);
  const TCursorBlob* InSlot(const TFieldDescriptor& field,
                            std::span<const std::uint8_t> record) const;
  std::int32_t NextHandle();
  // Removes a buffer from the list.
  void Release(const TCursorBlob* blob);

  std::vector<std::unique_ptr<TCursorBlob>> FBlobs;
  std::int32_t FLastHandle = 0;
};

// The BLOB reference of a slot: the first-block number (or handle) and the change number.
std::int32_t BlobSlotFirstBlock(const TFieldDescriptor& field,
                                std::span<const std::uint8_t> record);
std::int32_t BlobSlotChange(const TFieldDescriptor& field, std::span<const std::uint8_t> record);
// Stores a first-block number (or handle) and the null indicator (1 when hasValue).
void SetBlobSlot(const TFieldDescriptor& field, std::span<std::uint8_t> record,
                 std::int32_t firstBlock, bool hasValue);
void SetBlobSlotChange(const TFieldDescriptor& field, std::span<std::uint8_t> record,
                       std::int32_t change);

}  // namespace kura
