// The option set as its receivers get it: what an acceptance emits and in
// which order, the defaults of programs without the dialog, what a decline
// keeps, the data byte sum and its warning.
#include "mmtest.h"

#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QtTest>

using mmtest::OptionsEditor;
Q_DECLARE_METATYPE(OptionsEditor)

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
            seen << values.join(',');
        });
        QObject::connect(&o, &Options::SendFilename, [this](QString d) { seen << d; });
        QObject::connect(&o, &Options::SendDeviceName, [this](QString d) { seen << d; });
        QObject::connect(&o, &Options::SendNewfileIndex,
                         [this](int lines) { seen << QString::number(lines); });
    }
};

QStringList emitted(const QString &frame = "12,-1,-1,55,1,0,1,6,6", const QString &dir = "logs",
                    const QString &device = "/dev/ttyUSB0", const QString &lines = "50000")
{
    return {frame, dir, device, lines};
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
    void acceptanceEmits_data()
    {
        QTest::addColumn<OptionsEditor>("edit");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("untouched") << OptionsEditor() << emitted();
        // A switched-on field never yields -1, even at 0; every framing byte
        // takes 0 to 255.
        QTest::newRow("framing bytes") << OptionsEditor([](Options &o) {
            mmtest::widget<QGroupBox>(&o, "XSB1")->setChecked(true);
            mmtest::widget<QGroupBox>(&o, "XSB2")->setChecked(true);
            for (const char *name : {"StartByte2", "EndByte2"}) {
                mmtest::widget<QSpinBox>(&o, name)->selectAll();
                QTest::keyClicks(mmtest::widget<QSpinBox>(&o, name), "170");
            }
            mmtest::widget<QSpinBox>(&o, "EndByte1")->setValue(255);
        }) << emitted("12,0,170,255,170,0,1,6,6");
        // Type and bytes of a switched-off slot still travel.
        QTest::newRow("slots off") << OptionsEditor([](Options &o) {
            mmtest::setSensor(o, 1, false, 1, 4);
            mmtest::setSensor(o, 2, false, 0, 5);
        }) << emitted("9,-1,-1,55,1,-1,-1,4,5");
        // Texts are taken as they stand.
        QTest::newRow("paths and lines") << OptionsEditor([](Options &o) {
            mmtest::setDevice(o, " /dev/ttyS0 ");
            mmtest::setLogDirectory(o, "/tmp/run 1");
            mmtest::widget<QSpinBox>(&o, "newfilelines")->setValue(1000);
        }) << emitted("12,-1,-1,55,1,0,1,6,6", "/tmp/run 1", " /dev/ttyS0 ", "1000");
    }
    void acceptanceEmits()
    {
        QFETCH(OptionsEditor, edit);
        QFETCH(QStringList, expected);
        Options o;
        Emissions emissions(o);
        QVERIFY(showAndAnswer(o, mmtest::acceptOptions(edit)));
        QCOMPARE(emissions.seen, expected);
        // Programs without the dialog take its defaults from OptionSet.
        const auto all = [](const OptionSet &s) {
            QStringList v{s.filename, s.devicename};
            for (int i : s.optionArray())
                v << QString::number(i);
            for (int i : {int(s.s1On), int(s.s2On), s.newfileLines, int(s.drawPlots),
                          s.autoClearLines, int(s.testMode), int(s.initMsgOn)})
                v << QString::number(i);
            return v;
        };
        if (!edit)
            QCOMPARE(all(o.settings()), all(OptionSet()));
    }

    // Escape or Cancel: nothing is emitted, and the edits stay for the next
    // showing.
    void declineEmitsNothingAndKeepsEdits()
    {
        Options o;
        Emissions emissions(o);
        QVERIFY(showAndAnswer(o, {&Options::staticMetaObject, [](QWidget *w) {
                                      auto &o = *static_cast<Options *>(w);
                                      mmtest::setTestMode(o);
                                      mmtest::setLogDirectory(o, "elsewhere");
                                      mmtest::setSensor(o, 2, false, 0, 3);
                                      QTest::keyClick(&o, Qt::Key_Escape);
                                  }}));
        QVERIFY(emissions.seen.isEmpty());
        QVERIFY(!o.settings().testMode);
        QVERIFY(showAndAnswer(o, mmtest::acceptOptions()));
        QCOMPARE(emissions.seen, emitted("9,-1,-1,55,1,0,-1,6,3", "elsewhere"));
        QVERIFY(o.settings().testMode);
    }

    // The data bytes follow both slots' bytes, in use or not, up to 99, and
    // a warning says while they cannot carry the slots in use; "Auto clear"
    // switched off does not switch off the plot window length.
    void formRules()
    {
        Options o;
        auto *data = mmtest::widget<QSpinBox>(&o, "DataBytes");
        auto *warning = mmtest::widget<QLabel>(&o, "dataBytesWarning");
        for (const auto &[s1, s2, sum] : {std::tuple{3, 6, 9}, {50, 50, 99}, {0, 0, 0}}) {
            mmtest::setSensor(o, 1, false, 0, s1);
            mmtest::setSensor(o, 2, false, 1, s2);
            QCOMPARE(data->value(), sum);
        }
        for (const auto &[s1, s2, bytes, needed] :
             {std::tuple{true, true, 11, 12}, {true, true, 12, 0}, {true, false, 5, 6}}) {
            mmtest::setSensor(o, 1, s1, 0, 6);
            mmtest::setSensor(o, 2, s2, 1, 6);
            data->setValue(bytes);
            QCOMPARE(warning->text(),
                     needed ? QString("The sensors in use take %1 data bytes").arg(needed)
                            : QString());
        }
        QVERIFY(showAndAnswer(o, mmtest::acceptOptions([](Options &o) {
                                  mmtest::widget<QGroupBox>(&o, "AutoClearOn")->setChecked(false);
                              })));
        QCOMPARE(o.settings().autoClearLines, 100);
    }
};

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
