#include "base/engine_error.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <mutex>

namespace kura {
namespace {

struct MessageEntry {
  std::uint16_t code;
  const char* text;
};

// Sorted by code: looked up by binary search.
constexpr MessageEntry kMessages[] = {
    {8705, "Beginning of table '%s' unexpectedly encountered"},
    {8706, "End of table '%s' unexpectedly encountered"},
    {8708,
     "Record has been changed or deleted by another user, session, or table cursor in the "
     "table '%s'"},
    {8709, "No current record in the table '%s'"},
    {8710, "Record not found in the table '%s'"},
    {8711, "End of blob data in the table '%s' reached prematurely"},
    {8961, "Header information corrupt in the table '%s'"},
    {8962, "Data record buffers corrupt in the table '%s'"},
    {8963, "BLOB block buffers corrupt in the table '%s'"},
    {8965, "Index page buffers corrupt in the table '%s'"},
    {9217, "Error reading from the table '%s'"},
    {9218, "Error writing to the table '%s'"},
    {9220, "Cannot delete the table '%s'"},
    {9221, "Error accessing header information for the table '%s'"},
    {9477, "Maximum record size exceeded in the table '%s'"},
    {9479, "The table '%s' is full and cannot contain any more data"},
    {9482, "Too many filters defined for the table '%s'"},
    {9487,
     "Maximum or minimum limits on number of indexes or fields in an index exceeded in the "
     "table '%s'"},
    {9492,
     "Maximum or minimum limits on number of fields, auto-increment field value, or field size "
     "exceeded in the table '%s'"},
    {9494, "Too many blobs opened in the table '%s'"},
    {9498, "Too many blob fields or invalid blob block size specified for the table '%s'"},
    {9729, "Duplicate key found in the index '%s' of the table '%s'"},
    {9730, "The value for the field '%s' in the table '%s' is below the minimum allowable value"},
    {9731, "The value for the field '%s' in the table '%s' is above the maximum allowable value"},
    {9732, "A value must be provided for the field '%s' in the table '%s'"},
    {9985, "Invalid field number or name '%s' specified for the table '%s'"},
    {9993, "A primary index is already defined for the table '%s' and cannot be added again"},
    {9998, "Invalid blob offset into the table '%s' specified"},
    {10000, "Invalid field definition specified for the field '%s' in the table '%s'"},
    {10006,
     "Invalid default, min or max validity check, or expression specified for the field '%s' "
     "in the table '%s'"},
    {10010, "The secondary index name is missing or not specified for the table '%s'"},
    {10015, "Password provided for the table '%s' is invalid"},
    {10022, "Invalid secondary index name '%s' specified for the table '%s'"},
    {10023, "Invalid field number '%s' specified in the index '%s' for the table '%s'"},
    {10026, "Invalid key size specified in the index '%s' for the table '%s'"},
    {10027, "The secondary index '%s' already exists for the table '%s'"},
    {10029, "Invalid blob length in the table '%s'"},
    {10030, "Invalid blob handle for the table '%s' specified"},
    {10031, "The table '%s' is already in use"},
    {10038, "Invalid or duplicate field name '%s' specified for the table '%s'"},
    {10050, "Invalid filter handle specified for the table '%s'"},
    {10051, "Filter error for the table '%s' - %s"},
    {10055, "The primary index cannot be removed from the table '%s'"},
    {10241, "The table '%s' is already locked by another user"},
    {10242, "Cannot unlock table or record in the table '%s'"},
    {10249, "General lock failure with the table '%s'"},
    {10253, "The table '%s' must be opened exclusively"},
    {10258, "Record in the table '%s' is in use by another user"},
    {10498, "Insufficient rights to the table '%s', a password is required"},
    {10753, "Invalid blob field '%s' specified for the table '%s'"},
    {10758, "The database engine is not initialized"},
    {11010, "Table '%s' does not exist"},
    {11012, "Too many operating system files open while attempting to open the table '%s'"},
    {11013, "Access denied to table '%s'"},
    {11014, "Invalid operating system file handle for the table '%s'"},
    {11016, "There is insufficient operating system memory available for the current operation"},
    {11017, "Invalid length for the in-memory table '%s'"},
    {11023, "Access denied to logical operating system device for the table '%s'"},
    {11025, "The table '%s' has been moved"},
    {11047, "An unknown operating system error %s occurred with the table '%s'"},
    {11276, "The connection to the database server at '%s' has been lost"},
    {11279,
     "An unknown error ('%s') occurred with the connection to the database server at '%s', "
     "please check the server log"},
    {11280, "A connection to the database server at '%s' cannot be established"},
    {11281,
     "A connection to the database server at '%s' cannot be established, the server is not "
     "accepting new logins"},
    {11282,
     "A connection to the database server at '%s' cannot be established, the maximum number of "
     "connections has been reached"},
    {11283,
     "A connection to the database server at '%s' cannot be established, the client address is "
     "blocked"},
    {11285, "A server callback error occurred for the database server at '%s'"},
    {11286,
     "A call to the database server at '%s' failed, the client engine version does not match "
     "the server"},
    {11287,
     "A connection to the database server at '%s' cannot be established, the login information "
     "provided is invalid"},
    {11288,
     "The user '%s' is not authorized to perform this operation with the database '%s' on the "
     "database server at '%s'"},
    {11289,
     "The user '%s' is not authorized to perform administration functions on the database "
     "server at '%s'"},
    {11290, "The user name is either invalid or blank"},
    {11291, "The user '%s' does not exist on the database server at '%s'"},
    {11292, "The user '%s' already exists on the database server at '%s'"},
    {11293, "The database name or directory is either invalid or blank"},
    {11294, "The database '%s' does not exist on the database server at '%s'"},
    {11295, "The database '%s' already exists on the database server at '%s'"},
    {11296, "The database user name is either invalid or blank"},
    {11297,
     "The database user '%s' does not exist for the database '%s' on the database server at "
     "'%s'"},
    {11298,
     "The database user '%s' already exists for the database '%s' on the database server at "
     "'%s'"},
    {11299, "An invalid or unknown request was made to the database server at '%s'"},
    {11300, "An error occurred during the import into the table '%s' - %s"},
    {11301, "An error occurred during the export from the table '%s' - %s"},
    {11949, "SQL error - %s"},
    {12035, "The table '%s' is not the correct version"},
    {12292, "Invalid field '%s' specified for the index '%s' in the table '%s'"},
    {13060, "The table '%s' already exists"},
    {15001, "Error compressing data"},
    {15002, "Error uncompressing data"},
    {15878, "The language driver for the table '%s' is not available or installed"},
};

constexpr bool MessagesSorted() {
  for (std::size_t i = 1; i < std::size(kMessages); ++i)
    if (kMessages[i - 1].code >= kMessages[i].code) return false;
  return true;
}
static_assert(MessagesSorted(), "the message table must stay sorted by code");

// The process-wide error context: filled by RaiseEngineError, copied by the exception.
struct ErrorContext {
  std::uint16_t code = 0;
  std::int32_t os_error = 0;
  std::int32_t socket_error = 0;
  std::string server, user, database, table, field, index, text;
};

// Recursive: RaiseEngineError holds it while the exception's constructor takes it again.
std::recursive_mutex context_mutex;
ErrorContext context;

std::string CutItem(std::string_view item) {
  return std::string(item.substr(0, kMaxErrorItemLength));
}

// Case-insensitive: "Table '%s' does not exist" names the table as "table '%s'" does.
bool EndsWith(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  text = text.substr(text.size() - tail.size());
  for (std::size_t i = 0; i < tail.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(tail[i])))
      return false;
  return true;
}

// Which context item a placeholder takes, judged by the words just before it.
const std::string& ItemBefore(std::string_view before, const EKuraEngineError& e) {
  static const std::string kNone;
  if (EndsWith(before, "database server at '")) return e.ErrorRemoteServer;
  if (EndsWith(before, "user '")) return e.ErrorUserName;  // also "database user '"
  if (EndsWith(before, "database '")) return e.ErrorDatabaseName;
  if (EndsWith(before, "table '")) return e.ErrorTableName;
  if (EndsWith(before, "field '") || EndsWith(before, "field number or name '") ||
      EndsWith(before, "field number '") || EndsWith(before, "field name '"))
    return e.ErrorFieldName;
  if (EndsWith(before, "index '") || EndsWith(before, "secondary index name '"))
    return e.ErrorIndexName;
  if (EndsWith(before, "- ") || EndsWith(before, "An unknown error ('")) return e.ErrorText;
  return kNone;
}

std::string FillPlaceholders(std::string_view format, const EKuraEngineError& e) {
  std::string out;
  bool first = true;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      if (first && e.ErrorCode == kUnknownOSErrorCode)
        out += std::to_string(e.OSErrorCode);
      else
        out += ItemBefore(format.substr(0, i), e);
      first = false;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

}  // namespace

const char* EngineErrorFormat(std::uint16_t code) {
  auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), code,
                             [](const MessageEntry& m, std::uint16_t c) { return m.code < c; });
  if (it == std::end(kMessages) || it->code != code) return nullptr;
  return it->text;
}

EKuraEngineError::EKuraEngineError(std::uint16_t code) : EDatabaseError("") {
  {
    std::lock_guard<std::recursive_mutex> lock(context_mutex);
    OSErrorCode = context.os_error;
    SocketErrorCode = context.socket_error;
    ErrorRemoteServer = context.server;
    ErrorUserName = context.user;
    ErrorDatabaseName = context.database;
    ErrorTableName = context.table;
    ErrorFieldName = context.field;
    ErrorIndexName = context.index;
    ErrorText = context.text;
  }
  ErrorCode = code;
  const char* format = EngineErrorFormat(code);
  std::string text = format ? FillPlaceholders(format, *this) : "An unknown error occurred";
  if (text.size() > kMaxErrorTextLength) text.resize(kMaxErrorTextLength);
  SetMessage("Kura Engine Error # " + std::to_string(code) + " " + text);
}

void RaiseEngineError(std::uint16_t code, std::string_view server, std::string_view user,
                      std::string_view database, std::string_view table, std::string_view field,
                      std::string_view index, std::string_view text) {
  RaiseWithOSError(code, errno, server, user, database, table, field, index, text);
}

void RaiseTableErrorWithOSError(std::uint16_t code, std::string_view table, int osError) {
  RaiseWithOSError(code, osError, {}, {}, {}, table, {}, {}, {});
}

void RaiseWithOSError(std::uint16_t code, int os_error, std::string_view server,
                      std::string_view user, std::string_view database, std::string_view table,
                      std::string_view field, std::string_view index, std::string_view text) {
  std::lock_guard<std::recursive_mutex> lock(context_mutex);
  context = ErrorContext{};
  context.os_error = os_error;
  context.socket_error = 0;  // no sockets: remote sessions are not built
  context.server = CutItem(server);
  context.user = CutItem(user);
  context.database = CutItem(database);
  context.table = CutItem(table);
  context.field = CutItem(field);
  context.index = CutItem(index);
  context.text = CutItem(text);
  context.code = code;
  throw EKuraEngineError(code);
}

std::uint16_t EngineErrorCode(const std::exception& error) {
  if (auto* engine = dynamic_cast<const EKuraEngineError*>(&error)) return engine->ErrorCode;
  return kUnknownOSErrorCode;
}

}  // namespace kura
