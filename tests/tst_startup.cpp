// Start-up as a user meets it: the summary box, the help boxes, the options
// dialog released with the window, and the built program declined.
#include "mmtest.h"

#include <QApplication>

#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using mmtest::OptionsEditor;
Q_DECLARE_METATYPE(OptionsEditor)

namespace
{

const QString untouched = "Serial device: /dev/ttyUSB0\nBaudrate: 9600\n\nMessage data bytes: "
                          "12\nSensor 1 type: CMR3000 gyroscope\nSensor 2 type: SCA3100 "
                          "accelerometer\n\nPlease make sure that your device(s) are ready!";

mmtest::MessageBox openBox(MainWindow &window, const char *action)
{
    mmtest::MessageBox seen;
    mmtest::trigger(window, action, {mmtest::closeMessageBox(&seen)});
    return seen;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void summary_data()
    {
        QTest::addColumn<OptionsEditor>("edit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("test mode") << OptionsEditor([](Options &o) { mmtest::setTestMode(o); })
                                   << "TEST MODE\n\n" + untouched;
        // Slot 1 switched off is still named by the type chosen for it.
        QTest::newRow("other device and sensors, slots off")
            << OptionsEditor([](Options &o) {
                   mmtest::setDevice(o, "/dev/ttyACM3");
                   mmtest::setSensor(o, 1, false, 1, 4);
                   mmtest::setSensor(o, 2, false, 0, 5);
               })
            << "Serial device: /dev/ttyACM3\nBaudrate: 9600\n\nMessage data bytes: 9\n"
               "Sensor 1 type: SCA3100 accelerometer\nSensor 2 UNUSED\n\n"
               "Please make sure that your device(s) are ready!";
    }
    void summary()
    {
        QFETCH(OptionsEditor, edit);
        QFETCH(QString, expected);
        mmtest::MessageBox seen;
        QVERIFY(mmtest::startMainWindow(edit, &seen));
        QCOMPARE(seen.text, expected);
        QCOMPARE(seen.title, QString("Information"));
        QVERIFY(seen.icon.isNull());
    }

    // A top-level dialog stays reachable through the toolkit, so a leak check
    // would not notice one left behind: the window must release it itself.
    void windowReleasesTheOptionsDialog()
    {
        auto window = mmtest::startMainWindow();
        QPointer<QWidget> options;
        for (QWidget *w : QApplication::topLevelWidgets())
            options = w->objectName() == "Options" ? w : options.data();
        QVERIFY(options && options->isHidden());
        window.reset();
        QVERIFY(options.isNull());
    }

    void helpBoxes()
    {
        auto window = mmtest::startMainWindow();
        QCOMPARE(openBox(*window, "actionReadme").text, QString("Check readme.txt"));
        // About shows logo.png from the working directory, beside the program.
        const QImage logo = QPixmap(MM_BIN_DIR "/logo.png").toImage();
        QVERIFY(!logo.isNull());
        for (const bool besideLogo : {true, false}) {
            QTemporaryDir elsewhere;
            mmtest::WorkingDirectory here(besideLogo ? QString(MM_BIN_DIR) : elsewhere.path());
            const mmtest::MessageBox about = openBox(*window, "actionAbout");
            QCOMPARE(about.icon.toImage(), besideLogo ? logo : QImage());
            QCOMPARE(about.title, QString("Information"));
            const QStringList lines = about.text.split('\n');
            QCOMPARE(lines.size(), 10); // nine lines, each ended by a line break
            QCOMPARE(lines.first(), QString("This program is made by:"));
            QCOMPARE(lines.at(8), "Version: " + MainWindow::versionString() + " ");
            QVERIFY(lines.at(5).startsWith("at "));
        }
    }

    // The built program declines its start-up options on a termination
    // signal (as on Cancel): status 0.
    void declinedProgramEndsWithStatusZero()
    {
        QProcess p;
        p.start(MM_BINARY);
        // Once it catches the signal (/proc's mask of caught signals).
        QVERIFY(QTest::qWaitFor([&p] {
            QFile status(QString("/proc/%1/status").arg(p.processId()));
            const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : "";
            const int at = text.indexOf("SigCgt:");
            return at >= 0 &&
                   (text.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
        }));
        p.terminate();
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
