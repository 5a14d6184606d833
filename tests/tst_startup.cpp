// Start-up as a user meets it: the summary box, the help boxes, the options
// dialog released with the window, and the built program on a real X server.
#include "mmtest.h"
#include "xvfbsession.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(mmtest::OptionsEditor)

namespace
{

const QString summaryTail = "Message data bytes: 12\n"
                            "Sensor 1 type: CMR3000 gyroscope\n"
                            "Sensor 2 type: SCA3100 accelerometer\n"
                            "\n"
                            "Please make sure that your device(s) are ready!";
const QString untouchedSummary = "Serial device: /dev/ttyUSB0\nBaudrate: 9600\n\n" + summaryTail;

mmtest::MessageBox openBox(MainWindow &window, const char *action)
{
    mmtest::MessageBox seen;
    mmtest::trigger(window, action, {mmtest::closeMessageBox(&seen)});
    return seen;
}

// The built program on its own X server, started beside logo.png, up to
// its options dialog.
struct ProgramOnX {
    XvfbSession x;
    QProcess process;
    qint64 pid = 0;
    QString options; // the options dialog's window

    void start()
    {
        QVERIFY2(x.isRunning(), qPrintable(x.error()));
        process.setProcessEnvironment(x.environment());
        process.setWorkingDirectory(MM_BIN_DIR);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(MM_BINARY, {});
        QVERIFY(process.waitForStarted(30000));
        pid = process.processId();
        options = x.waitForWindow(pid, "^Options$");
        QVERIFY2(!options.isEmpty(), qPrintable(output()));
    }
    QString output() { return QString::fromLocal8Bit(process.readAll()); }
    ~ProgramOnX()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(30000);
        }
    }
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void summary_data()
    {
        using E = mmtest::OptionsEditor;
        QTest::addColumn<E>("edit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("test mode")
            << E([](Options &o) { mmtest::setTestMode(o); }) << "TEST MODE\n\n" + untouchedSummary;
        QTest::newRow("slot 2 off")
            << E([](Options &o) { mmtest::setSensor(o, 2, false, 1, 6); })
            << QString(untouchedSummary)
                   .replace("Sensor 2 type: SCA3100 accelerometer", "Sensor 2 UNUSED");
        // Slot 1 switched off is still named by the type chosen for it.
        QTest::newRow("slot 1 off")
            << E([](Options &o) { mmtest::setSensor(o, 1, false, 0, 6); }) << untouchedSummary;
        QTest::newRow("other device and sensors")
            << E([](Options &o) {
                   mmtest::setDevice(o, "/dev/ttyACM3");
                   mmtest::setSensor(o, 1, true, 1, 4);
                   mmtest::setSensor(o, 2, true, 0, 5);
               })
            << "Serial device: /dev/ttyACM3\nBaudrate: 9600\n\nMessage data bytes: 9\n"
               "Sensor 1 type: SCA3100 accelerometer\nSensor 2 type: CMR3000 gyroscope\n\n"
               "Please make sure that your device(s) are ready!";
    }

    void summary()
    {
        QFETCH(mmtest::OptionsEditor, edit);
        QFETCH(QString, expected);
        mmtest::MessageBox seen;
        QVERIFY(mmtest::startMainWindow(edit, &seen));
        QCOMPARE(seen.text, expected);
        QCOMPARE(seen.title, QString("Information"));
        QCOMPARE(seen.buttons, int(QMessageBox::Ok));
        QVERIFY(seen.icon.isNull());
    }

    // A top-level dialog stays reachable through the toolkit, so a leak check
    // would not notice one left behind: the window must release it itself.
    void windowReleasesTheOptionsDialog()
    {
        auto window = mmtest::startMainWindow();
        QVERIFY(window);
        QPointer<Options> options;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *o = qobject_cast<Options *>(w))
                options = o;
        QVERIFY(options && options->isHidden());
        window.reset();
        QVERIFY(options.isNull());
    }

    void helpBoxes()
    {
        auto window = mmtest::startMainWindow();
        QVERIFY(window);
        const mmtest::MessageBox readme = openBox(*window, "actionReadme");
        QCOMPARE(readme.text, QString("Check readme.txt"));
        QCOMPARE(readme.title, QString("Information"));
        QVERIFY(readme.icon.isNull());

        // About shows logo.png from the working directory, where it lies beside
        // the installed program.
        QPixmap logo(QStringLiteral(MM_BIN_DIR "/logo.png"));
        QVERIFY(!logo.isNull());
        for (const bool besideLogo : {true, false}) {
            QTemporaryDir elsewhere;
            mmtest::WorkingDirectory here(besideLogo ? QString(MM_BIN_DIR) : elsewhere.path());
            const mmtest::MessageBox about = openBox(*window, "actionAbout");
            QCOMPARE(about.icon.toImage(), besideLogo ? logo.toImage() : QImage());
            QCOMPARE(about.title, QString("Information"));
            const QStringList lines = about.text.split('\n');
            QCOMPARE(lines.size(), 10); // nine lines, each ended by a line break
            QCOMPARE(lines.first(), QString("This program is made by:"));
            QCOMPARE(lines.at(8), QString("Version: 1.3.0_linux "));
            QVERIFY(lines.at(1).isEmpty() && lines.at(4).isEmpty() && lines.at(7).isEmpty());
            QVERIFY(lines.at(5).startsWith("at "));
        }
    }

    void declinedProgramEndsWithStatusZero()
    {
        ProgramOnX p;
        p.start();
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(p.x.visibleWindows(p.pid, "."), QStringList{p.options});
        QVERIFY(p.x.pressKey(p.options, "Escape"));
        // Until the process has ended, no other window may appear.
        const QDeadlineTimer deadline(60000);
        while (p.process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
            QVERIFY2(p.x.visibleWindows(p.pid, "^(MainWindow|Information)$").isEmpty(),
                     "a window appeared after the options were declined");
            p.process.waitForFinished(50);
        }
        QCOMPARE(p.process.state(), QProcess::NotRunning);
        QCOMPARE(p.process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.process.exitCode() == 0, qPrintable(p.output()));
    }

    void acceptedProgramShowsSummaryThenWindow_data()
    {
        QTest::addColumn<bool>("drawPlots");
        QTest::addColumn<QSize>("size");
        QTest::newRow("plots") << true << QSize(1000, 780);
        QTest::newRow("Draw plots off") << false << QSize(450, 780);
    }

    void acceptedProgramShowsSummaryThenWindow()
    {
        QFETCH(bool, drawPlots);
        QFETCH(QSize, size);
        ProgramOnX p;
        p.start();
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(p.x.windowSize(p.options), QSize(592, 407));
        // "Draw plots" sits at 10,10 in the plot panel at 460,120.
        if (!drawPlots)
            QVERIFY(p.x.click(p.options, 460 + 10 + 8, 120 + 10 + 11));
        QVERIFY(p.x.pressKey(p.options, "Return"));

        const QString summary = p.x.waitForWindow(p.pid, "^Information$");
        QVERIFY2(!summary.isEmpty(), qPrintable(p.output()));
        QCOMPARE(p.x.visibleWindows(p.pid, "^(MainWindow|Options)$"), QStringList());
        QVERIFY(p.x.pressKey(summary, "Return"));

        const QString window = p.x.waitForWindow(p.pid, "^MainWindow$");
        QVERIFY2(!window.isEmpty(), qPrintable(p.output()));
        QCOMPARE(p.x.windowSize(window), size);
        QCOMPARE(p.x.xdotool({"getwindowname", window}), QString("MainWindow"));
        QCOMPARE(p.x.visibleWindows(p.pid, "^Information$"), QStringList());
        QCOMPARE(p.process.state(), QProcess::Running);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
