#include "ui/device_report.h"

#include <QDateTime>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSysInfo>
#include <QTextDocument>

#include "device/Obrnastr.h"
#include "device/config_file.h"
#include "device/conversions.h"

namespace {

QString Html(const std::string& text) {
    return QString::fromStdString(text).toHtmlEscaped().replace("\n", "<br>");
}

QString Row(const QStringList& cells, const char* tag = "td") {
    QString row = "<tr>";
    for (const QString& cell : cells)
        row += QString("<%1>%2</%1>").arg(tag, cell);
    return row + "</tr>";
}

// A heading row whose cells take the given shares of the page's width, in %.
QString Heading(const QStringList& cells, const std::vector<int>& widths) {
    QString row = "<tr>";
    for (int i = 0; i < cells.size(); ++i) {
        row += QString("<th width='%1%'>%2</th>").arg(widths[i]).arg(cells[i]);
    }
    return row + "</tr>";
}

QString Table(const QString& heading, const QString& rows) {
    return "<h3>" + heading +
           "</h3><table border='1' cellspacing='0' cellpadding='3' width='100%'>" + rows +
           "</table>";
}

}  // namespace

QString DeviceReportHtml(const TProgVEKClass& r, const std::string& port, int32_t baud,
                         const JournalCheck& journal) {
    const bool twoChannels = r.TypeCode == kTypeVek02;
    const QString model = QString::fromUtf8(ModelName(r.TypeCode));
    const std::string separator = QLocale().decimalPoint().toStdString();
    QString html = "<html><body style='font-size: 9pt'>";
    html += QString("<h2>Отчёт о приборе %1, устройство %2</h2>")
                .arg(model.toHtmlEscaped())
                .arg(r.DeviceNumber + 1);
    html += "<table cellpadding='2'>";
    const std::pair<const char*, QString> identity[] = {
        {"Прибор", model + QString(" (тип %1), версия %2").arg(r.TypeCode).arg(r.Version)},
        {"Номер на линии", QString::number(r.DeviceNumber + 1)},
        {"Порт", QString::fromStdString(port) + QString(", %1 бит/с").arg(baud)},
        {"Дата отчёта", QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm")},
        {"Режим", r.GetNonPrivileged() ? "непривилегированный" : "привилегированный"},
        {"Средство",
         QString("vek-serv %1, компьютер %2").arg(VEK_VERSION, QSysInfo::machineHostName())},
    };
    for (const auto& [label, value] : identity) {
        html += Row({QString("<b>%1</b>").arg(label), value.toHtmlEscaped()});
    }
    html += "</table>";

    // The settings as the device holds them, not edits that were never written.
    QString rows = Heading({"Параметр", "Значение"}, {60, 40});
    for (const ConfigurationField& f : DecodeBlock(r.DeviceBlock)) {
        if (!twoChannels && f.label.ends_with("канал 2")) continue;
        rows += Row({Html(f.label), Html(f.value)});
    }
    html += Table("Настройки прибора", rows);

    rows = Row({"Канал", "Результат", "Выход, %", "Давление, кПа", "Код АЦП", "Состояние"}, "th");
    for (int channel = 1; channel <= (twoChannels ? 2 : 1); ++channel) {
        const int32_t result = channel == 1 ? r.GetResult1() : r.GetResult2();
        const float start = channel == 1 ? r.RangeStart1 : r.RangeStart2;
        const float end = channel == 1 ? r.RangeEnd1 : r.RangeEnd2;
        rows +=
            Row({QString::number(channel), QString::number(result),
                 Html(OutputPercentText(result, separator)),
                 Html(PressureText(result, r.GetCharacteristic(channel), start, end, separator)),
                 QString::number(channel == 1 ? r.GetAdc1() : r.GetAdc2()),
                 Html(StatusBits(r.GetStatus(channel), 7, 0))});
    }
    html += Table("Измерения при чтении", rows);

    rows = Heading({"Время", "Действие", "Было → стало", "Итог", "Кто"}, {17, 21, 33, 19, 10});
    int listed = 0;
    for (const ChangeAttempt& a : ChangeAttempts(journal.entries)) {
        const JournalEntry& e = a.intent;
        if (e.address != r.DeviceNumber + 1 || e.type != r.TypeCode) continue;
        ++listed;
        // The date over the time of day, without milliseconds, each unbroken.
        rows += Row({"<span style='white-space: nowrap'>" + Html(e.time.substr(0, 10)) + "<br>" +
                         Html(e.time.substr(11, 8)) + "</span>",
                     Html(e.action), Html(DifferencesText(e.changes, "\n")), Html(a.OutcomeText()),
                     Html(e.user + "@" + e.computer)});
    }
    if (listed == 0) rows += "<tr><td colspan='5'>Журнал не содержит работ с прибором</td></tr>";
    html += Table("Работы с прибором по журналу", rows);
    html += "<p>" + Html(JournalCheckText(journal)) + "</p>";

    html += "<br><br><table width='100%' cellpadding='6'>";
    for (const char* role : {"Работы выполнил", "Прибор принял"}) {
        html +=
            Row({QString("<b>%1</b>").arg(role),
                 "____________________<br><small>фамилия, имя, отчество</small>",
                 "______________<br><small>подпись</small>", "__________<br><small>дата</small>"});
    }
    return html + "</table></body></html>";
}

std::optional<std::string> WriteDeviceReport(const QString& path, const QString& html) {
    // Written beside the target and put in its place only when whole.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        QPdfWriter writer(&file);
        writer.setTitle("Отчёт о приборе");
        writer.setCreator(QString("vek-serv %1").arg(VEK_VERSION));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        QTextDocument document;
        document.setHtml(html);
        document.print(&writer);
    }
    if (file.commit()) return std::nullopt;
    return "Не удалось записать отчёт " + path.toStdString() + ": " +
           file.errorString().toStdString();
}
