// The device list dialog as an operator meets it: a number chosen, "Обновить" pressed, the
// list read back from the grid. On the simulator's line through a pseudo-terminal, and on a
// scripted line where silent addresses and failing ports cost no real time.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTest>
#include <QWheelEvent>
#include <atomic>
#include <map>
#include <stdexcept>

#include "dialog_script.h"
#include "line_server.h"
#include "link/port_list.h"
#include "scan_to_end.h"
#include "support/message_recorder.h"
#include "support/scripted_port.h"
#include "support/short_wait_clock.h"
#include "ui/Obr_vek.h"
#include "ui/Obrlistdevice.h"
#include "ui_Obr_vek.h"
#include "ui_Obrlistdevice.h"

namespace {

// The grid's rows 1..32 as "number type", down to the last row that holds anything; an empty
// row in between shows as " ".
std::vector<std::string> Listed(const TFormDevice& dialog) {
    std::vector<std::string> rows;
    for (int row = 1; row <= 32; ++row)
        rows.push_back((dialog.Cells(0, row) + " " + dialog.Cells(1, row)).toStdString());
    while (!rows.empty() && rows.back() == " ")
        rows.pop_back();
    return rows;
}

void Scan(TFormDevice& dialog, int highest) {
    dialog.ui->CBoxUstr->setCurrentIndex(highest - 1);
    ScanToEnd(dialog, true);
}

using Rows = std::vector<std::string>;

// ---- On the simulator ----

class DeviceListOnLine : public ::testing::Test {
  public:
    DeviceListOnLine() : form1(nullptr, clock), dialog(form1.Link) {
        server.log = [this](const std::string& line) {
            if (line.find(" rx 02 11 ") != std::string::npos) ++requestsToAddress2;
            if (line.find(" rx 01 44 ") != std::string::npos) ++blockReads;
        };
        server.WithLine([](vsim::VirtualLine& line) {
            line.SetTurnaroundMs(1);
            line.Add(1, vsim::kTypeVek02);
            line.Add(2, vsim::kTypeVek01);
            line.Add(3, vsim::kTypeVek02)->faults.badCrc = true;  // answers, never right
            line.Add(4, vsim::kTypeUnsupported);
            line.Add(5, vsim::kTypeKsvl);
        });
        server.Start();
        form1.Link.PortName = server.PortPath();
        EXPECT_EQ(form1.Link.OpenPort(), 0);
        form1.FormDevice = &dialog;
    }

    vsim::LineServer server;
    std::atomic<int> requestsToAddress2{0};
    std::atomic<int> blockReads{0};  // device 1's, as a polling read makes them
    MessageRecorder recorder;
    ShortWaitClock clock;
    TForm1 form1;
    TFormDevice dialog;
};

// Opened twice through the main window's command: the first opening scans, the second finds
// the list and the choice as they were left. Then a device leaves the line: the next scan
// lists the others without gaps, nothing of the first scan stays behind, the now silent
// address is tried with the search's two attempts and the link's own count comes back.
TEST_F(DeviceListOnLine, ListsAnsweringDevicesAndKeepsTheListBetweenOpenings) {
    form1.Link.SetStage1Attempts(7);
    const Rows all = {"1 ВЭК-02МЕ", "2 ВЭК-01МЕ", "4 ", "5 КСВЛ"};
    Rows seenOnReopening;
    QString choiceOnReopening;
    DialogScript script(dialog, {[&](QDialog& d) {
                                     Scan(dialog, 5);
                                     d.reject();
                                 },
                                 [&](QDialog& d) {
                                     seenOnReopening = Listed(dialog);
                                     choiceOnReopening = dialog.ui->CBoxUstr->currentText();
                                     d.reject();
                                 }});
    form1.ListDeviceClick();
    EXPECT_EQ(Listed(dialog), all);
    form1.ListDeviceClick();
    EXPECT_EQ(script.showings, 2);
    EXPECT_EQ(seenOnReopening, all);
    EXPECT_EQ(choiceOnReopening, "5");

    server.WithLine([](vsim::VirtualLine& line) { line.Remove(2); });
    ScanToEnd(dialog);
    EXPECT_EQ(Listed(dialog), (Rows{"1 ВЭК-02МЕ", "4 ", "5 КСВЛ"}));
    EXPECT_EQ(requestsToAddress2.load(), 1 + kSearchStage1Attempts);
    EXPECT_EQ(form1.Link.GetStage1Attempts(), 7);
    EXPECT_FALSE(dialog.ui->ProgressBar1->isVisible());
    EXPECT_TRUE(recorder.messages.empty()) << recorder.messages[0].text;
}

// From the event loop, as the operator meets it: the fast search finds what the specified one
// finds while the dialog paints between its steps; a stop ends a specified search at the next
// address with the rows found so far; the list is saved as CSV.
TEST_F(DeviceListOnLine, SearchRunsFromTheEventLoopAndStops) {
    form1.Link.SetStage1Attempts(7);
    const Rows all = {"1 ВЭК-02МЕ", "2 ВЭК-01МЕ", "4 ", "5 КСВЛ"};
    struct Paints : QObject {
        const TFormDevice* dialog;
        int duringScan = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint && dialog->Scanning()) ++duringScan;
            return false;
        }
    } paints;
    paints.dialog = &dialog;
    dialog.ui->ProgressBar1->installEventFilter(&paints);

    // Opened from the main window while it polls: no polling read comes between the steps.
    form1.Timer1.setInterval(20);
    form1.BtnPuskTimerClick();
    int blockReadsDuringScan = -1;
    DialogScript script(dialog, {[&](QDialog& d) {
                            dialog.ui->CBoxUstr->setCurrentIndex(31);
                            dialog.ui->FastScan->setChecked(true);
                            const int before = blockReads;
                            dialog.ui->Button1->click();
                            EXPECT_TRUE(dialog.Scanning());
                            EXPECT_TRUE(dialog.ui->ButtonStop->isEnabled());
                            EXPECT_FALSE(dialog.ui->Button1->isEnabled());
                            QTRY_VERIFY_WITH_TIMEOUT(!dialog.Scanning(), 60000);
                            blockReadsDuringScan = blockReads - before;
                            d.reject();
                        }});
    form1.ListDeviceClick();
    form1.StopPollingIfRunning();
    EXPECT_EQ(blockReadsDuringScan, 0);
    EXPECT_EQ(Listed(dialog), all);
    EXPECT_GT(paints.duringScan, 10);
    EXPECT_EQ(form1.Link.GetStage1Attempts(), 7);
    dialog.ui->FastScan->setChecked(false);
    dialog.ui->Button1->click();
    QTRY_VERIFY_WITH_TIMEOUT(Listed(dialog).size() == all.size(), 60000);
    dialog.ui->ButtonStop->click();
    // Within one silent address's exchange (2 × 1.3 s header time-out).
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.Scanning(), 4000);
    EXPECT_EQ(Listed(dialog), all);
    EXPECT_FALSE(dialog.ui->ProgressBar1->isVisible());
    EXPECT_EQ(form1.Link.GetStage1Attempts(), 7);
    EXPECT_TRUE(dialog.ui->Button1->isEnabled());

    const QString path = QDir::temp().filePath("vek-device-list-test.csv");
    dialog.ChooseCsvFile = [&] { return path; };
    dialog.ui->ButtonSave->click();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    file.remove();
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], "устройство,модель,версия,ответ через мс,поздний ответ");
    EXPECT_TRUE(lines[1].startsWith("1,ВЭК-02МЕ,1,")) << lines[1].toStdString();
    EXPECT_TRUE(recorder.messages.empty()) << recorder.messages[0].text;
}

// ---- On a scripted line ----

Bytes Identification(uint8_t address, uint8_t type) {
    return WithCrc({address, 17, 3, 1, 0xFF, type});
}
Bytes Exception(uint8_t address, uint8_t code) {
    return WithCrc({address, 17 | 0x80, code});
}

// What the dialog showed while each request went out.
struct Sent {
    int address;
    int barValue;
    bool barShown;
};

class DeviceListScripted : public ::testing::Test {
  public:
    DeviceListScripted() : form1(MakeBackend(), clock), dialog(form1.Link) {
        backend->responder = [this](const Bytes& request) {
            const QProgressBar* bar = dialog.ui->ProgressBar1;
            sent.push_back({request[0], bar->value(), bar->isVisible()});
            if (request[0] == failPortAfter) backend->failPurge = true;
            if (request[0] == throwAt) throw std::runtime_error("lost");
            auto found = answers.find(request[0]);
            return found == answers.end() ? Bytes{} : found->second;
        };
        form1.Link.PortName = "/dev/scripted";
        form1.Link.SetStage1Attempts(7);
    }

    std::unique_ptr<ScriptedBackend> MakeBackend() {
        auto b = std::make_unique<ScriptedBackend>();
        b->clock = &clock;
        backend = b.get();
        return b;
    }
    void Open() { ASSERT_EQ(form1.Link.OpenPort(), 0); }
    // Each bus address requested, once however many attempts it took.
    std::vector<int> Addresses() const {
        std::vector<int> addresses;
        for (const Sent& s : sent)
            if (addresses.empty() || addresses.back() != s.address) addresses.push_back(s.address);
        return addresses;
    }

    FakeClock clock;
    ScriptedBackend* backend = nullptr;
    MessageRecorder recorder;
    TForm1 form1;
    TFormDevice dialog;
    std::map<int, Bytes> answers;
    std::vector<Sent> sent;
    int failPortAfter = 0;  // the port fails when the request after this address is begun
    int throwAt = 0;
};

// A scan of all 32 addresses with four devices on the line: the identification requests go
// out in address order as 4-byte frames, a silent address gets two attempts, and the shown
// bar has advanced by one step of 10 before each address, starting over after 100.
// The device at 4 sends no type byte: it must not be listed with the type of the one before.
TEST_F(DeviceListScripted, ScanOfAllAddressesWithProgress) {
    answers = {{3, Identification(3, 106)},
               {4, WithCrc({4, 17, 0})},
               {7, Identification(7, 104)},
               {32, Identification(32, 100)}};
    Open();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_FALSE(dialog.ui->ProgressBar1->isVisible());
    Scan(dialog, 32);

    EXPECT_EQ(Listed(dialog), (Rows{"3 ВЭК-02МЕ", "4 ", "7 ", "32 КСВЛ"}));
    std::vector<int> expectedAddresses, expectedBar;
    for (int a = 1; a <= 32; ++a) {
        expectedAddresses.push_back(a);
        expectedBar.push_back(a <= 10 ? a * 10 : (a - 11) % 11 * 10);  // 10..100, 0..100, 0..100
    }
    EXPECT_EQ(Addresses(), expectedAddresses);
    std::vector<int> bar;
    for (size_t i = 0; i < backend->writes.size(); ++i) {
        const Sent& s = sent[i];
        EXPECT_EQ(backend->writes[i], WithCrc({uint8_t(s.address), 17})) << i;
        EXPECT_TRUE(s.barShown);
        if (bar.size() < size_t(s.address)) bar.push_back(s.barValue);
    }
    EXPECT_EQ(bar, expectedBar);
    EXPECT_EQ(backend->writes.size(), size_t{4 + 28 * kSearchStage1Attempts});
    EXPECT_EQ(dialog.ui->ProgressBar1->maximum(), 100);
    EXPECT_FALSE(dialog.ui->ProgressBar1->isVisible());
    EXPECT_EQ(form1.Link.GetStage1Attempts(), 7);
    EXPECT_TRUE(recorder.messages.empty());
}

// "Обновить" without a choice sends nothing and keeps the list; with the port closed every
// address is left out without a word, and the list of the last scan is gone, to its 32nd row.
TEST_F(DeviceListScripted, NoChoiceAndClosedPort) {
    for (uint8_t a = 1; a <= 32; ++a)
        answers[a] = Identification(a, a % 2 ? 105 : 106);
    Open();
    dialog.ui->Button1->click();
    EXPECT_TRUE(backend->writes.empty());
    Scan(dialog, 2);
    ASSERT_EQ(Listed(dialog), (Rows{"1 ВЭК-01МЕ", "2 ВЭК-02МЕ"}));

    dialog.ui->CBoxUstr->setCurrentIndex(-1);
    dialog.ui->Button1->click();
    EXPECT_EQ(Listed(dialog), (Rows{"1 ВЭК-01МЕ", "2 ВЭК-02МЕ"}));
    EXPECT_EQ(backend->writes.size(), 2u);

    Scan(dialog, 32);
    ASSERT_EQ(Listed(dialog).size(), 32u);
    EXPECT_EQ(Listed(dialog).back(), "32 ВЭК-02МЕ");
    form1.Link.ClosePort();
    Scan(dialog, 32);
    EXPECT_EQ(Listed(dialog), Rows{});
    EXPECT_EQ(backend->writes.size(), 34u);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(form1.Link.GetStage1Attempts(), 7);
}

// Address 3 answers each way in turn, between devices at 1, 2 and 4: a device's exception is
// left out whatever its code (0x84 is no "cannot open the port"); only the port lost in the
// exchange is reported, and it ends the scan with the devices found so far still listed.
TEST_F(DeviceListScripted, FailuresAtOneAddress) {
    struct Case {
        const char* what;
        int exception;  // the device's exception code at address 3; 0: the port fails there
        std::vector<int> addresses;
        Rows rows;
        std::string message;  // "" for none
    };
    const Rows before = {"1 ВЭК-02МЕ", "2 ВЭК-01МЕ"};
    const Rows all = {"1 ВЭК-02МЕ", "2 ВЭК-01МЕ", "4 КСВЛ"};
    const Case cases[] = {
        {"0x02 is left out", 0x02, {1, 2, 3, 4, 5}, all, ""},
        {"0x83 is left out", 0x83, {1, 2, 3, 4, 5}, all, ""},
        {"0x84 is left out", 0x84, {1, 2, 3, 4, 5}, all, ""},
        {"0x87 is left out", 0x87, {1, 2, 3, 4, 5}, all, ""},
        {"a lost port stops", 0, {1, 2}, before, kPortDisconnectedText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        answers = {
            {1, Identification(1, 106)}, {2, Identification(2, 105)}, {4, Identification(4, 100)}};
        if (c.exception) answers[3] = Exception(3, uint8_t(c.exception));
        failPortAfter = c.exception ? 0 : 2;
        backend->failPurge = false;
        sent.clear();
        recorder.messages.clear();
        Open();

        Scan(dialog, 5);
        EXPECT_EQ(Addresses(), c.addresses);
        EXPECT_EQ(Listed(dialog), c.rows);
        ASSERT_EQ(recorder.messages.size(), c.message.empty() ? 0u : 1u);
        if (!c.message.empty()) {
            EXPECT_EQ(recorder.messages[0].text, c.message);
        }
        EXPECT_EQ(form1.Link.GetStage1Attempts(), 7);
        EXPECT_FALSE(dialog.ui->ProgressBar1->isVisible());
    }
}

// An exception that leaves the scan still puts the attempts back and hides the bar.
TEST_F(DeviceListScripted, ExceptionLeavingTheScanRestoresTheLink) {
    Open();
    throwAt = 2;
    dialog.ui->CBoxUstr->setCurrentIndex(4);
    EXPECT_THROW(ScanToEnd(dialog), std::runtime_error);
    EXPECT_EQ(form1.Link.GetStage1Attempts(), 7);
    EXPECT_FALSE(dialog.ui->ProgressBar1->isVisible());
}

// ---- The form ----

// Runs once at the normal scale and once at QT_SCALE_FACTOR=1.5 (see CMakeLists.txt).
TEST(DeviceListForm, AsDesignedAndApartFromTheMainWindow) {
    FakeClock clock;
    TForm1 form1(std::make_unique<ScriptedBackend>(), clock);
    TFormDevice dialog(form1.Link);
    Ui::TFormDevice& ui = *dialog.ui;

    EXPECT_EQ(dialog.windowTitle(), "Список подключенных устройств");
    EXPECT_EQ(ui.LabelNu->text(), "Макс. № устр. ");
    EXPECT_EQ(ui.Button1->text(), "Обновить");
    EXPECT_FALSE(ui.CBoxUstr->isEditable());
    ASSERT_EQ(ui.CBoxUstr->count(), 32);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(ui.CBoxUstr->itemText(i), QString::number(i + 1));
    EXPECT_EQ(ui.CBoxUstr->currentIndex(), -1);
    EXPECT_EQ(ui.CBoxUstr->currentText(), "");
    // The wheel passing over the closed list changes nothing.
    ui.CBoxUstr->setCurrentIndex(4);
    for (int notches : {1, -3}) {
        const QPointF centre = ui.CBoxUstr->rect().center();
        QWheelEvent wheel(centre, ui.CBoxUstr->mapToGlobal(centre), {}, {0, 120 * notches},
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(ui.CBoxUstr, &wheel);
    }
    EXPECT_EQ(ui.CBoxUstr->currentText(), "5");
    ui.CBoxUstr->setCurrentIndex(-1);

    QTableWidget* grid = ui.StringGrid1;
    EXPECT_EQ(grid->columnCount(), 2);
    EXPECT_EQ(grid->rowCount(), 32);
    for (int column : {0, 1}) {
        EXPECT_GE(grid->columnWidth(column), column == 0 ? 87 : 100);
        EXPECT_GE(grid->columnWidth(column), grid->horizontalHeader()->sectionSizeHint(column))
            << "the heading is cut off";
    }
    EXPECT_EQ(grid->rowHeight(0), 20);
    EXPECT_EQ(dialog.Cells(0, 0), " № устройства");
    EXPECT_EQ(dialog.Cells(1, 0), "Тип устройства");
    EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);

    // The dialog has no owner window, so the main window's names still mean its own controls.
    EXPECT_EQ(dialog.parent(), nullptr);
    EXPECT_EQ(form1.findChild<QComboBox*>("CBoxUstr"), form1.ui->CBoxUstr);
    EXPECT_EQ(form1.findChild<QProgressBar*>("ProgressBar1"), form1.ui->ProgressBar1);

    form1.show();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_FALSE(grid->verticalHeader()->isVisible());
    EXPECT_FALSE(ui.ProgressBar1->isVisible());
    const QPoint offCentre =
        dialog.frameGeometry().center() - dialog.screen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2);
    EXPECT_GE(grid->viewport()->width(), grid->columnWidth(0) + grid->columnWidth(1))
        << "a column is cut off";
    EXPECT_LE(ui.LabelNu->sizeHint().width(), ui.LabelNu->width());
}

}  // namespace
