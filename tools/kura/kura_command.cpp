#include "tools/kura/kura_command.h"

#include <exception>
#include <optional>

#include "tools/kura/table_info.h"
#include "tools/kura/table_reader.h"
#include "tools/kura/table_verify.h"

namespace kura::tool {
namespace {

constexpr const char* kMainHelp = R"(NAME
    kura - look into and check the tables of the Kura table engine

SYNOPSIS
    kura info [--json] PATH...
    kura verify PATH...
    kura SUBCOMMAND --help
    kura --help

DESCRIPTION
    A table is three files: FOO.DAT (header, fields, records), FOO.IDX (every index) and,
    with BLOB fields, FOO.BLB. PATH names a table by any of its files or without extension
    ("db/FOO", "db/FOO.DAT"), or a directory, which names every table in it.

SUBCOMMANDS
    info      the headers, fields, indexes and record, page and block counts of tables
    verify    every structure check of the three files and their agreement

EXIT STATUS
    0 all well, 1 something wrong was found, 2 a usage error (unknown option, no PATH,
    a PATH that names no table).
)";

constexpr const char* kInfoHelp = R"(NAME
    kura info - what a table is made of

SYNOPSIS
    kura info [--json] PATH...

DESCRIPTION
    Prints, for each table PATH names, the data file header (version, change count, last
    update, record size, record slots, first free slot, auto-increment and BLOB counters,
    description, locale, encryption), every field (number, name, type, offset, stored bytes,
    required, character case, limits and default), the index file header (pages, live
    records) with every index (slot, name, key fields, key length, flags, compression, root
    page, keys) and the BLOB file header (block size, blocks, first free block).
    Nothing is checked beyond what reading needs; use kura verify for that. Texts of the
    tables are shown converted from code page 932 to UTF-8; passwords are never shown.

OPTIONS
    --json    one JSON document {"tables": [...]} for scripts; its keys are stable, numbers
              are numbers, flags true or false, a value that could not be read is null, and
              "problems" lists the files that could not be read.
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
      data file    the header and field definitions; every record readable, live records
                   carrying their own number and sound field slots; RowIds unique; the
                   chain of deleted records through deleted records only, without loops,
                   and (with a primary index) holding every deleted record; no RowId above
                   the header's LastAutoInc (new rows would get it again).
      index file   the header and index definitions; LiveRecordCount equal to the live
                   records; the whole tree of every index (page types, levels, sibling
                   links, key order, key counts, free pages); every index holding exactly
                   one key per live record, the one the record gives ("Sys Deleted": one per
                   record slot, with its deleted flag and RowId), and no other key; the
                   words of "Sys Text" only of live records; no page in two indexes.
      BLOB file    the header; every BLOB of a live record a sound chain (change numbers,
                   back links, lengths); the free chain; every block in exactly one chain.
    A sound table prints one line "<data file>: sound". Each finding is one line
    "<file>: <what is wrong>"; at most 200 are listed per table.

OPTIONS
    --help    this page.

EXIT STATUS
    0 every table is sound, 1 at least one finding, 2 a usage error.
)";

struct TParsed {
  bool Help = false;
  bool Json = false;
  std::vector<std::string> Paths;
  std::string Error;
};

TParsed Parse(const std::vector<std::string>& arguments, bool allowJson) {
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
    } else if (allowJson && argument == "--json") {
      parsed.Json = true;
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

int RunInfo(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
            TFileList& list) {
  const TInvocation call = Prepare(arguments, "info", kInfoHelp, true, out, err, list);
  if (call.Done) return *call.Done;
  std::vector<TTableInfo> tables;
  bool problems = false;
  for (const TTablePath& path : call.Tables) {
    tables.push_back(ReadTableInfo(path, list));
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
