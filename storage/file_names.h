// File names of tables and temporary files.
//
// A table has up to three files: data ".DAT", index ".IDX" and BLOB ".BLB", with backup
// copies ".DBK", ".IBK" and ".BBK". The separator is "/"; a "\" in a directory or table name
// is taken as "/". The extensions stay upper case on every file system; opening finds a
// file whose name differs only in case (see ResolveDiskFileName).
#pragma once

#include <string>
#include <string_view>

#include "storage/file_list.h"

namespace kura {

inline constexpr std::string_view kDataExtension = ".DAT";
inline constexpr std::string_view kIndexExtension = ".IDX";
inline constexpr std::string_view kBlobExtension = ".BLB";
inline constexpr std::string_view kDataBackupExtension = ".DBK";
inline constexpr std::string_view kIndexBackupExtension = ".IBK";
inline constexpr std::string_view kBlobBackupExtension = ".BBK";

// The file of a table with the given extension: the directory with a trailing "/", then the
// table name whose extension is replaced when it is ".DAT" (in any case) and otherwise kept
// with the extension appended. A table name containing "/" is a path of its own and is not
// joined to the directory; an empty directory leaves the name relative to the working folder.
std::string TableFileName(std::string_view directory, std::string_view tableName,
                          std::string_view extension);

// A name for a new temporary file: the directory, the first 5 digits of the current thread's
// id, a decimal counter from 0 and the extension. The counter grows until neither a listed
// file (of either kind) nor a disk file has that name.
std::string TemporaryFileName(std::string_view directory, std::string_view extension,
                              TFileList& list = FileList());

}  // namespace kura
