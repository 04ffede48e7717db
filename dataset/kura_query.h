// TKuraQuery: the query dataset the application drives. It keeps SQL text as lines and the
// parameters found in it, runs the text through a provider, and walks and changes the result
// with the machinery of TDataSet.
//
// States: closed (no statement), prepared (statement, no result) and open (statement and
// result). Any change of the SQL text closes and unprepares the query and, when ParamCheck is
// set, rebuilds Params from the text, keeping the values of parameters whose names survive:
// a parameter may be set right after the line that introduces it, before more lines follow.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/data_set.h"
#include "dataset/params.h"
#include "dataset/query_provider.h"
#include "dataset/session.h"
#include "dataset/sql_lines.h"

namespace kura {

class TKuraQuery : public TDataSet {
 public:
  TKuraQuery();
  // Closes and unprepares.
  ~TKuraQuery() override;

  // ---- text and parameters
  TSqlLines& SQL() { return sql_; }
  const TSqlLines& SQL() const { return sql_; }
  TParams& Params() { return params_; }
  // The text handed to the provider: parameters replaced by "?" (the plain text when
  // ParamCheck is off).
  const std::string& ProcessedText() const { return processed_text_; }
  bool ParamCheck() const { return param_check_; }
  void SetParamCheck(bool value) { param_check_ = value; }
  // While loading a stored form, text changes only re-read parameters (nothing is closed).
  void BeginLoading() { loading_ = true; }
  void EndLoading() { loading_ = false; }

  // ---- properties
  const std::string& DatabaseName() const { return database_name_; }
  // Refused with "Cannot perform this operation on an open database." while open; unprepares.
  void SetDatabaseName(std::string_view name);
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(std::string_view name) { session_name_ = name; }
  bool RequestLive() const { return request_live_; }
  void SetRequestLive(bool value);
  int MaxRowCount() const { return max_row_count_; }
  void SetMaxRowCount(int value);
  // Always "3.30"; assignments are ignored.
  std::string EngineVersion() const { return "3.30"; }
  void SetEngineVersion(std::string_view) {}
  bool AutoDisplayLabels() const { return auto_display_labels_; }
  void SetAutoDisplayLabels(bool value) { auto_display_labels_ = value; }
  bool CopyOnAppend() const { return copy_on_append_; }
  void SetCopyOnAppend(bool value) { copy_on_append_ = value; }
  // Master source: parameters never set take the value of its dataset's same-named field.
  TDataSource* DataSource() const { return master_; }
  void SetDataSource(TDataSource* source) { master_ = source; }

  // The provider that answers this query. When unset, the query finds its database through
  // its session when it prepares (session.h) and stays attached to it until it unprepares.
  void SetProvider(std::shared_ptr<TQueryProvider> provider);
  const std::shared_ptr<TQueryProvider>& Provider() const { return provider_; }

  // ---- statement
  // Prepares the processed text. Raises "No SQL statement available" for no text or a
  // processed text under 2 characters; a provider's error leaves the query unprepared.
  void Prepare();
  // Closes first: the result must not outlive its statement.
  void UnPrepare();
  bool Prepared() const { return statement_ != nullptr; }
  // The database component the query is attached to while prepared (nullptr with an explicit
  // provider or when unprepared).
  TKuraDatabase* Database() const { return database_; }

 protected:
  std::unique_ptr<TResultCursor> OpenResult() override;

 private:
  void TextChanged();
  std::shared_ptr<TQueryProvider> ResolveProvider();
  void DetachDatabase();
  std::vector<TMarkerValue> MarkerValues();
  void TakeMasterValues();

  TSqlLines sql_;
  TParams params_;
  std::string processed_text_;
  std::vector<std::string> marker_names_;
  bool param_check_ = true;
  bool loading_ = false;
  std::string database_name_;
  std::string session_name_;
  bool request_live_ = false;
  int max_row_count_ = -1;
  bool auto_display_labels_ = false;
  bool copy_on_append_ = false;
  TDataSource* master_ = nullptr;
  std::shared_ptr<TQueryProvider> provider_;
  std::shared_ptr<TQueryProvider> prepared_with_;
  std::unique_ptr<TPreparedQuery> statement_;
  TKuraDatabase* database_ = nullptr;
};

}  // namespace kura
