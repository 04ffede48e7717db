#include "dataset/collection_text.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "dataset/cp932.h"

namespace kura {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

[[noreturn]] void RaiseImportError(std::string_view table, const std::filesystem::path& file,
                                   std::size_t line, const std::string& what) {
  RaiseEngineError(codes::kImportError, {}, {}, {}, table, {}, {},
                   file.string() + " line " + std::to_string(line) + ": " + what);
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> cells;
  for (;;) {
    const std::size_t tab = line.find('\t');
    cells.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return cells;
    line.remove_prefix(tab + 1);
  }
}

std::string HeaderOf(const std::vector<TFieldDef>& fields) {
  std::string header;
  for (const TFieldDef& field : fields) {
    if (!header.empty()) header += '\t';
    header += field.Name;
  }
  return header;
}

struct CellContext {
  std::string_view table;
  const std::filesystem::path& file;
  std::size_t line;
};

TFieldValue ReadCell(const TFieldDef& field, std::string_view cell, const CellContext& at) {
  if (cell.empty()) return TFieldValue::Null();
  if (field.DataType == TFieldType::ftString) {
    std::optional<std::string> converted = TryUtf8ToCp932(cell);
    if (!converted)
      RaiseImportError(
          at.table, at.file, at.line,
          "field " + field.Name + " is not UTF-8 text or holds a character code page 932 lacks");
    return TFieldValue::OfString(std::move(*converted));
  }
  std::int32_t value = 0;  // the tables' integer fields are 32-bit
  auto [end, error] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
  if (error != std::errc() || end != cell.data() + cell.size())
    RaiseImportError(at.table, at.file, at.line,
                     "field " + field.Name + " is not a 32-bit integer: '" +
                         std::string(cell.substr(0, 24)) + "'");
  return TFieldValue::OfInteger(value);
}

std::string WriteCell(const TFieldDef& field, const TFieldValue& value) {
  if (value.IsNull) return {};
  if (field.DataType != TFieldType::ftString) return std::to_string(value.Integer);
  std::string text = Cp932ToUtf8(value.Text);
  // TAB and line breaks would split the row: they become blanks.
  for (char& c : text)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

void LoadTableText(TMemoryDatabase& database, std::string_view table,
                   const std::filesystem::path& file) {
  std::shared_ptr<TMemoryTable> target = database.FindTable(table);
  if (!target) RaiseTableError(codes::kTableNotFound, table);
  std::ifstream in(file, std::ios::binary);
  if (!in) RaiseTableError(codes::kTableNotFound, file.string());
  const std::string expected_header = HeaderOf(target->fields);
  bool header_seen = false;
  std::string line;
  std::vector<TRecord> rows;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    std::string_view text = line;
    if (number == 1 && text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
      text.remove_prefix(kByteOrderMark.size());
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (!text.empty() && text.front() == '#') continue;
    if (!header_seen) {
      if (text != expected_header)
        RaiseImportError(
            table, file, number,
            "the header must name the fields " + expected_header + " separated by TABs");
      header_seen = true;
      continue;
    }
    if (text.empty()) continue;  // a blank line ends nothing and holds no row
    std::vector<std::string_view> cells = SplitTabs(text);
    if (cells.size() != target->fields.size())
      RaiseImportError(table, file, number,
                       "expected " + std::to_string(target->fields.size()) + " fields, found " +
                           std::to_string(cells.size()));
    TRecord row;
    const CellContext at{table, file, number};
    for (std::size_t i = 0; i < cells.size(); ++i)
      row.push_back(ReadCell(target->fields[i], cells[i], at));
    rows.push_back(std::move(row));
  }
  if (in.bad()) RaiseTableError(codes::kTableNotFound, file.string());
  if (!header_seen) RaiseImportError(table, file, 1, "the file has no header line");
  // Rows go in only when the whole file is good: a bad line leaves the table as it was.
  for (TRecord& row : rows) database.AppendRow(table, std::move(row));
}

std::shared_ptr<TMemoryDatabase> LoadProblemCollection(const std::filesystem::path& folder) {
  std::shared_ptr<TMemoryDatabase> database = CreateProblemCollection();
  LoadTableText(*database, "mondai", folder / "mondai.tsv");
  LoadTableText(*database, "tejun", folder / "tejun.tsv");
  return database;
}

void SaveProblemCollection(const TMemoryDatabase& database, const std::filesystem::path& folder) {
  for (const char* table : {"mondai", "tejun"}) {
    std::shared_ptr<TMemoryTable> source = database.FindTable(table);
    if (!source) RaiseTableError(codes::kTableNotFound, table);
    const std::filesystem::path file = folder / (std::string(table) + ".tsv");
    std::filesystem::path temporary = file;
    temporary += ".tmp";
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out << "# Goramina collection, table " << table << '\n' << HeaderOf(source->fields) << '\n';
      for (const auto& row : source->rows) {
        for (std::size_t i = 0; i < source->fields.size(); ++i) {
          if (i > 0) out << '\t';
          out << WriteCell(source->fields[i], row->values[i]);
        }
        out << '\n';
      }
      out.flush();
      if (!out) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        RaiseTableError(codes::kWriteError, file.string());
      }
    }
    std::error_code error;
    std::filesystem::rename(temporary, file, error);
    if (error) RaiseTableError(codes::kWriteError, file.string());
  }
}

}  // namespace kura
