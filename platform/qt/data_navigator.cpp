#include "platform/qt/data_navigator.h"

#include <QHBoxLayout>
#include <QStyle>

#include "platform/qt/data_grid.h"
#include "platform/ui.h"

namespace platform {

using dataset::TDataSet;

class TDataNavigator::Link : public dataset::TDataLink {
 public:
  explicit Link(TDataNavigator& navigator) : navigator_(navigator) {}

 protected:
  void ActiveChanged() override { navigator_.UpdateButtons(); }
  void DataSetChanged() override { navigator_.UpdateButtons(); }
  void EditingChanged() override { navigator_.UpdateButtons(); }

 private:
  TDataNavigator& navigator_;
};

namespace {

struct ButtonLook {
  const char* name;
  const char* hint;
  QStyle::StandardPixmap icon;
  const char* text;
};

constexpr ButtonLook kLooks[kNavigateButtons] = {
    {"First", "First record", QStyle::SP_MediaSkipBackward, "|<"},
    {"Prior", "Prior record", QStyle::SP_MediaSeekBackward, "<"},
    {"Next", "Next record", QStyle::SP_MediaSeekForward, ">"},
    {"Last", "Last record", QStyle::SP_MediaSkipForward, ">|"},
    {"Insert", "Insert record", QStyle::SP_FileDialogNewFolder, "+"},
    {"Delete", "Delete record", QStyle::SP_TrashIcon, "-"},
    {"Edit", "Edit record", QStyle::SP_FileDialogDetailedView, "^"},
    {"Post", "Post edit", QStyle::SP_DialogApplyButton, "v"},
    {"Cancel", "Cancel edit", QStyle::SP_DialogCancelButton, "x"},
    {"Refresh", "Refresh data", QStyle::SP_BrowserReload, "@"},
};

}  // namespace

TDataNavigator::TDataNavigator(QWidget* parent) : QWidget(parent), link_(std::make_unique<Link>(*this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (int b = 0; b < kNavigateButtons; ++b) {
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(kLooks[b].name));
    button->setToolTip(QString::fromLatin1(kLooks[b].hint));
    button->setIcon(style()->standardIcon(kLooks[b].icon));
    button->setText(QString::fromLatin1(kLooks[b].text));
    button->setAutoRaise(false);
    layout->addWidget(button);
    buttons_[static_cast<size_t>(b)] = button;
    connect(button, &QToolButton::clicked, this,
            [this, b] { BtnClick(static_cast<TNavigateBtn>(b)); });
  }
  UpdateButtons();
}

TDataNavigator::~TDataNavigator() { link_->SetDataSource(nullptr); }

dataset::TDataSource* TDataNavigator::DataSource() const { return link_->DataSource(); }

void TDataNavigator::SetDataSource(dataset::TDataSource* source) {
  link_->SetDataSource(source);
  UpdateButtons();
}

void TDataNavigator::UpdateButtons() {
  TDataSet* ds = link_->Active() ? link_->DataSet() : nullptr;
  bool active = ds != nullptr && isEnabled();
  bool can_modify = active && ds->CanModify();
  bool editing = link_->Editing();
  bool up = active && !ds->Bof();
  bool down = active && !ds->Eof();
  const bool enabled[kNavigateButtons] = {
      up, up, down, down, can_modify, can_modify && !(ds->Bof() && ds->Eof()),
      can_modify && !editing, can_modify && editing, can_modify && editing, active && !editing};
  for (int b = 0; b < kNavigateButtons; ++b) buttons_[static_cast<size_t>(b)]->setEnabled(enabled[b]);
}

void TDataNavigator::FireOnClick(TNavigateBtn button) {
  if (!designing_ && OnClick) OnClick(*this, button);
}

void TDataNavigator::BtnClick(TNavigateBtn button) {
  TDataSet* ds = link_->Active() ? link_->DataSet() : nullptr;
  if (ds) {
    TDataGrid::Guarded([&] {
      switch (button) {
        case nbFirst: ds->First(); break;
        case nbPrior: ds->Prior(); break;
        case nbNext: ds->Next(); break;
        case nbLast: ds->Last(); break;
        case nbInsert: ds->Insert(); break;
        case nbEdit: ds->Edit(); break;
        case nbPost: ds->Post(); break;
        case nbCancel: ds->Cancel(); break;
        case nbRefresh: ds->Refresh(); break;
        case nbDelete:
          if (!confirm_delete_ ||
              MessageBox("Delete record?", "Confirm", kMbOkCancel | kMbIconQuestion) != kIdCancel)
            ds->Delete();
          break;
      }
    });
    UpdateButtons();
  }
  FireOnClick(button);
}

}  // namespace platform
