// The handlers that run nested inside a connect or a network search, driven from the waits'
// pumps: a second Cancel, a close, Start, and a disconnect while a SIM scan holds the phone.
#include <QApplication>
#include <algorithm>

#include "vantorix_sim.h"

namespace vantorix {
namespace {

using GuardTest = ConnectTest;

// Runs the pending Qt events (a deferred close) the way the message loop would.
void RunMessageLoopOnce() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

TEST_F(GuardTest, CancelClickedTwiceEndsTheSearchWithoutDisconnecting) {
  sim_->SetNetwork(false);
  WriteRegistry("ID", "0000000002");
  WriteRegistry("Pin", "1234");
  TMainForm& form = OpenForm();
  int clicks = 0;
  bool start_enabled_meanwhile = false;
  ui_.OnProcessEvents([&] {
    start_enabled_meanwhile |= form.ui->BitBtn1->isEnabled();
    if (form.SearchRunning && clicks < 2) {
      ++clicks;
      form.ui->btnConnect->click();
      // Still searching: the next click is a Cancel again, not a disconnect.
      EXPECT_TRUE(form.SearchRunning);
      EXPECT_EQ(form.ui->btnConnect->text(), "Cancel");
      EXPECT_NE(form.MobilKomm, nullptr);
    }
  });
  form.ui->btnConnect->click();
  ui_.OnProcessEvents(nullptr);
  EXPECT_EQ(clicks, 2);
  EXPECT_FALSE(start_enabled_meanwhile) << "Start was enabled while the connect ran";
  EXPECT_TRUE(form.ui->BitBtn1->isEnabled());
  EXPECT_EQ(form.MobilKomm, nullptr);
  EXPECT_FALSE(form.SearchRunning);
  EXPECT_EQ(form.ui->btnConnect->text(), "Connect mobile");
  EXPECT_EQ(form.ui->lblMobilTel->text(), "No mobile found");
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
  // The port was closed once, after the search: another opener gets it now.
  phone::TMobilKomm other;
  other.SetDefaults();
  other.WaitOpen = other.WaitClose = 0;
  EXPECT_TRUE(other.OpenPort());
  other.ClosePort();
}

struct CloseCase {
  const char* name;
  const char* id;
  bool no_network;
  // Whether the close is asked for now (on this pump).
  bool (*now)(TMainForm&, phone::sim::PhoneSimulator&);
  bool connected;  // what the connect came to: a close ends it as soon as it can
};

TEST_F(GuardTest, ClosingDuringAConnectClosesOnceItHasUnwound) {
  const CloseCase cases[] = {
      {"during the network search", "0000000002", true,
       [](TMainForm& form, phone::sim::PhoneSimulator&) { return form.SearchRunning; }, false},
      {"during the probe of a plain phone", "0000000001", false,
       [](TMainForm&, phone::sim::PhoneSimulator& sim) { return !sim.LogTexts().empty(); }, false},
  };
  for (const CloseCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim_ = std::make_unique<phone::sim::PhoneSimulator>();
    platform::ScopedEnv com1("KESTROVA_COM1", sim_->DevicePath());
    sim_->SetNetwork(!c.no_network);
    WriteRegistry("ID", c.id);
    WriteRegistry("Pin", "1234");
    TMainForm& form = OpenForm();
    bool asked = false, visible_after_close = false;
    ui_.OnProcessEvents([&] {
      if (asked || !c.now(form, *sim_)) return;
      asked = true;
      form.close();
      visible_after_close = form.isVisible();
      // Nothing was taken down under the running operation.
      EXPECT_TRUE(platform::ld2000::SessionRunning());
    });
    form.ui->btnConnect->click();
    ui_.OnProcessEvents(nullptr);
    ASSERT_TRUE(asked);
    EXPECT_TRUE(visible_after_close) << "the window closed under the running connect";
    EXPECT_EQ(form.MobilKomm != nullptr, c.connected);
    EXPECT_TRUE(form.isVisible());
    RunMessageLoopOnce();
    EXPECT_FALSE(form.isVisible()) << "the deferred close did not follow";

    // The session ended at the close, and no frame went out after that.
    std::vector<std::string> calls = LdCalls();
    auto last_end = std::find(calls.rbegin(), calls.rend(), "EndSession()");
    ASSERT_NE(last_end, calls.rend());
    EXPECT_EQ(std::count_if(calls.rbegin(), last_end,
                            [](const std::string& call) {
                              return call.starts_with("WriteFrame") ||
                                     call.starts_with("DisplayFrame");
                            }),
              0);
    CloseForm();
  }
  std::vector<std::string> rows = PeerRows(dir_ / "windows" / "sysilog.dat");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_TRUE(rows[1].ends_with("|Stop") && rows[3].ends_with("|Stop"));
}

TEST_F(GuardTest, TheConnectButtonIsDisabledWhileASimScanHoldsThePhone) {
  WriteRegistry("ID", "0000000001");
  TMainForm& form = OpenForm();
  form.ui->btnConnect->click();
  ASSERT_NE(form.MobilKomm, nullptr);
  {
    TMainForm::TReaderBusyScope scan(form);
    EXPECT_TRUE(form.ReaderBusy);
    EXPECT_FALSE(form.ui->btnConnect->isEnabled());
    form.ui->btnConnect->click();
    EXPECT_NE(form.MobilKomm, nullptr) << "disconnected under a running scan";
  }
  EXPECT_FALSE(form.ReaderBusy);
  EXPECT_TRUE(form.ui->btnConnect->isEnabled());
  form.ui->btnConnect->click();
  EXPECT_EQ(form.MobilKomm, nullptr);
}

}  // namespace
}  // namespace vantorix
