// The standard phone Vazor marks is the one the display program connects to: both programs
// on the same program folder and registry, the phone simulator on COM1.
#include <QLabel>

#include "apps/vantorix/Unit1.h"
#include "handy_fixture.h"
#include "tools/phonesim/simulator.h"
#include "ui_Unit1.h"

namespace handy {
namespace {

TEST_F(HandyTest, DisplayProgramConnectsTheMobileSetAsStandard) {
  phone::sim::PhoneSimulator sim;
  platform::ScopedEnv com1("KESTROVA_COM1", sim.DevicePath());
  platform::ScopedEnv com2("KESTROVA_COM2", (dir_ / "no-such-device").string());
  platform::ScopedEnv ld_log("LD2000_LOG", std::nullopt);
  ModelRow other{"0000000001", "Test", "Phone", 5, 2};
  ModelRow sim_phone{"0000000002", "Sim", "Phone", 4, 1};
  WriteRows({other, sim_phone});
  WriteRegistry("ID", "0000000001");

  THandyForm& form = OpenForm();
  ASSERT_EQ(GridRows(), (std::vector<std::string>{"Sim|Phone", "Test|Phone"}));
  ClickRow(0);
  QTest::mouseClick(form.ui->btnHandySet, Qt::LeftButton);
  EXPECT_TRUE(ui_.Texts().empty());
  EXPECT_EQ(RegistryValue("ID"), "0000000002");
  form_.reset();

  {
    vantorix::TMainForm display;
    display.show();
    QTest::mouseClick(display.ui->btnConnect, Qt::LeftButton);
    EXPECT_TRUE(ui_.Texts().empty()) << ui_.Texts()[0];
    EXPECT_TRUE(display.MobilKomm);
    EXPECT_EQ(platform::FromQString(display.ui->lblMobilTel->text()), "Sim Phone Com1");
    EXPECT_EQ(display.StackSize, 4);
    display.close();
  }
  EXPECT_EQ(sim.LogTexts().front(), "AT+CGMI");
}

}  // namespace
}  // namespace handy
