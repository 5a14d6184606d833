// Both forms against their tables: every widget by object name with its type,
// parent, place, text, font and initial state; and displays wide enough for
// every sample value.
#include "mmtest.h"

#include <QSignalSpy>
#include <QtTest>
#include <QtWidgets>

namespace
{

using Props = QList<QPair<const char *, QVariant>>;

struct Row {
    const char *name, *type, *parent; // parent null: the form itself
    QRect geometry;                   // null where the toolkit places the object
    const char *text;                 // what the user reads; null: filled by the program
    // "C12b": C for Bitstream Charter (else the window's family), the point
    // size (none: the toolkit's), b for bold. Null: inherited; "-": set by the
    // style sheet.
    const char *font = nullptr;
    Props props = {};
};

const Props panel{{"frameShape", QFrame::StyledPanel}, {"frameShadow", QFrame::Raised}};
const Props lcd{{"segmentStyle", QLCDNumber::Flat}, {"digitCount", 6}, {"mode", QLCDNumber::Dec}};
const char *const lcds[] = {"acc_X", "acc_Y", "acc_Z", "gyro_X", "gyro_Y", "gyro_Z"};

const QString buttonSheet =
    "QPushButton {\ncolor: white;\n"
    "background-color: QLinearGradient( x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #88d, stop: 0.1 "
    "#99e, stop: 0.49 #77c, stop: 0.5 #66b, stop: 1 #77c);\n"
    "border-width: 1px;\nborder-color: #339;\nborder-style: solid;\nborder-radius: 7;\n"
    "padding: 3px;\nfont-size: 20px;\npadding-left: 5px;\npadding-right: 5px;\n"
    "min-width: 70px;\nmax-width: 70px;\nmin-height: 30px;\nmax-height: 30px;\n}\n";

// In creation order, which is also the stacking order among siblings.
// clang-format off
const Row mainWindowTable[] = {
    {"MainWindow", "MainWindow", nullptr, {}, nullptr, nullptr, {{"windowTitle", "MainWindow"}}},
    {"actionOptions", "QAction", "MainWindow", {}, "Options"},
    {"actionReadme", "QAction", "MainWindow", {}, "Readme"},
    {"actionAbout", "QAction", "MainWindow", {}, "About"},
    {"centralWidget", "QWidget", "MainWindow", {}, ""},
    {"msgBrowser", "QTextBrowser", "centralWidget", {10, 100, 200, 261}, nullptr, nullptr,
     {{"styleSheet", "background-color: rgb(0, 0, 0);\ncolor: rgb(255, 255, 255);"}}},
    {"Stop_Button", "QPushButton", "centralWidget", {110, 50, 82, 38}, "Stop", "-",
     {{"styleSheet", buttonSheet}}},
    {"Start_Button", "QPushButton", "centralWidget", {10, 50, 82, 38}, "Start", "-",
     {{"styleSheet", buttonSheet}}},
    {"gyro_Y", "QLCDNumber", "centralWidget", {140, 450, 71, 31}, "", nullptr, lcd},
    {"gyro_Z", "QLCDNumber", "centralWidget", {220, 450, 71, 31}, "", nullptr, lcd},
    {"acc_X", "QLCDNumber", "centralWidget", {60, 410, 71, 31}, "", nullptr, lcd},
    {"gyro_X", "QLCDNumber", "centralWidget", {60, 450, 71, 31}, "", nullptr, lcd},
    {"label_17", "QLabel", "centralWidget", {20, 450, 41, 31}, "Gyro", "10b"},
    {"label_7", "QLabel", "centralWidget", {250, 380, 20, 20}, "Z", "11b"},
    {"label_5", "QLabel", "centralWidget", {90, 380, 16, 21}, "X", "11b"},
    {"label_6", "QLabel", "centralWidget", {170, 380, 20, 20}, "Y", "11b"},
    {"acc_Z", "QLCDNumber", "centralWidget", {220, 410, 71, 31}, "", nullptr, lcd},
    {"acc_Y", "QLCDNumber", "centralWidget", {140, 410, 71, 31}, "", nullptr, lcd},
    {"label_18", "QLabel", "centralWidget", {20, 410, 31, 31}, "Acc", "10b"},
    {"frame", "QFrame", "centralWidget", {240, 130, 151, 91}, "", nullptr, panel},
    {"LogBox1", "QCheckBox", "frame", {10, 10, 91, 18}, "Datalog", "C12b",
     {{"checked", false}, {"tristate", false}}},
    {"frame_2", "QFrame", "centralWidget", {240, 49, 151, 81}, "", nullptr, panel},
    {"label_8", "QLabel", "frame_2", {10, 30, 81, 20}, "interval"},
    {"TaajuusSBox", "QSpinBox", "frame_2", {10, 50, 61, 21}, "42", nullptr,
     {{"minimum", 0}, {"maximum", 1000}, {"singleStep", 1}}},
    {"label_4", "QLabel", "frame_2", {70, 50, 46, 13}, "ms"},
    {"label_3", "QLabel", "frame_2", {10, 10, 81, 31}, "Read"},
    {"frame_3", "QFrame", "centralWidget", {230, 540, 171, 121}, "", nullptr, panel},
    {"Autoscale", "QCheckBox", "frame_3", {70, 40, 101, 22}, "Autoscale", "C11b",
     {{"tristate", true}, {"checked", true}}},
    {"label", "QLabel", "frame_3", {10, 10, 101, 17}, "Plot settings", "C12b"},
    {"label_2", "QLabel", "frame_3", {100, 30, 62, 17}, "Y-axis", "C11b"},
    {"sendInit", "QPushButton", "centralWidget", {240, 290, 151, 27}, "Init Msg", nullptr,
     {{"toolTip", "Send one init message via USB"}}},
    {"frame_4", "QFrame", "centralWidget", {240, 220, 151, 71}, "", nullptr,
     panel + Props{{"toolTip", "Calculates the average of last X values"}}},
    {"groupBox", "QGroupBox", "frame_4", {0, 0, 151, 61}, "Average filter", nullptr,
     {{"checkable", true}, {"checked", false}, {"toolTip", ""}}},
    {"spinBox", "QSpinBox", "groupBox", {80, 30, 59, 27}, "5", nullptr,
     {{"minimum", 2}, {"maximum", 99}, {"singleStep", 1}}},
    {"label_9", "QLabel", "groupBox", {10, 30, 67, 21}, "Values"},
    {"menuBar", "QMenuBar", "MainWindow", {0, 0, 759, 25}, ""},
    {"menuOptions", "QMenu", "menuBar", {}, "Edit"},
    {"menuHelp", "QMenu", "menuBar", {}, "Help"},
    {"mainToolBar", "QToolBar", "MainWindow", {}, ""},
    {"statusBar", "QStatusBar", "MainWindow", {}, ""},
};

const Row optionsTable[] = {
    {"Options", "Options", nullptr, {}, nullptr, nullptr,
     {{"windowTitle", "Options"}, {"size", QSize(592, 407)}}},
    {"buttonBox", "QDialogButtonBox", "Options", {70, 360, 341, 32}, "", nullptr,
     {{"orientation", Qt::Horizontal},
      {"standardButtons", int(QDialogButtonBox::Ok | QDialogButtonBox::Cancel)}}},
    {"frame", "QFrame", "Options", {10, 20, 571, 101}, "", nullptr, panel},
    {"label_2", "QLabel", "frame", {10, 10, 161, 17}, "Message frame setup", "C12b"},
    {"label", "QLabel", "frame", {220, 30, 101, 20}, "Data bytes", "C12b"},
    {"DataBytes", "QSpinBox", "frame", {219, 50, 91, 27}, "12", "C12b", {{"maximum", 99}}},
    {"XSB1", "QGroupBox", "frame", {10, 30, 101, 51}, "Start byte 1", "C", {{"checked", false}}},
    {"StartByte1", "QSpinBox", "XSB1", {10, 20, 61, 27}, "0", nullptr,
     {{"maximum", 99}, {"enabled", false}}},
    {"XSB2", "QGroupBox", "frame", {110, 30, 101, 51}, "Start byte 2", "C", {{"checked", false}}},
    {"StartByte2", "QSpinBox", "XSB2", {10, 20, 61, 27}, "0", nullptr, {{"enabled", false}}},
    {"XEB1", "QGroupBox", "frame", {330, 30, 101, 51}, "End byte 1", "C", {{"checked", true}}},
    {"EndByte1", "QSpinBox", "XEB1", {10, 20, 61, 27}, "55", nullptr,
     {{"maximum", 255}, {"enabled", true}}},
    {"XEB2", "QGroupBox", "frame", {430, 30, 101, 51}, "End byte 2", "C", {{"checked", true}}},
    {"EndByte2", "QSpinBox", "XEB2", {10, 20, 61, 27}, "1", nullptr, {{"maximum", 99}}},
    {"frame_2", "QFrame", "Options", {10, 120, 451, 91}, "", nullptr, panel},
    {"label_3", "QLabel", "frame_2", {10, 10, 171, 21}, "Datalogging directory", "C12b"},
    {"filenameField", "QLineEdit", "frame_2", {10, 40, 171, 27}, "logs"},
    {"BrowseButton", "QPushButton", "frame_2", {190, 40, 93, 27}, "Browse"},
    {"groupBox", "QGroupBox", "frame_2", {290, 20, 161, 51}, "Creation of new file", "C",
     {{"checked", true},
      {"toolTip", "Create a new file when the log file reaches this amount of lines"}}},
    {"label_12", "QLabel", "groupBox", {90, 30, 46, 20}, "lines"},
    {"newfilelines", "QSpinBox", "groupBox", {10, 27, 71, 22}, "50000", nullptr,
     {{"maximum", 1000000}, {"singleStep", 1000}}},
    {"frame_3", "QFrame", "Options", {460, 120, 121, 91}, "", nullptr, panel},
    {"checkBox", "QCheckBox", "frame_3", {10, 10, 111, 22}, "Draw plots", "C12b",
     {{"checked", true}, {"iconSize", QSize(32, 32)}}},
    {"AutoClearOn", "QGroupBox", "frame_3", {10, 40, 121, 51}, "Auto clear", nullptr,
     {{"checked", true}}},
    {"AutoClearLines", "QSpinBox", "AutoClearOn", {40, 20, 71, 27}, "100", nullptr,
     {{"maximum", 100000}}},
    {"label_7", "QLabel", "AutoClearOn", {0, 20, 67, 31}, "lines"},
    {"frame_4", "QFrame", "Options", {10, 210, 211, 141}, "", nullptr, panel},
    {"groupBox_2", "QGroupBox", "frame_4", {10, 10, 201, 101}, "Serial port setup", "C12",
     {{"checked", false}}},
    {"devicenameField", "QLineEdit", "groupBox_2", {70, 30, 111, 27}, "/dev/ttyUSB0", "C11",
     {{"enabled", false}}},
    {"label_4", "QLabel", "groupBox_2", {10, 30, 62, 21}, "Device"},
    {"label_5", "QLabel", "groupBox_2", {10, 70, 71, 31}, "Baudrate"},
    {"comboBox", "QComboBox", "groupBox_2", {80, 70, 89, 31}, "", nullptr,
     {{"enabled", false}, {"editable", false}, {"frame", true}, {"count", 0},
      {"toolTip", "Not yet done, always 9600"}}},
    {"frame_5", "QFrame", "Options", {220, 210, 151, 61}, "", nullptr,
     panel + Props{{"toolTip",
        "This is used to determine wether to use the real wireless sensor program\n"
        "or test mode, in which the sensor input is simulated by sine waves.\n"
        "It is useful for program development."}}},
    {"TestProgram", "QRadioButton", "frame_5", {10, 30, 121, 22}, "Test mode", nullptr,
     {{"checked", false}}},
    {"RealProgram", "QRadioButton", "frame_5", {10, 10, 141, 22}, "Wireless mode", nullptr,
     {{"checked", true}}},
    {"Sensorsetup_box", "QFrame", "Options", {580, 20, 211, 251}, "", nullptr,
     panel + Props{{"hidden", true}}},
    {"label_6", "QLabel", "Sensorsetup_box", {10, 6, 101, 21}, "Sensor setup", "C12b"},
    {"S1_Sensor", "QComboBox", "Sensorsetup_box", {58, 50, 101, 31}, "CMR3000", nullptr,
     {{"currentIndex", 0}, {"count", 2}}},
    {"S1_Bytes", "QSpinBox", "Sensorsetup_box", {160, 50, 41, 31}, "6", nullptr,
     {{"maximum", 99}}},
    {"label_8", "QLabel", "Sensorsetup_box", {70, 30, 62, 17}, "Sensor"},
    {"label_9", "QLabel", "Sensorsetup_box", {160, 30, 62, 17}, "Bytes"},
    {"S2_Sensor", "QComboBox", "Sensorsetup_box", {58, 100, 101, 31}, "SCA3100", nullptr,
     {{"currentIndex", 1}, {"count", 2}}},
    {"S2_Bytes", "QSpinBox", "Sensorsetup_box", {160, 100, 41, 31}, "6"},
    {"S1On", "QCheckBox", "Sensorsetup_box", {10, 51, 51, 31}, "S1", "C12b", {{"checked", true}}},
    {"S2On", "QCheckBox", "Sensorsetup_box", {10, 100, 51, 31}, "S2", "C12b", {{"checked", true}}},
    {"InitMsgOn", "QRadioButton", "Sensorsetup_box", {30, 210, 151, 31}, "Send init Msg", nullptr,
     {{"checked", true}, {"toolTip", "Determines wether to send a init message at startup"}}},
    {"Sensorsetup_Button", "QPushButton", "Options", {370, 210, 211, 61}, "Sensor setup", nullptr,
     {{"checkable", true}, {"checked", false}, {"styleSheet", ""}}},
};
// clang-format on

QObject *byName(QObject *root, const char *name)
{
    if (root->objectName() == name)
        return root;
    const auto found = root->findChildren<QObject *>(name);
    return found.size() == 1 ? found.first() : nullptr;
}

template <std::size_t N> void rows(const Row (&table)[N])
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i)
        QTest::newRow(table[i].name) << int(i);
}

// The row's object exists once, with its type, parent, place, text, font and
// properties, and lies above the siblings created before it.
template <std::size_t N> void checkRow(QWidget *root, const Row (&table)[N])
{
    QFETCH(int, row);
    const Row &r = table[row];
    QObject *o = byName(root, r.name);
    QVERIFY2(o, "missing or not unique");
    QCOMPARE(o->metaObject()->className(), r.type);
    QCOMPARE(o->parent() ? o->parent()->objectName() : QString(), QString(r.parent));
    auto *w = qobject_cast<QWidget *>(o);
    if (!r.geometry.isNull())
        QCOMPARE(w->geometry(), r.geometry);
    if (r.text) {
        QString shown;
        for (const char *p : {"text", "title", "currentText"})
            if (o->metaObject()->indexOfProperty(p) >= 0 && shown.isEmpty())
                shown = o->property(p).toString();
        QCOMPARE(shown, QString(r.text));
    }

    const QString font = r.font;
    if (w && r.font && font != "-") {
        const bool charter = font.startsWith('C'), bold = font.endsWith('b');
        const int size = font.mid(charter, font.size() - charter - bold).toInt();
        QCOMPARE(w->font().family(),
                 charter ? QString("Bitstream Charter") : root->font().family());
        QCOMPARE(w->font().pointSize(), size ? size : QApplication::font().pointSize());
        QCOMPARE(w->font().weight(), bold ? QFont::Bold : QFont::Normal);
    } else if (w && w != root && !r.font) {
        QVERIFY2(!w->testAttribute(Qt::WA_SetFont), "a font of its own");
    }

    for (const auto &[name, want] : r.props) {
        const QVariant have = qstrcmp(name, "hidden") ? o->property(name) : w->isHidden();
        // Enums and flags by value.
        const bool same =
            want.typeId() == QMetaType::Int ? have.toInt() == want.toInt() : have == want;
        QString shown;
        QDebug(&shown) << have;
        QVERIFY2(have.isValid() && same, qPrintable(QString(name) + " is " + shown));
    }

    if (!o->parent())
        return;
    const QObjectList siblings = o->parent()->children();
    for (int earlier = 0; earlier < row; ++earlier)
        if (!qstrcmp(table[earlier].parent, r.parent))
            QVERIFY2(siblings.indexOf(byName(root, table[earlier].name)) < siblings.indexOf(o),
                     table[earlier].name);
}

} // namespace

class TestForms : public QObject
{
    Q_OBJECT
    std::unique_ptr<MainWindow> window;
    Options options;

private slots:
    void initTestCase()
    {
        window = mmtest::startMainWindow([](Options &o) { mmtest::setDrawPlots(o, false); });
        QVERIFY(window);
    }
    void cleanupTestCase() { window.reset(); }

    void mainWindowForm_data() { rows(mainWindowTable); }
    void mainWindowForm() { checkRow(window.get(), mainWindowTable); }
    void optionsForm_data() { rows(optionsTable); }
    void optionsForm() { checkRow(&options, optionsTable); }

    void menus()
    {
        const auto action = [this](const char *name) {
            return mmtest::widget<QAction>(window.get(), name);
        };
        const auto menu = [this](const char *name) {
            return mmtest::widget<QMenu>(window.get(), name)->menuAction();
        };
        QCOMPARE(window->menuBar()->actions(),
                 (QList<QAction *>{menu("menuOptions"), menu("menuHelp")}));
        QCOMPARE(menu("menuOptions")->menu()->actions(), QList<QAction *>{action("actionOptions")});
        QCOMPARE(menu("menuHelp")->menu()->actions(),
                 (QList<QAction *>{action("actionReadme"), action("actionAbout")}));
        QCOMPARE(window->toolBarArea(mmtest::widget<QToolBar>(window.get(), "mainToolBar")),
                 Qt::TopToolBarArea);
    }

    // A display too narrow for a value keeps drawing the previous one: a
    // wrong reading. Gyroscope values reach -32768.
    void displaysShowEveryValue()
    {
        for (const char *name : lcds) {
            auto *lcd = mmtest::widget<QLCDNumber>(window.get(), name);
            QSignalSpy overflow(lcd, &QLCDNumber::overflow);
            lcd->display(0);
            const QImage zero = lcd->grab().toImage();
            lcd->display(-32768);
            QVERIFY2(overflow.isEmpty() && lcd->grab().toImage() != zero, name);
            lcd->display(0);
        }
    }
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
