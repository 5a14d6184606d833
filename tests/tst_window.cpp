// The window as the user meets it: start-up (the summary box, the help boxes,
// the built program declined), then the running window: the test mode through
// the displays, the message log and the log, "Datalog" read at every sample,
// plots from the menu, and the receiver from end to end: every frame at the
// line's pace.
#include "mmtest.h"
#include "samplesource.h"
#include "spectrumwindow.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QUdpSocket>
#include <qcustomplot.h>

#include <csignal>

using namespace mmtest;
Q_DECLARE_METATYPE(OptionsEditor)

namespace
{

const QString untouched = "Serial device: /dev/ttyUSB0\nBaudrate: 9600\n\nMessage data bytes: "
                          "12\nSensor 1 type: CMR3000 gyroscope\nSensor 2 type: SCA3100 "
                          "accelerometer\n\nPlease make sure that your device(s) are ready!";

void setDatalog(MainWindow &w, bool on)
{
    widget<QCheckBox>(&w, "LogBox1")->setChecked(on);
}

Values lcdValues(const MainWindow &window)
{
    Values v{};
    const char *names[6] = {"acc_X", "acc_Y", "acc_Z", "gyro_X", "gyro_Y", "gyro_Z"};
    for (int i = 0; i < 6; ++i)
        v[i] = widget<QLCDNumber>(&window, names[i])->intValue();
    return v;
}

void press(MainWindow &window, const char *button)
{
    widget<QPushButton>(&window, button)->click();
}

// Runs `count` ticks at a read interval of `ms`; Stop follows the last at
// once. `atTick` runs after each tick, with its number.
bool runTicks(MainWindow &window, int count, int ms, const std::function<void(int)> &atTick = {})
{
    int ticks = 0;
    widget<QSpinBox>(&window, "TaajuusSBox")->setValue(ms);
    auto *timer = widget<QTimer>(&window, "acquisitionTimer");
    const auto c = QObject::connect(timer, &QTimer::timeout, [&] {
        if (atTick)
            atTick(ticks);
        if (++ticks == count)
            press(window, "Stop_Button");
    });
    press(window, "Start_Button");
    const bool done = QTest::qWaitFor([timer] { return !timer->isActive(); }, 30000);
    QObject::disconnect(c);
    return done && ticks == count;
}

OptionsEditor options(bool test, bool plots, const QString &logDir, const QString &device = {})
{
    return [=](Options &o) {
        setTestMode(o, test);
        setDrawPlots(o, plots);
        setLogDirectory(o, logDir);
        if (!device.isEmpty())
            setDevice(o, device);
    };
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void summary_data()
    {
        QTest::addColumn<OptionsEditor>("edit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("test mode")
            << OptionsEditor([](Options &o) { setTestMode(o); }) << "TEST MODE\n\n" + untouched;
        // Slot 1 switched off is still named by the type chosen for it.
        QTest::newRow("other device and sensors, slots off")
            << OptionsEditor([](Options &o) {
                   setDevice(o, "/dev/ttyACM3");
                   setSensor(o, 1, false, 1, 4);
                   setSensor(o, 2, false, 0, 5);
               })
            << "Serial device: /dev/ttyACM3\nBaudrate: 9600\n\nMessage data bytes: 9\n"
               "Sensor 1 type: SCA3100 accelerometer\nSensor 2 UNUSED\n\n"
               "Please make sure that your device(s) are ready!";
    }
    void summary()
    {
        QFETCH(OptionsEditor, edit);
        QFETCH(QString, expected);
        MessageBox seen;
        QVERIFY(startMainWindow(edit, &seen));
        QCOMPARE(seen.text, expected);
        QCOMPARE(seen.title, QString("Information"));
        QVERIFY(seen.icon.isNull());
    }

    void helpBoxes()
    {
        auto window = startMainWindow();
        MessageBox readme, about;
        trigger(*window, "actionReadme", {closeMessageBox(&readme)});
        QCOMPARE(readme.text, QString("Check readme.txt"));
        // About shows logo.png from the working directory, beside the program.
        const QImage logo = QPixmap(MM_BIN_DIR "/logo.png").toImage();
        QVERIFY(!logo.isNull());
        for (const bool besideLogo : {true, false}) {
            QTemporaryDir elsewhere;
            WorkingDirectory here(besideLogo ? QString(MM_BIN_DIR) : elsewhere.path());
            trigger(*window, "actionAbout", {closeMessageBox(&about)});
            QCOMPARE(about.icon.toImage(), besideLogo ? logo : QImage());
            QCOMPARE(about.title, QString("Information"));
            QCOMPARE(about.text.section('\n', 8, 8),
                     "Version: " + MainWindow::versionString() + " ");
        }
    }

    // The built program declines its start-up options on a termination
    // signal (as on Cancel): status 0.
    void declinedProgramEndsWithStatusZero()
    {
        QProcess p;
        p.start(MM_BINARY);
        // Once the program itself (not the test's fork before it) catches the
        // signal, by /proc's mask of caught signals.
        QVERIFY(QTest::qWaitFor([&p] {
            const QString proc = QString("/proc/%1/").arg(p.processId());
            QFile status(proc + "status");
            const QByteArray text = QFileInfo(proc + "exe").canonicalFilePath() ==
                                                QFileInfo(MM_BINARY).canonicalFilePath() &&
                                            status.open(QIODevice::ReadOnly)
                                        ? status.readAll()
                                        : "";
            const int at = text.indexOf("SigCgt:");
            return at >= 0 &&
                   (text.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
        }));
        p.terminate();
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }
    // Twenty ticks with "Datalog" off for five: every other sample logged,
    // the index running on; the displays show the newest; the message log
    // holds the acceptance's lines, then Stop's alone.
    void testModeThroughTheWindow()
    {
        QTemporaryDir dir;
        auto window = startMainWindow(options(true, true, dir.path()));
        const auto *messages = widget<QTextBrowser>(window.get(), "msgBrowser");
        QCOMPARE(messages->toPlainText(), QString("options updated.\n****************\nTEST MODE"));
        setDatalog(*window, true);
        QVERIFY(
            runTicks(*window, 20, 5, [&](int tick) { setDatalog(*window, tick < 4 || tick > 8); }));
        QStringList expected;
        for (int t = 0, row = 0; t < 20; ++t)
            if (t < 5 || t > 9)
                expected << logRow(row++, valuesOf(TestWaves::at(t)));
        QCOMPARE(logRows(dir.path()), expected);
        QTRY_COMPARE(lcdValues(*window), valuesOf(TestWaves::at(19)));
        QCOMPARE(messages->toPlainText(), QString("Test stopped"));
        // A display too narrow for a value would keep showing the previous one.
        auto *lcd = widget<QLCDNumber>(window.get(), "gyro_Z");
        QSignalSpy overflow(lcd, &QLCDNumber::overflow);
        lcd->display(-32768);
        QVERIFY(overflow.isEmpty());
    }

    // "Edit → Live outputs…": a port out of range is refused in the form, which stays open; a UDP
    // destination accepted gets every sample of the test mode, with the sensor of the one slot in
    // use, and the status bar shows it.
    void liveOutputsFromTheMenu()
    {
        QTemporaryDir dir;
        QUdpSocket plotjuggler;
        QVERIFY(plotjuggler.bind(QHostAddress::LocalHost));
        const QString port = QString::number(plotjuggler.localPort());
        auto window = startMainWindow([&](Options &o) {
            options(true, true, dir.path())(o);
            setSensor(o, 2, false, 1, 6);
        });
        QString refused;
        trigger(*window, "actionLiveOutputs",
                {{&QDialog::staticMetaObject, [&](QWidget *d) {
                      for (const QString &given : {QStringLiteral("70000"), port}) {
                          widget<QLineEdit>(d, "udpDestinations")->setText(given);
                          widget<QDialogButtonBox>(d, "buttonBox")
                              ->button(QDialogButtonBox::Ok)
                              ->click();
                          refused += widget<QLabel>(d, "problem")->text();
                      }
                  }}});
        QCOMPARE(refused, "UDP destinations: 70000: the port must be a number from 1 to 65535");
        QVERIFY(runTicks(*window, 10, 5));
        for (int t = 0; t < 10; ++t) {
            QTRY_VERIFY(plotjuggler.hasPendingDatagrams());
            const QJsonObject o =
                QJsonDocument::fromJson(plotjuggler.receiveDatagram().data()).object();
            const Sample s = TestWaves::at(t);
            QCOMPARE(o.keys(), QStringList({"gyro", "timestamp"}));
            QCOMPARE(o["gyro"].toObject(),
                     QJsonObject({{"x", s.gyro[0]}, {"y", s.gyro[1]}, {"z", s.gyro[2]}}));
        }
        QCOMPARE(widget<QLabel>(window.get(), "linkState")->text(), "udp: up");
    }

    // Without plots the waves stand still; plots turned on from the menu are
    // built and the window grows; turned off, they stay and go on drawing.
    void plotsFromTheMenu()
    {
        QTemporaryDir dir;
        auto window = startMainWindow(options(true, false, dir.path()));
        QCOMPARE(window->size(), QSize(450, 780));
        QVERIFY(runTicks(*window, 5, 2));
        QTRY_COMPARE(lcdValues(*window), valuesOf(TestWaves::at(0)));
        QVERIFY(reopenOptions(*window, options(true, true, dir.path())));
        QCOMPARE(window->size(), QSize(1000, 780));
        QVERIFY(reopenOptions(*window, options(true, false, dir.path())));
        QVERIFY(runTicks(*window, 5, 2));
        QCOMPARE(widget<QCustomPlot>(window.get(), "gyroPlot")->graph(2)->dataCount(), 5);
        QTRY_COMPARE(lcdValues(*window), valuesOf(TestWaves::at(4)));
    }

    // "View" > "Spectrum": the live spectrum of what test mode generates finds the
    // accelerometer X wave at 0.2 radians a sample, at the rate the samples came.
    void liveSpectrum()
    {
        QTemporaryDir dir;
        auto window = startMainWindow(options(true, true, dir.path()));
        window->findChild<QAction *>("actionSpectrum")->trigger();
        auto *live = window->findChild<SpectrumWindow *>();
        QVERIFY(live && live->isVisible());
        QVERIFY(runTicks(*window, 250, 4));
        QTRY_VERIFY(live->spectrum().segments == (250 - 64) / 32 + 1);
        const Spectrum &s = live->spectrum();
        QVERIFY(s.rate > 50 && s.rate < 300); // a tick every 4 ms, late under load
        QVERIFY(std::abs(s.frequency(s.peak(Recording::AccX)) - 0.2 / (2 * M_PI) * s.rate) <
                s.step());
    }

    // The simulator at the line's pace and the default read interval for
    // 20 s, with the default log directory `logs` in a working directory with
    // a space: every frame shown, plotted and logged once, in order, none
    // left waiting; the status bar counts what came; the session opens whole
    // from elsewhere, its first second holding the line's rate of rows.
    void everyFrameAtTheLinesPace()
    {
        QTemporaryDir dir(QDir::tempPath() + "/mm window XXXXXX");
        WorkingDirectory here(dir.path());
        const QString link = dir.filePath("ttyUSB0");
        QVERIFY(QDir().mkdir("logs"));
        Nodesim sim(link, {"--count", "1360"});
        auto window = startMainWindow([&](Options &o) { setDevice(o, link); });
        setDatalog(*window, true);
        press(*window, "Start_Button");
        QTRY_VERIFY_WITH_TIMEOUT(sim.said("all 1360 frames sent"), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(logRows("logs").size(), 1360, 1000);
        const QStringList rows = sineRows(1360);
        QCOMPARE(logRows("logs"), rows);
        QTRY_COMPARE(logRow(1359, lcdValues(*window)), rows.last());
        auto *accX = widget<QCustomPlot>(window.get(), "accPlot")->graph(0);
        QCOMPARE(int(accX->data()->at(accX->dataCount() - 1)->value), lcdValues(*window)[0]);
        const auto *status = widget<QLabel>(window.get(), "linkState");
        QTRY_VERIFY2(status->text().startsWith("ttyUSB0 · 0 samples/s · 1360 frames · 0 stray "
                                               "bytes\nlog ") &&
                         status->text().endsWith(": 1360 rows"),
                     qPrintable(status->text()));
        press(*window, "Stop_Button");
        const QString session =
            dir.filePath("logs/" + QDir("logs").entryList({"*.jsonl"}).value(0));
        const QStringList csv = exportedCsv(session);
        QCOMPARE(csv.size(), 1361);
        QCOMPARE(csv[1360].section(',', 1), rows.last().section(',', 1));
        QVERIFY2(qAbs(rowsPerSecond(csv)[0] - 68) <= 3, qPrintable(csv.mid(60, 15).join(' ')));
    }

    // "Edit" > "Add note…" (Ctrl+M) while acquiring: the moment is taken at once (before the first
    // row: at the session's start), the text asked for while acquisition ticks on. Two notes open
    // at once land at their moments however they are finished; the message log shows them;
    // Cancel drops a note.
    void notes()
    {
        QTemporaryDir dir;
        auto window = startMainWindow(options(true, false, dir.path()));
        auto *action = widget<QAction>(window.get(), "actionAddNote");
        setDatalog(*window, true);
        widget<QSpinBox>(window.get(), "TaajuusSBox")->setValue(10);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        qint64 asked[2] = {QDateTime::currentMSecsSinceEpoch()};
        press(*window, "Start_Button");
        QTest::keyClick(window.get(), Qt::Key_M, Qt::ControlModifier); // before the first row
        const auto ticks = [&](int rows) { // rows logged while the dialogs are open
            const int now = int(logRows(dir.path()).size());
            return QTest::qWaitFor([&] { return logRows(dir.path()).size() > now + rows; });
        };
        QVERIFY(ticks(5));
        asked[1] = QDateTime::currentMSecsSinceEpoch();
        action->trigger();
        QVERIFY(ticks(10));
        const auto dialogs = window->findChildren<QInputDialog *>("noteDialog");
        QVERIFY(dialogs.size() == 2 && dialogs[0]->isVisible() && !dialogs[0]->isModal());
        const QString text = "trial 3, \"left\" foot";
        QTest::keyClicks(dialogs[1]->findChild<QLineEdit *>(), text + '\r');
        QTest::keyClick(dialogs[0]->findChild<QLineEdit *>(), Qt::Key_Return);
        QVERIFY(widget<QTextBrowser>(window.get(), "msgBrowser")
                    ->toPlainText()
                    .contains(" s into the session): " + text + "\nNote at "));
        QTRY_VERIFY(window->findChildren<QInputDialog *>("noteDialog").isEmpty());
        action->trigger();
        QTest::keyClick(window->findChild<QInputDialog *>("noteDialog"), Qt::Key_Escape);
        press(*window, "Stop_Button");
        const auto read = readSession(dir.path());
        const Timeline &timeline = *read->timeline();
        QCOMPARE(int(timeline.notes.size()), 2);
        for (int i = 0; i < 2; ++i)
            QVERIFY(qAbs(timeline.facts.start.toMSecsSinceEpoch() +
                         qRound64(timeline.notes[i].seconds * 1000) - asked[i]) < 50 &&
                    timeline.notes[i].text == (i ? text : QString()));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
