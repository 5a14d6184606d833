// Acquisition without a window, as the window and the recorder drive it: the
// test mode's waves, the lines of Start and Stop, one source per log file and
// nothing stale after a switch, Stop taking what waits, a failing logger said
// again, the session file, and nothing sent back to the receiver.
#include "acquisition.h"
#include "datalogger.h"
#include "logformat.h"
#include "serialhandler.h"
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
        o.testMode = testMode;
        acq.applyOptions(o);
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

QList<QJsonObject> jsonLines(const QString &path)
{
    QFile f(path);
    QList<QJsonObject> lines;
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &line : f.readAll().split('\n'))
            if (!line.isEmpty())
                lines << QJsonDocument::fromJson(line).object();
    return lines;
}

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
        QTest::newRow("t=0") << 0.0 << Values{0, 5, 0, 0, 55, 0};
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
        QTest::addColumn<QString>("device"); // "missing", "directory" or "pty"
        QTest::addColumn<bool>("testMode");
        QTest::addColumn<QString>("steps"); // Start, Stop, Init Msg
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("acquiring");
        QTest::newRow("missing device")
            << "missing" << false << "Start"
            << "USB open failed. Device does not exist.\nNo device at .*/ttyUSB0. (Serial "
               "devices present: .*|No serial device is present: .*)"
            << false;
        QTest::newRow("not a tty") << "directory" << false << "Start"
                                   << "Serial port could not be opened: Is a directory\nUnknown "
                                      "error!"
                                   << false;
        QTest::newRow("Start, two Stops")
            << "pty" << false << "Start Stop Stop"
            << "Serial port opened\n¶USB closed\nPort already closed" << false;
        QTest::newRow("test mode") << "missing" << true << "Start Stop Start"
                                   << "¶Test stopped" << true;
        QTest::newRow("Init Msg, no port")
            << "missing" << true << "Init"
            << "Init message not sent: no serial port is open .*" << false;
    }
    void startAndStop()
    {
        QFETCH(QString, device);
        QFETCH(bool, testMode);
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        QFETCH(bool, acquiring);
        QTemporaryDir dir;
        nodesim::PseudoTerminal pty;
        QString path = dir.filePath("ttyUSB0");
        if (device == "pty")
            path = QString::fromStdString(pty.devicePath());
        QVERIFY(device != "directory" || QDir().mkdir(path));
        Rig rig(path, dir.path(), testMode);
        QObject::connect(rig.acq.link(), &serialhandler::SendText,
                         [&](const QString &text) { rig.lines << text; });
        for (const QString &step : steps.split(' '))
            step == "Start"  ? void(rig.acq.start(42))
            : step == "Stop" ? rig.acq.stop()
                             : rig.acq.sendInitMessage();
        const QString said = rig.lines.join('\n');
        QVERIFY2(QRegularExpression("^" + expected + "$").match(said).hasMatch(), qPrintable(said));
        QCOMPARE(rig.acq.isAcquiring(), acquiring);
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
        QCOMPARE(rows.at(7), logRow(0, valuesOf(TestWaves::at(0))));
        QVERIFY(QFile::exists(dir.filePath("05.12, 9.05.04.txt")));
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
        rig.acq.stop();
        QCOMPARE(logRows(dir.path()), sineRows(30));
        QVERIFY(rig.acq.start(10) && !rig.acq.status().lost && pty->write(sineFrames(1)));
        pty.reset();
        QTRY_VERIFY(rig.acq.status().lost);
    }

    // Rows that cannot be written are said at the failure and at each Start,
    // and the status says so while it lasts.
    void failingLogSaidAgainAtStart()
    {
        QTemporaryDir dir;
        Rig rig("", dir.filePath("missing"), true);
        rig.acq.setLogging(true);
        QVERIFY(rig.acq.start(5));
        QTRY_VERIFY(!rig.acq.status().logFailure.isEmpty());
        rig.acq.stop();
        QVERIFY(rig.acq.start(5));
        QCOMPARE(rig.lines.filter("could not be opened").size(), 1);
        QCOMPARE(rig.lines.last(), rig.acq.status().logFailure);
        QVERIFY(rig.lines.last().startsWith("Log file " + dir.filePath("missing")));
    }

    // The session file: how it was made, the files its rows went to (the
    // second session goes on in the first one's last file), "Datalog" off
    // and on, and the totals.
    void sessionFile()
    {
        QTemporaryDir dir;
        nodesim::PseudoTerminal pty;
        Rig rig(QString::fromStdString(pty.devicePath()), dir.path());
        OptionSet o = rig.acq.options();
        o.newfileLines = 4;
        rig.acq.applyOptions(o);
        rig.acq.logger()->setClock([n = 0]() mutable { return t0.addSecs(n++); });
        rig.acq.setLogging(true);
        for (int session = 0; session < 2; ++session) {
            QVERIFY(rig.acq.start(10));
            QVERIFY(pty.write(sineFrames(session ? 1 : 6)));
            QTRY_COMPARE(logRows(dir.path()).size(), session ? 7 : 6);
            rig.acq.setLogging(session);
            rig.acq.setLogging(true);
            rig.acq.stop();
        }
        const QStringList names = QDir(dir.path()).entryList({"*.jsonl"}, QDir::Files, QDir::Name);
        QCOMPARE(names.size(), 2);
        QStringList events;
        for (const QString &name : names) {
            QVERIFY(name.endsWith(".session.jsonl"));
            for (const QJsonObject &line : jsonLines(dir.filePath(name)).mid(1))
                if (line["event"] != "mark")
                    events << QString(QJsonDocument(line).toJson(QJsonDocument::Compact))
                                  .remove(QRegularExpression(",\"t_ms\":\\d+"));
        }
        const QString second = "05.12, 9.05.04.txt";
        qint64 offset = qstrlen(logformat::header) + 1; // the second file's header and two rows
        for (const QString &row : sineRows(2, 0, FrameFormat(), 4))
            offset += row.size() + 1;
        const QString file = R"({"event":"file","index":%1,"offset":%2,"path":"%3","rows":%4})";
        const QString end = R"({"event":"end","files":%1,"frames":%2,"rows":%3,"stray_bytes":0})";
        QCOMPARE(
            events,
            (QStringList{file.arg(0).arg(0).arg("05.12, 9.05.03.txt").arg(0),
                         file.arg(0).arg(0).arg(second).arg(4),
                         R"({"event":"datalog","on":false,"rows":6})",
                         R"({"event":"datalog","on":true,"rows":6})", end.arg(2).arg(6).arg(6),
                         file.arg(2).arg(offset).arg(second).arg(0), end.arg(1).arg(1).arg(1)}));
        const QJsonObject first = jsonLines(dir.filePath(names[0])).first();
        QCOMPARE(first["format"], "motionmonitor-session");
        QCOMPARE(first["device"], QString::fromStdString(pty.devicePath()));
        QCOMPARE(first["options"]["end1"], 55);
        QCOMPARE(first["options"]["start1"], QJsonValue::Null);
        QCOMPARE(first["options"]["slot2"], "acc");
        QVERIFY(QDateTime::fromString(first["start"].toString(), Qt::ISODateWithMs).isValid());
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
