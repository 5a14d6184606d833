// The option set as its receivers get it: what an acceptance emits and in
// which order, what a decline keeps, the data byte sum, the expanded dialog
// and the directory chooser.
#include "mmtest.h"

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
        QObject::connect(&o, &Options::SendFilename, [this](QString d) { seen << "dir " + d; });
        QObject::connect(&o, &Options::SendDeviceName,
                         [this](QString d) { seen << "device " + d; });
        QObject::connect(&o, &Options::SendNewfileIndex,
                         [this](int lines) { seen << "new file " + QString::number(lines); });
    }
};

const QString untouchedFrame = "12,-1,-1,55,1,0,1,6,6";

QStringList emitted(const QString &frame = untouchedFrame, const QString &dir = "logs",
                    const QString &device = "/dev/ttyUSB0", int newFileLines = 50000)
{
    return {"options " + frame, "dir " + dir, "device " + device,
            "new file " + QString::number(newFileLines)};
}

// Shows the dialog as the program does and answers it.
bool showAndAnswer(Options &o, const mmtest::ModalAnswer &answer)
{
    return mmtest::answerModals([&o] { o.exec(); }, {answer}) == 1;
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The toolkit's own chooser, which the test can answer.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }

    void acceptanceEmits_data()
    {
        using E = mmtest::OptionsEditor;
        QTest::addColumn<E>("edit");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("autoClearLines");
        QTest::newRow("untouched") << E() << emitted() << 100;
        // A switched-on field never yields -1, even at 0.
        QTest::newRow("framing bytes") << E([](Options &o) {
            mmtest::widget<QGroupBox>(&o, "XSB1")->setChecked(true);
            mmtest::widget<QGroupBox>(&o, "XSB2")->setChecked(true);
            mmtest::widget<QSpinBox>(&o, "StartByte2")->setValue(20);
            mmtest::widget<QSpinBox>(&o, "EndByte1")->setValue(255);
            mmtest::widget<QGroupBox>(&o, "XEB2")->setChecked(false);
        }) << emitted("12,0,20,255,-1,0,1,6,6")
                                       << 100;
        // Type and bytes of a switched-off slot still travel.
        QTest::newRow("slot 1 off") << E([](Options &o) { mmtest::setSensor(o, 1, false, 1, 6); })
                                    << emitted("12,-1,-1,55,1,-1,1,6,6") << 100;
        QTest::newRow("slot 2 off, other types and bytes") << E([](Options &o) {
            mmtest::setSensor(o, 1, true, 1, 4);
            mmtest::setSensor(o, 2, false, 0, 5);
        }) << emitted("9,-1,-1,55,1,1,-1,4,5") << 100;
        // Texts are taken as they stand; "Auto clear" switched off does not
        // switch off the plot window length.
        QTest::newRow("mode, plots, paths, lines") << E([](Options &o) {
            mmtest::setTestMode(o);
            mmtest::setDrawPlots(o, false);
            mmtest::setDevice(o, " /dev/ttyS0 ");
            mmtest::setLogDirectory(o, "/tmp/run 1");
            mmtest::widget<QSpinBox>(&o, "newfilelines")->setValue(1000);
            mmtest::widget<QGroupBox>(&o, "AutoClearOn")->setChecked(false);
            mmtest::setAutoClearLines(o, 250);
        }) << emitted(untouchedFrame, "/tmp/run 1", " /dev/ttyS0 ", 1000)
                                                   << 250;
    }
    void acceptanceEmits()
    {
        QFETCH(mmtest::OptionsEditor, edit);
        QFETCH(QStringList, expected);
        QFETCH(int, autoClearLines);
        Options o;
        Emissions emissions(o);
        QVERIFY(showAndAnswer(o, mmtest::acceptOptions(edit)));
        QCOMPARE(emissions.seen, expected);
        QCOMPARE(o.autoClearLines, autoClearLines);
    }

    void declineEmitsNothingAndKeepsEdits_data()
    {
        using D = std::function<void(Options &)>;
        QTest::addColumn<D>("decline");
        QTest::newRow("Cancel") << D([](Options &o) {
            auto *buttons = mmtest::widget<QDialogButtonBox>(&o, "buttonBox");
            buttons->button(QDialogButtonBox::Cancel)->click();
        });
        QTest::newRow("Escape") << D([](Options &o) { QTest::keyClick(&o, Qt::Key_Escape); });
        QTest::newRow("window closed") << D([](Options &o) { o.close(); });
    }
    void declineEmitsNothingAndKeepsEdits()
    {
        QFETCH(std::function<void(Options &)>, decline);
        Options o;
        QVERIFY(showAndAnswer(o, mmtest::acceptOptions()));
        Emissions emissions(o);
        QVERIFY(
            showAndAnswer(o, {&Options::staticMetaObject, [decline](QWidget *w) {
                                  auto &o = *static_cast<Options *>(w);
                                  mmtest::setTestMode(o);
                                  mmtest::setLogDirectory(o, "elsewhere");
                                  mmtest::setSensor(o, 2, false, 0, 3);
                                  mmtest::widget<QPushButton>(&o, "Sensorsetup_Button")->click();
                                  decline(o);
                              }}));
        QVERIFY(emissions.seen.isEmpty());
        QVERIFY(!o.testMode);

        // The next showing finds the edits and the dialog expanded as left;
        // a second click makes it compact again.
        QList<QPair<QSize, bool>> seen; // size and sensor panel shown
        QVERIFY(showAndAnswer(o, mmtest::acceptOptions([&seen](Options &o) {
                                  auto *panel = mmtest::widget<QWidget>(&o, "Sensorsetup_box");
                                  seen.append({o.size(), panel->isVisible()});
                                  mmtest::widget<QPushButton>(&o, "Sensorsetup_Button")->click();
                                  seen.append({o.size(), panel->isVisible()});
                              })));
        QCOMPARE(seen, (QList<QPair<QSize, bool>>{{{800, 407}, true}, {{592, 407}, false}}));
        QCOMPARE(emissions.seen, emitted("9,-1,-1,55,1,0,-1,6,3", "elsewhere"));
        QVERIFY(o.testMode);
    }

    void dataBytesFollowsSensorBytes_data()
    {
        QTest::addColumn<int>("s1Bytes");
        QTest::addColumn<int>("s2Bytes");
        QTest::addColumn<int>("dataBytes");
        QTest::newRow("3 + 6") << 3 << 6 << 9;
        QTest::newRow("0 + 0") << 0 << 0 << 0;
        QTest::newRow("49 + 50") << 49 << 50 << 99;
        QTest::newRow("50 + 50 clamps") << 50 << 50 << 99;
        QTest::newRow("99 + 99 clamps") << 99 << 99 << 99;
    }
    void dataBytesFollowsSensorBytes()
    {
        QFETCH(int, s1Bytes);
        QFETCH(int, s2Bytes);
        QFETCH(int, dataBytes);
        Options o;
        // Both slots count whether or not they are in use.
        mmtest::setSensor(o, 1, false, 0, s1Bytes);
        mmtest::setSensor(o, 2, false, 1, s2Bytes);
        QCOMPARE(mmtest::widget<QSpinBox>(&o, "DataBytes")->value(), dataBytes);
    }

    // Edited by hand, the sum holds until a sensor byte count changes again.
    void dataBytesStaysEditable()
    {
        Options o;
        auto *data = mmtest::widget<QSpinBox>(&o, "DataBytes");
        data->setValue(20);
        QVERIFY(showAndAnswer(o, mmtest::acceptOptions()));
        QCOMPARE(o.dataBytes, 20);
        mmtest::widget<QSpinBox>(&o, "S2_Bytes")->setValue(7);
        QCOMPARE(data->value(), 13);
    }

    void browse_data()
    {
        QTest::addColumn<bool>("relative");
        QTest::addColumn<bool>("choose");
        QTest::newRow("relative field, cancelled") << true << false;
        QTest::newRow("absolute field, directory chosen") << false << true;
    }
    // The chooser starts in the field's directory; its choice is taken at
    // once (and reaches receivers with the acceptance); a cancel keeps the field.
    void browse()
    {
        QFETCH(bool, relative);
        QFETCH(bool, choose);
        QTemporaryDir tmp;
        QVERIFY(QDir(tmp.path()).mkpath("runs/today/chosen"));
        mmtest::WorkingDirectory here(tmp.path());
        const QString field = relative ? "runs/today" : tmp.filePath("runs/today");
        const QString chosen = tmp.filePath("runs/today/chosen");

        Options o;
        Emissions emissions(o);
        QString startedIn, filenameBeforeOk;
        const mmtest::ModalAnswer answerChooser{&QFileDialog::staticMetaObject, [&](QWidget *w) {
                                                    auto *chooser = static_cast<QFileDialog *>(w);
                                                    startedIn = chooser->directory().absolutePath();
                                                    if (!choose)
                                                        return chooser->reject();
                                                    chooser->selectFile("chosen");
                                                    static_cast<QDialog *>(chooser)->accept();
                                                }};
        QVERIFY(showAndAnswer(o, mmtest::acceptOptions([&](Options &o) {
                                  mmtest::setLogDirectory(o, field);
                                  auto *button = mmtest::widget<QPushButton>(&o, "BrowseButton");
                                  mmtest::answerModals([button] { button->click(); },
                                                       {answerChooser});
                                  filenameBeforeOk = o.filename;
                                  QVERIFY(emissions.seen.isEmpty());
                              })));
        QCOMPARE(startedIn, tmp.filePath("runs/today"));
        QCOMPARE(filenameBeforeOk, choose ? chosen : QString());
        QCOMPARE(emissions.seen, emitted(untouchedFrame, choose ? chosen : field));
    }
};

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
