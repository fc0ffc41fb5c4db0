// The main window's form as the designer left it: every control by its name, with its kind,
// caption, items, colours, start visibility, focus behaviour and the commands of menu and tool bar.

#include "ui_Obr_vek.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include <gtest/gtest.h>

#include "scripted_device.h"
#include "support/message_recorder.h"
#include "ui/Obr_vek.h"

namespace {

constexpr QRgb teal = 0x008080, red = 0xff0000, navy = 0x000080, maroon = 0x800000,
               black = 0x000000;

struct Form {
    QMainWindow window;
    Ui::TForm1 ui;
    Form() { ui.setupUi(&window); }

    QWidget* widget(const char* name) const {
        return window.findChild<QWidget*>(QString::fromLatin1(name));
    }

    // The window as it looks once a two-channel device has been read, with every
    // temporarily shown indicator on and the longest texts in the fields.
    void layOutTwoChannelDevice() {
        QWidget* const shownByTheRead[] = {ui.GBoxKanal,    ui.GBoxSign2,      ui.GBoxKanal2,
                                           ui.LabReg,       ui.LabTimer,       ui.ProgressBar1,
                                           ui.LabRegKalibr, ui.LabRegKalibrTXC};
        for (QWidget* w : shownByTheRead)
            w->show();
        ui.Panel1->setText(QStringLiteral("ВЭК-02МЕ  735218.004-04  ПО.V1  0x2C74E9A6"));
        ui.Label27->setText(QStringLiteral("непривилегированный"));
        for (QLabel* l : window.findChildren<QLabel*>())
            if (l->objectName().startsWith(QLatin1String("St")))
                l->setText(QStringLiteral("-10000,00"));
    }
};

struct Control {
    const char* name;
    const char* className;
    const char* caption;  // label text or group title; nullptr where the control has none
    bool bold;
    bool shownAtStart;
    QRgb colour;  // caption or text colour
};

const Control controls[] = {
    {"LabelNu", "QLabel", "Устр. №", true, true, teal},
    {"CBoxUstr", "QComboBox", nullptr, false, true, black},
    {"Label20", "QLabel", "Изм. № устр.", true, true, teal},
    {"CBoxUstrZ", "QComboBox", nullptr, false, true, black},
    {"LabelTip", "QLabel", "Тип прибора", true, true, teal},
    {"Panel1", "QLabel", "", true, true, maroon},
    {"LabReg", "QLabel", "      Режим        программирования", false, false, teal},
    {"Label27", "QLabel", "", false, true, navy},
    {"ProgressBar1", "QProgressBar", nullptr, false, false, black},
    {"BtnPuskTimer", "QPushButton", "Пуск и остановка таймера", true, true, black},
    {"LabTimer", "QLabel", "запущен таймер", true, false, red},

    {"GBoxKanal", "QGroupBox",
     "Измерительный канал  1 (привилегированные функции программирования)", true, false, teal},
    {"Label1", "QLabel", "    Код АЦП начала шкалы", false, true, teal},
    {"StKBegSk1", "QLabel", "", false, true, black},
    {"KalibrBegSk1", "QPushButton", "Калибр.", false, true, black},
    {"Label2", "QLabel", "           Код АЦП     измеренного значения", false, true, teal},
    {"StKodACP1", "QLabel", "", true, true, black},
    {"LabRegKalibr", "QLabel", "Режим калибровки", true, false, red},
    {"Label3", "QLabel", "    Код АЦП конца шкалы", false, true, teal},
    {"StKEndSk1", "QLabel", "", false, true, black},
    {"KalibrEndSk1", "QPushButton", "Калибр.", false, true, black},
    {"Label4", "QLabel", "Номинальная      статическая характеристика", false, true, teal},
    {"CBoxTipD1", "QComboBox", nullptr, false, true, black},
    {"Label5", "QLabel", "Диапазон измерения     входного сигнала", false, true, teal},
    {"CBoxMin1", "QComboBox", nullptr, false, true, black},
    {"CBoxMax1", "QComboBox", nullptr, false, true, black},
    {"LabCurrent1", "QLabel", " Корректировка выходного тока        нач. шкалы", false, true, teal},
    {"CBoxCurrent1", "QComboBox", nullptr, false, true, black},
    {"LabCurrentEnd1", "QLabel", " Корректировка выходного тока       кон. шкалы", false, true,
     teal},
    {"CBoxCurrentEnd1", "QComboBox", nullptr, false, true, black},
    {"Label6", "QLabel", "Результат измерения ", true, true, teal},
    {"Label25", "QLabel", "в единицах кода", false, true, teal},
    {"StRez1", "QLabel", "", true, true, black},
    {"Label30", "QLabel", "в кПа", false, true, teal},
    {"StRezKPa1", "QLabel", "", true, true, black},
    {"Label31", "QLabel", "в %  диап измен вых. сигнала", false, true, teal},
    {"StRezProc1", "QLabel", "", true, true, black},
    {"Label18", "QLabel", "        Норма", false, true, teal},
    {"StSost1", "QLabel", "", false, true, black},

    {"GBoxSign2", "QGroupBox", "Сигнализация (непривилегированные функции программирования)", true,
     false, teal},
    {"GroupBox1", "QGroupBox", "Уставка 1", false, true, teal},
    {"Label7", "QLabel", "        Тип сигнализации", false, true, teal},
    {"CBoxTipSign1", "QComboBox", nullptr, false, true, black},
    {"Label19", "QLabel", "     Норма", false, true, teal},
    {"StNar1", "QLabel", "", false, true, black},
    {"Label29", "QLabel", "Значение   уставки", true, true, teal},
    {"Label10", "QLabel", "в ед. кода", false, true, teal},
    {"StUstKod1", "QLabel", "", false, true, black},
    {"Label22", "QLabel", "в %  диап. измен.   вых. сигнала", false, true, teal},
    {"Ust1", "QLineEdit", nullptr, false, true, black},
    {"LabTipKont1", "QLabel", "Тип контакта", false, true, teal},
    {"CBoxTipK1", "QComboBox", nullptr, false, true, black},
    {"GroupBox2", "QGroupBox", "Уставка 2", false, true, teal},
    {"Label11", "QLabel", "        Тип сигнализации", false, true, teal},
    {"CBoxTipSign2", "QComboBox", nullptr, false, true, black},
    {"Label17", "QLabel", "     Норма", false, true, teal},
    {"StNar2", "QLabel", "", false, true, black},
    {"Label32", "QLabel", "Значение   уставки", true, true, teal},
    {"Label8", "QLabel", "в ед. кода", false, true, teal},
    {"StUstKod2", "QLabel", "", false, true, black},
    {"Label9", "QLabel", "в %  диап. измен.   вых. сигнала", false, true, teal},
    {"Ust2", "QLineEdit", nullptr, false, true, black},
    {"LabTipKont2", "QLabel", "Тип контакта", false, true, teal},
    {"CBoxTipK2", "QComboBox", nullptr, false, true, black},
    {"LabBreak1", "QLabel", "Состояние выхода при обрыве линии", false, true, teal},
    {"CBoxBreak1", "QComboBox", nullptr, false, true, black},
    {"LabBreak2", "QLabel", "Состояние выхода при обрыве линии", false, true, teal},
    {"CBoxBreak2", "QComboBox", nullptr, false, true, black},

    {"GBoxKanal2", "QGroupBox",
     "Измерительный канал  2 (привилегированные функции программирования)", false, false, teal},
    {"Label12", "QLabel", "   Код АЦП начала шкалы", false, true, teal},
    {"StKBegSk2", "QLabel", "", false, true, black},
    {"KalibrBegSk2", "QPushButton", "Калибр.", false, true, black},
    {"Label13", "QLabel", "         Код АЦП измеренного значения", false, true, teal},
    {"StKodACP2", "QLabel", "", true, true, black},
    {"LabRegKalibrTXC", "QLabel", "Режим калибровки", true, false, red},
    {"Label14", "QLabel", "    Код АЦП конца шкалы", false, true, teal},
    {"StKEndSk2", "QLabel", "", false, true, black},
    {"KalibrEndSk2", "QPushButton", "Калибр.", false, true, black},
    {"Label23", "QLabel", "Номинальная      статическая характеристика", false, true, teal},
    {"CBoxTipD2", "QComboBox", nullptr, false, true, black},
    {"Label26", "QLabel", "Диапазон измерения     входного сигнала", false, true, teal},
    {"CBoxMin2", "QComboBox", nullptr, false, true, black},
    {"CBoxMax2", "QComboBox", nullptr, false, true, black},
    {"LabCurrent2", "QLabel", " Корректировка выходного тока        нач. шкалы", false, true, teal},
    {"CBoxCurrent2", "QComboBox", nullptr, false, true, black},
    {"LabCurrentEnd2", "QLabel", " Корректировка выходного тока       кон. шкалы", false, true,
     teal},
    {"CBoxCurrentEnd2", "QComboBox", nullptr, false, true, black},
    {"Label15", "QLabel", "Результат измерения ", true, true, teal},
    {"Label16", "QLabel", "в единицах кода", false, true, teal},
    {"StRez2", "QLabel", "", true, true, black},
    {"Label24", "QLabel", "в кПа", false, true, teal},
    {"StRezKPa2", "QLabel", "", true, true, black},
    {"Label33", "QLabel", "в %  диап измен вых. сигнала", false, true, teal},
    {"StRezProc2", "QLabel", "", true, true, black},
    {"Label21", "QLabel", "        Норма", false, true, teal},
    {"StSost2", "QLabel", "", false, true, black},
};

const QStringList numbers = [] {
    QStringList n;
    for (int i = 1; i <= 32; ++i)
        n << QString::number(i);
    return n;
}();
const QStringList trimAtStart = {"0 мкА",   "+4 мкА",  "+ 8 мкА", "+12 мкА", "+16 мкА", "+20 мкА",
                                 "+24 мкА", "+28 мкА", "- 4 мкА", "- 8 мкА", "-12 мкА", "-16 мкА",
                                 "-20 мкА", "-24 мкА", "-28 мкА", "-32 мкА"};
const QStringList trimAtEnd = {"0 мкА",   "+4 мкА",  "+ 8 мкА", "+12 мкА", "+16 мкА", "+20 мкА",
                               "- 4 мкА", "- 8 мкА", "-12 мкА", "-16 мкА", "-20 мкА", "-24 мкА",
                               "-28 мкА", "-32 мкА", "-36 мкА", "-40 мкА"};
const QStringList characteristic = {"линейная", "корнеизвлечение"};
const QStringList rangeStart = {"20", "0"}, rangeEnd = {"100"};
const QStringList alarmType = {"L", "H"}, contactType = {"нр", "нз"},
                  onBreak = {"ток min", "ток max"};

const std::pair<const char*, const QStringList*> comboItems[] = {
    {"CBoxUstr", &numbers},          {"CBoxUstrZ", &numbers},
    {"CBoxTipD1", &characteristic},  {"CBoxTipD2", &characteristic},
    {"CBoxMin1", &rangeStart},       {"CBoxMin2", &rangeStart},
    {"CBoxMax1", &rangeEnd},         {"CBoxMax2", &rangeEnd},
    {"CBoxCurrent1", &trimAtStart},  {"CBoxCurrent2", &trimAtStart},
    {"CBoxCurrentEnd1", &trimAtEnd}, {"CBoxCurrentEnd2", &trimAtEnd},
    {"CBoxTipSign1", &alarmType},    {"CBoxTipSign2", &alarmType},
    {"CBoxTipK1", &contactType},     {"CBoxTipK2", &contactType},
    {"CBoxBreak1", &onBreak},        {"CBoxBreak2", &onBreak},
};

// The window's focus order; the tab stops are marked.
const std::pair<const char*, bool> focusOrder[] = {
    {"CBoxUstr", false},     {"CBoxUstrZ", false},
    {"Panel1", false},       {"BtnPuskTimer", false},
    {"KalibrBegSk1", false}, {"KalibrEndSk1", false},
    {"CBoxTipD1", true},     {"StKBegSk1", true},
    {"StKodACP1", false},    {"StKEndSk1", false},
    {"StRez1", false},       {"StSost1", false},
    {"StRezProc1", false},   {"StRezKPa1", false},
    {"CBoxCurrent1", true},  {"CBoxCurrentEnd1", true},
    {"CBoxMin1", true},      {"CBoxMax1", true},
    {"StUstKod1", false},    {"Ust1", true},
    {"CBoxTipK1", true},     {"CBoxTipSign1", true},
    {"StNar1", false},       {"StUstKod2", false},
    {"Ust2", true},          {"CBoxTipSign2", true},
    {"StNar2", false},       {"CBoxTipK2", true},
    {"CBoxBreak1", true},    {"CBoxBreak2", true},
    {"StKBegSk2", false},    {"StKodACP2", false},
    {"StKEndSk2", false},    {"StRez2", false},
    {"StRezKPa2", false},    {"KalibrBegSk2", false},
    {"KalibrEndSk2", false}, {"StRezProc2", false},
    {"StSost2", false},      {"CBoxTipD2", true},
    {"CBoxMin2", true},      {"CBoxMax2", true},
    {"CBoxCurrent2", true},  {"CBoxCurrentEnd2", true},
    {"ProgressBar1", false},
};

// A pixel just inside the right edge, clear of the frame and of centred text.
QRgb pixelInside(QWidget* w) {
    const QImage image = w->grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    return image.pixel(int((w->width() - 4) * ratio), int(w->height() / 2 * ratio)) & 0xffffff;
}

TEST(MainWindowForm, IsTheServiceWindowOfTheDefaultSize) {
    Form f;
    EXPECT_EQ(f.window.objectName(), "TForm1");
    EXPECT_EQ(f.window.windowTitle(), "Сервисная программа ВЭК");
    EXPECT_EQ(f.window.size(), QSize(841, 725));
}

TEST(MainWindowForm, EveryControlHasItsKindCaptionFontColourAndStartVisibility) {
    Form f;
    f.window.show();
    for (const Control& c : controls) {
        SCOPED_TRACE(c.name);
        QWidget* w = f.widget(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), c.className);
        if (c.caption) {
            QString caption = w->property("text").toString();
            if (auto* g = qobject_cast<QGroupBox*>(w)) caption = g->title();
            EXPECT_EQ(caption, QString::fromUtf8(c.caption));
        }
        EXPECT_EQ(w->font().bold(), c.bold);
        EXPECT_EQ(!w->isHidden(), c.shownAtStart);  // hidden in the design, not just by its group
        EXPECT_EQ(w->palette().color(w->foregroundRole()).rgb() & 0xffffff, c.colour);
    }
}

TEST(MainWindowForm, ValueFieldsAreSunkenYellowBoxesWithCentredText) {
    Form f;
    f.layOutTwoChannelDevice();
    f.window.show();
    int fields = 0;
    for (QLabel* l : f.window.findChildren<QLabel*>()) {
        if (!l->objectName().startsWith(QLatin1String("St"))) continue;
        SCOPED_TRACE(l->objectName().toStdString());
        ++fields;
        EXPECT_EQ(l->frameShape(), QFrame::Panel);
        EXPECT_EQ(l->frameShadow(), QFrame::Sunken);
        EXPECT_EQ(l->alignment(), Qt::AlignCenter);
        EXPECT_EQ(pixelInside(l), 0xffffe1u);
    }
    EXPECT_EQ(fields, 18);
    EXPECT_EQ(f.ui.Panel1->frameShape(), QFrame::Box);
    EXPECT_EQ(f.ui.Panel1->frameShadow(), QFrame::Plain);
    for (QLineEdit* e : {f.ui.Ust1, f.ui.Ust2})
        EXPECT_EQ(e->maxLength(), 8);
}

TEST(MainWindowForm, DropDownListsHoldTheirItemsAndShowTheFirst) {
    Form f;
    EXPECT_NE(trimAtStart, trimAtEnd);
    for (const auto& [name, items] : comboItems) {
        SCOPED_TRACE(name);
        auto* box = qobject_cast<QComboBox*>(f.widget(name));
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(box->isEditable());
        QStringList actual;
        for (int i = 0; i < box->count(); ++i)
            actual << box->itemText(i);
        EXPECT_EQ(actual, *items);
        EXPECT_EQ(box->currentIndex(), 0);
    }
}

TEST(MainWindowForm, OnlyTheListedControlsAreTabStopsAndTabFollowsTheWindowsOrder) {
    Form f;
    f.layOutTwoChannelDevice();
    QStringList tabStops;
    for (const auto& [name, tabStop] : focusOrder) {
        SCOPED_TRACE(name);
        QWidget* w = f.widget(name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(bool(w->focusPolicy() & Qt::TabFocus), tabStop);
        if (tabStop) tabStops << name;
    }
    // Drop-down lists and buttons that are not tab stops still take the focus when clicked.
    QWidget* const clickable[] = {f.ui.CBoxUstr, f.ui.CBoxUstrZ, f.ui.BtnPuskTimer,
                                  f.ui.KalibrBegSk2};
    for (QWidget* w : clickable)
        EXPECT_EQ(w->focusPolicy(), Qt::ClickFocus) << w->objectName().toStdString();

    f.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    f.ui.CBoxTipD1->setFocus();
    QStringList visited;
    for (int i = 0; i < tabStops.size(); ++i) {
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, tabStops);
    EXPECT_EQ(QApplication::focusWidget(), f.ui.CBoxTipD1);  // round the window and back
}

TEST(MainWindowForm, ActionsCarryCaptionsHintsAndShortcuts) {
    struct Row {
        QAction* action;
        const char *text, *hint, *shortcut;
    };
    Form f;
    const Row rows[] = {
        {f.ui.AInPort, "Ввод с СОМ-порта", "Ввод с СОМ-порта", "F9"},
        {f.ui.AOutPort, "Вывод на СОМ-порт", "Вывод на СОМ-порт", "F10"},
        {f.ui.APort, "Настройка СОМ порта", "Настройка СОМ порта", ""},
        {f.ui.AListDevice, "AListDevice", nullptr, ""},
        {f.ui.AParol, "Замена пароля", "Замена пароля", "F8"},
        {f.ui.MListDevice, "Список устройств", nullptr, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(r.action->text(), QString::fromUtf8(r.text));
        if (r.hint) {
            EXPECT_EQ(r.action->toolTip(), QString::fromUtf8(r.hint));
            EXPECT_EQ(r.action->statusTip(), QString::fromUtf8(r.hint));
        }
        EXPECT_EQ(r.action->shortcut(), QKeySequence(QString::fromLatin1(r.shortcut)));
    }
}

TEST(MainWindowForm, MenuBarHoldsThePortAndConfigurationMenusAndHidesThePasswordMenu) {
    Form f;
    const Ui::TForm1& ui = f.ui;
    EXPECT_EQ(ui.N2Port->title(), "Порт        ");
    // The configuration files' menu follows the port menu.
    EXPECT_EQ(ui.MainMenu1->actions(),
              (QList<QAction*>{ui.N2Port->menuAction(), ui.MConfig->menuAction()}));
    // The service journal and the device report follow the files, set apart.
    const QList<QAction*> config = ui.MConfig->actions();
    EXPECT_EQ(config,
              (QList<QAction*>{ui.MSaveConfig, ui.MCompareConfig, ui.MWriteConfig, config[3],
                               ui.MReplaceDevice, config[5], ui.MJournal, ui.MReport}));
    EXPECT_TRUE(config[3]->isSeparator() && config[5]->isSeparator());
    // MPortInput, N2 and N1 are the port menu's entries of AInPort, AOutPort and APort.
    // The tool's own windows follow, set apart.
    const QList<QAction*> items = ui.N2Port->actions();
    ASSERT_EQ(items.size(), 7);
    EXPECT_EQ(items.mid(0, 4),
              (QList<QAction*>{ui.AInPort, ui.AOutPort, ui.APort, ui.MListDevice}));
    EXPECT_TRUE(items[4]->isSeparator());
    EXPECT_EQ(items.mid(5), (QList<QAction*>{ui.MMonitor, ui.MTrend}));

    EXPECT_EQ(ui.Parol->title(), "                Пароль");
    EXPECT_EQ(ui.Parol->actions(), QList<QAction*>{ui.N4});
    EXPECT_FALSE(ui.N4->isVisible());
    EXPECT_EQ(ui.N4->text(), ui.AParol->text());
}

TEST(MainWindowForm, ToolBarShowsTheCommandsInOrderWithThePasswordButtonHidden) {
    Form f;
    const Ui::TForm1& ui = f.ui;
    f.window.show();
    const QList<QAction*> entries = ui.ToolBar1->actions();
    ASSERT_EQ(entries.size(), 6);
    const QList<QAction*> commands{ui.AInPort, ui.AOutPort, ui.APort, ui.AListDevice};
    EXPECT_EQ(entries.mid(0, 4), commands);
    EXPECT_TRUE(entries[4]->isSeparator());
    EXPECT_EQ(entries[5], ui.N4);
    for (QAction* a : commands)
        EXPECT_TRUE(ui.ToolBar1->widgetForAction(a)->isVisible());
    EXPECT_FALSE(ui.ToolBar1->widgetForAction(ui.N4)->isVisible());
}

TEST(MainWindowForm, FunctionKeysRunTheirCommandsEvenThePasswordOneWithItsCarriersHidden) {
    Form f;
    f.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    for (auto [action, key] :
         {std::pair{f.ui.AInPort, Qt::Key_F9}, std::pair{f.ui.AOutPort, Qt::Key_F10},
          std::pair{f.ui.AParol, Qt::Key_F8}}) {
        QSignalSpy triggered(action, &QAction::triggered);
        QTest::keyClick(&f.window, key);
        EXPECT_EQ(triggered.count(), 1) << action->objectName().toStdString();
    }
}

// Runs once at the normal scale and once at QT_SCALE_FACTOR=1.5 (see CMakeLists.txt).
TEST(MainWindowForm, NoCaptionIsClippedWithEverythingShown) {
    Form f;
    f.layOutTwoChannelDevice();
    f.window.show();
    QApplication::processEvents();
    EXPECT_EQ(f.window.size(), QSize(841, 725)) << "the laid-out window outgrew its default size";
    for (QLabel* l : f.window.findChildren<QLabel*>()) {
        if (!l->isVisible()) continue;
        SCOPED_TRACE(l->objectName().toStdString());
        if (l->wordWrap()) {
            EXPECT_LE(l->minimumSizeHint().width(), l->width());
            EXPECT_LE(l->heightForWidth(l->width()), l->height());
        } else {
            EXPECT_LE(l->sizeHint().width(), l->width());
            EXPECT_LE(l->sizeHint().height(), l->height());
        }
    }
}

}  // namespace

namespace {

// The window as the tool builds it, with a device read: the polling button stands where it
// stood whatever shows around it, so a second click on the same spot stops polling again; the
// device list's button shows no tooltip, no menu hides the toolbar, and every menu item
// carries its icon.
TEST(MainWindow, ControlsStandStillAndCarryTheirHintsAndIcons) {
    FakeClock clock;
    ScriptedDevice device;
    auto backend = std::make_unique<ScriptedBackend>();
    backend->clock = &clock;
    backend->responder = [&](const Bytes& request) { return device.Answer(request); };
    MessageRecorder recorder;
    TForm1 form1(std::move(backend), clock);
    Ui::TForm1& ui = *form1.ui;
    form1.ComPort1.Open();
    form1.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form1));

    auto buttonCentre = [&] {
        QApplication::processEvents();
        return ui.BtnPuskTimer->mapTo(&form1, ui.BtnPuskTimer->rect().center());
    };
    const QPoint centre = buttonCentre();
    form1.InPortClick();
    ASSERT_EQ(form1.Record.DataRead, 1);
    EXPECT_EQ(buttonCentre(), centre) << "after the read's layout";
    QTest::mouseClick(ui.BtnPuskTimer, Qt::LeftButton);
    ASSERT_TRUE(form1.Timer1.isActive());
    EXPECT_EQ(buttonCentre(), centre) << "with the polling label shown";
    QTest::mouseClick(form1.childAt(centre), Qt::LeftButton);
    EXPECT_FALSE(form1.Timer1.isActive());
    ui.ProgressBar1->show();
    EXPECT_EQ(buttonCentre(), centre) << "with the progress bar shown";
    EXPECT_TRUE(recorder.messages.empty());

    auto tooltipOf = [&](const char* name) {
        QWidget* button = ui.ToolBar1->findChild<QWidget*>(name);
        QHelpEvent help(QEvent::ToolTip, QPoint(4, 4), button->mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(button, &help);
        const QString text = QToolTip::isVisible() ? QToolTip::text() : QString();
        QToolTip::hideText();
        return text;
    };
    EXPECT_EQ(tooltipOf("ToolButton5"), "");
    EXPECT_EQ(tooltipOf("ToolButton3"), ui.APort->toolTip());  // where a hint is, it shows
    EXPECT_EQ(form1.createPopupMenu(), nullptr);
    for (QAction* item : ui.N2Port->actions()) {
        EXPECT_TRUE(item->isSeparator() || !item->icon().isNull()) << item->text().toStdString();
    }
}

}  // namespace
