// The option set as its receivers get it: what an acceptance emits and in
// which order, what a Cancel keeps, the data byte sum, the two dialog states
// and the directory chooser.
#include "mmtest.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(mmtest::OptionsEditor)

namespace
{

// Everything the four signals deliver, one line per emission, in order.
struct Emissions {
    QStringList seen;
    explicit Emissions(Options &o)
    {
        QObject::connect(&o, &Options::SendOptions, [this](int *frame) {
            QStringList values;
            for (int i = 0; i < 9; ++i)
                values << QString::number(frame[i]);
            seen << "options " + values.join(',');
        });
        QObject::connect(&o, &Options::SendFilename,
                         [this](QString dir) { seen << "directory " + dir; });
        QObject::connect(&o, &Options::SendDeviceName,
                         [this](QString device) { seen << "device " + device; });
        QObject::connect(&o, &Options::SendNewfileIndex,
                         [this](int lines) { seen << "new file " + QString::number(lines); });
    }
};

QStringList emitted(const QString &frame, const QString &dir = "logs",
                    const QString &device = "/dev/ttyUSB0", int newFileLines = 50000)
{
    return {"options " + frame, "directory " + dir, "device " + device,
            "new file " + QString::number(newFileLines)};
}

QString members(const Options &o)
{
    return QStringLiteral("dataBytes %1, filename %2, devicename %3, drawPlots %4, testMode %5, "
                          "s1On %6, s2On %7, initMsgOn %8, s1Sensor %9, s2Sensor %10, "
                          "autoClearLines %11")
        .arg(o.dataBytes)
        .arg(o.filename, o.devicename)
        .arg(o.drawPlots)
        .arg(o.testMode)
        .arg(o.s1On)
        .arg(o.s2On)
        .arg(o.initMsgOn)
        .arg(o.s1Sensor)
        .arg(o.s2Sensor)
        .arg(o.autoClearLines);
}

const QString untouchedMembers =
    "dataBytes 12, filename logs, devicename /dev/ttyUSB0, drawPlots 1, testMode 0, s1On 1, "
    "s2On 1, initMsgOn 1, s1Sensor 0, s2Sensor 1, autoClearLines 100";

// Shows the dialog as the program does and answers it.
bool showAndAnswer(Options &o, const mmtest::ModalAnswer &answer)
{
    return mmtest::answerModals([&o] { o.exec(); }, {answer}) == 1;
}

template <class T> T *in(Options &o, const char *name)
{
    return mmtest::widget<T>(&o, name);
}

// Runs Browse as a user does, answering the directory chooser with `answer`.
void browse(Options &o, const std::function<void(QFileDialog *)> &answer)
{
    auto *button = in<QPushButton>(o, "BrowseButton");
    mmtest::answerModals([button] { button->click(); },
                         {{&QFileDialog::staticMetaObject,
                           [answer](QWidget *w) { answer(static_cast<QFileDialog *>(w)); }}});
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void acceptanceEmits_data();
    void acceptanceEmits();
    void everyAcceptanceEmitsAgain();
    void declineEmitsNothingAndKeepsEdits_data();
    void declineEmitsNothingAndKeepsEdits();
    void dataBytesFollowsSensorBytes_data();
    void dataBytesFollowsSensorBytes();
    void dataBytesStaysEditable();
    void sensorSetupExpandsAndCompacts();
    void browseStartsInTheFieldsDirectory_data();
    void browseStartsInTheFieldsDirectory();
    void browseCancelKeepsTheDirectory();
    void browseChoiceIsKeptBeforeAcceptance();
};

void TestOptions::initTestCase()
{
    // The toolkit's own chooser, so that the test can answer it.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void TestOptions::acceptanceEmits_data()
{
    using E = mmtest::OptionsEditor;
    QTest::addColumn<E>("edit");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("expectedMembers");

    QTest::newRow("untouched") << E() << emitted("12,-1,-1,55,1,0,1,6,6") << untouchedMembers;
    // A switched-on field never yields -1, even at 0.
    QTest::newRow("start byte 1 on at 0")
        << E([](Options &o) { in<QGroupBox>(o, "XSB1")->setChecked(true); })
        << emitted("12,0,-1,55,1,0,1,6,6") << untouchedMembers;
    QTest::newRow("start bytes on, end bytes off") << E([](Options &o) {
        in<QGroupBox>(o, "XSB1")->setChecked(true);
        in<QSpinBox>(o, "StartByte1")->setValue(170); // clamped to 99
        in<QGroupBox>(o, "XSB2")->setChecked(true);
        in<QSpinBox>(o, "StartByte2")->setValue(20);
        in<QGroupBox>(o, "XEB1")->setChecked(false);
        in<QGroupBox>(o, "XEB2")->setChecked(false);
    }) << emitted("12,99,20,-1,-1,0,1,6,6") << untouchedMembers;
    QTest::newRow("end byte 1 at 255")
        << E([](Options &o) { in<QSpinBox>(o, "EndByte1")->setValue(255); })
        << emitted("12,-1,-1,255,1,0,1,6,6") << untouchedMembers;
    // Bytes and type of a switched-off slot still travel.
    QTest::newRow("slot 1 off") << E([](Options &o) { mmtest::setSensor(o, 1, false, 1, 6); })
                                << emitted("12,-1,-1,55,1,-1,1,6,6")
                                << QString(untouchedMembers)
                                       .replace("s1On 1", "s1On 0")
                                       .replace("s1Sensor 0", "s1Sensor 1");
    QTest::newRow("slot 2 off") << E([](Options &o) { mmtest::setSensor(o, 2, false, 1, 4); })
                                << emitted("10,-1,-1,55,1,0,-1,6,4")
                                << QString(untouchedMembers)
                                       .replace("dataBytes 12", "dataBytes 10")
                                       .replace("s2On 1", "s2On 0");
    QTest::newRow("sensors swapped") << E([](Options &o) {
        mmtest::setSensor(o, 1, true, 1, 4);
        mmtest::setSensor(o, 2, true, 0, 5);
    }) << emitted("9,-1,-1,55,1,1,0,4,5")
                                     << QString(untouchedMembers)
                                            .replace("dataBytes 12", "dataBytes 9")
                                            .replace("s1Sensor 0", "s1Sensor 1")
                                            .replace("s2Sensor 1", "s2Sensor 0");
    // Texts are taken as they stand; "Auto clear" switched off does not
    // switch off the plot window length.
    QTest::newRow("mode, plots, paths, lines") << E([](Options &o) {
        mmtest::setTestMode(o);
        mmtest::setDrawPlots(o, false);
        mmtest::setDevice(o, " /dev/ttyS0 ");
        mmtest::setLogDirectory(o, "/tmp/run 1");
        mmtest::setNewFileLines(o, 1000);
        in<QGroupBox>(o, "AutoClearOn")->setChecked(false);
        mmtest::setAutoClearLines(o, 250);
    }) << emitted("12,-1,-1,55,1,0,1,6,6", "/tmp/run 1", " /dev/ttyS0 ", 1000)
                                               << "dataBytes 12, filename /tmp/run 1, devicename  "
                                                  "/dev/ttyS0 , drawPlots 0, testMode 1, s1On 1, "
                                                  "s2On 1, initMsgOn 1, s1Sensor 0, s2Sensor 1, "
                                                  "autoClearLines 250";
    QTest::newRow("empty texts, largest counts") << E([](Options &o) {
        mmtest::setDevice(o, "");
        mmtest::setLogDirectory(o, "");
        mmtest::setNewFileLines(o, 2000000); // clamped to 1000000
        mmtest::setAutoClearLines(o, 100000);
    }) << emitted("12,-1,-1,55,1,0,1,6,6", "", "", 1000000)
                                                 << "dataBytes 12, filename , devicename , "
                                                    "drawPlots 1, testMode 0, s1On 1, s2On 1, "
                                                    "initMsgOn 1, s1Sensor 0, s2Sensor 1, "
                                                    "autoClearLines 100000";
}

void TestOptions::acceptanceEmits()
{
    QFETCH(mmtest::OptionsEditor, edit);
    QFETCH(QStringList, expected);
    QFETCH(QString, expectedMembers);

    Options o;
    Emissions emissions(o);
    bool membersOldDuringDelivery = true;
    // Receivers read the members in their slots: they are set before emission.
    connect(&o, &Options::SendOptions, [&] { membersOldDuringDelivery = !o.initMsgOn; });
    QVERIFY(showAndAnswer(o, mmtest::acceptOptions(edit)));
    QCOMPARE(emissions.seen, expected);
    QCOMPARE(members(o), expectedMembers);
    QVERIFY(!membersOldDuringDelivery);
    QCOMPARE(o.result(), int(QDialog::Accepted));
}

void TestOptions::everyAcceptanceEmitsAgain()
{
    Options o;
    Emissions emissions(o);
    QVERIFY(showAndAnswer(o, mmtest::acceptOptions()));
    QVERIFY(showAndAnswer(o, mmtest::acceptOptions()));
    QCOMPARE(emissions.seen, emitted("12,-1,-1,55,1,0,1,6,6") + emitted("12,-1,-1,55,1,0,1,6,6"));
}

void TestOptions::declineEmitsNothingAndKeepsEdits_data()
{
    QTest::addColumn<std::function<void(Options &)>>("decline");
    using D = std::function<void(Options &)>;
    QTest::newRow("Cancel") << D([](Options &o) {
        in<QDialogButtonBox>(o, "buttonBox")->button(QDialogButtonBox::Cancel)->click();
    });
    QTest::newRow("Escape") << D([](Options &o) { QTest::keyClick(&o, Qt::Key_Escape); });
    QTest::newRow("window closed") << D([](Options &o) { o.close(); });
}

void TestOptions::declineEmitsNothingAndKeepsEdits()
{
    QFETCH(std::function<void(Options &)>, decline);

    Options o;
    QVERIFY(showAndAnswer(o, mmtest::acceptOptions()));
    Emissions emissions(o);
    QVERIFY(showAndAnswer(o, {&Options::staticMetaObject, [decline](QWidget *w) {
                                  auto &o = *static_cast<Options *>(w);
                                  mmtest::setTestMode(o);
                                  mmtest::setLogDirectory(o, "elsewhere");
                                  mmtest::setSensor(o, 2, false, 0, 3);
                                  in<QPushButton>(o, "Sensorsetup_Button")->click();
                                  decline(o);
                              }}));
    QCOMPARE(o.result(), int(QDialog::Rejected));
    QVERIFY(emissions.seen.isEmpty());
    QCOMPARE(members(o), untouchedMembers);

    // The next showing finds the edits and the expanded state as left.
    bool keptEdits = false;
    QVERIFY(showAndAnswer(o, mmtest::acceptOptions([&keptEdits](Options &o) {
                              keptEdits = o.size() == QSize(800, 407) &&
                                          in<QWidget>(o, "Sensorsetup_box")->isVisible() &&
                                          in<QLineEdit>(o, "filenameField")->text() == "elsewhere";
                          })));
    QVERIFY(keptEdits);
    QCOMPARE(emissions.seen, emitted("9,-1,-1,55,1,0,-1,6,3", "elsewhere"));
    QVERIFY(o.testMode);
}

void TestOptions::dataBytesFollowsSensorBytes_data()
{
    QTest::addColumn<int>("s1Bytes");
    QTest::addColumn<int>("s2Bytes");
    QTest::addColumn<int>("dataBytes");
    QTest::newRow("3 + 6") << 3 << 6 << 9;
    QTest::newRow("6 + 2") << 6 << 2 << 8;
    QTest::newRow("0 + 0") << 0 << 0 << 0;
    QTest::newRow("49 + 50") << 49 << 50 << 99;
    QTest::newRow("50 + 50 clamps") << 50 << 50 << 99;
    QTest::newRow("60 + 50 clamps") << 60 << 50 << 99;
    QTest::newRow("99 + 99 clamps") << 99 << 99 << 99;
}

void TestOptions::dataBytesFollowsSensorBytes()
{
    QFETCH(int, s1Bytes);
    QFETCH(int, s2Bytes);
    QFETCH(int, dataBytes);

    Options o;
    auto *data = in<QSpinBox>(o, "DataBytes");
    QCOMPARE(data->value(), 12);
    in<QSpinBox>(o, "S1_Bytes")->setValue(s1Bytes);
    in<QSpinBox>(o, "S2_Bytes")->setValue(s2Bytes);
    QCOMPARE(data->value(), dataBytes);
    // Both slots count whether or not they are in use.
    in<QCheckBox>(o, "S2On")->setChecked(false);
    in<QCheckBox>(o, "S1On")->setChecked(false);
    QCOMPARE(data->value(), dataBytes);
}

void TestOptions::dataBytesStaysEditable()
{
    Options o;
    auto *data = in<QSpinBox>(o, "DataBytes");
    data->setValue(20);
    Emissions emissions(o);
    QVERIFY(showAndAnswer(o, mmtest::acceptOptions()));
    QCOMPARE(emissions.seen.first(), QString("options 20,-1,-1,55,1,0,1,6,6"));
    QCOMPARE(o.dataBytes, 20);
    // Until a sensor byte count changes again.
    in<QSpinBox>(o, "S2_Bytes")->setValue(7);
    QCOMPARE(data->value(), 13);
}

void TestOptions::sensorSetupExpandsAndCompacts()
{
    Options o;
    auto *button = in<QPushButton>(o, "Sensorsetup_Button");
    auto *panel = in<QWidget>(o, "Sensorsetup_box");
    QList<std::pair<QSize, bool>> states; // size and panel shown, as the user sees them
    QVERIFY(showAndAnswer(o, mmtest::acceptOptions([&](Options &o) {
                              states.append({o.size(), panel->isVisible()});
                              QTest::mouseClick(button, Qt::LeftButton);
                              states.append({o.size(), panel->isVisible()});
                              QTest::mouseClick(button, Qt::LeftButton);
                              states.append({o.size(), panel->isVisible()});
                          })));
    const QList<std::pair<QSize, bool>> expected{
        {QSize(592, 407), false}, {QSize(800, 407), true}, {QSize(592, 407), false}};
    QCOMPARE(states, expected);
}

void TestOptions::browseStartsInTheFieldsDirectory_data()
{
    QTest::addColumn<bool>("relative");
    QTest::newRow("relative to the working directory") << true;
    QTest::newRow("absolute") << false;
}

void TestOptions::browseStartsInTheFieldsDirectory()
{
    QFETCH(bool, relative);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir(tmp.path()).mkpath("runs/today"));
    mmtest::WorkingDirectory here(tmp.path());

    Options o;
    const QString field = relative ? "runs/today" : tmp.filePath("runs/today");
    mmtest::setLogDirectory(o, field);
    QString startedIn;
    browse(o, [&](QFileDialog *chooser) {
        startedIn = chooser->directory().absolutePath();
        chooser->reject();
    });
    QCOMPARE(startedIn, tmp.filePath("runs/today"));
}

void TestOptions::browseCancelKeepsTheDirectory()
{
    Options o;
    Emissions emissions(o);
    bool shown = false;
    QVERIFY(showAndAnswer(o, mmtest::acceptOptions([&](Options &o) {
                              browse(o, [&](QFileDialog *chooser) {
                                  shown = true;
                                  chooser->reject();
                              });
                          })));
    QVERIFY(shown);
    QCOMPARE(in<QLineEdit>(o, "filenameField")->text(), QString("logs"));
    QCOMPARE(o.filename, QString("logs"));
    QCOMPARE(emissions.seen, emitted("12,-1,-1,55,1,0,1,6,6"));
}

void TestOptions::browseChoiceIsKeptBeforeAcceptance()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString chosen = tmp.filePath("chosen");
    QVERIFY(QDir().mkpath(chosen));

    Options o;
    Emissions emissions(o);
    QString filenameAfterBrowse;
    QVERIFY(showAndAnswer(
        o, mmtest::cancelOptions([&](Options &o) {
            browse(o, [&](QFileDialog *chooser) {
                chooser->setDirectory(tmp.path());
                chooser->selectFile("chosen");
                chooser->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Open)->click();
            });
            filenameAfterBrowse = o.filename;
        })));
    QCOMPARE(filenameAfterBrowse, chosen);
    QCOMPARE(in<QLineEdit>(o, "filenameField")->text(), chosen);
    // Taken at once, yet no receiver has heard of it.
    QCOMPARE(o.filename, chosen);
    QVERIFY(emissions.seen.isEmpty());

    QVERIFY(showAndAnswer(o, mmtest::acceptOptions()));
    QCOMPARE(emissions.seen, emitted("12,-1,-1,55,1,0,1,6,6", chosen));
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
