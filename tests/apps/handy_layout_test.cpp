// Vazor's window and its vendor and type dialog at the sizes a user drags them to: the window
// opens at its designed size with every control in its designed place, keeps every control in
// sight and apart at its smallest size, and gives the room of a large size to the grid of
// models and the SMS list; the dialog keeps its size. Screenshots of both at both sizes.
#include <gtest/gtest.h>

#include <QApplication>

#include "tests/apps/handy_fixture.h"
#include "tests/apps/window_layout.h"

namespace handy {
namespace {

class HandyLayout : public HandyTest {
 protected:
  // The window and its dialog as the program block makes them, shown at the size they open at.
  THandyForm& OpenAsDesigned() {
    WriteRows({{"0000000001", "Nokia", "6210"},
               {"0000000002", "Siemens", "S45"},
               {"0000000003", "Wavecom", "Fasttrack"}});
    form_ = std::make_unique<THandyForm>();
    form_->MobileNew = new TMobileNew(form_.get());
    form_->show();
    QApplication::processEvents();
    return *form_;
  }
};

TEST_F(HandyLayout, OpensAtItsDesignedSizeWithEveryControlInItsPlace) {
  THandyForm& form = OpenAsDesigned();
  EXPECT_EQ(form.size(), QSize(990, 740));
  struct Place {
    const char* name;
    QRect rect;
  };
  const Place places[] = {
      {"lblMobiles", {10, 8, 200, 20}},
      {"grdMobilTel", {10, 30, 380, 330}},
      {"btnNeuHandy", {10, 372, 186, 28}},
      {"btnSaveSettings", {204, 372, 186, 28}},
      {"BitBtn1", {10, 406, 186, 28}},
      {"btnHandySet", {204, 406, 186, 28}},
      {"btnDelHandy", {10, 440, 186, 28}},
      {"btnEnde", {204, 440, 186, 28}},
      {"lblSettings", {410, 8, 200, 20}},
      {"lblComPort", {410, 34, 150, 20}},
      {"cboComPort", {570, 32, 130, 24}},
      {"lblBaudRate", {410, 63, 150, 20}},
      {"cboBaudRate", {570, 61, 130, 24}},
      {"lblDataBit", {410, 92, 150, 20}},
      {"cboDataBit", {570, 90, 130, 24}},
      {"lblStopBit", {410, 121, 150, 20}},
      {"cboStopBit", {570, 119, 130, 24}},
      {"lblParity", {410, 150, 150, 20}},
      {"cboParity", {570, 148, 130, 24}},
      {"lblFlowContr", {410, 179, 150, 20}},
      {"cboFlowContr", {570, 177, 130, 24}},
      {"lblInpBuffer", {410, 208, 150, 20}},
      {"spnInpBuffer", {570, 206, 90, 24}},
      {"lblOutBuffer", {410, 237, 150, 20}},
      {"spnOutBuffer", {570, 235, 90, 24}},
      {"lblWarteOpen", {410, 266, 150, 20}},
      {"spnWarteOpen", {570, 264, 90, 24}},
      {"lblMsec1", {666, 266, 40, 20}},
      {"lblWarteClose", {410, 295, 150, 20}},
      {"spnWarteClose", {570, 293, 90, 24}},
      {"lblMsec2", {666, 295, 40, 20}},
      {"lblWarteSenden", {410, 324, 150, 20}},
      {"spnWarteSenden", {570, 322, 90, 24}},
      {"lblMsec3", {666, 324, 40, 20}},
      {"lblWarteEmpfangen", {410, 353, 150, 20}},
      {"spnWarteEmpfangen", {570, 351, 90, 24}},
      {"lblMsec4", {666, 353, 40, 20}},
      {"lblSMSStack", {410, 382, 150, 20}},
      {"spnSMSStack", {570, 380, 90, 24}},
      {"lblKomm", {760, 8, 220, 20}},
      {"btnKommOpen", {760, 32, 220, 28}},
      {"btnKommClose", {760, 66, 220, 28}},
      {"btnHersteller", {760, 108, 220, 28}},
      {"MemoHersteller", {760, 140, 220, 60}},
      {"btnModell", {760, 210, 220, 28}},
      {"MemoModell", {760, 242, 220, 60}},
      {"lblPin", {760, 318, 40, 20}},
      {"Edit1", {800, 316, 100, 24}},
      {"Button1", {910, 314, 70, 28}},
      {"btnSmsHolen", {10, 490, 150, 28}},
      {"btnSMSDecode", {170, 490, 150, 28}},
      {"btnDelSMS", {330, 490, 150, 28}},
      {"lstSMS", {10, 524, 970, 130}},
      {"MemoSMS", {10, 662, 970, 50}},
  };
  std::map<std::string, QRect> shown = apps_testing::Places(form);
  for (const Place& p : places) EXPECT_EQ(shown[p.name], p.rect) << p.name;
}

TEST_F(HandyLayout, SmallestAndLargeSizesKeepEveryControl) {
  THandyForm& form = OpenAsDesigned();
  apps_testing::CheckSmallestAndLargeSize(
      form, "THandyForm", {990, 740},
      {{"grdMobilTel", true, true}, {"lstSMS", true, true}, {"MemoSMS", true, false}});

  TMobileNew& dialog = *form.MobileNew;
  dialog.setWindowTitle("New Mobile");
  dialog.ui->txtVendorName->setText("Nokia");
  dialog.ui->txtMobileType->setText("6310i");
  dialog.show();
  QApplication::processEvents();
  apps_testing::CheckSmallestAndLargeSize(dialog, "TMobileNew", {360, 136}, {});
  dialog.hide();
}

}  // namespace
}  // namespace handy
