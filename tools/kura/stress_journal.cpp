#include "tools/kura/stress_journal.h"

#include <sstream>

namespace kura::tool {
namespace {

std::string Fields(const TStressRow& row) {
  std::ostringstream line;
  line << row.Id << ' ' << row.Code << ' ' << row.Group << ' ' << row.Version << ' ' << row.BlobTag
       << ' ' << row.BlobLength;
  return line.str();
}

bool ReadFields(std::istream& in, TStressRow& row) {
  return static_cast<bool>(in >> row.Id >> row.Code >> row.Group >> row.Version >> row.BlobTag >>
                           row.BlobLength);
}

// Nothing may follow the fields of a line.
bool AtLineEnd(std::istream& in) {
  std::string rest;
  return !(in >> rest);
}

std::string Describe(const TStressRow& row) {
  std::ostringstream text;
  text << "CODE " << row.Code << ", GRP " << row.Group << ", VER " << row.Version << ", BLOB "
       << row.BlobTag << "/" << row.BlobLength;
  return text.str();
}

}  // namespace

namespace {

// A letter before a number, built without operator+ (which GCC 12 warns about wrongly).
std::string Prefixed(char letter, long long number) {
  std::string text = std::to_string(number);
  text.insert(text.begin(), letter);
  return text;
}

}  // namespace

std::string StressCode(std::int32_t id) {
  return Prefixed('C', id);
}
std::string StressGroup(int n) {
  return Prefixed('G', n);
}

std::vector<std::uint8_t> StressBlobBytes(std::int32_t tag, std::uint32_t length) {
  std::vector<std::uint8_t> bytes(length);
  // A linear congruential sequence seeded by the tag, folded into letters.
  std::uint64_t state =
      static_cast<std::uint64_t>(static_cast<std::uint32_t>(tag)) * 2654435761u + 1;
  for (std::uint8_t& byte : bytes) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    byte = static_cast<std::uint8_t>('a' + (state >> 33) % 26);
  }
  return bytes;
}

std::string InsertLine(const TStressRow& row) {
  return "I " + Fields(row);
}

std::string EditLine(std::int32_t oldId, const TStressRow& row) {
  return "E " + std::to_string(oldId) + ' ' + Fields(row);
}

std::string DeleteLine(std::int32_t id) {
  return "D " + std::to_string(id);
}

std::vector<std::string> ReplayJournal(std::istream& journal, const std::string& name,
                                       TStressRows& rows) {
  std::vector<std::string> findings;
  std::string text;
  for (int lineNo = 1; std::getline(journal, text); ++lineNo) {
    const std::string where = name + " line " + std::to_string(lineNo) + ": ";
    std::istringstream line(text);
    std::string kind;
    line >> kind;
    TStressRow row;
    std::int32_t oldId = 0;
    bool readable = false;
    if (kind == "I") {
      readable = ReadFields(line, row) && AtLineEnd(line);
    } else if (kind == "E") {
      readable = static_cast<bool>(line >> oldId) && ReadFields(line, row) && AtLineEnd(line);
    } else if (kind == "D") {
      readable = static_cast<bool>(line >> row.Id) && AtLineEnd(line);
    }
    if (!readable) {
      findings.push_back(where + "unreadable \"" + text + "\"");
      continue;
    }
    if (kind == "E" || kind == "D") {
      const std::int32_t gone = kind == "E" ? oldId : row.Id;
      if (rows.erase(gone) == 0) {
        findings.push_back(where + "changes row " + std::to_string(gone) +
                           ", which does not exist");
        continue;
      }
    }
    if (kind == "D") continue;
    if (!rows.emplace(row.Id, row).second)
      findings.push_back(where + "adds row " + std::to_string(row.Id) + ", which exists");
  }
  return findings;
}

std::vector<std::string> CompareStressRows(const TStressRows& expected,
                                           const TStoredStressRows& actual) {
  std::vector<std::string> findings;
  for (const auto& [id, row] : expected) {
    const auto found = actual.find(id);
    const std::string what = "row " + std::to_string(id) + ": ";
    if (found == actual.end()) {
      findings.push_back(what + "acknowledged but missing (" + Describe(row) + ")");
      continue;
    }
    const TStoredStressRow& stored = found->second;
    if (!(stored.Row == row)) {
      findings.push_back(what + "holds " + Describe(stored.Row) + ", acknowledged " +
                         Describe(row));
    } else if (stored.Blob != StressBlobBytes(row.BlobTag, row.BlobLength)) {
      // The rows agree on the length, so a damaged journal cannot make this allocate more
      // than was read from the table.
      findings.push_back(what + "BLOB contents differ from those acknowledged (" +
                         std::to_string(stored.Blob.size()) + " bytes stored)");
    }
  }
  for (const auto& [id, stored] : actual) {
    if (!expected.contains(id))
      findings.push_back("row " + std::to_string(id) + ": present but never acknowledged (" +
                         Describe(stored.Row) + ")");
  }
  return findings;
}

}  // namespace kura::tool
