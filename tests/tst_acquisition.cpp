// Acquisition without a window, as the window and the recorder drive it: the
// test mode's waves, the lines of Start and Stop, one source per log file and
// nothing stale after a switch, Stop taking what waits, the session file, and
// nothing sent back to the receiver.
#include "acquisition.h"
#include "datalogger.h"
#include "recording.h"
#include "testcore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace mmtest;

namespace
{

const QDateTime t0(QDate(2026, 12, 5), QTime(9, 5, 3));

// An acquisition wired as the window wires it, its lines collected ("¶"
// marks a line that begins a new page).
struct Rig {
    Acquisition acq;
    QStringList lines;
    Rig(const QString &device, const QString &logDir, bool testMode = false)
    {
        OptionSet o;
        o.devicename = device;
        o.filename = logDir;
        acq.applyOptions(o);
        switchTo(testMode);
        QObject::connect(acq.timer(), &QTimer::timeout, &acq, &Acquisition::tick);
        QObject::connect(&acq, &Acquisition::message, [this](const QString &text, bool page) {
            lines << (page ? "¶" : "") + text;
        });
    }
    void switchTo(bool testMode)
    {
        OptionSet o = acq.options();
        o.testMode = testMode;
        acq.setOptions(o);
    }
};

} // namespace

class TestAcquisition : public QObject
{
    Q_OBJECT
private slots:
    void testWaves_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<Values>("expected");
        // Truncated toward zero: at t = 31 accelerometer X is just below zero.
        QTest::newRow("t=1") << 1.0 << Values{1, 4, 0, 3, 52, 7};
        QTest::newRow("t=20") << 20.0 << Values{-7, -2, 12, -15, 52, 126};
        QTest::newRow("t=31") << 31.0 << Values{0, -4, 14, -1, -54, 149};
    }
    void testWaves()
    {
        QFETCH(double, t);
        QFETCH(Values, expected);
        QCOMPARE(valuesOf(TestWaves::at(t)), expected);
    }

    void startAndStop_data()
    {
        // The device ("missing", "directory", "pty" or "test" for test mode),
        // then the steps: Start, Stop, Tick, Init (the init message).
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("acquiring"); // after the last step
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing device") << "missing Start" << false
                                        << "USB open failed. Device does not exist.\nNo device at "
                                           ".*/ttyUSB0. (Serial devices|No serial device is) "
                                           "present: .*";
        QTest::newRow("not a tty") << "directory Start" << false << "Unknown error!";
        QTest::newRow("Start, two Stops") << "pty Start Stop Stop" << false
                                          << "Serial port opened\n¶USB closed\nPort already closed";
        // Rows that cannot be written are said again at each Start.
        QTest::newRow("test mode, log failing")
            << "test Start Tick Stop Start" << true
            << "Log file .*/logs/.* could not be opened: .*\n¶Test stopped\nLog file .*/logs/.* "
               "could not be opened: .*";
        QTest::newRow("Init Msg, no port")
            << "missing Init" << false << "Init message not sent: no serial port is open .*";
    }
    void startAndStop()
    {
        QFETCH(QString, script);
        QFETCH(bool, acquiring);
        QFETCH(QString, expected);
        const QString device = script.section(' ', 0, 0);
        QTemporaryDir dir;
        nodesim::PseudoTerminal pty;
        const QString path =
            device == "pty" ? QString::fromStdString(pty.devicePath()) : dir.filePath("ttyUSB0");
        QVERIFY(device != "directory" || QDir().mkdir(path));
        Rig rig(path, dir.filePath("logs"), device == "test"); // a log directory that is missing
        rig.acq.setLogging(true);
        for (const QString &step : script.section(' ', 1).split(' '))
            step == "Start"  ? void(rig.acq.start(42))
            : step == "Stop" ? rig.acq.stop()
            : step == "Tick" ? rig.acq.tick()
                             : rig.acq.sendInitMessage();
        const QString said = rig.lines.join('\n');
        QVERIFY2(QRegularExpression("^" + expected + "$").match(said).hasMatch(), qPrintable(said));
        QCOMPARE(rig.acq.isAcquiring(), acquiring);
        // The status shows a failing log, and only one.
        QCOMPARE(rig.acq.status().logFailure, said.contains("Log file") ? rig.lines.last() : "");
        QVERIFY(!pty.clientAttached());
    }

    // A switch of source while logging starts a new file, also within the
    // same second; what the receiver sent meanwhile is never logged.
    void oneSourcePerFileNothingStale()
    {
        QTemporaryDir dir;
        nodesim::PseudoTerminal pty;
        Rig rig(QString::fromStdString(pty.devicePath()), dir.path());
        rig.acq.logger()->setClock([] { return t0; });
        rig.acq.setLogging(true);
        QVERIFY(rig.acq.start(10));
        QVERIFY(pty.write(sineFrames(5)));
        QTRY_COMPARE(logRows(dir.path()).size(), 5);
        rig.switchTo(true);
        QVERIFY(arrive(pty, sineFrames(3, 5))); // stale once the receiver is back
        QTRY_VERIFY(logRows(dir.path()).size() >= 9);
        rig.switchTo(false);
        QVERIFY(pty.write(sineFrames(2, 8)));
        const QStringList fresh = sineRows(2, 0, FrameFormat(), 8);
        QTRY_VERIFY(logRows(dir.path()).contains(fresh.last()));
        rig.acq.stop();
        int files = 0;
        const QStringList rows = logRows(dir.path(), &files);
        // The receiver's file (appended to) and the test mode's, a second on.
        QCOMPARE(files, 2);
        QCOMPARE(rows.mid(0, 7), sineRows(5) + fresh);
        QCOMPARE(rows.at(7), "0,0,5,0,0,55,0"); // the test mode's wave at t = 0
        Recording recording;                    // the session with its switches of source
        QString error;
        QVERIFY2(recording.open(rig.acq.sessionFile(), &error), qPrintable(error));
        QCOMPARE(recording.rows(), rows.size());
    }

    // At a long read interval, Stop takes the frames that came since the
    // last read; the receiver pulled out shows in the status while away.
    void stopTakesWhatWaitsLostShows()
    {
        QTemporaryDir dir;
        auto pty = std::make_unique<nodesim::PseudoTerminal>();
        Rig rig(QString::fromStdString(pty->devicePath()), dir.path());
        rig.acq.setLogging(true);
        QVERIFY(rig.acq.start(5000));
        QVERIFY(arrive(*pty, sineFrames(30)));
        QVERIFY(rig.acq.start(5000)); // again, while acquiring: the line stays open
        rig.acq.stop();
        QCOMPARE(logRows(dir.path()), sineRows(30));
        QVERIFY(rig.acq.start(10) && !rig.acq.status().lost && pty->write(sineFrames(1)));
        pty.reset();
        QTRY_VERIFY(rig.acq.status().lost);
    }

    // The session file: how it was made (with the log directory's calibration), the files its
    // rows went to (the second session goes on in the first one's last file), "Datalog" off
    // and on, and the totals.
    void sessionFile()
    {
        QTemporaryDir dir;
        QFile calibration(dir.filePath("calibration.json"));
        QVERIFY(calibration.open(QIODevice::WriteOnly) && calibration.write("{\"version\": 1}\n"));
        calibration.close();
        nodesim::PseudoTerminal pty;
        Rig rig(QString::fromStdString(pty.devicePath()), dir.path());
        rig.acq.logger()->ReceiveNewfileIndex(4);
        rig.acq.logger()->setClock([n = 0]() mutable { return t0.addSecs(n++); });
        rig.acq.setLogging(true);
        QElapsedTimer latest; // the second session's times count from its own start
        for (int session = 0; session < 2; ++session) {
            QVERIFY(rig.acq.start(10));
            latest.start();
            QVERIFY(pty.write(sineFrames(session ? 1 : 6)));
            QTRY_COMPARE(logRows(dir.path()).size(), session ? 7 : 6);
            rig.acq.setLogging(session);
            rig.acq.setLogging(true);
            rig.acq.stop();
        }
        const QStringList names = QDir(dir.path()).entryList({"*.jsonl"}, QDir::Files, QDir::Name);
        QCOMPARE(names.size(), 2);
        QString text;
        for (const QString &name : names) {
            QFile f(dir.filePath(name));
            QVERIFY(name.endsWith(".session.jsonl") && f.open(QIODevice::ReadOnly));
            text += f.readAll();
        }
        QVERIFY(QJsonDocument::fromJson(text.trimmed().split('\n').last().toUtf8())["t_ms"]
                    .toInteger() <= latest.elapsed());
        const QStringList lines =
            text.remove(QRegularExpression(R"("t_ms":\d+,|,"last_row_ms":\d+)")).split('\n');
        const QJsonObject first = QJsonDocument::fromJson(lines[0].toUtf8()).object();
        const QStringList events = lines.filter(QRegularExpression("\"event\":\"(?!mark\")"));
        const QString second = "05.12, 9.05.04.txt";
        const qint64 offset = QFileInfo(dir.filePath(second)).size() - sineRows(1, 2)[0].size() - 1;
        const QString file = R"({"rows":%4,"event":"file","path":"%3","offset":%2,"index":%1})";
        const QString end = R"({"rows":%3,"event":"end","frames":%2,"stray_bytes":0,"files":%1})";
        QCOMPARE(
            events,
            (QStringList{file.arg(0).arg(0).arg("05.12, 9.05.03.txt").arg(0),
                         file.arg(0).arg(0).arg(second).arg(4),
                         R"({"rows":6,"event":"datalog","on":false})",
                         R"({"rows":6,"event":"datalog","on":true})", end.arg(2).arg(6).arg(6),
                         file.arg(2).arg(offset).arg(second).arg(0), end.arg(1).arg(1).arg(1)}));
        QCOMPARE(first["format"], "motionmonitor-session");
        QCOMPARE(first["device"], QString::fromStdString(pty.devicePath()));
        QCOMPARE(first["options"]["end1"], 55);
        QCOMPARE(first["options"]["start1"], QJsonValue::Null);
        QCOMPARE(first["options"]["slot2"], "acc");
        QCOMPARE(first["calibration"]["version"], 1);
        QVERIFY(QDateTime::fromString(first["start"].toString(), Qt::ISODateWithMs).isValid());
    }

    // Logging failing within a session (the next file's directory missing) and resuming as
    // soon as the directory appears: the session says so, with the rows lost, and marks the
    // first row after; the message log says how many rows were lost.
    void logFailureInASession()
    {
        QTemporaryDir dir;
        WorkingDirectory here(dir.path());
        QVERIFY(QDir().mkdir("a"));
        Rig rig(dir.filePath("none"), "a", true);
        qint64 ms = 0;
        rig.acq.logger()->setSteadyClock([&] { return ms; });
        rig.acq.logger()->setClock([n = 0]() mutable { return t0.addSecs(n++); });
        rig.acq.logger()->ReceiveNewfileIndex(2);
        rig.acq.setLogging(true);
        QVERIFY(rig.acq.start(100000));
        for (int tick = 0; tick < 6; ++tick) {
            if (tick == 2)
                rig.acq.logger()->ReceiveFilename("b");
            if (tick == 5) {
                QVERIFY(QDir().mkdir("b"));
                ms += Datalogger::dirCheckInterval;
            }
            rig.acq.tick();
        }
        rig.acq.stop();
        QCOMPARE(rig.lines.filter("Logging resumed"),
                 QStringList{"Logging resumed in b//05.12, 9.05.05.txt; 3 rows were lost while it "
                             "failed"});
        QFile f(rig.acq.sessionFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString(f.readAll())
                                 .remove(QRegularExpression(R"("t_ms":\d+,|,"last_row_ms":\d+)"))
                                 .remove(QRegularExpression("\"reason\":\"[^\"]*\""));
        QCOMPARE(
            text.split('\n').mid(1, 6),
            (QStringList{
                R"({"rows":0,"event":"file","path":"05.12, 9.05.03.txt","offset":0,"index":0})",
                R"({"rows":2,"event":"log_failed",})",
                R"({"rows":2,"event":"file","path":"../b/05.12, 9.05.05.txt","offset":0,"index":0})",
                R"({"rows":2,"event":"log_resumed","lost_rows":3})", R"({"rows":3,"event":"mark"})",
                R"({"rows":3,"event":"end","frames":0,"stray_bytes":0,"files":2})"}));
    }

    // Start and Stop while frames stream: nothing but init messages goes
    // back to the receiver.
    void startStopSendsNothingBack()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyUSB0");
        Nodesim sim(link, {});
        Rig rig(link, dir.path());
        for (int round = 1; round <= 6; ++round) {
            QVERIFY(rig.acq.start(10));
            QSignalSpy ticks(rig.acq.timer(), &QTimer::timeout);
            QTRY_VERIFY(ticks.count() >= 5);
            rig.acq.stop();
            QTRY_COMPARE(sim.said("program closed the line"), round);
        }
        sim.process.terminate();
        QVERIFY(sim.process.waitForFinished());
        QCOMPARE(sim.said("unexpected byte"), 0);
        QCOMPARE(sim.said("init message 31"), 6);
    }
};

QTEST_GUILESS_MAIN(TestAcquisition)
#include "tst_acquisition.moc"
