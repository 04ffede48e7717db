#include "dataset/kura_query.h"

#include "base/database_error.h"
#include "base/engine_codes.h"
#include "base/engine_error.h"

namespace kura {
namespace {

// A string parameter runs without its trailing blanks, and as null when nothing remains.
TFieldValue TrimmedStringValue(const TFieldValue& value) {
  if (value.IsNull) return value;
  std::string text = value.Text;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return TFieldValue::OfString(std::move(text));
}

}  // namespace

TKuraQuery::TKuraQuery() : sql_([this] { TextChanged(); }) {}

TKuraQuery::~TKuraQuery() {
  Close();
  UnPrepare();
}

void TKuraQuery::TextChanged() {
  if (!loading_) {
    Close();
    UnPrepare();
  }
  const std::string text = sql_.Text();
  if (param_check_ || loading_) {
    TParsedParams parsed = ParseSqlParams(text);
    TParams rebuilt;
    for (const std::string& name : parsed.Names) {
      TParam& param = rebuilt.Add(name);
      if (const TParam* old = params_.FindParam(name)) param.Assign(old->DataType(), old->Value());
    }
    params_ = std::move(rebuilt);
    processed_text_ = std::move(parsed.ProcessedText);
    marker_names_ = std::move(parsed.MarkerNames);
  } else {
    processed_text_ = text;
    marker_names_.clear();
  }
  if (!loading_) Notify(TDataEvent::kDataSetChanged);
}

void TKuraQuery::SetDatabaseName(std::string_view name) {
  if (Active()) throw EDatabaseError("Cannot perform this operation on an open database.");
  UnPrepare();
  database_name_ = name;
}

void TKuraQuery::SetRequestLive(bool value) {
  if (value == request_live_) return;
  Close();
  UnPrepare();  // the statement was prepared for the other kind of result
  request_live_ = value;
}

void TKuraQuery::SetMaxRowCount(int value) {
  if (value == max_row_count_) return;
  Close();
  UnPrepare();
  max_row_count_ = value;
}

void TKuraQuery::SetProvider(std::shared_ptr<TQueryProvider> provider) {
  Close();
  UnPrepare();
  provider_ = std::move(provider);
}

std::shared_ptr<TQueryProvider> TKuraQuery::ResolveProvider() const {
  if (provider_) return provider_;
  if (database_name_.empty()) throw EDatabaseError("Database name is missing.");
  std::shared_ptr<TQueryProvider> found = FindDatabase(database_name_);
  if (!found) throw EDatabaseError("Database name " + database_name_ + " is not valid.");
  return found;
}

void TKuraQuery::Prepare() {
  if (Prepared()) return;
  if (sql_.Count() == 0 || processed_text_.size() < 2)
    throw EDatabaseError("No SQL statement available");
  std::shared_ptr<TQueryProvider> provider = ResolveProvider();
  statement_ = provider->Prepare(processed_text_, {request_live_, max_row_count_});
  prepared_with_ = std::move(provider);  // the statement may refer to the provider's tables
}

void TKuraQuery::UnPrepare() {
  statement_.reset();
  prepared_with_.reset();
}

void TKuraQuery::TakeMasterValues() {
  if (!master_ || !master_->DataSet() || !master_->DataSet()->Active()) return;
  TDataSet& master = *master_->DataSet();
  for (int i = 0; i < params_.Count(); ++i) {
    TParam& param = params_[i];
    if (param.DataType() != TFieldType::ftUnknown) continue;
    if (TField* field = master.FindField(param.Name()))
      param.Assign(field->DataType(), field->Value());
  }
}

std::vector<TMarkerValue> TKuraQuery::MarkerValues() {
  for (const TParam& param : params_)
    if (param.DataType() == TFieldType::ftUnknown)
      throw EDatabaseError("No value for parameter '" + param.Name() + "'");
  std::vector<TMarkerValue> markers;
  for (const std::string& name : marker_names_) {
    const TParam& param = params_.ParamByName(name);
    TFieldValue value = param.DataType() == TFieldType::ftString ? TrimmedStringValue(param.Value())
                                                                 : param.Value();
    markers.push_back({param.Name(), param.DataType(), std::move(value)});
  }
  return markers;
}

std::unique_ptr<TResultSet> TKuraQuery::OpenResult() {
  if (sql_.Count() == 0) throw EDatabaseError("No SQL statement available");
  Prepare();
  TakeMasterValues();
  std::vector<TMarkerValue> markers = MarkerValues();
  try {
    return statement_->Execute(markers);
  } catch (const EKuraEngineError& error) {
    if (error.ErrorCode == codes::kSqlError) UnPrepare();
    throw;
  }
}

}  // namespace kura
