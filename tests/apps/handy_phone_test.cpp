// Vazor's phone buttons against the phone simulator on COM1: connect with the settings the
// window shows, maker and model, the raw replies of the SMS slots, decoding and deleting one,
// the SIM PIN, and the guards of the nested waits.
#include <QListWidget>
#include <QPlainTextEdit>

#include "handy_fixture.h"
#include "platform/clock.h"
#include "tools/phonesim/simulator.h"

namespace handy {
namespace {

// A received SMS ("TEST" from +46705930301) and one with a line feed in its text.
const char kTestPdu[] = "07916407058099F9040B916407950303F100008921222140140004D4E2940A";
const char kTestDecoded[] =
    "Prov: +46705008999 Tel: +46705930301 Zeit: 22.12.98 12:04,41 ZZ00 Text: TEST";
const char kLineFeedPdu[] = "0791947101670000000B811007214365F700001270908174300007BCA4750CEF2B00";

class HandyPhoneTest : public HandyTest {
 protected:
  HandyPhoneTest()
      : sim_(std::make_unique<phone::sim::PhoneSimulator>()),
        com1_("KESTROVA_COM1", sim_->DevicePath()),
        com2_("KESTROVA_COM2", (dir_ / "no-such-device").string()) {
    // The standard phone on COM1 with short waits, and a stack of three slots.
    WriteRows({{"0000000001", "Test", "Phone", 3, 1, "9600", "8", "1", "N", "None", 1024, 1024, 10,
                10, 10, 20}});
    sim_->SetSlot(1, 0, kTestPdu);
    sim_->SetSlot(2, 2, kTestPdu);
    sim_->SetSlot(3, 1, kLineFeedPdu);
  }

  THandyForm& Connect() {
    THandyForm& form = OpenForm();
    QTest::mouseClick(form.ui->btnKommOpen, Qt::LeftButton);
    EXPECT_TRUE(form.MobilKomm);
    return form;
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (int i = 0; i < form_->ui->lstSMS->count(); ++i)
      lines.push_back(platform::FromQString(form_->ui->lstSMS->item(i)->text()));
    return lines;
  }
  std::string Memo(QPlainTextEdit* memo) const {
    return platform::FromQString(memo->toPlainText());
  }
  // Which of the eight phone buttons are enabled, Start first, Send last: "10000001".
  std::string Buttons() const {
    Ui::THandyForm& ui = *form_->ui;
    std::string state;
    for (QPushButton* b : {ui.btnKommOpen, ui.btnKommClose, ui.btnHersteller, ui.btnModell,
                           ui.btnSmsHolen, ui.btnSMSDecode, ui.btnDelSMS, ui.Button1})
      state += b->isEnabled() ? '1' : '0';
    return state;
  }
  void Decode(int line) {
    form_->ui->lstSMS->setCurrentRow(line);
    QTest::mouseClick(form_->ui->btnSMSDecode, Qt::LeftButton);
  }

  std::unique_ptr<phone::sim::PhoneSimulator> sim_;
  platform::ScopedEnv com1_, com2_;
};

TEST_F(HandyPhoneTest, StartAndReleaseCommunication) {
  THandyForm& form = OpenForm();
  EXPECT_EQ(Buttons(), "10000001");
  QTest::mouseClick(form.ui->btnKommOpen, Qt::LeftButton);
  ASSERT_TRUE(form.MobilKomm);
  EXPECT_TRUE(ui_.Texts().empty());
  EXPECT_EQ(Buttons(), "01111111");
  // The whole replies, echo and final line included (the memo shows CR LF as one break).
  EXPECT_EQ(Memo(form.ui->MemoHersteller), "AT+CGMI\n\nKESTROVA\n\nOK\n");
  EXPECT_EQ(Memo(form.ui->MemoModell), "AT+CGMM\n\nPS-1\n\nOK\n");
  EXPECT_EQ(sim_->LogTexts(),
            (std::vector<std::string>{"AT+CGMI", "AT+CMGF=0", "AT+CPMS=\"SM\",\"SM\",\"SM\"",
                                      "AT+CGMI", "AT+CGMM"}));

  QTest::mouseClick(form.ui->btnKommClose, Qt::LeftButton);
  EXPECT_FALSE(form.MobilKomm);
  EXPECT_EQ(Buttons(), "10000001");
  EXPECT_EQ(Memo(form.ui->MemoHersteller), "");
  EXPECT_EQ(Memo(form.ui->MemoModell), "");
  // A fresh start after a release.
  QTest::mouseClick(form.ui->btnKommOpen, Qt::LeftButton);
  EXPECT_TRUE(form.MobilKomm);
  EXPECT_EQ(Memo(form.ui->MemoModell), "AT+CGMM\n\nPS-1\n\nOK\n");
}

TEST_F(HandyPhoneTest, ConnectRefusedOrFailed) {
  THandyForm& form = OpenForm();
  Ui::THandyForm& ui = *form.ui;
  struct Case {
    const char* what;
    std::function<void()> setup;
    std::vector<std::string> messages;  // a text ending in ": " is a prefix
  } const cases[] = {
      {"no baud rate",
       [&] { ui.cboBaudRate->setCurrentIndex(-1); },
       {"Please select the Baud Rate setting"}},
      {"no parity",
       [&] { ui.cboParity->setCurrentIndex(-1); },
       {"Please select the Parity setting"}},
      {"no port",
       [&] { ui.cboComPort->setCurrentIndex(-1); },
       {"Please select the Com Port setting"}},
      {"port that does not open",
       [&] { ui.cboComPort->setCurrentIndex(1); },
       {"Com Port open error: "}},
      {"phone silent",
       [&] { sim_->SetBehaviour("", {phone::sim::Behaviour::kSilent}); },
       {"Mobile not connected"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    form.ShowSettings(TSerialSettings{}, 3);
    sim_->ClearBehaviours();
    sim_->ClearLog();
    ui_.Clear();
    c.setup();
    QTest::mouseClick(ui.btnKommOpen, Qt::LeftButton);
    EXPECT_FALSE(form.MobilKomm);
    EXPECT_EQ(Buttons(), "10000001");
    std::vector<std::string> texts = ui_.Texts();
    ASSERT_EQ(texts.size(), c.messages.size());
    for (size_t i = 0; i < texts.size(); ++i) {
      const std::string& want = c.messages[i];
      if (want.ends_with(": "))
        EXPECT_TRUE(texts[i].starts_with(want)) << texts[i];
      else
        EXPECT_EQ(texts[i], want);
    }
  }
  // Nothing reached the phone but the silent phone's probe.
  EXPECT_EQ(sim_->LogTexts(), std::vector<std::string>{"AT+CGMI"});
}

TEST_F(HandyPhoneTest, GetAllSmsListsOneLinePerSlotOfTheStack) {
  THandyForm& form = Connect();
  ASSERT_EQ(form.ui->spnSMSStack->value(), 3);
  sim_->ClearLog();
  QTest::mouseClick(form.ui->btnSmsHolen, Qt::LeftButton);
  std::string pdu = kTestPdu;
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "AT+CMGR=1---+CMGR: 0,,23---" + pdu + "------OK---",
                         "AT+CMGR=2---+CMGR: 2,,23---" + pdu + "------OK---",
                         "AT+CMGR=3---+CMGR: 1,,26---" + std::string(kLineFeedPdu) + "------OK---",
                     }));
  EXPECT_EQ(sim_->LogTexts(), (std::vector<std::string>{"AT+CMGR=1", "AT+CMGR=2", "AT+CMGR=3"}));

  // Empty slots still get their line.
  sim_->ClearSlot(2);
  form.ui->spnSMSStack->setValue(4);
  QTest::mouseClick(form.ui->btnSmsHolen, Qt::LeftButton);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "AT+CMGR=2---+CMS ERROR: 321---");
  EXPECT_EQ(lines[3], "AT+CMGR=4---+CMS ERROR: 321---");
}

TEST_F(HandyPhoneTest, DecodeShowsTheFieldsOfAReceivedSms) {
  THandyForm& form = Connect();
  QTest::mouseClick(form.ui->btnSmsHolen, Qt::LeftButton);
  // No line selected: nothing.
  form.ui->lstSMS->setCurrentRow(-1);
  QTest::mouseClick(form.ui->btnSMSDecode, Qt::LeftButton);
  EXPECT_EQ(Memo(form.ui->MemoSMS), "");

  Decode(0);
  EXPECT_EQ(Memo(form.ui->MemoSMS), kTestDecoded);
  // The line feed of the text is shown as a blank.
  Decode(2);
  EXPECT_EQ(Memo(form.ui->MemoSMS),
            "Prov: +491710760000 Tel: 01701234567 Zeit: 09.07.21 18:47,03 ZZ00 Text: <IVcp\xF1 ");
  EXPECT_TRUE(ui_.Texts().empty());
  // A stored message is refused.
  Decode(1);
  EXPECT_EQ(ui_.Texts(),
            std::vector<std::string>{"SMS is not an incoming SMS - Could not be decoded"});
}

TEST_F(HandyPhoneTest, DecodeTakesThePduAfterTheStatusLineWithoutAnEcho) {
  // A phone that echoes nothing: its reply starts with the line break before "+CMGR: ".
  sim_->SetEcho(false);
  THandyForm& form = Connect();
  form.ui->spnSMSStack->setValue(1);
  QTest::mouseClick(form.ui->btnSmsHolen, Qt::LeftButton);
  ASSERT_EQ(Lines(),
            std::vector<std::string>{"---+CMGR: 0,,23---" + std::string(kTestPdu) + "------OK---"});
  Decode(0);
  EXPECT_EQ(Memo(form.ui->MemoSMS), kTestDecoded);
  // One that starts its reply with the status line itself.
  form.ui->lstSMS->addItem(QString("+CMGR: 1,,23---") + kTestPdu + "------OK---");
  form.ui->MemoSMS->clear();
  Decode(1);
  EXPECT_EQ(Memo(form.ui->MemoSMS), kTestDecoded);
  // A line without "+CMGR: " shows nothing.
  form.ui->lstSMS->addItem("AT+CMGR=5------+CMS ERROR: 321---");
  form.ui->MemoSMS->clear();
  Decode(2);
  EXPECT_EQ(Memo(form.ui->MemoSMS), "");
  EXPECT_TRUE(ui_.Texts().empty());
}

TEST_F(HandyPhoneTest, DeleteRemovesTheSelectedSlotAndReadsAllAgain) {
  THandyForm& form = Connect();
  QTest::mouseClick(form.ui->btnSmsHolen, Qt::LeftButton);
  sim_->ClearLog();
  // No line selected: nothing goes to the phone.
  form.ui->lstSMS->setCurrentRow(-1);
  QTest::mouseClick(form.ui->btnDelSMS, Qt::LeftButton);
  EXPECT_TRUE(sim_->LogTexts().empty());

  form.ui->lstSMS->setCurrentRow(1);
  QTest::mouseClick(form.ui->btnDelSMS, Qt::LeftButton);
  EXPECT_FALSE(sim_->Slot(2));
  EXPECT_TRUE(sim_->Slot(1));
  // The slot is read again first: it still holds what its line shows.
  EXPECT_EQ(sim_->LogTexts(), (std::vector<std::string>{"AT+CMGR=2", "AT+CMGD=2", "AT+CMGR=1",
                                                        "AT+CMGR=2", "AT+CMGR=3"}));
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "AT+CMGR=2---+CMS ERROR: 321---");
}

// Delete SMS deletes the slot only while it holds the message its line shows: it reads the
// slot again first. A phone that does not echo and answers one read so late that the next
// slot's line shows that answer must not have the next slot deleted, whose message the user
// never saw.
TEST_F(HandyPhoneTest, DeleteSmsDeletesTheSlotWhoseMessageTheLineShowsOrNothing) {
  const std::string pdus[] = {kTestPdu, kLineFeedPdu,
                              "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37"};
  for (int slot = 1; slot <= 3; ++slot) sim_->SetSlot(slot, 1, pdus[slot - 1]);
  sim_->SetEcho(false);
  THandyForm& form = Connect();
  sim_->AnswerLate({"AT+CMGR=2", 0, 6000});
  QTest::mouseClick(form.ui->btnSmsHolen, Qt::LeftButton);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "");
  ASSERT_NE(lines[2].find(pdus[1]), std::string::npos) << "line 3 should show slot 2's message";

  ui_.Clear();
  sim_->ClearLog();
  form.ui->lstSMS->setCurrentRow(2);
  QTest::mouseClick(form.ui->btnDelSMS, Qt::LeftButton);
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{
                             "Slot 3 does not hold the SMS shown in this line. Nothing was deleted"});
  for (int slot = 1; slot <= 3; ++slot) EXPECT_TRUE(sim_->Slot(slot)) << slot;
  EXPECT_EQ(sim_->LogTexts(), std::vector<std::string>{"AT+CMGR=3"});

  // A line that shows its slot's message: the slot is deleted and every slot read again.
  ui_.Clear();
  sim_->ClearLog();
  form.ui->lstSMS->setCurrentRow(0);
  QTest::mouseClick(form.ui->btnDelSMS, Qt::LeftButton);
  EXPECT_TRUE(ui_.Texts().empty()) << ui_.Texts().front();
  EXPECT_FALSE(sim_->Slot(1));
  EXPECT_TRUE(sim_->Slot(2) && sim_->Slot(3));
  EXPECT_EQ(sim_->LogTexts(), (std::vector<std::string>{"AT+CMGR=1", "AT+CMGD=1", "AT+CMGR=1",
                                                        "AT+CMGR=2", "AT+CMGR=3"}));
  // A line that shows no message: nothing to delete, nothing sent.
  ASSERT_EQ(Lines()[0], "---+CMS ERROR: 321---");
  sim_->ClearLog();
  form.ui->lstSMS->setCurrentRow(0);
  QTest::mouseClick(form.ui->btnDelSMS, Qt::LeftButton);
  EXPECT_TRUE(sim_->LogTexts().empty());
  EXPECT_TRUE(ui_.Texts().empty());
}

// The PIN goes out as typed, the forms some phones need included (quoted, PIN after PUK);
// only what would end the command line or start another is refused: CR, LF, Ctrl-Z, Esc, the
// other control characters (a backspace edits the line) and the separator ';'.
TEST_F(HandyPhoneTest, PinGoesOutAsTypedUnlessItWouldEndOrAddACommand) {
  THandyForm& form = OpenForm();
  // Without a phone Send does nothing.
  form.ui->Edit1->setText("4711");
  QTest::mouseClick(form.ui->Button1, Qt::LeftButton);
  EXPECT_TRUE(ui_.Texts().empty());
  QTest::mouseClick(form.ui->btnKommOpen, Qt::LeftButton);
  struct Case {
    std::string pin;
    bool sent;
  } const cases[] = {
      {"4711", true},
      {"12345678", true},
      {"\"1234\"", true},
      {"12345678,1234", true},
      {"\"12345678\",\"1234\"", true},
      {"123", true},
      {"47 1", true},
      {"4711;+CMGD=1", false},
      {"4711\r", false},
      {"4711\nAT+CMGD=1", false},
      {"4711\x1A", false},
      {"4711\x1B", false},
      {"\b\b\b\b\b\bGD=1", false},
      {"47\t11", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pin);
    sim_->ClearLog();
    ui_.Clear();
    form.ui->Edit1->setText(platform::ToQString(c.pin));
    QTest::mouseClick(form.ui->Button1, Qt::LeftButton);
    if (c.sent) {
      ASSERT_TRUE(sim_->WaitForLines(2, 2000));
      EXPECT_EQ(sim_->LogTexts(),
                (std::vector<std::string>{"AT+CPIN=" + c.pin, "AT+CNMI=0,0,0,0,1"}));
      EXPECT_TRUE(ui_.Texts().empty());
    } else {
      EXPECT_TRUE(sim_->RawReceived().empty()) << sim_->RawReceived();
      EXPECT_EQ(ui_.Texts(),
                std::vector<std::string>{"The PIN must not contain control characters or ';'"});
    }
  }
  EXPECT_TRUE(sim_->Slot(1));
}

TEST_F(HandyPhoneTest, PhoneButtonsWaitForTheRunningOperation) {
  THandyForm& form = Connect();
  Ui::THandyForm& ui = *form.ui;
  std::string during;
  int clicks = 0;
  // While Get all SMS waits, the user clicks Start, Delete and Get all SMS again.
  ui_.OnProcessEvents([&] {
    if (!form.PhoneBusy() || clicks > 20) return;
    ++clicks;
    during = Buttons();
    QTest::mouseClick(ui.btnKommOpen, Qt::LeftButton);
    ui.lstSMS->setCurrentRow(0);
    QTest::mouseClick(ui.btnDelSMS, Qt::LeftButton);
    QTest::mouseClick(ui.btnSmsHolen, Qt::LeftButton);
    EXPECT_TRUE(form.MobilKomm);
  });
  sim_->ClearLog();
  QTest::mouseClick(ui.btnSmsHolen, Qt::LeftButton);
  ui_.OnProcessEvents(nullptr);
  EXPECT_GT(clicks, 0);
  // Only Release stays enabled.
  EXPECT_EQ(during, "01000000");
  EXPECT_TRUE(form.MobilKomm);
  EXPECT_EQ(Lines().size(), 3u);
  EXPECT_EQ(sim_->LogTexts(), (std::vector<std::string>{"AT+CMGR=1", "AT+CMGR=2", "AT+CMGR=3"}));
  EXPECT_EQ(Buttons(), "01111111");
  QTest::mouseClick(ui.btnKommClose, Qt::LeftButton);
  EXPECT_FALSE(form.MobilKomm);
}

// A phone that has gone (unplugged) answers no slot: the reading stops at the first one, with
// the one message of the port.
TEST_F(HandyPhoneTest, AnUnpluggedPhoneCostsTheReadingOneMessage) {
  THandyForm& form = Connect();
  form.ui->spnSMSStack->setValue(5);
  sim_->Unplug();
  ui_.Clear();
  QTest::mouseClick(form.ui->btnSmsHolen, Qt::LeftButton);
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"Com Port write error: -3"});
  EXPECT_EQ(Lines(), std::vector<std::string>{""});
  EXPECT_EQ(Buttons(), "01111111");
}

// A phone operation that waits (a dead phone, a large stack of empty slots, a connect to a
// phone that does not answer) ends at once when Release is pressed or the window is closed:
// no more commands, no more boxes. The phone is released, or the window closed, once the
// operation has unwound.
TEST_F(HandyPhoneTest, ReleaseOrCloseEndsAWaitingOperationAtOnce) {
  enum Start { kGetAllSms, kConnect };
  enum Action { kRelease, kClose };
  struct Case {
    const char* what;
    Start start;
    bool silent;  // the phone stops answering before the operation starts
    int stack;
    Action action;
  } const cases[] = {
      {"dead phone, Release", kGetAllSms, true, 4, kRelease},
      {"dead phone, close", kGetAllSms, true, 4, kClose},
      {"999 empty slots, Release", kGetAllSms, false, 999, kRelease},
      {"999 empty slots, close", kGetAllSms, false, 999, kClose},
      {"a connect the phone does not answer, Release", kConnect, true, 3, kRelease},
      {"a connect the phone does not answer, close", kConnect, true, 3, kClose},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int slot = 1; slot <= 3; ++slot) sim_->ClearSlot(slot);
    sim_->ClearBehaviours();
    THandyForm& form = c.start == kConnect ? OpenForm() : Connect();
    form.ui->spnSMSStack->setValue(c.stack);
    if (c.silent) sim_->SetBehaviour("", {phone::sim::Behaviour::kSilent});
    sim_->ClearLog();
    ui_.Clear();
    uint64_t started = platform::NowMs(), acted = 0;
    size_t boxes_before = 0;
    std::string during;
    ui_.OnProcessEvents([&] {
      if (acted || platform::NowMs() < started + 600) return;
      acted = platform::NowMs();
      during = Buttons();
      boxes_before = ui_.Messages().size();
      if (c.action == kRelease)
        QTest::mouseClick(form.ui->btnKommClose, Qt::LeftButton);
      else
        form.close();
      // Not yet: the operation still has to unwind.
      EXPECT_TRUE(form.MobilKomm);
      EXPECT_TRUE(form.isVisible());
    });
    QTest::mouseClick(c.start == kConnect ? form.ui->btnKommOpen : form.ui->btnSmsHolen,
                      Qt::LeftButton);
    ui_.OnProcessEvents(nullptr);
    uint64_t ended = platform::NowMs();
    ASSERT_GT(acted, 0u) << "the operation ended before the action";
    EXPECT_LT(ended - acted, 1000u) << "the operation went on after the action";
    EXPECT_EQ(during, "01000000");
    EXPECT_EQ(ui_.Messages().size(), boxes_before) << ui_.Texts().back();
    EXPECT_FALSE(form.PhoneBusy());
    if (c.action == kRelease) {
      EXPECT_FALSE(form.MobilKomm);
      EXPECT_EQ(Buttons(), "10000001");
      EXPECT_TRUE(form.isVisible());
      EXPECT_EQ(Memo(form.ui->MemoHersteller), "");
    } else {
      EXPECT_FALSE(form.isVisible());
    }
    // Nothing went to the phone after the action but what was on its way.
    size_t sent = sim_->LogTexts().size();
    platform::SleepMs(300);
    EXPECT_EQ(sim_->LogTexts().size(), sent);
    form_.reset();
  }
}

}  // namespace
}  // namespace handy
