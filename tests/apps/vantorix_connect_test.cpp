// The connect button against the phone simulator: the standard phone's row, the port, the
// probe, and the SIM PIN and network search of the modem model.
#include <QStatusBar>
#include <algorithm>
#include <functional>

#include "vantorix_sim.h"

namespace vantorix {
namespace {

using phone::sim::Behaviour;
using phone::sim::PhoneSimulator;

const std::string kInvalidPin =
    "Invalid mobile PIN|Invalid PIN. Goto general settings, enter mobile PIN, and try again.";
const std::string kPinDigits =
    "Invalid mobile PIN|The mobile PIN must be 4 to 8 digits. Goto general settings, enter mobile "
    "PIN, and try again.";
const std::string kCommError = "Communication error|Error while communicating with mobile";

std::vector<std::string> Then(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct ConnectCase {
  const char* name;
  const char* id;
  const char* pin;
  std::function<void(PhoneSimulator&)> setup;
  // Runs on every pump while the connect waits.
  std::function<void(TMainForm&, PhoneSimulator&)> on_pump;
  std::vector<std::string> boxes;  // "caption|text"; a text ending in ": " is a prefix
  bool connected;
  std::string label;
  std::vector<std::string> commands;  // received, repeated lines folded
  // The status bar's texts on the way, in order (a subsequence of them).
  std::vector<std::string> statuses = {};
};

void NoSetup(PhoneSimulator&) {}

TEST_F(ConnectTest, ConnectsTheStandardPhoneOrSaysWhyNot) {
  const std::vector<std::string> init = kInitCommands;
  const ConnectCase cases[] = {
      {"unknown id",
       "0000000099",
       "",
       NoSetup,
       nullptr,
       {"|Mobile not found in database."},
       false,
       "No mobile found",
       {}},
      {"port does not open",
       "0000000003",
       "",
       NoSetup,
       nullptr,
       {"|Com Port open error: ", "|Could not open COM-port"},
       false,
       "No mobile found",
       {}},
      {"plain phone",
       "0000000001",
       "4711",
       [](PhoneSimulator& sim) { sim.SetPin("4711"); },
       nullptr,
       {},
       true,
       "Test Phone Com1",
       init},
      {"modem with network at once",
       "0000000002",
       "",
       NoSetup,
       nullptr,
       {},
       true,
       "Wavecom Fasttrack Com1",
       Then(init, {"AT+COPS?"})},
      {"modem, PIN accepted",
       "0000000002",
       "4711",
       [](PhoneSimulator& sim) { sim.SetPin("4711"); },
       nullptr,
       {},
       true,
       "Wavecom Fasttrack Com1",
       Then(init, {"AT+COPS?", "AT+CPIN=4711", "AT+COPS?"})},
      {"modem, PIN refused",
       "0000000002",
       "1234",
       [](PhoneSimulator& sim) { sim.SetPin("4711"); },
       nullptr,
       {kInvalidPin},
       false,
       "No mobile found",
       Then(init, {"AT+COPS?", "AT+CPIN=1234", "AT+CPINC"})},
      {"modem, refused with 3 tries left: the search finds the network",
       "0000000002",
       "1234",
       [](PhoneSimulator& sim) { sim.SetNetwork(false); },
       [](TMainForm& form, PhoneSimulator& sim) {
         if (form.SearchRunning) sim.SetNetwork(true);
       },
       {},
       true,
       "Wavecom Fasttrack Com1",
       Then(init, {"AT+COPS?", "AT+CPIN=1234", "AT+CPINC", "AT+COPS?"})},
      {"modem, search cancelled",
       "0000000002",
       "1234",
       [](PhoneSimulator& sim) { sim.SetNetwork(false); },
       [](TMainForm& form, PhoneSimulator&) {
         if (form.SearchRunning && !form.CancelSearch) {
           EXPECT_EQ(form.ui->btnConnect->text(), "Cancel");
           form.ui->btnConnect->click();
         }
       },
       {},
       false,
       "No mobile found",
       Then(init, {"AT+COPS?", "AT+CPIN=1234", "AT+CPINC", "AT+COPS?"})},
      {"modem silent",
       "0000000002",
       "",
       [](PhoneSimulator& sim) { sim.SetBehaviour("AT+COPS", {Behaviour::kSilent}); },
       nullptr,
       {"|An error occured during comunication to handy", kCommError},
       false,
       "No mobile found",
       Then(init, {"AT+COPS?"})},
  };
  for (const ConnectCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim_ = std::make_unique<PhoneSimulator>();
    platform::ScopedEnv com1("KESTROVA_COM1", sim_->DevicePath());
    c.setup(*sim_);
    WriteRegistry("ID", c.id);
    WriteRegistry("Pin", c.pin);
    TMainForm& form = OpenForm();
    std::vector<std::string> statuses;
    QObject::connect(form.ui->StatusBar1, &QStatusBar::messageChanged,
                     [&](const QString& text) { statuses.push_back(text.toStdString()); });
    ui_.Clear();
    if (c.on_pump) ui_.OnProcessEvents([&] { c.on_pump(form, *sim_); });
    form.ui->btnConnect->click();
    ui_.OnProcessEvents(nullptr);

    std::vector<std::string> boxes = Boxes();
    ASSERT_EQ(boxes.size(), c.boxes.size()) << ::testing::PrintToString(boxes);
    for (size_t i = 0; i < boxes.size(); ++i) {
      if (c.boxes[i].ends_with(": "))
        EXPECT_TRUE(boxes[i].starts_with(c.boxes[i])) << boxes[i];
      else
        EXPECT_EQ(boxes[i], c.boxes[i]);
    }
    EXPECT_EQ(form.MobilKomm != nullptr, c.connected);
    EXPECT_EQ(form.ui->lblMobilTel->text().toStdString(), c.label);
    EXPECT_EQ(form.ui->btnConnect->text(), c.connected ? "Disconnect mobile" : "Connect mobile");
    EXPECT_TRUE(form.ui->btnConnect->isEnabled());
    EXPECT_EQ(form.ui->CheckBox4->isChecked(), c.connected);
    EXPECT_EQ(form.ui->CheckBox4->isEnabled(), c.connected);
    EXPECT_FALSE(form.SearchRunning);
    EXPECT_EQ(form.ui->StatusBar1->currentMessage(), c.connected ? "OK" : "No mobile found");
    EXPECT_EQ(Commands(), c.commands);
    auto seen = statuses.begin();
    for (const std::string& status : c.statuses) {
      seen = std::find(seen, statuses.end(), status);
      EXPECT_NE(seen, statuses.end()) << status << " in " << ::testing::PrintToString(statuses);
      if (seen != statuses.end()) ++seen;
    }
    CloseForm();
  }
}

TEST_F(ConnectTest, TheConnectTakesThePhonesRowAndDisconnectClosesThePort) {
  WriteRegistry("ID", "0000000001");
  TMainForm& form = OpenForm();
  form.ui->btnConnect->click();
  ASSERT_NE(form.MobilKomm, nullptr);
  EXPECT_EQ(form.MobilKomm->ComPort, 1);
  EXPECT_EQ(form.MobilKomm->BaudRate, 9600);
  EXPECT_EQ(form.MobilKomm->DataBits, 8);
  EXPECT_EQ(form.MobilKomm->StopBits, 1);
  EXPECT_EQ(form.MobilKomm->Parity, 'N');
  EXPECT_EQ(form.MobilKomm->FlowContr, "None");
  EXPECT_EQ(form.MobilKomm->WaitRec, 20);
  EXPECT_EQ(form.ui->Edit2->text(), "5");
  EXPECT_EQ(form.StackSize, 5);

  // The port is held: a second opener is refused until the disconnect.
  phone::TMobilKomm other;
  other.SetDefaults();
  other.WaitOpen = other.WaitClose = 0;
  EXPECT_FALSE(other.OpenPort());
  other.ClosePort();
  ui_.Clear();

  form.ui->btnConnect->click();
  EXPECT_EQ(form.MobilKomm, nullptr);
  EXPECT_EQ(form.ui->lblMobilTel->text(), "          ");
  EXPECT_EQ(form.ui->btnConnect->text(), "Connect mobile");
  EXPECT_FALSE(form.ui->CheckBox4->isChecked());
  EXPECT_FALSE(form.ui->CheckBox4->isEnabled());
  EXPECT_TRUE(other.OpenPort());
  other.ClosePort();
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
}

TEST_F(ConnectTest, ARowWhoseSerialSettingsDoNotReadIsRefusedNamingTheField) {
  struct Case {
    const char* id;
    const char* field;
  };
  const Case cases[] = {{"0000000004", "baudrate"},
                        {"0000000005", "databits"},
                        {"0000000006", "stopbits"},
                        {"0000000007", "parity"}};
  for (const Case& c : cases) {
    WriteRegistry("ID", c.id);
    TMainForm& form = OpenForm();
    ui_.Clear();
    form.ui->btnConnect->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{std::string("|The mobile's ") + c.field +
                                                 " in the database cannot be used."}));
    EXPECT_EQ(form.MobilKomm, nullptr);
    EXPECT_EQ(form.ui->lblMobilTel->text(), "No mobile found");
    CloseForm();
  }
  EXPECT_TRUE(sim_->LogTexts().empty()) << "a port was opened with settings that do not read";
}

TEST(PhoneSerialSettings, ReadsTheRowsTexts) {
  struct Case {
    const char *baud, *data, *stop, *parity, *bad;
    int32_t baud_rate, data_bits, stop_bits;
    char letter;
  };
  const Case cases[] = {
      {"9600  ", "8   ", "1   ", "N", "", 9600, 8, 1, 'N'},
      {"115200", "7", "2", "E", "", 115200, 7, 2, 'E'},
      {"9600", "5", "1,5 ", "S", "", 9600, 5, 15, 'S'},
      {"", "8", "1", "N", "baudrate", 0, 0, 0, 0},
      {"-9600", "8", "1", "N", "baudrate", 0, 0, 0, 0},
      {" 9600", "8", "1", "N", "baudrate", 0, 0, 0, 0},
      {"9600", "4", "1", "N", "databits", 0, 0, 0, 0},
      {"9600", "8x", "1", "N", "databits", 0, 0, 0, 0},
      {"9600", "8", "1.5", "N", "stopbits", 0, 0, 0, 0},
      {"9600", "8", "0", "N", "stopbits", 0, 0, 0, 0},
      {"9600", "8", "1", " ", "parity", 0, 0, 0, 0},
      {"9600", "8", "1", "n", "parity", 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    TPhoneSerialSettings s;
    EXPECT_EQ(TPhoneSerialSettings::Parse(c.baud, c.data, c.stop, c.parity, s), c.bad)
        << c.baud << "/" << c.data << "/" << c.stop << "/" << c.parity;
    if (*c.bad) continue;
    EXPECT_EQ(s.BaudRate, c.baud_rate);
    EXPECT_EQ(s.DataBits, c.data_bits);
    EXPECT_EQ(s.StopBits, c.stop_bits);
    EXPECT_EQ(s.Parity, c.letter);
  }
}

TEST_F(ConnectTest, APinThatIsNotFourToEightDigitsIsNeverSent) {
  const char* pins[] = {"", "123", "123456789", "12a4", "1234\rATD0123456", "+1234"};
  for (const char* pin : pins) {
    SCOPED_TRACE(::testing::PrintToString(std::string(pin)));
    sim_ = std::make_unique<PhoneSimulator>();
    platform::ScopedEnv com1("KESTROVA_COM1", sim_->DevicePath());
    sim_->SetPin("4711");
    WriteRegistry("ID", "0000000002");
    WriteRegistry("Pin", pin);
    TMainForm& form = OpenForm();
    ui_.Clear();
    form.ui->btnConnect->click();
    EXPECT_EQ(Boxes(), std::vector<std::string>{kPinDigits});
    EXPECT_EQ(Commands(), Then(kInitCommands, {"AT+COPS?"}));
    EXPECT_EQ(form.MobilKomm, nullptr);
    CloseForm();
  }
  EXPECT_TRUE(IsValidPin("1234"));
  EXPECT_TRUE(IsValidPin("12345678"));
}

TEST_F(ConnectTest, APinTheSimRefusedIsNotSentAgainUntilThePinSettingChanges) {
  sim_->SetPin("4711");
  WriteRegistry("ID", "0000000002");
  WriteRegistry("Pin", "1234");
  TMainForm& form = OpenForm();
  for (int attempt = 0; attempt < 3; ++attempt) {
    ui_.Clear();
    form.ui->btnConnect->click();
    EXPECT_EQ(Boxes(), std::vector<std::string>{kInvalidPin}) << "attempt " << attempt;
    EXPECT_EQ(form.MobilKomm, nullptr);
  }
  int sent = 0;
  for (const std::string& line : sim_->LogTexts()) sent += line == "AT+CPIN=1234";
  EXPECT_EQ(sent, 1);

  form.MobilePin = "4711";  // the settings dialog stores a new PIN
  ui_.Clear();
  form.ui->btnConnect->click();
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
  EXPECT_NE(form.MobilKomm, nullptr);
  EXPECT_TRUE(Received("AT+CPIN=4711"));
}

}  // namespace
}  // namespace vantorix
