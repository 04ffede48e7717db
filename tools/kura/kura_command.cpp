#include "tools/kura/kura_command.h"

#include <charconv>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>

#include <termios.h>
#include <unistd.h>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "tools/kura/table_info.h"
#include "tools/kura/table_reader.h"
#include "tools/kura/table_stress.h"
#include "tools/kura/table_verify.h"

namespace kura::tool {
namespace {

constexpr const char* kMainHelp = R"(NAME
    kura - look into and check the tables of the Kura table engine

SYNOPSIS
    kura info [--json] [--password PASSWORD] PATH...
    kura verify PATH...
    kura reindex PATH...
    kura stress DIR [--procs N] [--ops N] [--seconds N] [--seed N]
    kura SUBCOMMAND --help
    kura --help

DESCRIPTION
    A table is three files: FOO.DAT (header, fields, records), FOO.IDX (every index) and,
    with BLOB fields, FOO.BLB. PATH names a table by any of its files or without extension
    ("db/FOO", "db/FOO.DAT"), or a directory, which names every table in it.

SUBCOMMANDS
    info      the headers, fields, indexes and record, page and block counts of tables
    verify    every structure check of the three files and their agreement
    reindex   every index of a table built again from its records
    stress    several processes changing one table at once, checked afterwards

EXIT STATUS
    0 all well, 1 something wrong was found, 2 a usage error (unknown option, no PATH,
    a PATH that names no table).
)";

constexpr const char* kInfoHelp = R"(NAME
    kura info - what a table is made of

SYNOPSIS
    kura info [--json] [--password PASSWORD] PATH...

DESCRIPTION
    Prints, for each table PATH names, the data file header (version, change count, last
    update, record size, record slots, first free slot, auto-increment and BLOB counters,
    description, locale, encryption), every field (number, name, type, offset, stored bytes,
    required, character case, limits and default), the index file header (pages, live
    records) with every index (slot, name, key fields, key length, flags, compression, root
    page, keys) and the BLOB file header (block size, blocks, first free block).
    Nothing is checked beyond what reading needs; use kura verify for that. Texts of the
    tables are shown converted from code page 932 to UTF-8; passwords are never shown.
    An encrypted table shows its fields, description, indexes and BLOB file only with its
    password: given with --password, or asked for when standard input is a terminal.
    Without it only the plain part of the data header is shown, and "contents" says why.

OPTIONS
    --json    one JSON document {"tables": [...]} for scripts; its keys are stable, numbers
              are numbers, flags true or false, a value that could not be read is null, and
              "problems" lists the files that could not be read.
    --password PASSWORD
              the password of the encrypted tables among the PATHs.
    --help    this page.

EXIT STATUS
    0 every table read, 1 a file could not be read (listed as a problem), 2 a usage error.
)";

constexpr const char* kVerifyHelp = R"(NAME
    kura verify - check that tables are sound

SYNOPSIS
    kura verify PATH...

DESCRIPTION
    Runs every structure check on each table PATH names, holding a read lock so that no
    other process writes meanwhile, and changes nothing:
      data file    the header and field definitions (BlobFieldCount agreeing with the
                   BLOB fields); every record readable, live records
                   carrying their own number and sound field slots; RowIds unique; the
                   chain of deleted records through deleted records only, without loops,
                   and (with a primary index) holding every deleted record; no RowId above
                   the header's LastAutoInc (new rows would get it again).
      index file   the header and index definitions; LiveRecordCount equal to the live
                   records; the whole tree of every index (page types, levels, sibling
                   links, key order, key counts, free pages); every index holding exactly
                   one key per live record, the one the record gives ("Sys Deleted": one per
                   record slot, with its deleted flag and RowId), and no other key; the
                   words of "Sys Text" only of live records; no page in two indexes and
                   none lost (in no index and on no free chain).
      BLOB file    the header; every BLOB of a live record a sound chain (change numbers,
                   back links, lengths); the free chain; every block in exactly one chain.
    A sound table prints one line "<data file>: sound". Each finding is one line
    "<file>: <what is wrong>"; at most 200 are listed per table.

OPTIONS
    --help    this page.

EXIT STATUS
    0 every table is sound, 1 at least one finding, 2 a usage error.
)";

constexpr const char* kReindexHelp = R"(NAME
    kura reindex - build every index of a table again from its records

SYNOPSIS
    kura reindex PATH...

DESCRIPTION
    The repair of a damaged index file whose header still reads: each table PATH names is
    opened exclusively (no other process may have it open), and its primary and secondary
    indexes, "Sys Deleted", the text index and its parameters (the defaults when their
    pages cannot be read) are built afresh from the records of the data file, under the
    definitions the index file names. The index file is first copied to FOO.IBK; when the
    rebuild fails (two records with the same key in a unique index, a full disk) it is put
    back from that copy, and the copy goes once it is back. Then every check of
    kura verify runs on the table.
    A table done prints one line "<data file>: reindexed"; a table that could not be
    reindexed, or whose check finds something, prints one line per problem.

OPTIONS
    --help    this page.

EXIT STATUS
    0 every table reindexed and sound, 1 a table could not be reindexed or has findings,
    2 a usage error.
)";

constexpr const char* kStressHelp = R"(NAME
    kura stress - change one table from several processes at once and check the result

SYNOPSIS
    kura stress DIR [--procs N] [--ops N] [--seconds N] [--seed N]

DESCRIPTION
    Creates the table STRESS in the directory DIR (or reuses the one there, keeping its
    rows): ID integer (primary index), CODE string 12 (unique index "ByCode"), GRP string 8
    (index "ByGroup"), VER and BLOBTAG integers, NOTE memo. Then starts N worker processes,
    each with its own session on the table, doing a random mix of inserts, edits of
    non-key and of key fields, deletes, memo writes and reads under the pessimistic locking
    protocol with the engine's real lock waits (odd workers with strict change detection,
    even ones with lazy). Each worker owns the rows it inserts and reads back its own rows,
    which must be exactly as it wrote them (and at its end a range over its IDs must count
    and hold exactly its rows); it also reads rows of the others, and now and then locks
    the row it read the time before (with the image it saw then) and holds the lock
    through its next operation. A change refused with 10258 (record locked), 8708 (record
    changed), 9729 (duplicate key; workers now and then try one on purpose) or 10249 (lock
    not obtained) is counted, not a failure.
    Every worker appends each change the engine acknowledged to its journal,
    DIR/stress-P.journal (P = 0 .. N-1, emptied at the start). At the end the journals are
    replayed onto the rows the table held before, and the table must hold exactly those
    rows, field by field and memo byte by memo byte; then every check of kura verify runs
    on the table.
    While the workers run, a progress line goes to standard error once a second. At the
    end a table shows per worker the inserts, edits, key edits, deletes, memo writes,
    reads, attempts to lock a row read before, and refusals by code, with totals and
    operations per second, followed by the result of the check and one line per finding.

OPTIONS
    --procs N     worker processes, 1 .. 64 (default 4).
    --ops N       operations per worker, 0 .. 1000000 (default 10000).
    --seconds N   stop each worker after N seconds even before its operations are done
                  (default 0: no limit).
    --seed N      the seed the workers' random choices derive from (worker P uses its own
                  sequence drawn from N and P), 0 .. 4294967295 (default 1); a run is
                  repeated with the same seed, though the interleaving of the workers
                  differs from run to run.
    --help        this page.

EXIT STATUS
    0 every acknowledged change present, nothing else, and the table sound; 1 a worker
    failed or a check found something (each finding listed); 2 a usage error.
)";

struct TParsed {
  bool Help = false;
  bool Json = false;
  std::optional<std::string> Password;
  std::vector<std::string> Paths;
  std::string Error;
};

// allowInfoOptions: --json and --password, which only kura info takes.
TParsed Parse(const std::vector<std::string>& arguments, bool allowInfoOptions) {
  TParsed parsed;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.empty() || argument[0] != '-') {
      parsed.Paths.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      parsed.Help = true;
    } else if (allowInfoOptions && argument == "--json") {
      parsed.Json = true;
    } else if (allowInfoOptions && argument == "--password") {
      if (i + 1 >= arguments.size()) {
        parsed.Error = "--password needs a value";
        break;
      }
      parsed.Password = arguments[++i];
    } else {
      parsed.Error = "unknown option " + argument;
    }
  }
  if (parsed.Error.empty() && !parsed.Help && parsed.Paths.empty()) parsed.Error = "no PATH given";
  return parsed;
}

// The tables of every path, or the first path that names none.
bool ResolveAll(const std::vector<std::string>& paths, TFileList& list,
                std::vector<TTablePath>& tables, std::string& error) {
  for (const std::string& path : paths) {
    TPathResolution resolution = ResolveTablePath(path, list);
    if (!resolution.Error.empty()) {
      error = resolution.Error;
      return false;
    }
    tables.insert(tables.end(), resolution.Tables.begin(), resolution.Tables.end());
  }
  return true;
}

int Usage(std::ostream& err, const std::string& subcommand, const std::string& error) {
  err << "kura " << subcommand << ": " << error << "\n";
  err << "Try 'kura " << subcommand << " --help'.\n";
  return kExitUsage;
}

// A subcommand's arguments and the tables they name. Done holds the exit status when the
// subcommand has finished already: its help page was asked for, or the arguments are wrong.
struct TInvocation {
  TParsed Parsed;
  std::vector<TTablePath> Tables;
  std::optional<int> Done;
};

TInvocation Prepare(const std::vector<std::string>& arguments, const std::string& subcommand,
                    const char* help, bool allowJson, std::ostream& out, std::ostream& err,
                    TFileList& list) {
  TInvocation call;
  call.Parsed = Parse(arguments, allowJson);
  std::string error = call.Parsed.Error;
  if (call.Parsed.Help) {
    out << help;
    call.Done = kExitSound;
  } else if (!error.empty() || !ResolveAll(call.Parsed.Paths, list, call.Tables, error)) {
    call.Done = Usage(err, subcommand, error);
  }
  return call;
}

// Asks for the password of an encrypted table on the terminal, without echoing it; nothing
// when no line could be read.
std::optional<std::string> AskPassword(std::ostream& err, const std::string& table) {
  err << "Password for table " << table << ": " << std::flush;
  termios saved{};
  const bool quiet = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (quiet) {
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
  }
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (quiet) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  err << '\n';
  if (!read) return std::nullopt;
  return line;
}

int RunInfo(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
            TFileList& list) {
  const TInvocation call = Prepare(arguments, "info", kInfoHelp, true, out, err, list);
  if (call.Done) return *call.Done;
  std::vector<TTableInfo> tables;
  bool problems = false;
  TInfoAccess access;
  access.Password = call.Parsed.Password;
  if (!access.Password && isatty(STDIN_FILENO) == 1) {
    access.Ask = [&err](const std::string& table) { return AskPassword(err, table); };
  }
  for (const TTablePath& path : call.Tables) {
    tables.push_back(ReadTableInfo(path, list, access));
    problems = problems || !tables.back().Problems.empty();
  }
  if (call.Parsed.Json) {
    WriteInfoJson(out, tables);
  } else {
    WriteInfoText(out, tables);
  }
  return problems ? kExitFindings : kExitSound;
}

int RunVerify(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
              TFileList& list) {
  const TInvocation call = Prepare(arguments, "verify", kVerifyHelp, false, out, err, list);
  if (call.Done) return *call.Done;
  int status = kExitSound;
  for (const TTablePath& path : call.Tables) {
    const std::vector<std::string> findings = VerifyTable(path, list);
    if (findings.empty()) out << path.DataName() << ": sound\n";
    for (const std::string& finding : findings) out << finding << '\n';
    if (!findings.empty()) status = kExitFindings;
  }
  return status;
}

// The directory part of a table's base name ("" for the working folder).
std::string DirectoryOf(const TTablePath& path) {
  const std::size_t slash = path.Base.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.Base.substr(0, slash + 1);
}

int RunReindex(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
               TFileList& list) {
  const TInvocation call = Prepare(arguments, "reindex", kReindexHelp, false, out, err, list);
  if (call.Done) return *call.Done;
  int status = kExitSound;
  for (const TTablePath& path : call.Tables) {
    try {
      TDataSession session(false, list);
      TDataCursor cursor(session.OpenDirectory("Reindex", DirectoryOf(path)));
      cursor.SetTableName(path.TableName());
      cursor.SetExclusive(true);
      cursor.RebuildIndexes();
    } catch (const EKuraEngineError& error) {
      out << path.DataName() << ": not reindexed: " << error.what() << '\n';
      status = kExitFindings;
      continue;
    }
    const std::vector<std::string> findings = VerifyTable(path, list);
    if (findings.empty()) out << path.DataName() << ": reindexed\n";
    for (const std::string& finding : findings) out << finding << '\n';
    if (!findings.empty()) status = kExitFindings;
  }
  return status;
}

// A whole number within limits, or nothing.
std::optional<std::int64_t> NumberIn(const std::string& text, std::int64_t low, std::int64_t high) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value < low || value > high) return std::nullopt;
  return value;
}

// The options of kura stress into options; answers the usage error, or an empty string.
std::string ParseStress(const std::vector<std::string>& arguments, TStressOptions& options,
                        bool& help) {
  std::vector<std::string> dirs;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      help = true;
      continue;
    }
    if (argument.empty() || argument[0] != '-') {
      dirs.push_back(argument);
      continue;
    }
    struct TNumberOption {
      const char* Name;
      std::int64_t Low, High;
    };
    static constexpr TNumberOption kOptions[] = {{"--procs", 1, kStressMaxProcs},
                                                 {"--ops", 0, kStressMaxOps},
                                                 {"--seconds", 0, 86400},
                                                 {"--seed", 0, 4294967295LL}};
    const TNumberOption* option = nullptr;
    for (const TNumberOption& known : kOptions)
      if (argument == known.Name) option = &known;
    if (option == nullptr) return "unknown option " + argument;
    if (i + 1 >= arguments.size()) return argument + " needs a value";
    const std::optional<std::int64_t> value = NumberIn(arguments[++i], option->Low, option->High);
    if (!value)
      return argument + " takes a whole number from " + std::to_string(option->Low) + " to " +
             std::to_string(option->High) + ", not \"" + arguments[i] + "\"";
    if (argument == "--procs") options.Procs = static_cast<int>(*value);
    if (argument == "--ops") options.Ops = *value;
    if (argument == "--seconds") options.Seconds = static_cast<double>(*value);
    if (argument == "--seed") options.Seed = static_cast<std::uint32_t>(*value);
  }
  if (help) return "";
  if (dirs.size() != 1) return dirs.empty() ? "no DIR given" : "more than one DIR given";
  options.Dir = dirs[0];
  std::error_code error;
  if (!std::filesystem::is_directory(options.Dir, error)) return options.Dir + ": not a directory";
  return "";
}

int RunStressCommand(const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err, TFileList& list) {
  TStressOptions options;
  bool help = false;
  const std::string error = ParseStress(arguments, options, help);
  if (help) {
    out << kStressHelp;
    return kExitSound;
  }
  if (!error.empty()) return Usage(err, "stress", error);
  return RunStress(options, out, err, list);
}

}  // namespace

int RunKura(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
            TFileList& list) {
  const std::string subcommand = arguments.empty() ? "" : arguments[0];
  try {
    if (subcommand == "--help" || subcommand == "-h" || subcommand == "help") {
      out << kMainHelp;
      return kExitSound;
    }
    if (subcommand == "info") return RunInfo(arguments, out, err, list);
    if (subcommand == "verify") return RunVerify(arguments, out, err, list);
    if (subcommand == "reindex") return RunReindex(arguments, out, err, list);
    if (subcommand == "stress") return RunStressCommand(arguments, out, err, list);
  } catch (const std::exception& error) {
    // The checks turn what they meet into findings; this is the last guard of the command.
    err << "kura " << subcommand << ": " << error.what() << "\n";
    return kExitFindings;
  }
  err << (subcommand.empty() ? "kura: no subcommand given\n"
                             : "kura: unknown subcommand " + subcommand + "\n");
  err << "Try 'kura --help'.\n";
  return kExitUsage;
}

}  // namespace kura::tool
