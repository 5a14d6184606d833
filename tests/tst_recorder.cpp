// `motionmonitor --record` as its users run it: the built program against the
// receiver simulator or a pseudo-terminal of the test's own, real files in a
// temporary directory, signals sent to the process.
#include "testcore.h"

#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace mmtest;

namespace
{

// The last line of the one session file in dir.
QByteArray sessionEnd(const QString &dir)
{
    const QStringList names = QDir(dir).entryList({"*.session.jsonl"});
    QFile file(QDir(dir).filePath(names.value(0)));
    return names.size() == 1 && file.open(QIODevice::ReadOnly)
               ? file.readAll().trimmed().split('\n').last()
               : QByteArray();
}

// How that line ends when the session ended with these totals.
QByteArray endLine(int rows, int frames, int strayBytes)
{
    return QStringLiteral(R"(,"rows":%1,"event":"end","frames":%2,"stray_bytes":%3,"files":1})")
        .arg(rows)
        .arg(frames)
        .arg(strayBytes)
        .toUtf8();
}

// `motionmonitor --record` on `device` into `logDir`, its standard output
// collected (or sent to `outputFile`); ended with the object.
struct Recorder : QProcess {
    QString output;
    Recorder(const QString &device, const QString &logDir, const QStringList &more = {},
             const QString &outputFile = {})
    {
        if (!outputFile.isEmpty())
            setStandardOutputFile(outputFile);
        start(MM_BINARY, QStringList{"--record", "--device", device, "--log-dir", logDir} + more);
    }
    ~Recorder()
    {
        terminate();
        waitForFinished();
    }
    int said(const QString &text)
    {
        output += QString::fromLocal8Bit(readAllStandardOutput());
        return int(output.count(text));
    }
    void signal(int number) { ::kill(pid_t(processId()), number); }
    bool endsWithStatus0()
    {
        return waitForFinished(30000) && exitStatus() == NormalExit && exitCode() == 0;
    }
    // The process's state as /proc shows it: "T" while stopped.
    QByteArray state()
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(processId()));
        const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : "";
        return text.mid(text.lastIndexOf(')') + 2, 1);
    }
};

// Opens `path` into `file` without waiting, with the system's open `flags`;
// a terminal does not become this process's controlling terminal.
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
    // Frames as fast as the line takes them, noise between them: every one
    // logged in order, and the session file closed with its totals.
    void everyFrameLogged()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyUSB0");
        Nodesim sim(link, {"--count", "20000", "--rate", "0", "--noise", "3"});
        Recorder recorder(link, dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(sim.said("all 20000 frames sent"), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(logRows(dir.path()).size(), 20000, 10000);
        recorder.signal(SIGTERM);
        QVERIFY(recorder.endsWithStatus0());
        QCOMPARE(logRows(dir.path()), sineRows(20000));
        QVERIFY(sessionEnd(dir.path()).endsWith(endLine(20000, 20000, 3 * 19999)));
        QCOMPARE(sim.said("init message 31 37 01"), 1);
    }

    // Unplugged and plugged in again at the same path: the rows go on.
    void reconnectsAfterAnUnplug()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyUSB0");
        auto first =
            std::make_unique<Nodesim>(link, QStringList{"--wait-init", "--hangup-after", "60"});
        Recorder recorder(link, dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.said("Serial device lost: "), 30000);
        first.reset();
        Nodesim second(link, {"--count", "50"});
        QTRY_VERIFY_WITH_TIMEOUT(second.said("all 50 frames sent"), 30000);
        const QString last = sineRows(50).constLast().section(',', 1);
        QTRY_VERIFY(logRows(dir.path()).value(logRows(dir.path()).size() - 1).endsWith(last));
        recorder.signal(SIGTERM);
        QVERIFY(recorder.endsWithStatus0());
        const int before = int(logRows(dir.path()).size()) - 50;
        QVERIFY(before <= 60);
        QCOMPARE(logRows(dir.path()), sineRows(before) + sineRows(50, before));
        QCOMPARE(recorder.said("Serial port reopened"), 1);
        QVERIFY(sessionEnd(dir.path())
                    .contains(QByteArray(",\"rows\":") + QByteArray::number(before + 50) +
                              ",\"event\":\"end\""));
    }

    // Frames stream; the recorder is stopped while more (and half of one)
    // wait on the line, then SIGTERM. A second SIGTERM comes while it is
    // held in its end, writing to an output that this test keeps full:
    // every whole frame that reached the port is logged.
    void terminationTakesWhatWaits()
    {
        QTemporaryDir dir;
        nodesim::PseudoTerminal pty;
        const QString device = QString::fromStdString(pty.devicePath());
        const QString fifo = dir.filePath("output");
        QFile output, input; // this test's ends of the recorder's output
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
        QFile line;
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
        QVERIFY(recorder.endsWithStatus0());
        QCOMPARE(logRows(dir.path()), sineRows(1250));
        QVERIFY(sessionEnd(dir.path()).endsWith(endLine(1250, 1250, 0)));
    }

    // A device that is not there is waited for; on a terminal, the status
    // line says so.
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
        Recorder recorder(dir.filePath("ttyUSB0"), dir.path(), {"--duration", "1"}, tty);
        std::string shown;
        const auto showsStatus = [&] {
            const std::vector<uint8_t> got = terminal.readAvailable();
            shown.append(got.begin(), got.end());
            return shown.find("\r0:00:00 · 0 samples/s · 0 rows · no log file yet · 0 stray bytes "
                              "· waiting for " +
                              device + "\033[K") != std::string::npos;
        };
        QTRY_VERIFY_WITH_TIMEOUT(showsStatus(), 30000);
        QVERIFY(shown.find("Waiting for " + device + " to appear") != std::string::npos);
        QVERIFY(recorder.endsWithStatus0());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("options"); // %1: the log directory
        QTest::addColumn<QString>("line");
        const auto row = [](const char *name, const char *options, const char *line) {
            QTest::newRow(name) << QString(options) << QString(line);
        };
        row("no log dir", "--log-dir %1/new", "--log-dir %1/new: no such directory");
        row("log dir a file", "--log-dir %1/file", "--log-dir %1/file: not a directory");
        row("read-only", "--log-dir /proc/sys", "--log-dir /proc/sys: cannot be written to");
        row("interval", "--interval 0", "--interval takes a whole number from 1 to 1000");
        row("framing byte", "--end1 256", "--end1 takes 0 to 255 or off");
        row("slot", "--slot2 magnetometer", "--slot2 takes gyro, acc or off");
        row("data bytes", "--data-bytes 11", "--data-bytes 11 cannot hold the sensor slots in use");
        row("unknown option", "--baud 9600", "Unknown option 'baud'");
    }
    // One line naming the option, status 2, and nothing created.
    void refusals()
    {
        QFETCH(QString, options);
        QFETCH(QString, line);
        QTemporaryDir dir;
        QFile file(dir.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        Recorder recorder(dir.filePath("ttyUSB0"), dir.path(),
                          options.replace("%1", dir.path()).split(" "));
        QVERIFY(recorder.waitForFinished(30000));
        QCOMPARE(recorder.exitCode(), 2);
        const QString said = QString::fromLocal8Bit(recorder.readAllStandardError());
        QVERIFY2(said.startsWith("motionmonitor: " + line.replace("%1", dir.path())) &&
                     said.count('\n') == 1,
                 qPrintable(said));
        QCOMPARE(recorder.readAllStandardOutput(), QByteArray());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"file"});
    }
};

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
