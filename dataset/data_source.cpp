#include "dataset/data_source.h"

#include <algorithm>

#include "dataset/data_set.h"

namespace kura {

TDataLink::~TDataLink() {
  if (data_source_) data_source_->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == data_source_) return;
  if (data_source_) data_source_->RemoveLink(this);
  data_source_ = source;
  if (data_source_) data_source_->AddLink(this);
  ActiveChanged();
}

TDataSet* TDataLink::DataSet() const {
  return data_source_ ? data_source_->DataSet() : nullptr;
}

bool TDataLink::Active() const {
  return data_source_ && data_source_->Enabled() && DataSet() && DataSet()->Active();
}

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
  // Copy: a link's notification may detach other links.
  std::vector<TDataLink*> links = links_;
  links_.clear();
  for (TDataLink* link : links) {
    link->data_source_ = nullptr;
    link->ActiveChanged();
  }
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == data_set_) return;
  if (data_set_) data_set_->RemoveDataSource(this);
  data_set_ = dataSet;
  if (data_set_) data_set_->AddDataSource(this);
  Notify(TDataEvent::kActiveChanged);
}

void TDataSource::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links)
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->ActiveChanged();
}

void TDataSource::Notify(TDataEvent event, const TField* field, int distance) {
  if (!enabled_) return;
  // A link may detach itself or others while it handles the event: walk a copy and skip
  // links that have gone.
  std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) {
    if (std::find(links_.begin(), links_.end(), link) == links_.end()) continue;
    switch (event) {
      case TDataEvent::kActiveChanged:
        link->ActiveChanged();
        break;
      case TDataEvent::kDataSetChanged:
        link->DataSetChanged();
        break;
      case TDataEvent::kDataSetScrolled:
        link->DataSetScrolled(distance);
        break;
      case TDataEvent::kRecordChanged:
        link->RecordChanged(field);
        break;
      case TDataEvent::kStateChanged:
        link->StateChanged();
        break;
      case TDataEvent::kUpdateData:
        link->UpdateData();
        break;
    }
  }
}

void TDataSource::AddLink(TDataLink* link) {
  links_.push_back(link);
}

void TDataSource::RemoveLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

}  // namespace kura
