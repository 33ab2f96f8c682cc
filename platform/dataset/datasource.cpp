#include "platform/dataset/datasource.h"

#include <algorithm>

namespace platform::dataset {

// --- TDataSource ------------------------------------------------------------------------------

TDataSource::TDataSource(TDataSet* dataset) { SetDataSet(dataset); }

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
  while (!links_.empty()) links_.back()->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_) dataset_->DetachDataSource(this);
  dataset_ = dataset;
  if (dataset_) dataset_->AttachDataSource(this);
  NotifyState();
}

void TDataSource::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  NotifyState();
}

void TDataSource::Edit() {
  if (auto_edit_ && state_ == dsBrowse && dataset_) dataset_->Edit();
}

void TDataSource::NotifyState() {
  state_ = enabled_ && dataset_ ? dataset_->State() : dsInactive;
  std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) {
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->UpdateState();
  }
}

void TDataSource::DataEvent(TDataEvent event, TField* field, int info) {
  if (event == deUpdateState) {
    NotifyState();
    return;
  }
  if (state_ == dsInactive) return;
  std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) {
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) {
      link->DataEvent(event, field, info);
    }
  }
}

// --- TDataLink --------------------------------------------------------------------------------

TDataLink::~TDataLink() {
  if (source_) {
    auto& links = source_->links_;
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
  }
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == source_) return;
  if (source_) {
    auto& links = source_->links_;
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
  }
  source_ = source;
  if (source_) source_->links_.push_back(this);
  UpdateState();
}

TDataSet* TDataLink::DataSet() const { return source_ ? source_->DataSet() : nullptr; }

bool TDataLink::Edit() {
  if (!read_only_ && source_) source_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{updating_};
  UpdateData();
}

void TDataLink::DataSetScrolled(int) { DataSetChanged(); }

void TDataLink::UpdateState() {
  bool active = source_ && source_->State() != dsInactive;
  if (active != active_) {
    active_ = active;
    ActiveChanged();
  }
  TDataSetState state = source_ ? source_->State() : dsInactive;
  bool editing = active_ && (state == dsEdit || state == dsInsert || state == dsSetKey);
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void TDataLink::DataEvent(TDataEvent event, TField* field, int info) {
  if (!active_) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (!updating_) RecordChanged(field);
      break;
    case deDataSetChange:
      DataSetChanged();
      break;
    case deDataSetScroll:
      DataSetScrolled(info);
      break;
    case deLayoutChange:
      LayoutChanged();
      break;
    case deUpdateRecord:
      UpdateRecord();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case deUpdateState:
      break;
  }
}

}  // namespace platform::dataset
