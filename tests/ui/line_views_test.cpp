// The exchange monitor and the trend on the simulator's line: what the monitor lists is what
// the line carried, and every completed read puts the values the main window shows into the
// trend.
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeView>
#include <cmath>
#include <fstream>
#include <mutex>

#include "common/saved_text.h"
#include "device/conversions.h"
#include "scan_to_end.h"
#include "ui/Obrlistdevice.h"
#include "ui/exchange_monitor.h"
#include "ui/trend_window.h"
#include "ui_Obrlistdevice.h"
#include "window_on_line.h"

namespace {

using Direction = ExchangeFrame::Direction;

class LineViews : public WindowOnLine {
  public:
    LineViews() {
        server.log = [this](const std::string& line) {
            // "hh:mm:ss.mmm rx 01 11 ..  (note)": direction and bytes only
            std::string text = line.substr(line.find(' ') + 1);
            std::lock_guard lock(loggedMutex);
            logged.push_back(text.substr(0, text.find("  (")));
        };
    }
    ExchangeMonitor& Monitor() { return *form1.findChild<ExchangeMonitor*>("FormMonitor"); }
    TrendWindow& Trend() { return *form1.findChild<TrendWindow*>("FormTrend"); }
    void CrcFault(int address, bool on) {
        Device(address, [&](vsim::VirtualDevice& d) { d.faults.badCrc = on; });
    }

    std::mutex loggedMutex;
    std::vector<std::string> logged;  // "rx ..." requests, "tx ..." replies, as the line saw them
    QTemporaryDir dir;
};

// A read, a write, a failing polling tick and a scan of the list, through the window's
// commands: the monitor lists each request and each reply as the line carried them, with the
// verdicts, and saves them so that they read back.
TEST_F(LineViews, MonitorListsWhatTheLineCarried) {
    form1.MonitorClick();
    ExchangeMonitor& monitor = Monitor();
    ASSERT_TRUE(monitor.isVisible());
    EXPECT_EQ(form1.Link.Observer, &monitor.Log());

    ReadDevice(1);
    form1.Record.Changed = 1;
    ASSERT_TRUE(form1.OutPortClick());
    QTest::qWait(50);  // the device stores the block
    CrcFault(1, true);
    form1.BtnPuskTimerClick();
    form1.Timer1Timer();  // fails, stops polling
    CrcFault(1, false);
    TFormDevice list(form1.Link);
    list.ui->CBoxUstr->setCurrentIndex(2);
    ScanToEnd(list, true);  // 1 and 2 answer, 3 is silent
    QTest::qWait(50);

    const auto& frames = monitor.Log().Frames();
    std::vector<std::string> seen;
    std::string verdicts;  // a letter a reply: o right, c checksum error, n none
    for (const ExchangeFrame& f : frames) {
        if (f.direction == Direction::Request) seen.push_back("rx " + HexText(f.bytes));
        if (f.direction == Direction::Reply && !f.bytes.empty())
            seen.push_back("tx " + HexText(f.bytes));
        if (f.direction == Direction::Reply) {
            verdicts += f.verdict == "ответ верен"                ? 'o'
                        : f.verdict == "ошибка контрольной суммы" ? 'c'
                        : f.verdict == "нет ответа"               ? 'n'
                                                                  : '?';
        }
    }
    {
        std::lock_guard lock(loggedMutex);
        ASSERT_EQ(seen.size(), logged.size());
        for (size_t i = 0; i < logged.size(); ++i) {
            // The link reads an exception or a bad reply only as far as it needs.
            EXPECT_EQ(logged[i].rfind(seen[i], 0), 0u) << i << ": " << logged[i];
        }
    }
    // The read (17, 68, 71); the write's identity checks and confirmation (the block itself is
    // not answered); the tick's 17 with a bad checksum on each of the link's ten attempts; the
    // list: 1 and 2 answer,
    // 3 is silent on its two attempts.
    EXPECT_EQ(verdicts, "oooooooo" + std::string(10, 'c') + "oonn");

    // The list shows them once the window has refreshed, a failed reply in red.
    monitor.Refresh();
    QAbstractItemModel* model = monitor.FrameView->model();
    ASSERT_EQ(model->rowCount(), static_cast<int>(frames.size()));
    int bad = 0;
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 5).data().toString() != "ошибка контрольной суммы") continue;
        EXPECT_EQ(model->index(row, 5).data(Qt::ForegroundRole).value<QColor>(),
                  QColor(0xcc, 0, 0));
        EXPECT_EQ(model->index(row, 2).data().toString(), "1");
        EXPECT_EQ(model->index(row, 3).data().toString(), "17");
        EXPECT_EQ(model->index(row, 4).data(Qt::ToolTipRole), model->index(row, 4).data());
        ++bad;
    }
    EXPECT_EQ(bad, std::count(verdicts.begin(), verdicts.end(), 'c'));
    EXPECT_TRUE(monitor.LabCount->text().startsWith(QString("Кадров: %1 ").arg(frames.size())));

    // Saved, it reads back frame for frame; a file that cannot be written says so.
    const QString path = dir.filePath("обмен.txt");
    ASSERT_TRUE(monitor.SaveTo(path));
    std::ifstream file(QFile::encodeName(path).toStdString());
    const std::vector<ExchangeFrame> back = ExchangeLog::Load(file);
    ASSERT_EQ(back.size(), frames.size());
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].bytes, frames[i].bytes);
        EXPECT_EQ(back[i].verdict, frames[i].verdict);
        EXPECT_EQ(back[i].timeNs, monitor.Log().WallMs(frames[i]) * 1'000'000);
    }
    EXPECT_FALSE(monitor.SaveTo(dir.filePath("нет/обмен.txt")));
    ASSERT_EQ(recorder.messages.size(), 2u);  // the failed tick's report, then the file's
    EXPECT_EQ(recorder.messages[1].text.rfind(
                  "Не удалось записать файл\n" + dir.filePath("нет/обмен.txt").toStdString(), 0),
              0u);

    // Paused, it records nothing; cleared, it is empty.
    monitor.BtnPause->click();
    const size_t before = frames.size();
    form1.InPortClick();
    EXPECT_EQ(frames.size(), before);
    monitor.BtnPause->click();
    monitor.BtnClear->click();
    EXPECT_EQ(model->rowCount(), 0);
    form1.InPortClick();
    monitor.Refresh();
    EXPECT_EQ(model->rowCount(), 6);

    // Closing the main window takes its own windows with it.
    form1.TrendClick();
    form1.close();
    EXPECT_FALSE(monitor.isVisible());
    EXPECT_FALSE(Trend().isVisible());
}

// Polling, one point a tick on each channel with the values the window shows; a failed read
// adds none; another device starts a new trend, and so does another port; the points saved
// as CSV read back.
TEST_F(LineViews, TrendTakesEveryReadAsShown) {
    form1.TrendClick();
    TrendWindow& trend = Trend();
    ASSERT_TRUE(trend.isVisible());
    trend.grab();  // paints with no points

    struct Step {
        int device;
        double kpa1, kpa2;  // put on the inputs before the read
        bool fails;         // every reply with a bad checksum
        int dropEvery = 0;  // every Nth reply lost: the resends carry the read through
    };
    const Step steps[] = {
        {1, 30, 70, false},    {1, 45.5, 60, false}, {1, 45.5, 60, true},  // bad checksum
        {1, 90, 20, false, 2}, {2, 40, 0, false},  // the one-channel device: a new trend
        {2, 55, 0, false},
    };
    const auto& samples = form1.Trend.Samples();
    ReadDevice(1);
    form1.BtnPuskTimerClick();
    size_t expectedCount = 1;
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.device << " " << s.kpa1);
        if (s.device != form1.Record.DeviceNumber + 1) {
            ReadDevice(s.device);
            expectedCount = 1;
            form1.BtnPuskTimerClick();
        }
        Device(s.device, [&](vsim::VirtualDevice& d) {
            d.SetPressure(1, s.kpa1);
            if (d.Channels() == 2) d.SetPressure(2, s.kpa2);
            d.faults.badCrc = s.fails;
            d.faults.dropEvery = s.dropEvery;
        });
        form1.Timer1Timer();
        if (s.fails) {
            CrcFault(s.device, false);
            form1.BtnPuskTimerClick();  // the failure stopped polling
            EXPECT_EQ(samples.size(), expectedCount);
            continue;
        }
        ASSERT_EQ(samples.size(), ++expectedCount);
        const TrendSample& last = samples.back();
        EXPECT_EQ(last.deviceNumber + 1, s.device);
        const auto shown = [](double v) { return QString::fromStdString(FixedText(v, 2, ".")); };
        EXPECT_EQ(shown(last.kpa[0]), form1.ui->StRezKPa1->text());
        EXPECT_EQ(shown(last.percent[0]), form1.ui->StRezProc1->text());
        if (s.device == 1) {
            EXPECT_EQ(shown(last.kpa[1]), form1.ui->StRezKPa2->text());
            EXPECT_EQ(shown(last.percent[1]), form1.ui->StRezProc2->text());
        } else {
            EXPECT_TRUE(std::isnan(last.kpa[1]) && std::isnan(last.percent[1]));
        }
        EXPECT_EQ(QString::fromStdString(FixedText(last.setpointPercent[0], 0, "")),
                  form1.ui->Ust1->text());
        trend.grab();
    }
    EXPECT_TRUE(trend.LabSource->text().startsWith("Устройство 2, ВЭК-01МЕ, порт "));

    // Saved as CSV, every point reads back; an empty field is a value the device has not.
    const QString path = dir.filePath("тренд.csv");
    ASSERT_TRUE(trend.SaveTo(path));
    std::ifstream file(QFile::encodeName(path).toStdString());
    const std::vector<TrendSample> back = MeasurementTrend::LoadCsv(file);
    ASSERT_EQ(back.size(), samples.size());
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].timeMs, samples[i].timeMs);
        EXPECT_EQ(back[i].deviceNumber, samples[i].deviceNumber);
        EXPECT_EQ(back[i].typeCode, samples[i].typeCode);
        for (int ch = 0; ch < 2; ++ch) {
            for (auto [a, b] : {std::pair{back[i].kpa[ch], samples[i].kpa[ch]},
                                {back[i].percent[ch], samples[i].percent[ch]},
                                {back[i].setpointPercent[ch], samples[i].setpointPercent[ch]}}) {
                EXPECT_TRUE(a == b || (std::isnan(a) && std::isnan(b))) << a << " " << b;
            }
        }
    }

    // The same device on another port is another trend.
    form1.Trend.Add(samples.back().timeMs + 1000, "/dev/ttyUSB7", form1.Record);
    EXPECT_EQ(samples.size(), 1u);
    trend.BtnClear->click();
    EXPECT_TRUE(samples.empty());
    EXPECT_EQ(trend.LabSource->text(), "Нет измерений");
}

}  // namespace
