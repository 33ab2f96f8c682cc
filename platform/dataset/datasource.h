// Data sources and data links: how data-aware controls (a grid, a navigator, an edit) follow a
// dataset. A TDataSource sits between one dataset and any number of links; each TDataLink is
// the control's observer and receives the dataset's notifications as virtual callbacks.
//
// Nobody owns anybody: the form owns datasets, data sources and controls alike. Each side
// detaches itself when destroyed (a link from its source, a source from its dataset and its
// links), so they may be destroyed in any order. Callbacks run synchronously inside the
// dataset operation that caused them; a callback may read the dataset but must not move it
// or change its state.
#pragma once

#include <vector>

#include "platform/dataset/dataset.h"

namespace platform::dataset {

class TDataLink;

class TDataSource {
 public:
  explicit TDataSource(TDataSet* dataset = nullptr);
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TDataSet* DataSet() const { return dataset_; }
  // Attaches to another dataset (or none); the links see the new one's state.
  void SetDataSet(TDataSet* dataset);
  // A disabled source makes its links inactive.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // Lets Edit switch a browsing dataset to edit state [true].
  bool AutoEdit() const { return auto_edit_; }
  void SetAutoEdit(bool value) { auto_edit_ = value; }
  // The dataset's state while enabled, else dsInactive.
  TDataSetState State() const { return state_; }
  // The dataset's Edit when AutoEdit is on and the dataset browses; otherwise nothing.
  void Edit();

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, TField* field, int info);
  void NotifyState();

  TDataSet* dataset_ = nullptr;
  bool enabled_ = true;
  bool auto_edit_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> links_;
};

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return source_; }
  // Attaches to a source (or none); ActiveChanged runs when that changes Active.
  void SetDataSource(TDataSource* source);
  // The source's dataset, or nullptr.
  TDataSet* DataSet() const;
  // The source is enabled and its dataset open.
  bool Active() const { return active_; }
  // Active and the dataset in edit, insert or set-key state.
  bool Editing() const { return editing_; }
  // A read-only link never starts editing.
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  // Asks the source to start editing (TDataSource::Edit) unless read-only; returns Editing.
  bool Edit();
  // Runs UpdateData now; field changes meanwhile are not reported back to this link.
  void UpdateRecord();

 protected:
  // Active changed (see Active).
  virtual void ActiveChanged() {}
  // The current record may be another one. By default RecordChanged(nullptr).
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  // The dataset moved by `distance` records (negative: backwards). By default DataSetChanged.
  virtual void DataSetScrolled(int distance);
  // A field of the current record changed (nullptr: the whole record).
  virtual void RecordChanged(TField*) {}
  // Fields or their display properties changed. By default DataSetChanged.
  virtual void LayoutChanged() { DataSetChanged(); }
  // Editing changed (see Editing).
  virtual void EditingChanged() {}
  // Write what the control holds into the fields (asked for before a post).
  virtual void UpdateData() {}
  // The dataset is about to leave edit state or move.
  virtual void CheckBrowseMode() {}

 private:
  friend class TDataSource;

  void DataEvent(TDataEvent event, TField* field, int info);
  void UpdateState();

  TDataSource* source_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool read_only_ = false;
  bool updating_ = false;
};

}  // namespace platform::dataset
