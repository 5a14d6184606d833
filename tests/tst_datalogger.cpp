// The data logger as the acquisition drives it: samples in, files read back
// byte for byte, named by a clock of the test's own; the session files' names.
#include "datalogger.h"
#include "logformat.h"
#include "session.h"
#include "testcore.h"

#include <QDirIterator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

namespace
{

const QDateTime t0(QDate(2026, 12, 5), QTime(9, 5, 3));

// Sample n: distinct per n, with negative values and both extremes.
void logSample(Datalogger &logger, int n)
{
    logger.Log(n + 1, -(n + 1), 32767, -32768, 0, -250 * n);
}

// What one start of a file writes: the header, then `rows` rows of the
// samples from `first` on.
QString block(int first, int rows)
{
    QString text = QString(logformat::header) + "\n";
    for (int i = 0; i < rows; ++i)
        text += QString::asprintf("%d,%d,%d,32767,-32768,0,%d\n", i, first + i + 1,
                                  -(first + i + 1), -250 * (first + i));
    return text;
}

// Every file below dir, "name=content", in name order.
QStringList filesBelow(const QString &dir)
{
    QStringList files;
    for (QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile f(it.next());
        files << QDir(dir).relativeFilePath(f.fileName()) + "=" +
                     (f.open(QIODevice::ReadOnly) ? f.readAll() : "<unreadable>");
    }
    files.sort();
    return files;
}

} // namespace

class TestDatalogger : public QObject
{
    Q_OBJECT
    QDateTime now;

private slots:
    void init() { now = t0; }
    void script_data()
    {
        // Steps: "L" logs the next sample, "N<k>" sets the rows per file,
        // "D<x>" switches to directory x, "+<s>" moves the clock on, "S" asks
        // for a new file. `files`: each file's directory, time and blocks, "first:rows".
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("count 3, seconds apart, an hour of two digits")
            << "N3 L L L +1 L L L +32344 L"
            << QStringList{"a 18.04.08 6:1", "a 9.05.03 0:3", "a 9.05.04 3:3"};
        QTest::newRow("count lowered to the rows written ends the file, appended to in one second")
            << "N10 L L L N3 L" << QStringList{"a 9.05.03 0:3 3:1"};
        QTest::newRow("count 0 never rolls over, a new file asked for takes the next second")
            << "N0 L L S L L" << QStringList{"a 9.05.03 0:2", "a 9.05.04 2:2"};
        QTest::newRow("count raised applies at once, a new directory at the next start")
            << "N2 L N4 Db L L L L" << QStringList{"a 9.05.03 0:4", "b 9.05.03 4:1"};
    }
    void script()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, files);
        QTemporaryDir tmp;
        mmtest::WorkingDirectory here(tmp.path()); // the directories are relative
        QVERIFY(QDir().mkpath("a") && QDir().mkpath("b"));
        Datalogger logger;
        logger.setClock([this] { return now; });
        logger.ReceiveFilename("a");
        QSignalSpy created(&logger, &Datalogger::NewFileCreated);
        int n = 0;
        for (const QString &step : script.split(' '))
            step == "L"      ? logSample(logger, n++)
            : step == "S"    ? logger.startNewFile()
            : step[0] == 'N' ? logger.ReceiveNewfileIndex(step.mid(1).toInt())
            : step[0] == 'D' ? logger.ReceiveFilename(step.mid(1))
                             : void(now = now.addSecs(step.mid(1).toInt()));
        QStringList expected;
        for (const QString &file : files) {
            expected << file.section(' ', 0, 0) + "/05.12, " + file.section(' ', 1, 1) + ".txt=";
            for (const QString &b : file.section(' ', 2).split(' '))
                expected.last() += block(b.section(':', 0, 0).toInt(), b.section(':', 1).toInt());
        }
        const QStringList found = filesBelow(tmp.path());
        QCOMPARE(found, expected);
        QCOMPARE(created.size(), files.join(' ').count(':')); // one per block
        QCOMPARE(created.first().first().toString(), "New file created: a//05.12, 9.05.03.txt");
        // One row spelled out, so the format is not only checked against itself.
        QVERIFY(found.join("").contains("\n0,1,-1,32767,-32768,0,0\n"));
    }

    // A log directory missing, then a full disk (a file size limit): each cause said once, the
    // rows meanwhile lost and counted, a row cut short cut off. The directory is tried again as
    // soon as it appears; a full disk every retryInterval of the steady clock, whatever the
    // wall clock does (set back an hour), and a try appending to a file of the same second
    // keeps the file's earlier rows; no try leaves an empty file behind.
    void failuresAreSaidOnceAndLeaveNothingBehind()
    {
        QTemporaryDir tmp;
        mmtest::WorkingDirectory here(tmp.path());
        std::signal(SIGXFSZ, SIG_IGN); // its default action would end the process
        rlimit unlimited{};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        const auto limit = [&](qint64 bytes) {
            const rlimit l{rlim_t(bytes), unlimited.rlim_max};
            return setrlimit(RLIMIT_FSIZE, bytes < 0 ? &unlimited : &l) == 0;
        };
        const auto lift = qScopeGuard([&] { limit(-1); });
        Datalogger logger;
        qint64 ms = 0;
        logger.setClock([this] { return now; });
        logger.setSteadyClock([&] { return ms; });
        logger.ReceiveFilename("logs");
        QSignalSpy created(&logger, &Datalogger::NewFileCreated);
        QSignalSpy failing(&logger, &Datalogger::failing);
        QSignalSpy resumed(&logger, &Datalogger::resumed);
        for (int n = 0; n < 3; ++n)
            logSample(logger, n);
        QVERIFY(QDir().mkdir("logs"));
        ms += Datalogger::dirCheckInterval - 1;
        logSample(logger, 3); // not looked at yet
        ms += 1;
        now = now.addSecs(5);
        // The fourth row of the new file is cut after five bytes: it keeps three.
        QVERIFY(limit(block(4, 3).size() + 5));
        for (int n = 4; n < 8; ++n)
            logSample(logger, n);
        const QString first = "logs/05.12, 9.05.08.txt=" + block(4, 3);
        QCOMPARE(filesBelow(tmp.path()), QStringList{first});
        // No header fits now. A try in the same second appends to the file and keeps it; then
        // the wall clock is set back an hour: tries still come every retryInterval.
        limit(5);
        ms += Datalogger::retryInterval;
        logSample(logger, 8);
        now = now.addSecs(-3600);
        ms += Datalogger::retryInterval;
        logSample(logger, 9); // 8.05.08: tried and removed
        ms += Datalogger::retryInterval / 2;
        logSample(logger, 10); // not tried
        QCOMPARE(filesBelow(tmp.path()), QStringList{first});
        const QString missing = "Log file " + tmp.filePath("logs/05.12, 9.05.03.txt") +
                                " could not be opened: No such file or directory";
        const QString full = "Writing to logs//05.12, %1.txt failed: File too large. Rows "
                             "are lost until a new log file is started.";
        QCOMPARE(created.size(), 2);
        QCOMPARE(created.at(0).at(0), "File could not be created!");
        QCOMPARE(failing.size(), 2);
        QCOMPARE(failing.at(0).at(0), missing);
        QCOMPARE(failing.at(1).at(0), full.arg("9.05.08"));
        QCOMPARE(logger.failure(), full.arg("8.05.08"));
        limit(-1);
        ms += Datalogger::retryInterval / 2;
        logSample(logger, 11);
        QCOMPARE(filesBelow(tmp.path()),
                 QStringList({"logs/05.12, 8.05.08.txt=" + block(11, 1), first}));
        QCOMPARE(logger.failure(), QString());
        QCOMPARE(resumed.size(), 2);
        QCOMPARE(resumed.at(0).at(0).toLongLong(), 4); // rows 0..3
        QCOMPARE(resumed.at(1).at(0).toLongLong(), 4); // rows 7..10
    }

    // Sessions begun within one second get names of their own, in the order begun.
    void sessionsInOneSecond()
    {
        QTemporaryDir tmp;
        Session::Origin origin;
        origin.start = t0;
        QStringList names;
        for (int n = 0; n < 3; ++n) {
            Session session;
            QString error;
            QVERIFY(session.begin(tmp.path(), origin, tmp.filePath("a.txt"), 0, 0, &error));
            names << QFileInfo(session.fileName()).fileName();
            session.end(0, 0);
        }
        QCOMPARE(names,
                 (QStringList{"05.12, 9.05.03.session.jsonl", "05.12, 9.05.03_2.session.jsonl",
                              "05.12, 9.05.03_3.session.jsonl"}));
    }

    // The session file gives each row back within 10 ms (and the file's millisecond) of its
    // arrival, with marks only where arrivals bend: rows 20 ms apart around 0.3 s of silence
    // (exact), rows at the line's pace (no mark at all), rows that come unevenly.
    void sessionKeepsArrivals_data()
    {
        QTest::addColumn<QList<double>>("ms"); // arrivals, from the first row's
        QTest::addColumn<double>("within");
        QTest::addColumn<int>("mostLines");
        QList<double> pause, pace, uneven;
        for (int n = 0; n < 300; ++n) {
            pause << n * 20 + (n >= 50 ? 300 : 0);
            pace << n * 1000 / 68.0;
            uneven << n * 14.7 + 40 * std::sin(n / 5.0);
        }
        QTest::newRow("a pause") << pause << 0.0 << 5;
        QTest::newRow("the line's pace") << pace << 1.0 << 3;
        QTest::newRow("uneven") << uneven << 11.0 << 100;
    }
    void sessionKeepsArrivals()
    {
        QFETCH(QList<double>, ms);
        QFETCH(double, within);
        QFETCH(int, mostLines);
        QTemporaryDir tmp;
        Datalogger logger;
        logger.ReceiveFilename(tmp.path());
        Session session;
        QString error;
        const SteadyNs start = steadyNow() - 10'000'000'000;
        for (int n = 0; n < ms.size(); ++n) {
            logger.Log(0, 0, 0, 0, 0, 0);
            if (n == 0)
                QVERIFY(session.begin(tmp.path(), {t0, start, {}, "", false, 42},
                                      logger.currentFile(), qstrlen(logformat::header) + 1, 0,
                                      &error));
            else
                session.rowLogged(start + SteadyNs(ms[n] * 1e6));
        }
        session.end(ms.size(), 0);
        const auto read = mmtest::readSession(tmp.path());
        for (int n = 0; n < ms.size(); ++n)
            QVERIFY2(qAbs(read->timeline()->seconds(n) * 1000 - ms[n]) <= within + 1e-6,
                     qPrintable(QStringLiteral("row %1 at %2 ms, arrived at %3 ms")
                                    .arg(n)
                                    .arg(read->timeline()->seconds(n) * 1000)
                                    .arg(ms[n])));
        QFile file(session.fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().count('\n') <= mostLines);
    }
};

QTEST_GUILESS_MAIN(TestDatalogger)
#include "tst_datalogger.moc"
