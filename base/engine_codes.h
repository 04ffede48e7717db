// The codes of EKuraEngineError, by name. The message text of each is in engine_error.cpp;
// the numbers are what callers and stored programs see, so they never change.
#pragma once

#include <cstdint>

namespace kura::codes {

using Code = std::uint16_t;

// Navigation answers (returned by cursor operations as well as raised).
inline constexpr Code kBeginningOfTable = 8705;
inline constexpr Code kEndOfTable = 8706;
inline constexpr Code kRecordChanged = 8708;  // changed or deleted by someone else
inline constexpr Code kNoCurrentRecord = 8709;
inline constexpr Code kRecordNotFound = 8710;
inline constexpr Code kEndOfBlob = 8711;  // a BLOB chain shorter than its length

// Damaged files and buffers.
inline constexpr Code kHeaderCorrupt = 8961;
inline constexpr Code kRecordBuffersCorrupt = 8962;
inline constexpr Code kBlobBuffersCorrupt = 8963;
inline constexpr Code kIndexPagesCorrupt = 8965;
inline constexpr Code kReadError = 9217;
inline constexpr Code kWriteError = 9218;
inline constexpr Code kCannotDeleteTable = 9220;
inline constexpr Code kHeaderAccessError = 9221;

// Limits.
inline constexpr Code kRecordSizeExceeded = 9477;
inline constexpr Code kTableFull = 9479;
inline constexpr Code kTooManyFilters = 9482;
inline constexpr Code kIndexLimits = 9487;
inline constexpr Code kFieldLimits = 9492;
inline constexpr Code kTooManyOpenBlobs = 9494;
inline constexpr Code kBlobFieldLimits = 9498;

// Validation of records.
inline constexpr Code kDuplicateKey = 9729;
inline constexpr Code kBelowMinimum = 9730;
inline constexpr Code kAboveMaximum = 9731;
inline constexpr Code kValueRequired = 9732;

// Definitions and arguments.
inline constexpr Code kInvalidField = 9985;
inline constexpr Code kPrimaryIndexExists = 9993;
inline constexpr Code kInvalidBlobOffset = 9998;
inline constexpr Code kInvalidFieldDefinition = 10000;
inline constexpr Code kInvalidValidityCheck = 10006;
inline constexpr Code kIndexNameMissing = 10010;
inline constexpr Code kInvalidPassword = 10015;
inline constexpr Code kInvalidIndexName = 10022;
inline constexpr Code kInvalidIndexFieldNumber = 10023;
inline constexpr Code kInvalidKeySize = 10026;
inline constexpr Code kIndexExists = 10027;
inline constexpr Code kInvalidBlobLength = 10029;
inline constexpr Code kInvalidBlobHandle = 10030;
inline constexpr Code kTableInUse = 10031;
inline constexpr Code kInvalidFieldName = 10038;
inline constexpr Code kInvalidFilterHandle = 10050;
inline constexpr Code kFilterError = 10051;
inline constexpr Code kPrimaryIndexRequired = 10055;

// Locking.
inline constexpr Code kTableLocked = 10241;
inline constexpr Code kCannotUnlock = 10242;
inline constexpr Code kLockFailure = 10249;
inline constexpr Code kExclusiveRequired = 10253;
inline constexpr Code kRecordInUse = 10258;
inline constexpr Code kPasswordRequired = 10498;

// Sessions and BLOB fields.
inline constexpr Code kInvalidBlobField = 10753;
inline constexpr Code kEngineNotInitialized = 10758;

// Operating system.
inline constexpr Code kTableNotFound = 11010;
inline constexpr Code kTooManyOpenFiles = 11012;
inline constexpr Code kAccessDenied = 11013;
inline constexpr Code kInvalidFileHandle = 11014;
inline constexpr Code kOutOfMemory = 11016;
inline constexpr Code kInvalidMemoryTableLength = 11017;
inline constexpr Code kDeviceAccessDenied = 11023;
inline constexpr Code kTableMoved = 11025;
inline constexpr Code kUnknownOSError = 11047;

// Connections and databases.
inline constexpr Code kCannotConnect = 11280;
inline constexpr Code kInvalidDatabase = 11293;  // name or directory invalid or blank

// Import, export and SQL.
inline constexpr Code kImportError = 11300;
inline constexpr Code kExportError = 11301;
inline constexpr Code kSqlError = 11949;
inline constexpr Code kWrongVersion = 12035;
inline constexpr Code kInvalidIndexField = 12292;
inline constexpr Code kTableExists = 13060;

// Compression of whole-file copies, and languages.
inline constexpr Code kCompressError = 15001;
inline constexpr Code kUncompressError = 15002;
inline constexpr Code kLanguageNotInstalled = 15878;

}  // namespace kura::codes
