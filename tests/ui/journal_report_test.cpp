// The service journal and the device report as the operator meets them: changes made on the
// window listed with their before and after, a journal edited by hand told, and the report's
// PDF read back with pdftotext.
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>

#include "ui/device_report.h"
#include "ui/journal_window.h"
#include "window_on_line.h"

namespace {

class JournalAndReport : public WindowOnLine {
  public:
    JournalAndReport() {
        Device(1, [](vsim::VirtualDevice& d) {
            d.fixedMeasurement = vsim::Measurement{{8192, 200}, {0, 0}, {4321, -1234}};
        });
        ReadDevice(1);
    }
    JournalWindow& Window() {
        form1.JournalClick();
        auto* window = form1.findChild<JournalWindow*>("FormJournal");
        if (!window) throw std::runtime_error("no journal window");
        return *window;
    }
    std::vector<std::string> Column(JournalWindow& w, int column) {
        std::vector<std::string> cells;
        for (int row = 0; row < w.Grid->rowCount(); ++row)
            cells.push_back(w.Grid->item(row, column)->text().toStdString());
        return cells;
    }
    // The text of a PDF, as pdftotext reads it.
    static QString PdfText(const QString& path) {
        QProcess pdftotext;
        pdftotext.start("pdftotext", {path, "-"});
        if (!pdftotext.waitForFinished(30000) || pdftotext.exitCode() != 0) return {};
        return QString::fromUtf8(pdftotext.readAllStandardOutput());
    }
};

TEST_F(JournalAndReport, ChangesAreListedTamperingIsToldAndTheReportHoldsThem) {
    Ui::TForm1& ui = *form1.ui;
    Choose(ui.CBoxTipK1, 1 - ui.CBoxTipK1->currentIndex());
    QTest::keyClick(&form1, Qt::Key_F10);
    Choose(ui.CBoxCurrentEnd1, 3);  // "+12 мкА"
    ui.KalibrBegSk1->click();       // answered Yes: the code 4321 becomes the scale start
    form1.Link.SetStage1Attempts(1);
    Device(1, [](vsim::VirtualDevice& d) { d.faults.silent = true; });
    Choose(ui.CBoxCurrentEnd1, 4);  // fails: the device is silent
    Device(1, [](vsim::VirtualDevice& d) { d.faults.silent = false; });

    JournalWindow& w = Window();
    if (qEnvironmentVariableIsSet("VEK_KEEP_JOURNAL")) w.grab().save(qgetenv("VEK_KEEP_JOURNAL"));
    EXPECT_EQ(w.LabCheck->text().split('\n')[0], "Журнал цел, записей: 10");
    EXPECT_EQ(Column(w, 2), (std::vector<std::string>{
                                "корректировка тока: канал 1, конец шкалы",
                                "калибровка: канал 1, начало шкалы",
                                "режим калибровки: включение",
                                "корректировка тока: канал 1, конец шкалы",
                                "запись",
                            }));
    const std::vector<std::string> outcomes = Column(w, 4);
    EXPECT_EQ(outcomes[0].rfind("не выполнено: устройство 1 ", 0), 0u) << outcomes[0];
    EXPECT_EQ(std::vector(outcomes.begin() + 1, outcomes.end()),
              std::vector<std::string>(4, "подтверждено прибором"));
    const std::string calibration = Column(w, 3)[1];
    EXPECT_NE(calibration.find("→ 4321"), std::string::npos) << calibration;
    EXPECT_EQ(Column(w, 3)[3], "Корректировка тока конца шкалы, канал 1: 0 мкА → +12 мкА");
    ASSERT_EQ(w.CBoxDevice->count(), 2);
    EXPECT_EQ(w.CBoxDevice->itemText(1), "устройство 1 (ВЭК-02МЕ)");

    // One byte of line 2 changed by hand: the window says from where it cannot be trusted.
    QFile file(QString::fromStdString(form1.Journal.Path()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    lines[1].replace("\"verdict\":\"confirmed\"", "\"verdict\":\"confirmee\"");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(lines.join('\n'));
    file.close();
    w.BtnRefresh->click();
    EXPECT_TRUE(w.LabCheck->text().startsWith("Журналу нельзя доверять начиная со строки 2"))
        << w.LabCheck->text().toStdString();

    // The report: the device's values as the window shows them, and its journal.
    const QString report = dataDir.filePath("отчёт.pdf");
    form1.ChooseReportFile = [&](const QString& suggested) {
        EXPECT_TRUE(suggested.startsWith("ВЭК-02МЕ-1-"));
        return report;
    };
    recorder.messages.clear();
    form1.ReportClick();
    EXPECT_EQ(Texts(), std::vector<std::string>{});
    if (qEnvironmentVariableIsSet("VEK_KEEP_REPORT"))
        QFile::copy(report, qgetenv("VEK_KEEP_REPORT"));
    // Cells wrap their words in the PDF's columns (and the lines of cells side by side come
    // one after another): spaces and line breaks do not count, and a text is a cell's line.
    auto solid = [](QString text) { return text.remove(QRegularExpression("\\s")); };
    const QString text = solid(PdfText(report));
    for (const QString& expected :
         QStringList{"Отчёт о приборе ВЭК-02МЕ, устройство 1", "Код АЦП начала шкалы, канал 1",
                     ui.StKBegSk1->text(), ui.StRezProc1->text(), ui.StRezKPa1->text(),
                     "калибровка:", "7996 → 4321", "подтверждено",
                     "Журналу нельзя доверять начиная со строки 2", "подпись"}) {
        EXPECT_TRUE(text.contains(solid(expected))) << expected.toStdString();
    }

    // A report that cannot be written says so and leaves nothing behind.
    const QString nowhere = dataDir.filePath("нет/отчёт.pdf");
    form1.ChooseReportFile = [&](const QString&) { return nowhere; };
    form1.ReportClick();
    ASSERT_EQ(Texts().size(), 1u);
    EXPECT_EQ(Texts()[0].rfind("Не удалось записать отчёт", 0), 0u) << Texts()[0];
    EXPECT_FALSE(QFile::exists(nowhere));

    // A journal that cannot be written: the writes go on, and the operator is told once.
    const QString notAFolder = dataDir.filePath("файл");
    QFile(notAFolder).open(QIODevice::WriteOnly);
    form1.Journal = ServiceJournal(notAFolder.toStdString(), "window");
    recorder.messages.clear();
    const int stored = BlocksStored(1);
    QTest::keyClick(&form1, Qt::Key_F10);
    QTest::keyClick(&form1, Qt::Key_F10);
    EXPECT_EQ(BlocksStored(1), stored + 2);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Журнал работ не ведется:\nНе удалось открыть "
                                                "журнал " +
                                                form1.Journal.Path()});
}

}  // namespace
