#include "base/engine_error.h"

#include "base/engine_codes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>

namespace kura {
namespace {

struct RaiseCase {
  const char* name;
  std::uint16_t code;
  std::string server, user, database, table, field, index, text;
  int os_error;
  std::string expected_message;
};

EKuraEngineError Raise(const RaiseCase& c) {
  try {
    errno = c.os_error;
    RaiseEngineError(c.code, c.server, c.user, c.database, c.table, c.field, c.index, c.text);
  } catch (const EKuraEngineError& e) {
    return e;
  }
  ADD_FAILURE() << "RaiseEngineError returned";
  return EKuraEngineError(0);
}

TEST(EngineError, MessagesFillTheNamedItemsInOrder) {
  const RaiseCase cases[] = {
      {"duplicate key: index then table", 9729, "", "", "", "mondai", "", "MNB_IDX", "", 0,
       "Kura Engine Error # 9729 Duplicate key found in the index 'MNB_IDX' of the table "
       "'mondai'"},
      {"OS error number in decimal", 11047, "", "", "", "tejun", "", "", "", 13,
       "Kura Engine Error # 11047 An unknown operating system error 13 occurred with the table "
       "'tejun'"},
      {"unlisted code", 4242, "", "", "", "mondai", "", "", "", 0,
       "Kura Engine Error # 4242 An unknown error occurred"},
      {"field then table", 9732, "", "", "", "mondai", "MNB", "", "", 0,
       "Kura Engine Error # 9732 A value must be provided for the field 'MNB' in the table "
       "'mondai'"},
      {"field number and index", 10023, "", "", "", "t", "7", "ix", "", 0,
       "Kura Engine Error # 10023 Invalid field number '7' specified in the index 'ix' for the "
       "table 't'"},
      {"filter text after the dash", 10051, "", "", "", "mondai", "", "", "bad token", 0,
       "Kura Engine Error # 10051 Filter error for the table 'mondai' - bad token"},
      {"SQL text", 11949, "", "", "", "", "", "", "Expected FROM", 0,
       "Kura Engine Error # 11949 SQL error - Expected FROM"},
      {"no placeholders", 15001, "", "", "", "t", "", "", "", 0,
       "Kura Engine Error # 15001 Error compressing data"},
      {"remote: user, database, server", 11297, "srv", "bob", "goban", "", "", "", "", 0,
       "Kura Engine Error # 11297 The database user 'bob' does not exist for the database "
       "'goban' on the database server at 'srv'"},
      {"remote: unknown error text then server", 11279, "srv", "", "", "", "", "", "boom", 0,
       "Kura Engine Error # 11279 An unknown error ('boom') occurred with the connection to the "
       "database server at 'srv', please check the server log"},
      {"remote: import text", 11300, "", "", "", "mondai", "", "", "line 3", 0,
       "Kura Engine Error # 11300 An error occurred during the import into the table 'mondai' - "
       "line 3"},
      {"largest code is unsigned", 65535, "", "", "", "", "", "", "", 0,
       "Kura Engine Error # 65535 An unknown error occurred"},
  };
  for (const RaiseCase& c : cases) {
    SCOPED_TRACE(c.name);
    EKuraEngineError e = Raise(c);
    EXPECT_EQ(e.Message(), c.expected_message);
    EXPECT_STREQ(e.what(), c.expected_message.c_str());
    EXPECT_EQ(e.ErrorCode, c.code);
    EXPECT_EQ(e.OSErrorCode, c.os_error);
    EXPECT_EQ(e.SocketErrorCode, 0);
    EXPECT_EQ(e.ErrorTableName, c.table);
    EXPECT_EQ(e.ErrorIndexName, c.index);
  }
}

TEST(EngineError, EngineErrorCodeOfOtherExceptionsIsUnknownOSError) {
  EXPECT_EQ(EngineErrorCode(std::runtime_error("x")), 11047);
  EXPECT_EQ(EngineErrorCode(EDatabaseError("dataset")), 11047);
  try {
    RaiseTableError(11010, "mondai");
  } catch (const std::exception& e) {
    EXPECT_EQ(EngineErrorCode(e), 11010);
    EXPECT_STREQ(e.what(), "Kura Engine Error # 11010 Table 'mondai' does not exist");
  }
}

TEST(EngineError, LongItemsAndTextsAreCut) {
  const std::string long_name(400, 'n');
  try {
    RaiseEngineError(8961, "", "", "", long_name, "", "", long_name);
  } catch (const EKuraEngineError& e) {
    EXPECT_EQ(e.ErrorTableName, std::string(255, 'n'));
    EXPECT_EQ(e.ErrorText, std::string(255, 'n'));
    const std::string prefix = "Kura Engine Error # 8961 ";
    ASSERT_EQ(e.Message().substr(0, prefix.size()), prefix);
    EXPECT_EQ(e.Message().size(), prefix.size() + 254);
  }
}

TEST(EngineError, ExceptionKeepsItsCopyWhenTheContextChanges) {
  try {
    RaiseTableError(11013, "first");
  } catch (const EKuraEngineError& first) {
    try {
      RaiseTableError(11013, "second");
    } catch (const EKuraEngineError&) {
    }
    EXPECT_EQ(first.ErrorTableName, "first");
    EXPECT_EQ(first.Message(), "Kura Engine Error # 11013 Access denied to table 'first'");
  }
}

TEST(EngineError, EveryPlaceholderOfTheTableIsFilled) {
  // A placeholder whose item is not recognised would print nothing: catch a typo in the table.
  for (int code = 0; code <= 65535; ++code) {
    if (!EngineErrorFormat(static_cast<std::uint16_t>(code))) continue;
    SCOPED_TRACE(code);
    try {
      RaiseEngineError(static_cast<std::uint16_t>(code), "S", "U", "D", "T", "F", "I", "X");
    } catch (const EKuraEngineError& e) {
      const std::string& m = e.Message();
      EXPECT_EQ(m.find("''"), std::string::npos) << m;
      EXPECT_EQ(m.find("%s"), std::string::npos) << m;
      EXPECT_NE(m.back(), ' ') << m;
    }
  }
}

TEST(EngineError, EveryNamedCodeHasAMessage) {
  for (std::uint16_t code : {codes::kBeginningOfTable,
                             codes::kEndOfTable,
                             codes::kRecordChanged,
                             codes::kNoCurrentRecord,
                             codes::kRecordNotFound,
                             codes::kEndOfBlob,
                             codes::kHeaderCorrupt,
                             codes::kRecordBuffersCorrupt,
                             codes::kBlobBuffersCorrupt,
                             codes::kIndexPagesCorrupt,
                             codes::kReadError,
                             codes::kWriteError,
                             codes::kCannotDeleteTable,
                             codes::kHeaderAccessError,
                             codes::kRecordSizeExceeded,
                             codes::kTableFull,
                             codes::kTooManyFilters,
                             codes::kIndexLimits,
                             codes::kFieldLimits,
                             codes::kTooManyOpenBlobs,
                             codes::kBlobFieldLimits,
                             codes::kDuplicateKey,
                             codes::kBelowMinimum,
                             codes::kAboveMaximum,
                             codes::kValueRequired,
                             codes::kInvalidField,
                             codes::kPrimaryIndexExists,
                             codes::kInvalidBlobOffset,
                             codes::kInvalidFieldDefinition,
                             codes::kInvalidValidityCheck,
                             codes::kIndexNameMissing,
                             codes::kInvalidPassword,
                             codes::kInvalidIndexName,
                             codes::kInvalidIndexFieldNumber,
                             codes::kInvalidKeySize,
                             codes::kIndexExists,
                             codes::kInvalidBlobLength,
                             codes::kInvalidBlobHandle,
                             codes::kTableInUse,
                             codes::kInvalidFieldName,
                             codes::kInvalidFilterHandle,
                             codes::kFilterError,
                             codes::kPrimaryIndexRequired,
                             codes::kTableLocked,
                             codes::kCannotUnlock,
                             codes::kLockFailure,
                             codes::kExclusiveRequired,
                             codes::kRecordInUse,
                             codes::kPasswordRequired,
                             codes::kInvalidBlobField,
                             codes::kEngineNotInitialized,
                             codes::kTableNotFound,
                             codes::kTooManyOpenFiles,
                             codes::kAccessDenied,
                             codes::kInvalidFileHandle,
                             codes::kOutOfMemory,
                             codes::kInvalidMemoryTableLength,
                             codes::kDeviceAccessDenied,
                             codes::kTableMoved,
                             codes::kUnknownOSError,
                             codes::kImportError,
                             codes::kExportError,
                             codes::kSqlError,
                             codes::kWrongVersion,
                             codes::kInvalidIndexField,
                             codes::kTableExists,
                             codes::kCompressError,
                             codes::kUncompressError,
                             codes::kLanguageNotInstalled}) {
    EXPECT_NE(EngineErrorFormat(code), nullptr) << code;
  }
}

}  // namespace
}  // namespace kura
