// Data sources and data links: how bound controls (grids, edits) follow a dataset.
//
// A control owns a TDataLink subclass and attaches it to a TDataSource; the source forwards
// every change of its dataset to its links. Detaching a link (SetDataSource(nullptr)) and
// attaching it again is how a grid skips drawing during a long series of cursor moves: on
// attach the link hears ActiveChanged and redraws from the dataset as it then stands.
#pragma once

#include <vector>

namespace kura {

class TDataSet;
class TDataSource;
class TField;

enum class TDataEvent {
  kActiveChanged,    // opened or closed
  kDataSetChanged,   // contents changed: rows added or deleted, reopened, edit cancelled
  kDataSetScrolled,  // the current row moved
  kRecordChanged,    // a field of the current row was written
  kStateChanged,     // browse / edit / insert
  kUpdateData,       // about to post: controls write their pending text into the fields
};

class TDataLink {
 public:
  TDataLink() = default;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  virtual ~TDataLink();

  TDataSource* DataSource() const { return data_source_; }
  // Attaches to a source (nullptr detaches). The link then hears ActiveChanged once, so it
  // can draw the dataset as it stands.
  void SetDataSource(TDataSource* source);
  // The source's dataset, or nullptr.
  TDataSet* DataSet() const;
  // True when attached to an enabled source whose dataset is open.
  bool Active() const;

 protected:
  friend class TDataSource;
  // The dataset was opened or closed, or the link was attached or detached.
  virtual void ActiveChanged() {}
  // The rows changed (appended, deleted, posted, reopened): redraw all of them.
  virtual void DataSetChanged() {}
  // The current row moved by `distance` rows (0 when unknown).
  virtual void DataSetScrolled(int distance) { (void)distance; }
  // A field of the current row was written; nullptr means the whole row.
  virtual void RecordChanged(const TField* field) { (void)field; }
  // The dataset entered or left edit or insert state.
  virtual void StateChanged() {}
  // The dataset is about to post: write any text the user typed into its field.
  virtual void UpdateData() {}

 private:
  TDataSource* data_source_ = nullptr;
};

class TDataSource {
 public:
  TDataSource() = default;
  explicit TDataSource(TDataSet* dataSet) { SetDataSet(dataSet); }
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;
  // Detaches its links (they hear ActiveChanged) and leaves its dataset.
  ~TDataSource();

  TDataSet* DataSet() const { return data_set_; }
  // Follows another dataset (nullptr follows none); the links hear ActiveChanged.
  void SetDataSet(TDataSet* dataSet);
  // A disabled source forwards nothing; enabling it again tells the links ActiveChanged.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);

  // Called by the dataset: forwards one event to every link.
  void Notify(TDataEvent event, const TField* field = nullptr, int distance = 0);
  // Number of attached links.
  int LinkCount() const { return static_cast<int>(links_.size()); }

 private:
  friend class TDataLink;
  friend class TDataSet;
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);
  void DataSetDestroyed() { data_set_ = nullptr; }

  TDataSet* data_set_ = nullptr;
  bool enabled_ = true;
  std::vector<TDataLink*> links_;
};

}  // namespace kura
