// The one exception of the Kura table engine.
//
// Every failure inside the engine fills the process-wide error context (the code, the
// operating system's error number and the names involved) and raises EKuraEngineError,
// whose message is built from a fixed table of texts:
//
//   "Kura Engine Error # " <code in decimal> " " <text, at most 254 characters>
//
// The placeholders of a text are filled, in order, with the context items the text names
// ("table '%s'" takes the table name, "index '%s'" the index name, and so on).
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "base/database_error.h"
#include "base/engine_codes.h"

namespace kura {

// Longest context string kept; longer ones are cut when stored.
inline constexpr std::size_t kMaxErrorItemLength = 255;
// Longest message text after the prefix; longer texts are cut.
inline constexpr std::size_t kMaxErrorTextLength = 254;
// Code answered for anything that is not an engine error: "an unknown operating system error".
inline constexpr std::uint16_t kUnknownOSErrorCode = codes::kUnknownOSError;

class EKuraEngineError : public EDatabaseError {
 public:
  // Copies the context items out of the process-wide error context, sets ErrorCode and
  // builds the message. Safe to call from any thread.
  explicit EKuraEngineError(std::uint16_t code);

  std::uint16_t ErrorCode;
  std::int32_t OSErrorCode;
  std::int32_t SocketErrorCode;
  std::string ErrorRemoteServer;
  std::string ErrorUserName;
  std::string ErrorDatabaseName;
  std::string ErrorTableName;
  std::string ErrorFieldName;
  std::string ErrorIndexName;
  std::string ErrorText;
};

// Clears the error context, stores errno as it is at the call (as the operating system's
// error number), a socket error of 0 and the seven names (each cut to 255 characters), stores
// the code and throws a new EKuraEngineError built from the context. Pass empty strings for
// items that do not apply. A caller that must report a particular OS error sets errno first.
[[noreturn]] void RaiseEngineError(std::uint16_t code, std::string_view server = {},
                                   std::string_view user = {}, std::string_view database = {},
                                   std::string_view table = {}, std::string_view field = {},
                                   std::string_view index = {}, std::string_view text = {});

// As RaiseEngineError, with the operating system's error number given rather than taken from
// errno: the file layer reports the reason it carried from the failed call.
[[noreturn]] void RaiseWithOSError(std::uint16_t code, int osError, std::string_view server,
                                   std::string_view user, std::string_view database,
                                   std::string_view table, std::string_view field,
                                   std::string_view index, std::string_view text);
[[noreturn]] void RaiseTableErrorWithOSError(std::uint16_t code, std::string_view table,
                                             int osError);

// Shorthand for the common case of a code about one table.
[[noreturn]] inline void RaiseTableError(std::uint16_t code, std::string_view table) {
  RaiseEngineError(code, {}, {}, {}, table);
}

// The ErrorCode of an engine error; 11047 for any other exception.
std::uint16_t EngineErrorCode(const std::exception& error);

// The message text of a code, placeholders unfilled; nullptr for an unlisted code.
const char* EngineErrorFormat(std::uint16_t code);

}  // namespace kura
