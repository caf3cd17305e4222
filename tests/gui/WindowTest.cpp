// The main window without a device: start-up per command line, the
// remembered options, the port list, Help and About, and the firmware file
// commands.
#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <filesystem>
#include <fstream>

#include "bsl/BuiltInImage.h"
#include "bsl/ZuroBSLHost.h"
#include "gui/HelpAbout.h"
#include "tests/gui/GuiFixture.h"

namespace zuro::test {
namespace {

std::string Text(const QLabel* label) {
  return label->text().toStdString();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// --- Start-up ------------------------------------------------------------------

struct StartCase {
  QStringList args;
  bool rep;
  bool factory;
};

class StartUpTest : public GuiTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartUpTest, CommandLineSetsModesMenusAndTheFirstTimer) {
  const StartCase& c = GetParam();
  auto w = Open(c.args);
  EXPECT_EQ(w->Options().repMode, c.rep);
  EXPECT_EQ(w->Options().factoryMode, c.factory);
  EXPECT_EQ(w->OpenFirmwareFile1->isEnabled(), c.rep);
  EXPECT_TRUE(w->DontEraseData1->isVisible());
  EXPECT_FALSE(w->DontEraseData1->isChecked());
  EXPECT_FALSE(w->DumpFirmwareImage1->isVisible());
  EXPECT_FALSE(w->PromptforSerialNumber1->isVisible());
  EXPECT_FALSE(w->SetDigitalSensorTo1->isVisible());
  // The Du70 carries the erase warning: it comes first unless a mode is set,
  // and then the version check comes at once.
  EXPECT_EQ(w->timerEraseWarn.isActive(), !c.rep);
  EXPECT_EQ(w->tWebCheck.isActive(), c.rep);
  EXPECT_EQ(w->timerEraseWarn.interval(), 500);
  EXPECT_FALSE(w->timerConstructorErrors.isActive());
  EXPECT_TRUE(w->Options().verboseLog);
  EXPECT_TRUE(w->VerboseErrorFile1->isChecked());
  EXPECT_FALSE(w->VerboseErrorFile1->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, StartUpTest,
    ::testing::Values(StartCase{{}, false, false}, StartCase{{"-rep"}, true, false},
                      StartCase{{"-factory"}, true, true},
                      StartCase{{"-rep", "-factory"}, true, true},
                      StartCase{{"-FACTORY"}, false, false}, StartCase{{"-Rep"}, false, false},
                      StartCase{{"/rep"}, false, false}, StartCase{{"/factory"}, false, false},
                      StartCase{{"rep", "--rep", "-rep=1"}, false, false}));

TEST_F(GuiTest, StartUpTextsNameTheDu70AndItsImage) {
  auto w = Open();
  EXPECT_EQ(w->windowTitle().toStdString(), "Du70 Firmware Updater");
  EXPECT_EQ(QApplication::applicationDisplayName().toStdString(), "Du70 Updater");
  EXPECT_EQ(w->About1->text().toStdString(), "About Du70 Firmware Updater");
  EXPECT_EQ(Text(w->userText1), "This utility updates Du70 firmware to");
  EXPECT_EQ(Text(w->userText2), "Du70 2.30");
  EXPECT_EQ(Text(w->commLabel), "Connect to Du70 with Comm Port");
  EXPECT_EQ(Text(w->lblConnect), "Connect Du70 to computer comm port.");
  EXPECT_FALSE(w->statusText->isVisible());
  EXPECT_FALSE(w->newSNstr->isVisible());
  EXPECT_EQ(w->newSNstr->maxLength(), 15);
  EXPECT_TRUE(w->btnStart->isDefault());
  EXPECT_EQ(w->session()->versionFinderPath, "/versionfinder/Du70-Firmware.html");
  // The data folder is the per-user data folder + Brenvik/ZuroBSL, made at start.
  const std::string folder = tempDir_ + "/data/Brenvik/ZuroBSL";
  EXPECT_EQ(w->Options().dataFolder, folder);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(w->Options().errorFileName, folder + "/Du70 Firmware Updater.errors.txt");
  // Fixed size, at least the designed client area.
  EXPECT_EQ(w->minimumSize(), w->maximumSize());
  EXPECT_GE(w->width(), kClientWidth);
  EXPECT_GE(w->height(), kClientHeight);
  // Everything that appears later (the status line, the new serial number)
  // has its room from the start: the fixed size never squeezes the window.
  w->statusText->setText("Successfully updated firmware in 125 seconds.");
  w->statusText->setVisible(true);
  w->PromptforSerialNumber1->trigger();
  QApplication::processEvents();
  EXPECT_LE(w->layout()->totalMinimumSize().height(), w->height());
  EXPECT_LE(w->statusText->sizeHint().width(), w->statusText->width());
}

TEST_F(GuiTest, SensorTargetStartsOnTypeAndFactoryShowsItsMenu) {
  auto plain = Open({}, SensorTarget());
  EXPECT_TRUE(plain->Options().sensorTarget);
  EXPECT_EQ(plain->session()->sensorTypeCode, 123);
  EXPECT_EQ(Text(plain->commLabel), "Connect to Vantorix and Digital Sensor with Comm Port");
  EXPECT_EQ(Text(plain->lblConnect), "Connect Vantorix to computer comm port.");
  EXPECT_FALSE(plain->SetDigitalSensorTo1->isVisible());
  plain->close();

  auto factory = Open({"-factory"}, SensorTarget());
  EXPECT_TRUE(factory->SensorTypeSeparator->isVisible());
  EXPECT_TRUE(factory->SetDigitalSensorTo1->isVisible());
  EXPECT_FALSE(factory->SetDigitalSensorTo1->isEnabled());
  int shown = 0;
  for (QAction* item : factory->sensorTypeItems) {
    const std::string text = item->text().toStdString();
    const bool hidden = text == "HT-6" || text == "WV-8" || text == "SKYRA 22";
    EXPECT_EQ(item->isVisible(), !hidden) << text;
    shown += item->isVisible() ? 1 : 0;
    EXPECT_FALSE(item->isChecked()) << text; // type 123 has no item
  }
  EXPECT_EQ(shown, 14);
  // Choosing one type and then another leaves only the second checked.
  QAction* plu3 = factory->sensorTypeItems[13];
  QAction* k4e = factory->sensorTypeItems[0];
  ASSERT_EQ(plu3->text().toStdString(), "PLU-3");
  plu3->trigger();
  k4e->trigger();
  EXPECT_FALSE(plu3->isChecked());
  EXPECT_TRUE(k4e->isChecked());
  EXPECT_EQ(factory->session()->sensorTypeCode, 122);
  EXPECT_EQ(Text(factory->userText1),
            "This utility updates " + factory->Options().targetName + " firmware to");
}

TEST_F(GuiTest, DamagedBuiltInImageIsToldAndTheWindowCloses) {
  BuiltInImage damaged = *Du70Target().image;
  damaged.textSum += 1; // the figures recorded at build time no longer match
  UpdateTarget target = Du70Target();
  target.image = &damaged;
  auto w = Open({"-rep"}, target);
  EXPECT_TRUE(w->timerConstructorErrors.isActive());
  ASSERT_TRUE(RunUntil([&] { return !w->isVisible(); }, 5000));
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].caption, "Application Launch Error");
  EXPECT_EQ(boxes_.seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes_.seen[0].text, "The internal firware file for this Du70 Firmware Updater is "
                                 "corrupt.\n\nPlease restart this application and try again.");
  EXPECT_NE(
      ReadFile(w->Options().errorFileName).find("HostBSL class got an constructor error (-101)"),
      std::string::npos);
}

TEST_F(GuiTest, EscapeIsTheCloseButtonAndOnlyWhenCloseIsEnabled) {
  auto w = Open({"-rep"});
  w->btnClose->setEnabled(false);
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(w.get(), &escape);
  EXPECT_TRUE(w->isVisible());
  w->btnClose->setEnabled(true);
  QApplication::sendEvent(w.get(), &escape);
  EXPECT_FALSE(w->isVisible());
}

// --- Remembered options ------------------------------------------------------------

TEST_F(GuiTest, OptionsAndPortAreWrittenAtCloseAndReadAtTheNextStart) {
  {
    auto w = Open();
    EXPECT_FALSE(w->Options().findAllPorts);
    EXPECT_FALSE(w->portRemembered());
    EXPECT_EQ(w->Options().commPortName, "/dev/ttyACM0"); // sorted: ttyACM before ttyUSB
    w->ForceFindAllCommPorts1->trigger();
    EXPECT_TRUE(w->Options().findAllPorts);
    w->cbCommPortChange(2);
    EXPECT_EQ(w->Options().commPortName, "/dev/ttyUSB1");
    w->btnClose->click();
    EXPECT_FALSE(w->isVisible());
  }
  const std::string stored = SettingsFileText();
  EXPECT_NE(stored.find("FindAllComms=true"), std::string::npos) << stored;
  EXPECT_NE(stored.find("VerboseLog=true"), std::string::npos) << stored;
  EXPECT_NE(stored.find("CommPort=/dev/ttyUSB1"), std::string::npos) << stored;

  auto again = Open();
  EXPECT_TRUE(again->Options().findAllPorts);
  EXPECT_TRUE(again->ForceFindAllCommPorts1->isChecked());
  EXPECT_TRUE(again->portRemembered());
  EXPECT_EQ(again->Options().commPortName, "/dev/ttyUSB1");
  EXPECT_EQ(again->portIndex(), 2);
  EXPECT_EQ(again->cbCommPort->currentIndex(), 2);
}

TEST_F(GuiTest, RememberedPortThatIsGoneGivesWayToTheFirst) {
  {
    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    settings.setValue(kSettingCommPort, "/dev/ttyUSB7");
    settings.setValue(kSettingVerboseLog, false); // written, never read
  }
  auto w = Open();
  EXPECT_TRUE(w->portRemembered());
  EXPECT_TRUE(w->Options().verboseLog);
  EXPECT_EQ(w->cbCommPort->currentIndex(), 0);
  EXPECT_EQ(w->Options().commPortName, "/dev/ttyACM0");
  w->Exit1->trigger(); // idle: the guard lets the window close at once
  EXPECT_FALSE(w->isVisible());
  EXPECT_NE(SettingsFileText().find("CommPort=/dev/ttyACM0"), std::string::npos);
}

TEST_F(GuiTest, CloseBoxWhenIdleClosesAndSaves) {
  auto w = Open();
  EXPECT_TRUE(w->close());
  EXPECT_TRUE(boxes_.seen.empty());
  EXPECT_NE(SettingsFileText().find("FindAllComms=false"), std::string::npos);
}

// --- Port list --------------------------------------------------------------------

TEST_F(GuiTest, NoPortsDisablesStartUntilOneIsChosen) {
  ports_.devices.clear();
  auto w = Open();
  ASSERT_EQ(w->cbCommPort->count(), 1);
  EXPECT_EQ(w->cbCommPort->itemText(0).toStdString(), "No Comm Ports Found");
  EXPECT_FALSE(w->btnStart->isEnabled());
  EXPECT_EQ(w->Options().commPortName, "");
  // Choosing the placeholder changes nothing.
  w->cbCommPortChange(0);
  EXPECT_FALSE(w->btnStart->isEnabled());
  // A port plugged in shows at the next drop-down; Start waits for the choice.
  ports_.devices = {{"/dev/ttyUSB3", "FT232R USB UART", ""}};
  w->cbCommPort->showPopup();
  w->cbCommPort->hidePopup();
  ASSERT_EQ(w->cbCommPort->count(), 1);
  EXPECT_NE(w->cbCommPort->itemText(0).toStdString().find("/dev/ttyUSB3"), std::string::npos);
  EXPECT_FALSE(w->btnStart->isEnabled());
  EXPECT_EQ(w->Options().commPortName, "");
  w->cbCommPortChange(0);
  EXPECT_TRUE(w->btnStart->isEnabled());
  EXPECT_EQ(w->Options().commPortName, "/dev/ttyUSB3");
}

TEST_F(GuiTest, NoPortsAtCloseWritesAnEmptyPort) {
  ports_.devices.clear();
  auto w = Open();
  w->btnClose->click();
  EXPECT_NE(SettingsFileText().find("CommPort="), std::string::npos);
  EXPECT_EQ(SettingsFileText().find("CommPort=/"), std::string::npos);
}

TEST_F(GuiTest, DropDownWithFewerPortsSelectsTheFirstButKeepsTheChoice) {
  auto w = Open();
  w->cbCommPortChange(2);
  ports_.devices.resize(1);
  w->cbCommPortDropDown();
  EXPECT_EQ(w->cbCommPort->count(), 1);
  EXPECT_EQ(w->cbCommPort->currentIndex(), 0);
  EXPECT_EQ(w->Options().commPortName, "/dev/ttyUSB1");
}

TEST_F(GuiTest, GivenPortIsListedAndChosenOverTheRememberedOne) {
  {
    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    settings.setValue(kSettingCommPort, "/dev/ttyUSB0");
  }
  auto w = Open({"--port", "/dev/pts/77"});
  EXPECT_EQ(w->Options().commPortName, "/dev/pts/77");
  EXPECT_EQ(w->cbCommPort->currentText().toStdString(), "/dev/pts/77");
  EXPECT_EQ(w->cbCommPort->count(), 4);
  EXPECT_TRUE(w->btnStart->isEnabled());
  // It stays in the list when the list is refreshed.
  w->cbCommPortDropDown();
  EXPECT_EQ(w->cbCommPort->currentText().toStdString(), "/dev/pts/77");

  ports_.devices.clear();
  auto alone = Open({"--port=/dev/pts/78"});
  EXPECT_EQ(alone->cbCommPort->count(), 1);
  EXPECT_EQ(alone->Options().commPortName, "/dev/pts/78");
  EXPECT_TRUE(alone->btnStart->isEnabled());
}

// --- Help and About ---------------------------------------------------------------

TEST_F(GuiTest, HelpGuideForTheDu70IsShownPlainAndLogged) {
  auto w = Open();
  w->Help2->trigger();
  ASSERT_EQ(boxes_.seen.size(), 1u);
  const SeenBox& box = boxes_.seen[0];
  EXPECT_EQ(box.caption, "Help");
  EXPECT_EQ(box.icon, QMessageBox::NoIcon);
  EXPECT_EQ(box.text.rfind("The Du70 Firmware Updater replaces the firmware that operates your "
                           "Du70.\nFollowing the simple steps will help ensure a successful "
                           "update.\n\nWARNING: Updating the firmware in your Du70 will erase any "
                           "stored measurement data.\nPlease download any measurement data "
                           "stored in your Du70 that you want to save.\n\nBefore beginning",
                           0),
            0u)
      << box.text;
  EXPECT_NE(box.text.find("Step 1. Connect your Du70 to an available serial communication port "
                          "on your computer.\n\n"),
            std::string::npos);
  EXPECT_NE(box.text.find("WARNING: Do not quit the Du70 Firmware Updater while"),
            std::string::npos);
  EXPECT_NE(box.text.back(), '\n'); // the contact block ends without a line break
  const std::string log = ReadFile(w->Options().errorFileName);
  EXPECT_NE(log.find("ErrorOK Told User:: The Du70 Firmware Updater replaces"), std::string::npos);
  EXPECT_NE(log.find("Please verify your Du70 configuration is correct. Enjoy"), std::string::npos);
}

TEST(HelpText, KindWithoutEraseWarningAndSensorTargetStepOne) {
  const std::string plain = HelpText("Lq7", "Lq7 Firmware Updater", false, false);
  EXPECT_NE(plain.find("successful update.\n\nBefore beginning these steps"), std::string::npos);
  EXPECT_EQ(plain.find("WARNING: Updating"), std::string::npos);
  const std::string sensor = HelpText("K4E Sensor", "K4E Sensor Firmware Updater", false, true);
  EXPECT_NE(sensor.find("Step 1. Connect your Vantorix and K4E Sensor to an available serial "
                        "communication port \non your computer.\n\n"),
            std::string::npos);
}

TEST_F(GuiTest, AboutNamesTheEngineAndProtocolVersions) {
  auto w = Open();
  w->About1->trigger();
  w->About1->trigger(); // composed again at each opening
  ASSERT_EQ(boxes_.seen.size(), 2u);
  const SeenBox& box = boxes_.seen[1];
  EXPECT_EQ(box.caption, "About Du70 Firmware Updater");
  EXPECT_EQ(box.icon, QMessageBox::Information);
  EXPECT_EQ(box.text.rfind("Firmware Updater for Linux\n\nZuroBSL Engine version 1.16.0.72\n"
                           "Communication Protocol version 1.8.4\n\n\xC2\xA9 ",
                           0),
            0u)
      << box.text;
}

TEST(AboutText, EngineVersionWithoutInformationOrWithoutFileVersion) {
  EXPECT_EQ(EngineVersionText({}), "");
  EXPECT_EQ(EngineVersionText({true, std::nullopt}), "Unknown");
  EXPECT_EQ(EngineVersionText(BuiltProgramVersion()), "1.16.0.72");
  EXPECT_NE(AboutText("", "Linux").find("ZuroBSL Engine version \nCommunication"),
            std::string::npos);
  EXPECT_NE(AboutText("Unknown", "Linux").find("ZuroBSL Engine version Unknown\n"),
            std::string::npos);
}

// --- Firmware file commands ---------------------------------------------------------

class FirmwareFileTest : public GuiTest {
protected:
  /// Answers the file dialogs with the queued paths.
  void Choose(TfrmMain& w) {
    w.SetFileChooser([this](FileChoice choice) {
      chosen.push_back(choice);
      if (paths.empty()) {
        return QString();
      }
      QString path = QString::fromStdString(paths.front());
      paths.pop_front();
      return path;
    });
  }
  std::deque<std::string> paths;
  std::vector<FileChoice> chosen;
};

/// A copy of the committed Du70 TI-TXT file under `name` in the test folder.
std::string CopyOfDu70File(const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name;
  std::filesystem::copy_file(std::string(ZURO_SOURCE_DIR) + "/firmware/du70-2.30.txt", path);
  return path;
}

TEST_F(FirmwareFileTest, ValidFileRetargetsTheWindowToItsNameAndVersion) {
  auto w = Open({"-rep"});
  Choose(*w);
  paths = {CopyOfDu70File(tempDir_, "Du70 2.31.txt")};
  w->btnStart->setEnabled(false);
  w->UpdateFirmware1->setEnabled(false);
  w->OpenFirmwareFile1->trigger();
  EXPECT_TRUE(boxes_.seen.empty()) << (boxes_.seen.empty() ? "" : boxes_.seen[0].text);
  EXPECT_EQ(Text(w->userText2), "Du70 2.31");
  EXPECT_EQ(w->session()->builtInFirmwareVersion, 231u);
  EXPECT_EQ(Text(w->userText1), "This utility updates Du70 firmware to");
  EXPECT_EQ(Text(w->commLabel), "Connect to Du70 with Comm Port");
  EXPECT_EQ(Text(w->lblConnect), "Connect Du70 to computer comm port.");
  EXPECT_EQ(w->Options().targetName, "Du70");
  EXPECT_TRUE(w->btnStart->isEnabled());
  EXPECT_TRUE(w->UpdateFirmware1->isEnabled());
  EXPECT_FLOAT_EQ(w->session()->writeProgressStep,
                  35328.0f / static_cast<float>(w->session()->Host().imageTextLength()));
  EXPECT_EQ(chosen, std::vector<FileChoice>{FileChoice::kOpenFirmware});
}

TEST_F(FirmwareFileTest, FileWithoutKindInItsNameStillTargetsTheDu70) {
  auto w = Open({"-factory"});
  Choose(*w);
  paths = {CopyOfDu70File(tempDir_, "firmware.txt")};
  w->OpenFirmwareFile1Click();
  EXPECT_TRUE(boxes_.seen.empty());
  EXPECT_EQ(w->Options().targetName, "Du70");
  EXPECT_EQ(Text(w->userText2), "firmware");
}

TEST_F(FirmwareFileTest, DumpWritesTheImageAndSaysNothing) {
  auto w = Open();
  Choose(*w);
  const std::string file = tempDir_ + "/image.txt";
  paths = {file};
  w->DumpFirmwareImage1Click(); // the hidden command, as Ctrl+Alt+D reaches it
  EXPECT_TRUE(boxes_.seen.empty());
  const std::string dump = ReadFile(file);
  EXPECT_EQ(dump.rfind("@", 0), 0u);
  EXPECT_NE(dump.find("\n@FFE0\n"), std::string::npos);
  EXPECT_NE(ReadFile(w->Options().errorFileName).find("BSLWriteTIFile wrote file " + file),
            std::string::npos);
}

TEST_F(FirmwareFileTest, InvalidFileIsRefusedAndTheBuiltInImageStays) {
  auto w = Open({"-rep"});
  Choose(*w);
  const std::string bad = tempDir_ + "/bad.txt";
  std::ofstream(bad) << "@C000\n31 40 00 0A\n"; // no closing "q"
  paths = {bad, tempDir_ + "/missing.txt"};
  w->OpenFirmwareFile1Click();
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].caption, "File Error");
  EXPECT_EQ(boxes_.seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes_.seen[0].text, "The file \"bad.txt\" is not a valid firmware file.\n"
                                 "Please choose a new firmware file to open.");
  EXPECT_EQ(Text(w->userText2), "Du70 2.30");
  EXPECT_EQ(w->session()->builtInFirmwareVersion, 230u);
  // A file that cannot be read names its error number.
  w->OpenFirmwareFile1Click();
  ASSERT_EQ(boxes_.seen.size(), 2u);
  EXPECT_EQ(boxes_.seen[1].text.rfind("The Du70 Firmware Updater could not opening "
                                      "\"missing.txt\".\nPlease try again.\nError -",
                                      0),
            0u)
      << boxes_.seen[1].text;
}

TEST_F(FirmwareFileTest, OpenIsUnavailableWithoutAModeAndCancelDoesNothing) {
  auto w = Open();
  Choose(*w);
  w->OpenFirmwareFile1->trigger();
  w->OpenFirmwareFile1Click();
  EXPECT_TRUE(chosen.empty());
  auto rep = Open({"-rep"});
  Choose(*rep);
  rep->OpenFirmwareFile1Click(); // the dialog is cancelled
  EXPECT_EQ(chosen.size(), 1u);
  EXPECT_TRUE(boxes_.seen.empty());
  EXPECT_EQ(Text(rep->userText2), "Du70 2.30");
}

TEST_F(FirmwareFileTest, DumpIntoAMissingFolderReportsTheError) {
  auto w = Open();
  Choose(*w);
  paths = {tempDir_ + "/no/such/folder/image.txt"};
  w->DumpFirmwareImage1Click();
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].caption, "Error");
  EXPECT_EQ(boxes_.seen[0].icon, QMessageBox::Warning);
  EXPECT_EQ(boxes_.seen[0].text, "Error saving firmware image: -2");
}

} // namespace
} // namespace zuro::test
