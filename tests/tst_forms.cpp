// Both forms as the user meets them: every widget by object name with its type,
// parent, place, text, font and initial state, and the six-digit displays.
#include "mmtest.h"
#include "ui_mainwindow.h"
#include "ui_options.h"

#include <QSignalSpy>
#include <QtTest>

namespace
{

struct Widget {
    const char *name;
    const char *type;
    const char *parent;
    QRect geometry;   // null where the toolkit places the object
    const char *text; // null: not the form's (the log fills itself at start-up)
};

// In creation order, which is also the stacking order among siblings.
const Widget mainWindowTable[] = {
    {"actionOptions", "QAction", "MainWindow", {}, "Options"},
    {"actionReadme", "QAction", "MainWindow", {}, "Readme"},
    {"actionAbout", "QAction", "MainWindow", {}, "About"},
    {"centralWidget", "QWidget", "MainWindow", {}, ""},
    {"msgBrowser", "QTextBrowser", "centralWidget", {10, 100, 200, 261}, nullptr},
    {"Stop_Button", "QPushButton", "centralWidget", {110, 50, 82, 38}, "Stop"},
    {"Start_Button", "QPushButton", "centralWidget", {10, 50, 82, 38}, "Start"},
    {"gyro_Y", "QLCDNumber", "centralWidget", {140, 450, 71, 31}, ""},
    {"gyro_Z", "QLCDNumber", "centralWidget", {220, 450, 71, 31}, ""},
    {"acc_X", "QLCDNumber", "centralWidget", {60, 410, 71, 31}, ""},
    {"gyro_X", "QLCDNumber", "centralWidget", {60, 450, 71, 31}, ""},
    {"label_17", "QLabel", "centralWidget", {20, 450, 41, 31}, "Gyro"},
    {"label_7", "QLabel", "centralWidget", {250, 380, 20, 20}, "Z"},
    {"label_5", "QLabel", "centralWidget", {90, 380, 16, 21}, "X"},
    {"label_6", "QLabel", "centralWidget", {170, 380, 20, 20}, "Y"},
    {"acc_Z", "QLCDNumber", "centralWidget", {220, 410, 71, 31}, ""},
    {"acc_Y", "QLCDNumber", "centralWidget", {140, 410, 71, 31}, ""},
    {"label_18", "QLabel", "centralWidget", {20, 410, 31, 31}, "Acc"},
    {"frame", "QFrame", "centralWidget", {240, 130, 151, 91}, ""},
    {"LogBox1", "QCheckBox", "frame", {10, 10, 91, 18}, "Datalog"},
    {"frame_2", "QFrame", "centralWidget", {240, 49, 151, 81}, ""},
    {"label_8", "QLabel", "frame_2", {10, 30, 81, 20}, "interval"},
    {"TaajuusSBox", "QSpinBox", "frame_2", {10, 50, 61, 21}, "42"},
    {"label_4", "QLabel", "frame_2", {70, 50, 46, 13}, "ms"},
    {"label_3", "QLabel", "frame_2", {10, 10, 81, 31}, "Read"},
    {"frame_3", "QFrame", "centralWidget", {230, 540, 171, 121}, ""},
    {"Autoscale", "QCheckBox", "frame_3", {70, 40, 101, 22}, "Autoscale"},
    {"label", "QLabel", "frame_3", {10, 10, 101, 17}, "Plot settings"},
    {"label_2", "QLabel", "frame_3", {100, 30, 62, 17}, "Y-axis"},
    {"sendInit", "QPushButton", "centralWidget", {240, 290, 151, 27}, "Init Msg"},
    {"frame_4", "QFrame", "centralWidget", {240, 220, 151, 71}, ""},
    {"groupBox", "QGroupBox", "frame_4", {0, 0, 151, 61}, "Average filter"},
    {"spinBox", "QSpinBox", "groupBox", {80, 30, 59, 27}, "5"},
    {"label_9", "QLabel", "groupBox", {10, 30, 67, 21}, "Values"},
    {"menuBar", "QMenuBar", "MainWindow", {0, 0, 759, 25}, ""},
    {"menuOptions", "QMenu", "menuBar", {}, "Edit"},
    {"menuHelp", "QMenu", "menuBar", {}, "Help"},
    {"mainToolBar", "QToolBar", "MainWindow", {}, ""},
    {"statusBar", "QStatusBar", "MainWindow", {}, ""},
};

const Widget optionsTable[] = {
    {"buttonBox", "QDialogButtonBox", "Options", {70, 360, 341, 32}, ""},
    {"frame", "QFrame", "Options", {10, 20, 571, 101}, ""},
    {"label_2", "QLabel", "frame", {10, 10, 161, 17}, "Message frame setup"},
    {"label", "QLabel", "frame", {220, 30, 101, 20}, "Data bytes"},
    {"DataBytes", "QSpinBox", "frame", {219, 50, 91, 27}, "12"},
    {"XSB1", "QGroupBox", "frame", {10, 30, 101, 51}, "Start byte 1"},
    {"StartByte1", "QSpinBox", "XSB1", {10, 20, 61, 27}, "0"},
    {"XSB2", "QGroupBox", "frame", {110, 30, 101, 51}, "Start byte 2"},
    {"StartByte2", "QSpinBox", "XSB2", {10, 20, 61, 27}, "0"},
    {"XEB1", "QGroupBox", "frame", {330, 30, 101, 51}, "End byte 1"},
    {"EndByte1", "QSpinBox", "XEB1", {10, 20, 61, 27}, "55"},
    {"XEB2", "QGroupBox", "frame", {430, 30, 101, 51}, "End byte 2"},
    {"EndByte2", "QSpinBox", "XEB2", {10, 20, 61, 27}, "1"},
    {"frame_2", "QFrame", "Options", {10, 120, 451, 91}, ""},
    {"label_3", "QLabel", "frame_2", {10, 10, 171, 21}, "Datalogging directory"},
    {"filenameField", "QLineEdit", "frame_2", {10, 40, 171, 27}, "logs"},
    {"BrowseButton", "QPushButton", "frame_2", {190, 40, 93, 27}, "Browse"},
    {"groupBox", "QGroupBox", "frame_2", {290, 20, 161, 51}, "Creation of new file"},
    {"label_12", "QLabel", "groupBox", {90, 30, 46, 20}, "lines"},
    {"newfilelines", "QSpinBox", "groupBox", {10, 27, 71, 22}, "50000"},
    {"frame_3", "QFrame", "Options", {460, 120, 121, 91}, ""},
    {"checkBox", "QCheckBox", "frame_3", {10, 10, 111, 22}, "Draw plots"},
    {"AutoClearOn", "QGroupBox", "frame_3", {10, 40, 121, 51}, "Auto clear"},
    {"AutoClearLines", "QSpinBox", "AutoClearOn", {40, 20, 71, 27}, "100"},
    {"label_7", "QLabel", "AutoClearOn", {0, 20, 67, 31}, "lines"},
    {"frame_4", "QFrame", "Options", {10, 210, 211, 141}, ""},
    {"groupBox_2", "QGroupBox", "frame_4", {10, 10, 201, 101}, "Serial port setup"},
    {"devicenameField", "QLineEdit", "groupBox_2", {70, 30, 111, 27}, "/dev/ttyUSB0"},
    {"label_4", "QLabel", "groupBox_2", {10, 30, 62, 21}, "Device"},
    {"label_5", "QLabel", "groupBox_2", {10, 70, 71, 31}, "Baudrate"},
    {"comboBox", "QComboBox", "groupBox_2", {80, 70, 89, 31}, ""},
    {"frame_5", "QFrame", "Options", {220, 210, 151, 61}, ""},
    {"TestProgram", "QRadioButton", "frame_5", {10, 30, 121, 22}, "Test mode"},
    {"RealProgram", "QRadioButton", "frame_5", {10, 10, 141, 22}, "Wireless mode"},
    {"Sensorsetup_box", "QFrame", "Options", {580, 20, 211, 251}, ""},
    {"label_6", "QLabel", "Sensorsetup_box", {10, 6, 101, 21}, "Sensor setup"},
    {"S1_Sensor", "QComboBox", "Sensorsetup_box", {58, 50, 101, 31}, "CMR3000"},
    {"S1_Bytes", "QSpinBox", "Sensorsetup_box", {160, 50, 41, 31}, "6"},
    {"label_8", "QLabel", "Sensorsetup_box", {70, 30, 62, 17}, "Sensor"},
    {"label_9", "QLabel", "Sensorsetup_box", {160, 30, 62, 17}, "Bytes"},
    {"S2_Sensor", "QComboBox", "Sensorsetup_box", {58, 100, 101, 31}, "SCA3100"},
    {"S2_Bytes", "QSpinBox", "Sensorsetup_box", {160, 100, 41, 31}, "6"},
    {"S1On", "QCheckBox", "Sensorsetup_box", {10, 51, 51, 31}, "S1"},
    {"S2On", "QCheckBox", "Sensorsetup_box", {10, 100, 51, 31}, "S2"},
    {"InitMsgOn", "QRadioButton", "Sensorsetup_box", {30, 210, 151, 31}, "Send init Msg"},
    {"Sensorsetup_Button", "QPushButton", "Options", {370, 210, 211, 61}, "Sensor setup"},
};

// What the user reads on an object: its label, title, text or value.
QString shownText(const QObject *o)
{
    if (auto *b = qobject_cast<const QAbstractButton *>(o))
        return b->text();
    if (auto *l = qobject_cast<const QLabel *>(o))
        return l->text();
    if (auto *g = qobject_cast<const QGroupBox *>(o))
        return g->title();
    if (auto *m = qobject_cast<const QMenu *>(o))
        return m->title();
    if (auto *a = qobject_cast<const QAction *>(o))
        return a->text();
    if (auto *e = qobject_cast<const QLineEdit *>(o))
        return e->text();
    if (auto *s = qobject_cast<const QAbstractSpinBox *>(o))
        return s->text();
    if (auto *c = qobject_cast<const QComboBox *>(o))
        return c->currentText();
    if (auto *t = qobject_cast<const QTextEdit *>(o))
        return t->toPlainText();
    return QString();
}

struct Font {
    const char *name;
    const char *family; // null: the window's family
    int pointSize;      // 0: the toolkit's default size
    bool bold;
};

const Font mainWindowFontTable[] = {
    {"label_17", nullptr, 10, true},
    {"label_18", nullptr, 10, true},
    {"label_7", nullptr, 11, true},
    {"label_5", nullptr, 11, true},
    {"label_6", nullptr, 11, true},
    {"LogBox1", "Bitstream Charter", 12, true},
    {"label", "Bitstream Charter", 12, true},
    {"Autoscale", "Bitstream Charter", 11, true},
    {"label_2", "Bitstream Charter", 11, true},
};

const Font optionsFontTable[] = {
    {"label_2", "Bitstream Charter", 12, true},
    {"label", "Bitstream Charter", 12, true},
    {"DataBytes", "Bitstream Charter", 12, true},
    {"label_3", "Bitstream Charter", 12, true},
    {"checkBox", "Bitstream Charter", 12, true},
    {"label_6", "Bitstream Charter", 12, true},
    {"S1On", "Bitstream Charter", 12, true},
    {"S2On", "Bitstream Charter", 12, true},
    {"XSB1", "Bitstream Charter", 0, false},
    {"XSB2", "Bitstream Charter", 0, false},
    {"XEB1", "Bitstream Charter", 0, false},
    {"XEB2", "Bitstream Charter", 0, false},
    {"groupBox", "Bitstream Charter", 0, false},
    {"groupBox_2", "Bitstream Charter", 12, false},
    {"devicenameField", "Bitstream Charter", 11, false},
};

const QString buttonSheet =
    "QPushButton {\n"
    "color: white;\n"
    "background-color: QLinearGradient( x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #88d, stop: 0.1 "
    "#99e, stop: 0.49 #77c, stop: 0.5 #66b, stop: 1 #77c);\n"
    "border-width: 1px;\n"
    "border-color: #339;\n"
    "border-style: solid;\n"
    "border-radius: 7;\n"
    "padding: 3px;\n"
    "font-size: 20px;\n"
    "padding-left: 5px;\n"
    "padding-right: 5px;\n"
    "min-width: 70px;\n"
    "max-width: 70px;\n"
    "min-height: 30px;\n"
    "max-height: 30px;\n"
    "}\n";

// name, property, value: the initial state of the main window's widgets.
struct State {
    QString name;
    const char *property;
    QVariant value;
};

const QString lcds[] = {"acc_X", "acc_Y", "acc_Z", "gyro_X", "gyro_Y", "gyro_Z"};
const QString frames[] = {"frame", "frame_2", "frame_3", "frame_4"};

QList<State> mainWindowStateTable()
{
    QList<State> s{
        {"MainWindow", "windowTitle", "MainWindow"},
        {"msgBrowser", "styleSheet", "background-color: rgb(0, 0, 0);\ncolor: rgb(255, 255, 255);"},
        {"Start_Button", "styleSheet", buttonSheet},
        {"Stop_Button", "styleSheet", buttonSheet},
        {"LogBox1", "checked", false},
        {"LogBox1", "tristate", false},
        {"TaajuusSBox", "minimum", 0},
        {"TaajuusSBox", "maximum", 1000},
        {"TaajuusSBox", "singleStep", 1},
        {"Autoscale", "tristate", true},
        {"Autoscale", "checked", true},
        {"groupBox", "checkable", true},
        {"groupBox", "checked", false},
        {"spinBox", "minimum", 2},
        {"spinBox", "maximum", 99},
        {"spinBox", "singleStep", 1},
        {"sendInit", "toolTip", "Send one init message via USB"},
        {"frame_4", "toolTip", "Calculates the average of last X values"},
        {"groupBox", "toolTip", ""},
    };
    for (const QString &lcd : lcds) {
        s.append({lcd, "segmentStyle", int(QLCDNumber::Flat)});
        s.append({lcd, "digitCount", 6});
        s.append({lcd, "mode", int(QLCDNumber::Dec)});
    }
    for (const QString &frame : frames) {
        s.append({frame, "frameShape", int(QFrame::StyledPanel)});
        s.append({frame, "frameShadow", int(QFrame::Raised)});
    }
    return s;
}

QList<State> optionsStateTable()
{
    QList<State> s{
        {"Options", "windowTitle", "Options"},
        {"Options", "size", QSize(592, 407)},
        {"DataBytes", "maximum", 99},
        {"StartByte1", "maximum", 99},
        {"StartByte1", "enabled", false},
        {"StartByte2", "enabled", false},
        {"XSB1", "checked", false},
        {"XSB2", "checked", false},
        {"XEB1", "checked", true},
        {"XEB2", "checked", true},
        {"EndByte1", "maximum", 255},
        {"EndByte1", "enabled", true},
        {"EndByte2", "maximum", 99},
        {"groupBox", "checked", true},
        {"groupBox", "toolTip", "Create a new file when the log file reaches this amount of lines"},
        {"newfilelines", "maximum", 1000000},
        {"newfilelines", "singleStep", 1000},
        {"checkBox", "checked", true},
        {"checkBox", "iconSize", QSize(32, 32)},
        {"AutoClearOn", "checked", true},
        {"AutoClearLines", "maximum", 100000},
        {"groupBox_2", "checked", false},
        {"devicenameField", "enabled", false},
        {"comboBox", "enabled", false},
        {"comboBox", "editable", false},
        {"comboBox", "frame", true},
        {"comboBox", "count", 0},
        {"comboBox", "toolTip", "Not yet done, always 9600"},
        {"frame_5", "toolTip",
         "This is used to determine wether to use the real wireless sensor program\n"
         "or test mode, in which the sensor input is simulated by sine waves.\n"
         "It is useful for program development."},
        {"TestProgram", "checked", false},
        {"RealProgram", "checked", true},
        {"S1_Sensor", "currentIndex", 0},
        {"S2_Sensor", "currentIndex", 1},
        {"S1_Bytes", "maximum", 99},
        {"S1On", "checked", true},
        {"S2On", "checked", true},
        {"InitMsgOn", "checked", true},
        {"InitMsgOn", "toolTip", "Determines wether to send a init message at startup"},
        {"Sensorsetup_box", "hidden", true},
        {"Sensorsetup_Button", "checkable", true},
        {"Sensorsetup_Button", "checked", false},
        {"Sensorsetup_Button", "styleSheet", ""},
        {"buttonBox", "orientation", int(Qt::Horizontal)},
        {"buttonBox", "standardButtons", int(QDialogButtonBox::Ok | QDialogButtonBox::Cancel)},
    };
    for (const char *frame :
         {"frame", "frame_2", "frame_3", "frame_4", "frame_5", "Sensorsetup_box"}) {
        s.append({frame, "frameShape", int(QFrame::StyledPanel)});
        s.append({frame, "frameShadow", int(QFrame::Raised)});
    }
    return s;
}

QObject *byName(QObject *root, const QString &name)
{
    if (root->objectName() == name)
        return root;
    const auto found = root->findChildren<QObject *>(name);
    return found.size() == 1 ? found.first() : nullptr;
}

} // namespace

class TestForms : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void mainWindowWidgets_data();
    void mainWindowWidgets();
    void mainWindowStates_data();
    void mainWindowStates();
    void mainWindowFonts();
    void mainWindowMenus();
    void displaysShowGyroscopeExtremes_data();
    void displaysShowGyroscopeExtremes();
    void autoscaleStepsThroughThreeStates();

    void optionsWidgets_data();
    void optionsWidgets();
    void optionsStates_data();
    void optionsStates();
    void optionsFonts();
    void optionsSensorChoices();

    void formsOwnSizesAndTitles();

private:
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<Options> options;
};

void TestForms::initTestCase()
{
    window = mmtest::startMainWindow([](Options &o) { mmtest::setDrawPlots(o, false); });
    QVERIFY(window);
    options = std::make_unique<Options>();
}

void TestForms::cleanupTestCase()
{
    window.reset();
    options.reset();
}

template <std::size_t N> static void widgetRows(const Widget (&table)[N])
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i)
        QTest::newRow(table[i].name) << int(i);
}

// The object of the row exists once, with its type, parent, place and text,
// and lies above the siblings created before it.
template <std::size_t N>
static void checkWidgetRow(QObject *root, const Widget (&table)[N], int row)
{
    const Widget &w = table[row];
    QObject *o = byName(root, w.name);
    QVERIFY2(o, "missing or not unique");
    QCOMPARE(o->metaObject()->className(), w.type);
    QVERIFY(o->parent());
    QCOMPARE(o->parent()->objectName(), QString(w.parent));
    if (!w.geometry.isNull())
        QCOMPARE(qobject_cast<QWidget *>(o)->geometry(), w.geometry);
    if (w.text)
        QCOMPARE(shownText(o), QString(w.text));

    const QObjectList siblings = o->parent()->children();
    for (int earlier = 0; earlier < row; ++earlier) {
        if (qstrcmp(table[earlier].parent, w.parent) != 0)
            continue;
        QObject *e = byName(root, table[earlier].name);
        QVERIFY2(siblings.indexOf(e) < siblings.indexOf(o), table[earlier].name);
    }
}

static void stateRows(const QList<State> &states)
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");
    for (const State &s : states)
        QTest::addRow("%s %s", qPrintable(s.name), s.property)
            << s.name << QByteArray(s.property) << s.value;
}

static void checkStateRow(QObject *root)
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);
    QObject *o = byName(root, name);
    QVERIFY(o);
    const QVariant actual = property == "hidden" ? QVariant(qobject_cast<QWidget *>(o)->isHidden())
                                                 : o->property(property.constData());
    QVERIFY(actual.isValid());
    if (value.typeId() == QMetaType::Int)
        QCOMPARE(actual.toInt(), value.toInt()); // enums and flags by value
    else
        QCOMPARE(actual, value);
}

// Listed widgets carry their font; every other widget keeps its parent's.
template <std::size_t N>
static void checkFonts(QWidget *root, const Font (&fonts)[N], const QStringList &styled = {})
{
    QStringList listed;
    for (const Font &f : fonts) {
        listed << f.name;
        auto *w = qobject_cast<QWidget *>(byName(root, f.name));
        QVERIFY2(w, f.name);
        const QFont font = w->font();
        QCOMPARE(font.family(), f.family ? QString(f.family) : root->font().family());
        QCOMPARE(font.pointSize(), f.pointSize ? f.pointSize : QApplication::font().pointSize());
        QCOMPARE(font.bold(), f.bold);
        QCOMPARE(font.weight(), f.bold ? QFont::Bold : QFont::Normal);
    }
    const auto all = root->findChildren<QWidget *>();
    for (QWidget *w : all) {
        if (w->objectName().isEmpty() || listed.contains(w->objectName()) ||
            styled.contains(w->objectName()))
            continue;
        QVERIFY2(!w->testAttribute(Qt::WA_SetFont), qPrintable(w->objectName()));
    }
}

void TestForms::mainWindowWidgets_data()
{
    widgetRows(mainWindowTable);
}

void TestForms::mainWindowWidgets()
{
    QFETCH(int, row);
    checkWidgetRow(window.get(), mainWindowTable, row);
}

void TestForms::mainWindowStates_data()
{
    stateRows(mainWindowStateTable());
}

void TestForms::mainWindowStates()
{
    checkStateRow(window.get());
}

void TestForms::mainWindowFonts()
{
    // The two buttons take their size from their style sheet.
    checkFonts(window.get(), mainWindowFontTable, {"Start_Button", "Stop_Button"});
}

void TestForms::mainWindowMenus()
{
    auto *bar = mmtest::widget<QMenuBar>(window.get(), "menuBar");
    auto *edit = mmtest::widget<QMenu>(window.get(), "menuOptions");
    auto *help = mmtest::widget<QMenu>(window.get(), "menuHelp");
    QCOMPARE(window->menuBar(), bar);
    QCOMPARE(bar->actions(), (QList<QAction *>{edit->menuAction(), help->menuAction()}));
    QCOMPARE(edit->actions(),
             QList<QAction *>{mmtest::widget<QAction>(window.get(), "actionOptions")});
    QCOMPARE(help->actions(),
             (QList<QAction *>{mmtest::widget<QAction>(window.get(), "actionReadme"),
                               mmtest::widget<QAction>(window.get(), "actionAbout")}));

    auto *tools = mmtest::widget<QToolBar>(window.get(), "mainToolBar");
    QCOMPARE(window->toolBarArea(tools), Qt::TopToolBarArea);
    QVERIFY(tools->actions().isEmpty());
    QCOMPARE(window->statusBar(), mmtest::widget<QStatusBar>(window.get(), "statusBar"));
    QVERIFY(window->statusBar()->currentMessage().isEmpty());
    QCOMPARE(window->centralWidget(), mmtest::widget<QWidget>(window.get(), "centralWidget"));
}

void TestForms::displaysShowGyroscopeExtremes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("value");
    for (const QString &lcd : lcds)
        for (int value : {-32768, -10000, 32767})
            QTest::addRow("%s %d", qPrintable(lcd), value) << lcd << value;
}

// A display too narrow for a value keeps drawing the previous one: the reading
// on the screen would be wrong. Every sample value must fit.
void TestForms::displaysShowGyroscopeExtremes()
{
    QFETCH(QString, name);
    QFETCH(int, value);
    auto *lcd = mmtest::widget<QLCDNumber>(window.get(), name);
    QVERIFY(!lcd->checkOverflow(value));

    QSignalSpy overflow(lcd, &QLCDNumber::overflow);
    lcd->display(0);
    const QImage before = lcd->grab().toImage();
    lcd->display(value);
    QCOMPARE(overflow.count(), 0);
    QVERIFY2(lcd->grab().toImage() != before, "the display did not change");

    // And what is drawn is the value itself, as an equally wide display draws it.
    QLCDNumber reference(lcd->digitCount(), lcd->parentWidget());
    reference.setSegmentStyle(lcd->segmentStyle());
    reference.setGeometry(lcd->geometry());
    reference.display(value);
    QCOMPARE(lcd->grab().toImage().convertToFormat(QImage::Format_RGB32),
             reference.grab().toImage().convertToFormat(QImage::Format_RGB32));
    lcd->display(0);
}

void TestForms::autoscaleStepsThroughThreeStates()
{
    auto *autoscale = mmtest::widget<QCheckBox>(window.get(), "Autoscale");
    QCOMPARE(autoscale->checkState(), Qt::Checked);
    QList<Qt::CheckState> seen;
    for (int click = 0; click < 3; ++click) {
        QTest::mouseClick(autoscale, Qt::LeftButton, {}, QPoint(8, autoscale->height() / 2));
        seen << autoscale->checkState();
    }
    QCOMPARE(seen, (QList<Qt::CheckState>{Qt::Unchecked, Qt::PartiallyChecked, Qt::Checked}));
}

void TestForms::optionsWidgets_data()
{
    widgetRows(optionsTable);
}

void TestForms::optionsWidgets()
{
    QFETCH(int, row);
    checkWidgetRow(options.get(), optionsTable, row);
}

void TestForms::optionsStates_data()
{
    stateRows(optionsStateTable());
}

void TestForms::optionsStates()
{
    checkStateRow(options.get());
}

void TestForms::optionsFonts()
{
    checkFonts(options.get(), optionsFontTable);
}

void TestForms::optionsSensorChoices()
{
    for (const char *name : {"S1_Sensor", "S2_Sensor"}) {
        auto *combo = mmtest::widget<QComboBox>(options.get(), name);
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QString("CMR3000"));
        QCOMPARE(combo->itemText(1), QString("SCA3100"));
    }
    auto *buttons = mmtest::widget<QDialogButtonBox>(options.get(), "buttonBox");
    QCOMPARE(buttons->buttons().size(), 2);
}

// What the two form descriptions give before their classes take over.
void TestForms::formsOwnSizesAndTitles()
{
    QMainWindow mainHost;
    Ui_MainWindow mainForm;
    mainForm.setupUi(&mainHost);
    QCOMPARE(mainHost.size(), QSize(759, 752));
    QCOMPARE(mainHost.objectName(), QString("MainWindow"));

    QDialog dialogHost;
    Ui_Options dialogForm;
    dialogForm.setupUi(&dialogHost);
    QCOMPARE(dialogHost.size(), QSize(804, 407));
    QCOMPARE(dialogHost.objectName(), QString("Options"));
    QCOMPARE(dialogHost.windowTitle(), QString("Dialog"));
    QVERIFY(dialogForm.devicenameField->text().isEmpty());
    QCOMPARE(dialogForm.S1_Sensor->count(), 0);

    // A name given beforehand is kept.
    QMainWindow named;
    named.setObjectName("kept");
    Ui_MainWindow again;
    again.setupUi(&named);
    QCOMPARE(named.objectName(), QString("kept"));
}

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
