// Configuration files in the window, end to end on the simulator: save a device, change it,
// compare, write the file back (with and without its calibration), set up a replacement at the
// failed device's number, and every refusal with nothing sent.
#include <QCheckBox>
#include <QTableWidget>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

#include "device/config_file.h"
#include "ui/configuration_dialog.h"
#include "window_on_line.h"

namespace {

const std::string kWritten = "Настройки из файла записаны, прибор их подтвердил";

class ConfigFiles : public WindowOnLine {
  public:
    ConfigFiles() {
        dir = std::filesystem::temp_directory_path() /
              ("vek-config-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        form1.ChooseConfigFile = [this](bool, const QString&) {
            return QString::fromStdString(path);
        };
        form1.RunConfigDialog = [this](ConfigurationDialog& dialog) {
            if (dialog.TakeCalibration && takeCalibration) {
                dialog.TakeCalibration->setChecked(*takeCalibration);
            }
            if (dialog.TakeNumber && takeNumber) dialog.TakeNumber->setChecked(*takeNumber);
            rows.clear();
            for (int row = 0; row < dialog.Table->rowCount(); ++row)
                rows.push_back(dialog.Table->item(row, 0)->text().toStdString());
            return true;
        };
        path = (dir / "device.json").string();
    }
    ~ConfigFiles() override { std::filesystem::remove_all(dir); }

    // Random settings, calibration codes and trims on a device of the simulator.
    void Randomise(int address, std::mt19937& rng) {
        Device(address, [&](vsim::VirtualDevice& d) {
            d.SetByte(4, static_cast<uint8_t>((d.Block()[4] & 0xC0) | (rng() & 0x3F)));
            d.SetWord(5, static_cast<int>(3276 + rng() % 13000));
            d.SetWord(7, static_cast<int>(3276 + rng() % 13000));
            d.SetByte(9, static_cast<uint8_t>((d.Block()[9] & 0xFC) | (rng() & 3)));
            d.SetByte(10, static_cast<uint8_t>((d.Block()[10] & 0xFC) | (rng() & 3)));
            for (size_t word : {0, 2, 11, 13})
                d.SetWord(word, static_cast<int>(rng() % 30000));
            d.SetByte(15, static_cast<uint8_t>(rng()));
            d.SetByte(16, static_cast<uint8_t>(rng()));
        });
    }

    std::filesystem::path dir;
    std::string path;
    // The operator's ticks in the write's dialog; none: the dialog's own choice.
    std::optional<bool> takeCalibration, takeNumber;
    std::vector<std::string> rows;
};

// Both models: saved, changed, written back without and then with the file's calibration.
TEST_F(ConfigFiles, AChangedDeviceIsRestoredFromItsFile) {
    std::mt19937 rng(42);
    for (int address : {1, 2}) {
        SCOPED_TRACE(address);
        Randomise(address, rng);
        ReadDevice(address);
        form1.SaveConfigClick();
        ASSERT_EQ(Texts(), std::vector<std::string>{});
        const std::vector<uint8_t> saved = BlockOf(address);

        Randomise(address, rng);
        form1.InPortClick();
        const std::vector<uint8_t> changed = BlockOf(address);
        const int stored = BlocksStored(address);
        form1.WriteConfigClick();
        EXPECT_EQ(Texts(), std::vector<std::string>{kWritten});
        EXPECT_EQ(BlocksStored(address), stored + 1);
        EXPECT_EQ(BlockOf(address), BlockFromFile(changed, saved, {}));
        recorder.messages.clear();

        takeCalibration = true;
        form1.WriteConfigClick();
        takeCalibration.reset();
        EXPECT_EQ(Texts(), std::vector<std::string>{kWritten});
        EXPECT_EQ(BlockOf(address), saved);
        EXPECT_EQ(form1.Record.DataRead, 1);
        EXPECT_EQ(form1.Record.Changed, 0);
        recorder.messages.clear();
    }
}

// The comparison lists exactly the fields that changed.
TEST_F(ConfigFiles, ComparisonListsTheChangedFields) {
    ReadDevice(1);
    form1.SaveConfigClick();
    Device(1, [](vsim::VirtualDevice& d) {
        d.SetBit(4, vsim::blk::kContactNc1, !(d.Block()[4] & vsim::blk::kContactNc1));
        d.SetWord(13, d.Word(13) + 1);
    });
    form1.InPortClick();
    form1.CompareConfigClick();
    EXPECT_EQ(Texts(), std::vector<std::string>{});
    EXPECT_EQ(rows, (std::vector<std::string>{"Тип контакта 1", "Код АЦП конца шкалы, канал 2"}));

    form1.InPortClick();
    Device(1, [](vsim::VirtualDevice& d) { d.SetWord(13, d.Word(13) - 1); });
    Device(1, [](vsim::VirtualDevice& d) {
        d.SetBit(4, vsim::blk::kContactNc1, !(d.Block()[4] & vsim::blk::kContactNc1));
    });
    form1.InPortClick();
    form1.CompareConfigClick();
    EXPECT_EQ(Texts(), std::vector<std::string>{"Прибор и файл не отличаются"});
}

// "Замена прибора": a spare of the same model takes the failed device's settings and number
// from its file (the dialog's own choice), keeps its own calibration, and says so.
TEST_F(ConfigFiles, ASpareIsSetUpAtTheFailedDevicesNumber) {
    std::mt19937 rng(9);
    Randomise(1, rng);
    ReadDevice(1);
    form1.SaveConfigClick();
    const std::vector<uint8_t> failed = BlockOf(1);
    server.WithLine([](vsim::VirtualLine& line) {
        line.Remove(1);
        line.Add(3, 106)->SetBusyTime(std::chrono::milliseconds(10));
    });
    Randomise(3, rng);
    ReadDevice(3);
    const std::vector<uint8_t> spare = BlockOf(3);
    form1.ReplaceDeviceClick();
    ASSERT_EQ(recorder.messages.size(), 1u);
    const std::string& summary = recorder.messages[0].text;
    EXPECT_EQ(summary.rfind("Прибор на замену работает как устройство 1 (ВЭК-02МЕ):\n", 0), 0u)
        << summary;
    EXPECT_NE(summary.find("\nКоды АЦП шкал и корректировка тока — свои"), std::string::npos);
    EXPECT_EQ(form1.ui->CBoxUstr->currentText(), "1");
    EXPECT_EQ(BlockOf(1), BlockFromFile(spare, failed, {false, true}));
}

// A write from a file that the device does not confirm is no success: the write's own report
// only, and the record keeps the file's settings for a repeat.
TEST_F(ConfigFiles, AnUnconfirmedWriteIsNoSuccess) {
    std::mt19937 rng(1);
    ReadDevice(1);
    form1.SaveConfigClick();
    Randomise(1, rng);
    form1.InPortClick();
    Device(1, [](vsim::VirtualDevice& d) { d.SetBusyTime(std::chrono::seconds(5)); });
    form1.WriteConfigClick();
    EXPECT_EQ(Texts(), std::vector<std::string>{"устройство 1 " + server.PortPath() +
                                                " Идет запись базы данных. Ждите."});
    EXPECT_EQ(form1.Record.Changed, 1);
}

// Each refusal says why and sends no block.
TEST_F(ConfigFiles, RefusalsSendNothing) {
    ReadDevice(2);
    form1.SaveConfigClick();  // a ВЭК-01МЕ's file
    const std::string file105 = path;
    struct Case {
        const char* what;
        void (*prepare)(ConfigFiles&);
        std::string message;  // its start
    };
    const Case cases[] = {
        {"another model", [](ConfigFiles& t) { t.ReadDevice(1); },
         "В файле ВЭК-01МЕ, прибор — ВЭК-02МЕ"},
        {"a damaged file",
         [](ConfigFiles& t) {
             t.ReadDevice(2);
             std::ofstream(t.path) << "{\"format\": \"vek-serv-configuration\"";
         },
         "Файл не принят:\n"},
        {"the file's number occupied",
         [](ConfigFiles& t) {
             t.ReadDevice(1);
             DeviceConfiguration c;
             c.type = kTypeVek02;
             c.version = 1;
             c.block = t.BlockOf(1);
             c.block[17] = 1;  // number 2: the ВЭК-01МЕ's
             c.deviceNumber = 1;
             ASSERT_EQ(SaveConfiguration(t.path, c), std::nullopt);
             t.takeNumber = true;
         },
         "Номер 2 уже занят другим устройством."},
        {"no device read",
         [](ConfigFiles& t) {
             t.form1.ui->CBoxUstr->setCurrentIndex(4);
             t.form1.CBoxUstrClick(4);
         },
         "Нет данных о приборе"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        path = file105;
        takeNumber.reset();
        c.prepare(*this);
        recorder.messages.clear();
        form1.WriteConfigClick();
        ASSERT_EQ(recorder.messages.size(), 1u);
        EXPECT_EQ(recorder.messages[0].text.rfind(c.message, 0), 0u) << recorder.messages[0].text;
        EXPECT_EQ(BlocksStored(1) + BlocksStored(2), 0);
    }

    // Unsent edits are no device to save.
    ReadDevice(1);
    Choose(form1.ui->CBoxTipK1, 1 - form1.ui->CBoxTipK1->currentIndex());
    form1.SaveConfigClick();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text.rfind("Данные были изменены и не переданы", 0), 0u);
}

}  // namespace
