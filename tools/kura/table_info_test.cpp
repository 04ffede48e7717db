#include "tools/kura/table_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "tools/kura/kura_test_tables.h"

namespace kura::tool {
namespace {

using testing::TEngineSandbox;
using testing::TSampleTable;
using testing::TScratchFolder;

// A strict JSON reader for the checks: raises on anything that is not one valid document.
struct TJson {
  enum class TKind { Null, Flag, Number, Text, Array, Object } Kind = TKind::Null;
  bool Flag = false;
  double Number = 0;
  std::string Text;
  std::vector<TJson> Items;
  std::map<std::string, TJson> Members;

  const TJson& operator[](const std::string& key) const {
    const auto found = Members.find(key);
    if (Kind != TKind::Object || found == Members.end()) throw std::runtime_error("no " + key);
    return found->second;
  }
};

class TJsonReader {
 public:
  explicit TJsonReader(std::string text) : FText(std::move(text)) {}

  TJson Document() {
    TJson value = Value();
    Blanks();
    if (FAt != FText.size()) Fail("text after the document");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error(what + " at " + std::to_string(FAt));
  }
  void Blanks() {
    while (FAt < FText.size() && std::string_view(" \t\r\n").find(FText[FAt]) != std::string::npos)
      ++FAt;
  }
  bool Take(char c) {
    Blanks();
    if (FAt < FText.size() && FText[FAt] == c) return ++FAt, true;
    return false;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected ") + c);
  }
  bool Word(std::string_view word) {
    if (FText.compare(FAt, word.size(), word) != 0) return false;
    FAt += word.size();
    return true;
  }

  TJson Value() {
    Blanks();
    TJson value;
    if (FAt >= FText.size()) Fail("end of text");
    const char c = FText[FAt];
    if (c == '{') {
      value.Kind = TJson::TKind::Object;
      ++FAt;
      if (Take('}')) return value;
      do {
        Blanks();
        std::string key = String();
        Expect(':');
        if (!value.Members.emplace(key, Value()).second) Fail("key twice: " + key);
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      value.Kind = TJson::TKind::Array;
      ++FAt;
      if (Take(']')) return value;
      do value.Items.push_back(Value());
      while (Take(','));
      Expect(']');
    } else if (c == '"') {
      value.Kind = TJson::TKind::Text;
      value.Text = String();
    } else if (Word("true") || Word("false")) {
      value.Kind = TJson::TKind::Flag;
      value.Flag = FText[FAt - 1] == 'e' && FText[FAt - 2] == 'u';
    } else if (Word("null")) {
      value.Kind = TJson::TKind::Null;
    } else {
      value.Kind = TJson::TKind::Number;
      const char* start = FText.c_str() + FAt;
      char* end = nullptr;
      value.Number = std::strtod(start, &end);
      if (end == start || (*start != '-' && !std::isdigit(static_cast<unsigned char>(*start))))
        Fail("no value");
      FAt += static_cast<std::size_t>(end - start);
    }
    return value;
  }

  std::string String() {
    if (FAt >= FText.size() || FText[FAt] != '"') Fail("expected a string");
    std::string text;
    for (++FAt; FAt < FText.size() && FText[FAt] != '"'; ++FAt) {
      const auto c = static_cast<unsigned char>(FText[FAt]);
      if (c < 0x20) Fail("control character in a string");
      if (c != '\\') {
        text += FText[FAt];
        continue;
      }
      const char escaped = FText.at(++FAt);
      if (escaped == 'u') {
        text += "\\u" + FText.substr(FAt + 1, 4);  // kept as written; only the form matters
        for (int i = 1; i <= 4; ++i)
          if (!std::isxdigit(static_cast<unsigned char>(FText.at(FAt + i)))) Fail("bad \\u");
        FAt += 4;
      } else if (std::string_view("\"\\/bfnrt").find(escaped) != std::string::npos) {
        text += escaped;
      } else {
        Fail("bad escape");
      }
    }
    if (FAt >= FText.size()) Fail("unterminated string");
    ++FAt;
    return text;
  }

  std::string FText;
  std::size_t FAt = 0;
};

// The word after a label of the text form.
std::string ValueAfter(const std::string& text, const std::string& label) {
  std::istringstream rest(text.substr(std::min(text.find(label), text.size())));
  std::string skipped, value;
  rest >> skipped >> skipped >> value;  // the label is two words
  return value;
}

class TableInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    TEngineSandbox sandbox(FFolder.Path());
    TSampleTable sample;
    sample.Rows.SecondaryByNameNonUnique = true;
    sample.RowCount = 12;
    sample.DeletedIds = {4};
    testing::MakeSampleTable(sandbox, "T", sample);
  }
  TTableInfo Read() {
    TFileList list;
    return ReadTableInfo({FFolder.File("T"), false}, list);
  }
  TScratchFolder FFolder;
};

TEST_F(TableInfo, TextShowsHeadersFieldsIndexesAndCounts) {
  std::ostringstream out;
  WriteInfoText(out, {Read()});
  const std::string text = out.str();
  for (const char* expected :
       {"Table T\n", "Data file\n", "record slots:", "record size:", "Fields\n", "CHAR(20)",
        "INTEGER", "BLOB", "Index file\n", "live records:", "Indexes\n", "(primary)", "ById",
        "ByName", "Sys Deleted", "Sys Text", "BLOB file\n", "block size:"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  EXPECT_EQ(ValueAfter(text, "record slots:"), "12") << text;
  EXPECT_EQ(ValueAfter(text, "live records:"), "11") << text;
  EXPECT_EQ(text.find("problem"), std::string::npos) << text;
}

TEST_F(TableInfo, JsonParsesBackWithItsKeysAndCounts) {
  std::ostringstream out;
  WriteInfoJson(out, {Read(), Read()});
  const TJson document = TJsonReader(out.str()).Document();
  const TJson& tables = document["tables"];
  ASSERT_EQ(tables.Items.size(), 2u);
  const TJson& table = tables.Items[0];
  EXPECT_EQ(table["table"].Text, "T");
  EXPECT_EQ(table["data"]["recordSlots"].Number, 12);
  EXPECT_EQ(table["data"]["version"].Number, 5);
  EXPECT_EQ(table["data"]["encrypted"].Kind, TJson::TKind::Flag);
  ASSERT_EQ(table["fields"].Items.size(), 3u);
  EXPECT_EQ(table["fields"].Items[1]["name"].Text, "NAME");
  EXPECT_EQ(table["fields"].Items[1]["type"].Text, "CHAR(20)");
  EXPECT_EQ(table["index"]["liveRecords"].Number, 11);
  EXPECT_TRUE(table["index"]["hasPrimaryIndex"].Flag);
  // primary, ById, ByName, Sys Deleted, Sys Text
  ASSERT_EQ(table["indexes"].Items.size(), 5u);
  EXPECT_EQ(table["indexes"].Items[1]["name"].Text, "ById");
  EXPECT_EQ(table["indexes"].Items[1]["keys"].Number, 11);
  EXPECT_EQ(table["indexes"].Items[3]["keys"].Number, 12);  // "Sys Deleted": every slot
  EXPECT_EQ(table["blob"]["blockSize"].Number, 512);
  EXPECT_TRUE(table["problems"].Items.empty());
}

TEST_F(TableInfo, UnreadableFilesAreProblemsAndNullsInJson) {
  std::filesystem::remove(FFolder.File("T.IDX"));
  testing::WriteWholeFile(FFolder.File("T.BLB"), "not a BLOB file");
  std::ostringstream out;
  WriteInfoJson(out, {Read()});
  const TJson table = TJsonReader(out.str()).Document()["tables"].Items.at(0);
  EXPECT_EQ(table["index"].Kind, TJson::TKind::Null);
  EXPECT_EQ(table["blob"].Kind, TJson::TKind::Null);
  EXPECT_EQ(table["problems"].Items.size(), 2u);
  EXPECT_EQ(table["data"]["fieldCount"].Number, 3);
}

// An encrypted table's field names, description and indexes are shown only with its
// password; without it the plain numbers of the data header are all there is.
TEST(TableInfoEncrypted, ContentsOnlyWithThePassword) {
  TScratchFolder folder;
  {
    TEngineSandbox sandbox(folder.Path());
    TSampleTable sample;
    sample.Encrypted = true;
    sample.RowCount = 5;
    testing::MakeSampleTable(sandbox, "T", sample);
  }
  int asked = 0;
  const auto ask = [&asked](std::string answer) {
    return [&asked, answer](const std::string& table) -> std::optional<std::string> {
      ++asked;
      EXPECT_EQ(table, "T");
      return answer;
    };
  };
  struct TCase {
    const char* What;
    TInfoAccess Access;
    bool Shown;
    int Asked;
  } cases[] = {
      {"no password", {}, false, 0},
      {"a wrong password", {std::string("Secret"), {}}, false, 0},
      {"an empty password", {std::string(""), {}}, false, 0},
      {"the password", {std::string("secret"), {}}, true, 0},
      {"asked, and answered", {std::nullopt, ask("secret")}, true, 1},
      {"asked, and answered wrongly", {std::nullopt, ask("guess")}, false, 1},
      {"given, so not asked", {std::string("secret"), ask("guess")}, true, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    asked = 0;
    TFileList list;
    const TTableInfo info = ReadTableInfo({folder.File("T"), false}, list, c.Access);
    EXPECT_EQ(asked, c.Asked);
    std::ostringstream text, json;
    WriteInfoText(text, {info});
    WriteInfoJson(json, {info});
    for (const char* secret : {"NAME", "NOTE", "ById", "rows for the eyes of few"}) {
      EXPECT_EQ(text.str().find(secret) != std::string::npos, c.Shown) << secret << "\n"
                                                                       << text.str();
      EXPECT_EQ(json.str().find(secret) != std::string::npos, c.Shown) << secret << "\n"
                                                                       << json.str();
    }
    const TJson table = TJsonReader(json.str()).Document()["tables"].Items.at(0);
    EXPECT_TRUE(table["data"]["encrypted"].Flag);
    EXPECT_EQ(table["data"]["recordSlots"].Number, 5);  // the plain part of the header
    EXPECT_EQ(table["data"]["contents"].Text.rfind(c.Shown ? "shown" : "hidden: ", 0), 0u)
        << table["data"]["contents"].Text;
    EXPECT_EQ(table["fields"].Items.size(), c.Shown ? 3u : 0u);
    EXPECT_EQ(table["index"].Kind == TJson::TKind::Null, !c.Shown);
    EXPECT_TRUE(table["problems"].Items.empty());
  }
}

TEST(JsonString, EscapesWhatJsonNeedsAndKeepsItValid) {
  struct TCase {
    std::string Text;
    std::string Json;
  };
  const TCase cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {std::string("tab\tnew\nnul", 11) + std::string(1, '\0'),
       "\"tab\\u0009new\\u000anul\\u0000\""},
      {"\xE7\x9B\xA4", "\"\xE7\x9B\xA4\""},           // UTF-8 kept
      {"\x83\x53", "\"\\ufffdS\""},                   // not UTF-8: replaced, never passed on
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // an encoded surrogate is not UTF-8
      {"\xC0\xAF", "\"\\ufffd\\ufffd\""},             // nor an overlong form
  };
  for (const TCase& c : cases) EXPECT_EQ(JsonString(c.Text), c.Json) << c.Text;
}

}  // namespace
}  // namespace kura::tool
