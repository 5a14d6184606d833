// `motionmonitor --record` as its users run it: the built program on the receiver simulator or
// a pseudo-terminal of the test's own, real files in a temporary directory, signals sent to it.
#include "logformat.h"
#include "testcore.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

using namespace mmtest;

namespace
{

// Whether the one session file in dir ends with these totals.
bool sessionEnds(const QString &dir, int rows, int strayBytes)
{
    const QStringList names = QDir(dir).entryList({"*.session.jsonl"});
    QFile file(QDir(dir).filePath(names.value(0)));
    const QString end = R"(,"rows":%1,"event":"end","frames":%1,"stray_bytes":%2,"files":1})";
    return names.size() == 1 && file.open(QIODevice::ReadOnly) &&
           QString(file.readAll().trimmed())
               .remove(QRegularExpression(R"(,"last_row_ms":\d+)"))
               .endsWith(end.arg(rows).arg(strayBytes));
}

// `motionmonitor --record` on `device` into `logDir`, its output kept or sent to `outputFile`,
// its input from `inputFile`.
struct Recorder : QProcess {
    Recorder(const QString &device, const QString &logDir, const QStringList &more = {},
             const QString &outputFile = {}, const QString &inputFile = {})
    {
        if (!outputFile.isEmpty())
            setStandardOutputFile(outputFile);
        if (!inputFile.isEmpty())
            setStandardInputFile(inputFile);
        setChildProcessModifier([] { ::umask(0); }); // what the program must not rely on
        start(MM_BINARY, QStringList{"--record", "--device", device, "--log-dir", logDir} + more);
    }
    void signal(int number) { ::kill(pid_t(processId()), number); }
    // The exit status once ended; -1 on a crash or while it runs on.
    int status() { return waitForFinished(30000) && exitStatus() == NormalExit ? exitCode() : -1; }
    QByteArray state() // as /proc shows it: "T" while stopped
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(processId()));
        const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : "";
        return text.mid(text.lastIndexOf(')') + 2, 1);
    }
};

// Opens `path` with open(2) `flags`, not waiting, not as this process's controlling terminal.
bool openPath(QFile &file, const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_NOCTTY | O_NONBLOCK);
    return file.open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle);
}

} // namespace

class TestRecorder : public QObject
{
    Q_OBJECT
private slots:
    // Frames as fast as the line takes them, noise between them: every one logged in order, the
    // session file closed with its totals at a hang-up. (Across an unplug: tst_recording.)
    void everyFrameLogged()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyUSB0");
        Nodesim sim(link, {"--count", "20000", "--rate", "0", "--noise", "3"});
        Recorder recorder(link, dir.path(), {"--rows-per-file", "0"}); // no limit
        QTRY_COMPARE_WITH_TIMEOUT(logRows(dir.path()).size(), 20000, 60000);
        recorder.signal(SIGHUP); // the terminal closed, the ssh session dropped
        QCOMPARE(recorder.status(), 0);
        QCOMPARE(logRows(dir.path()), sineRows(20000));
        QVERIFY(sessionEnds(dir.path(), 20000, 59997)); // 3 noise bytes between frames
        QCOMPARE(sim.said("init message 31 37 01"), 1);
    }

    // Frames stream; the recorder is stopped while more (and half of one) wait on the line, then
    // SIGTERM. A second SIGTERM comes while it is held in its end, writing to an output that this
    // test keeps full: every whole frame that reached the port is logged.
    void terminationTakesWhatWaits()
    {
        QTemporaryDir dir;
        nodesim::PseudoTerminal pty;
        const QString device = QString::fromStdString(pty.devicePath());
        const QString fifo = dir.filePath("output");
        QFile output, input, line; // this test's ends of the recorder's output, and of the line
        QVERIFY(::mkfifo(QFile::encodeName(fifo), 0600) == 0 && openPath(output, fifo, O_RDONLY));
        Recorder recorder(device, dir.path(), {"--no-init"}, fifo);
        QTRY_VERIFY_WITH_TIMEOUT(pty.clientReady(), 30000);
        const std::vector<uint8_t> bytes = sineFrames(1251);
        const size_t frame = FrameFormat().length(), streamed = 1000 * frame;
        QVERIFY(pty.write(bytes.data(), streamed, 30000));
        QTRY_COMPARE_WITH_TIMEOUT(logRows(dir.path()).size(), 1000, 30000);
        recorder.signal(SIGSTOP);
        QTRY_COMPARE(recorder.state(), QByteArray("T"));
        // Within what the line discipline holds, so that all of it waits.
        const int waiting = int(250 * frame + frame / 2);
        QVERIFY(pty.write(bytes.data() + streamed, waiting));
        QVERIFY(openPath(line, device, O_RDWR));
        QTRY_COMPARE(queuedOn(device), waiting);
        QVERIFY(openPath(input, fifo, O_WRONLY));
        for (const int size : {4096, 1})
            while (::write(input.handle(), QByteArray(size, '.').constData(), size) == size)
                ;
        recorder.signal(SIGTERM);
        recorder.signal(SIGCONT);
        QTRY_VERIFY(logRows(dir.path()).size() == 1250 && recorder.state() == "S");
        recorder.signal(SIGTERM);
        char drain[65536];
        while (::read(output.handle(), drain, sizeof drain) > 0)
            ;
        QCOMPARE(recorder.status(), 0);
        QCOMPARE(logRows(dir.path()), sineRows(1250));
        QVERIFY(sessionEnds(dir.path(), 1250, 0));
    }

    // A device that is not there is waited for; on a terminal, the status line says so; once
    // it appears it is opened (not "reopened"); the recording ends after its duration.
    void waitsForTheDevice()
    {
        QTemporaryDir dir;
        nodesim::PseudoTerminal terminal;
        const QString tty = QString::fromStdString(terminal.devicePath());
        QFile terminalSide;
        const winsize wide{24, 200, 0, 0};
        QVERIFY(openPath(terminalSide, tty, O_RDWR) &&
                !::ioctl(terminalSide.handle(), TIOCSWINSZ, &wide));
        const std::string device = dir.filePath("ttyUSB0").toStdString();
        Recorder recorder(dir.filePath("ttyUSB0"), dir.path(), {"--duration", "6"}, tty);
        std::string shown;
        const auto shows = [&](const std::string &text) {
            const std::vector<uint8_t> got = terminal.readAvailable();
            shown.append(got.begin(), got.end());
            return shown.find(text) != std::string::npos;
        };
        const std::string status = "\rwaiting for " + device +
                                   " · no log file yet · 0:00:00 · 0 samples/s · 0 rows · 0 "
                                   "stray bytes\033[K";
        QTRY_VERIFY_WITH_TIMEOUT(shows(status), 30000);
        QVERIFY(shows("Waiting for " + device + " to appear"));
        nodesim::PseudoTerminal receiver;
        receiver.makeLink(device);
        QTRY_VERIFY_WITH_TIMEOUT(shows("Serial port opened"), 5000);
        QCOMPARE(recorder.status(), 0);
        QVERIFY(!shows("reopened"));
        QCOMPARE(QDir(dir.path()).entryList({"*.txt", "*.jsonl"}), QStringList()); // no rows
    }

    // Notes from another shell (--note), SIGUSR1 and the terminal: each in the session within
    // 50 ms of when it was asked for, with its text. None where no recorder runs, nor while no
    // row is logged, nor from another user (the socket is its user's alone, whatever the umask).
    void notes()
    {
        QTemporaryDir dir; // the runtime directory too, which others may pass through
        qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
        QVERIFY(::chmod(QFile::encodeName(dir.path()), 0711) == 0);
        const QString link = dir.filePath("ttyUSB0"), logs = dir.filePath("my logs");
        QList<qint64> asked; // the moments, on the wall clock
        const auto note = [&](const QString &text, const QStringList &as = {}) {
            asked << QDateTime::currentMSecsSinceEpoch();
            QProcess p;
            p.start(as.value(0, MM_BINARY),
                    as.mid(1) + QStringList{"--note", text, "--device", link});
            return p.waitForFinished(30000)
                       ? QByteArray::number(p.exitCode()) + ' ' + p.readAllStandardError()
                       : "";
        };
        QVERIFY(
            note("x").startsWith("1 motionmonitor: no recorder is running for " + link.toUtf8()));
        nodesim::PseudoTerminal terminal;
        QVERIFY(QDir().mkdir(logs));
        Recorder recorder(link, logs, {}, {}, QString::fromStdString(terminal.devicePath()));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += recorder.readAllStandardOutput()).contains("Notes: "),
                                 30000);
        QVERIFY(note("x").startsWith("1 motionmonitor: Note at ")); // not recorded: no rows yet
        Nodesim sim(link, {});
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(logs).entryList({"*.jsonl"}).isEmpty(), 30000);
        const QString text = "trial 3, \"left\" foot,\npäivä";
        // Its process started 0.3 s before the program in it: the moment is the start.
        QCOMPARE(note(text, {"sh", "-c", "sleep 0.3; exec \"$0\" \"$@\"", MM_BINARY}), "0 ");
        asked = asked.mid(2) << QDateTime::currentMSecsSinceEpoch();
        recorder.signal(SIGUSR1);
        QTRY_VERIFY((said += recorder.readAllStandardOutput()).count("s into the session") == 2);
        asked << QDateTime::currentMSecsSinceEpoch();
        QVERIFY(terminal.write(std::vector<uint8_t>{'o', 'k', '\n'}));
        QTRY_VERIFY((said += recorder.readAllStandardOutput()).count("s into the session") == 3);
        const QByteArray denied =
            note("x", {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", MM_BINARY});
        QVERIFY2(denied.startsWith("1 ") && denied.contains(": permission denied"), denied);
        recorder.signal(SIGTERM);
        QCOMPARE(recorder.status(), 0);
        const auto read = readSession(logs);
        const Timeline &timeline = *read->timeline();
        QCOMPARE(int(timeline.notes.size()), 3);
        for (int i = 0; i < 3; ++i) {
            const qint64 at = timeline.facts.start.toMSecsSinceEpoch() +
                              qRound64(timeline.notes[i].seconds * 1000) - asked[i];
            QVERIFY2(qAbs(at) < 50 && timeline.notes[i].text == QStringList({text, "", "ok"})[i],
                     qPrintable(QString::number(at) + ' ' + timeline.notes[i].text));
        }
    }

    // A session with roll-overs and an unplug, written out by hand in a frame format of its own,
    // replayed by nodesim twice as fast into --record: the same rows, each at half its time
    // within 0.1 s, so the gap falls where it was.
    void replay()
    {
        QTemporaryDir dir;
        FrameFormat format;
        format.startByte1 = 170;
        // 120 rows 40 ms apart, 50 to a log file; rows 80 on came 1.4 s later.
        const auto ms = [](int row) { return row * 40 + (row >= 80 ? 1400 : 0); };
        const QStringList rows = sineRows(120, 0, format);
        QFile file(dir.filePath("old.session.jsonl"));
        QVERIFY(
            file.open(QIODevice::WriteOnly) &&
            file.write(R"({"format":"motionmonitor-session",)"
                       R"("version":1,"start":"2026-12-07T17:17:44.512Z","options":{"start1":170}}
{"t_ms":0,"rows":0,"event":"file","path":"0.txt","offset":68,"index":0}
{"t_ms":1980,"rows":50,"last_row_ms":1960,"event":"file","path":"1.txt","offset":68,"index":0}
{"t_ms":3180,"rows":80,"last_row_ms":3160,"event":"lost"}
{"t_ms":4605,"rows":81,"last_row_ms":4600,"event":"reopened"}
{"t_ms":5380,"rows":100,"last_row_ms":5360,"event":"file","path":"2.txt","offset":68,"index":0}
{"t_ms":6180,"rows":120,"last_row_ms":6160,"event":"end"}
)") > 0);
        file.close();
        for (int n = 0; n < 3; ++n) {
            QFile log(dir.filePath(QStringLiteral("%1.txt").arg(n)));
            QVERIFY(log.open(QIODevice::WriteOnly) && log.write(logformat::header) > 0);
            for (int row = n * 50; row < std::min(120, n * 50 + 50); ++row)
                log.write(
                    ('\n' + QString::number(row % 50) + ',' + rows[row].section(',', 1)).toUtf8());
            log.write("\n");
        }
        const QString link = dir.filePath("ttyUSB0"), logs = dir.filePath("new logs");
        QVERIFY(QDir().mkdir(logs));
        Nodesim sim(link, {"--replay", file.fileName(), "--speed", "2"});
        QElapsedTimer up; // its rows start when a program opens the line, however much later
        up.start();
        QTRY_VERIFY(up.hasExpired(1000));
        // Without the init message's pause, in which rows would wait to be read.
        Recorder recorder(link, logs, {"--start1", "170", "--rows-per-file", "30", "--no-init"});
        QTRY_COMPARE_WITH_TIMEOUT(logRows(logs).size(), 120, 30000);
        recorder.signal(SIGTERM);
        QCOMPARE(recorder.status(), 0);
        const QStringList got = logRows(logs);
        const auto replayed = readSession(logs);
        for (int row = 0; row < 120; ++row) {
            const double late = replayed->timeline()->seconds(row) - ms(row) / 2000.0;
            QVERIFY2(got[row].section(',', 1) == rows[row].section(',', 1) && qAbs(late) < 0.1,
                     qPrintable(QStringLiteral("row %1: %2 s late").arg(row).arg(late)));
        }
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("line"); // the row's name: the options; %1: the log directory
        QTest::newRow("--log-dir %1/new") << "--log-dir %1/new: no such directory";
        QTest::newRow("--log-dir /etc/passwd") << "--log-dir /etc/passwd: not a directory";
        QTest::newRow("--log-dir /proc/sys") << "--log-dir /proc/sys: cannot be written to";
        QTest::newRow("--interval 0") << "--interval takes a whole number from 1 to 1000";
        QTest::newRow("--end1 256") << "--end1 takes 0 to 255 or off";
        QTest::newRow("--slot2 magnetometer") << "--slot2 takes gyro, acc or off";
        QTest::newRow("--data-bytes 11") << "--data-bytes 11 cannot hold the sensor slots in use";
        QTest::newRow("--baud 9600") << "Unknown option 'baud'";
        QTest::newRow("--view x.txt") << "--record and --view cannot be combined";
        QTest::newRow("--udp 70000") << "--udp 70000: the port must be a number from 1 to 65535";
        QTest::newRow("--udp nowhere.invalid:9870") << "--udp nowhere.invalid:9870: the host name "
                                                       "does not resolve";
        QTest::newRow("--mqtt http://broker") << "--mqtt http://broker: not an mqtt://";
        QTest::newRow("--mqtt mqtt://h --mqtt-user u --mqtt-password-file %1/none")
            << "--mqtt-password-file %1/none: cannot be read";
        QTest::newRow("--mqtt mqtt://h --mqtt-qos 2") << "--mqtt-qos 2: takes 0 or 1";
    }
    // One line naming the option, status 2, and nothing created.
    void refusals()
    {
        QFETCH(QString, line);
        QTemporaryDir dir;
        Recorder recorder(dir.filePath("ttyUSB0"), dir.path(),
                          QString(QTest::currentDataTag()).replace("%1", dir.path()).split(" "));
        QCOMPARE(recorder.status(), 2);
        const QString said = QString::fromLocal8Bit(recorder.readAllStandardError());
        QVERIFY2(said.startsWith("motionmonitor: " + line.replace("%1", dir.path())) &&
                     said.count('\n') == 1,
                 qPrintable(said));
        QCOMPARE(recorder.readAllStandardOutput(), QByteArray());
        QVERIFY(QDir(dir.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
