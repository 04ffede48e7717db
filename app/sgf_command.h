// The command-line side of SGF import and export, run without a window:
//
//   goramina --import-sgf FILE_OR_FOLDER...       imports into ./DBgoramina
//   goramina --export-sgf TARGET [--problem N]    TARGET a folder (one file per problem) or a
//                                                 file ending in .sgf (one collection file)
//
// Progress goes to `out` one line per file or problem, then the summary; the collection is
// saved when the import stored anything.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace goramina {

struct TSgfCommand {
  enum class TKind { Import, Export } kind = TKind::Import;
  std::vector<std::filesystem::path> paths;  // import: the files and folders; export: the target
  std::optional<int> problem;                // export: only this problem
};

// Reads the SGF options from the arguments after the program name. Answers nullopt when the
// arguments name no SGF command; sets `error` when they do but are wrong.
std::optional<TSgfCommand> ParseSgfCommand(const std::vector<std::string>& arguments,
                                           std::string& error);

// Runs the command on the collection folder: loads it, imports or exports through a data module,
// writes the collection back after an import that stored something. Answers the exit code: 0
// when everything was done, 1 when something was refused or failed.
int RunSgfCommand(const TSgfCommand& command, const std::filesystem::path& collection,
                  std::ostream& out, std::ostream& err);

// The usage lines of the SGF options.
inline constexpr const char* kSgfUsage =
    "       goramina --import-sgf FILE_OR_FOLDER...\n"
    "       goramina --export-sgf FOLDER_OR_FILE.sgf [--problem N]\n";

}  // namespace goramina
