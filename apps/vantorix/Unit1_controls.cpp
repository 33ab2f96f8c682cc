// The main window's operator controls: the track bars and check boxes that tune the laser
// output, the font, the offline text, the Stacksize edit, EXIT and the menus. They run nested
// inside the receive loop and only set fields and controls, which the loop and the laser
// output read at their next step.
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <algorithm>

#include "apps/vantorix/Protocol.h"
#include "apps/vantorix/Unit1.h"
#include "apps/vantorix/Verbote.h"
#include "apps/vantorix/Werbung.h"
#include "apps/vantorix/einstellungen.h"
#include "apps/vantorix/listdialogs.h"
#include "laser/LD_FUNCT.h"
#include "platform/qt/qt_text.h"
#include "tables/engine/tzutils.h"
#include "ui_Unit1.h"

namespace vantorix {

int32_t LongestUncutText(laser::TStrokeSource& ttf1) {
  // The outline builder adds at most three points per stroke (a blank move, its start, its
  // end) and adds a stroke only while four entries are left, the last one for the closing
  // point: s strokes are all taken when 3 x s <= capacity - 1.
  size_t most_strokes = 1;
  for (uint32_t ch = 0x21; ch <= 0xFF; ++ch)
    if (std::unique_ptr<laser::TStrokeCollection> strokes = ttf1.ConvertChar(ch))
      most_strokes = std::max(most_strokes, strokes->Strokes().size());
  return std::max<int32_t>(
      1, static_cast<int32_t>((laser::kPointListCapacity - 1) / (3 * most_strokes)));
}

void TMainForm::TrackBar1Change() {
  Laser.ScanSpeed = ui->TrackBar1->value();
  ui->pnlScanSpeed->setText(QString("Scanspeed: %1").arg(Laser.ScanSpeed));
  laser::LdSetScanRate(Laser.ScanSpeed);
}

void TMainForm::TrackBar2Change() {
  Laser.BlankShift = ui->TrackBar2->value();
  ui->pnlBlankShift->setText(QString("Blankshift: %1").arg(Laser.BlankShift));
}

void TMainForm::TrackBar3Change() {
  Laser.ScrollSpeed = ui->TrackBar3->value();
  ui->pnlScrollSpeed->setText(QString("Scrollspeed: %1").arg(Laser.ScrollSpeed));
}

void TMainForm::TrackBar4Change() {
  Laser.PointViewPosition = ui->TrackBar4->value();
  laser::ShowPointView(Laser, *ui->PaintBox1);
  setWindowTitle(platform::ToQString(Laser.Caption));
  // A maximum below the position moves the bar and runs this handler once more, with a
  // position the frame has.
  ui->TrackBar4->setMaximum(Laser.PointViewMax);
}

void TMainForm::TrackBar5Change() {
  Laser.SmsRepeat = ui->TrackBar5->value();
  ui->pnlSmsRepeat->setText(QString("SMS Repeat %1").arg(Laser.SmsRepeat));
}

void TMainForm::TrackBar6Change() {
  Laser.FontPercent = ui->TrackBar6->value();
  Laser.FontScale = Laser.FontPercent / 100.0;
  ui->pnlFontSize->setText(QString("Fontsize: %1 %").arg(Laser.FontPercent));
}

void TMainForm::CheckBox1Click() {
  Laser.OutputToLaser = ui->CheckBox1->isChecked();
  if (!Laser.OutputToLaser) laser::LdBlank();
}

void TMainForm::SetConverterFont(const QFont& font) {
  platform::Font chosen;
  chosen.SetName(platform::FromQString(font.family()));
  chosen.SetHeight(ttf1.Font().Height());
  // The glyph look-up knows two weights; a demibold or heavier face is the bold one.
  chosen.SetBold(font.weight() >= QFont::DemiBold);
  chosen.SetItalic(font.style() != QFont::StyleNormal);
  ttf1.SetFont(chosen);
  ui->Edit1->setMaxLength(LongestUncutText(ttf1));
}

void TMainForm::BitBtn6Click() {
  // The dialog lists real families only; a name fontconfig stands another family in for
  // ("Arial") opens it on the family the converter draws with. The dialog selects a face by
  // its style name, the converter's font is named by family, weight and slant: the dialog
  // opens on the family's plainest face of that kind.
  QString family = platform::ToQString(ttf1.Font().Name());
  if (!QFontDatabase::hasFamily(family)) family = QFontInfo(QFont(family)).family();
  QFont current(family);
  current.setBold(ttf1.Font().Bold());
  current.setItalic(ttf1.Font().Italic());
  QString style;
  for (const QString& name : QFontDatabase::styles(family))
    if (QFontDatabase::bold(family, name) == ttf1.Font().Bold() &&
        QFontDatabase::italic(family, name) == ttf1.Font().Italic() &&
        (style.isEmpty() || name.size() < style.size()))
      style = name;
  if (!style.isEmpty()) current.setStyleName(style);
  FontDialog1->setCurrentFont(current);
  if (FontDialog1->exec() == QDialog::Accepted) SetConverterFont(FontDialog1->selectedFont());
}

void TMainForm::BitBtn7Click() {
  Laser.StopFlag = true;
  close();
}

void TMainForm::Beenden1Click() {
  BitBtn7Click();
}

void TMainForm::TakeOfflineText(bool with_status) {
  std::string text = tz::RTrim(platform::FromQString(ui->Edit1->text()));
  ui->Edit1->setText(platform::ToQString(text));
  if (text.empty()) return;
  Laser.DisplayText = text;
  if (with_status) SetStatus("Next SMS will be : " + Laser.DisplayText);
}

void TMainForm::Button1Click() {
  TakeOfflineText(true);
}

void TMainForm::Edit1KeyDown(int Key) {
  if (Key == 13) TakeOfflineText(false);
}

void TMainForm::Edit2Change() {
  StackSize = StackSizeOf(platform::FromQString(ui->Edit2->text()));
}

// A dialog opened from a menu holds whatever runs below it (the receive loop waits in its
// pump) until it closes.
void TMainForm::Protokoll1Click() {
  if (SMSProtocol) ShowMenuDialog(*SMSProtocol);
}

void TMainForm::Grundeinstellungen1Click() {
  if (frmEinstell) ShowMenuDialog(*frmEinstell);
}

void TMainForm::Werbetexte1Click() {
  if (Werbetexte) ShowMenuDialog(*Werbetexte);
}

void TMainForm::Verbotsliste1Click() {
  if (frmVerbote) ShowMenuDialog(*frmVerbote);
}

}  // namespace vantorix
