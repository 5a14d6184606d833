// The data logger as the acquisition drives it: samples in, files read back
// byte for byte, named by a clock of the test's own.
#include "datalogger.h"
#include "logformat.h"
#include "testcore.h"

#include <QDirIterator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>

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

    // A log directory missing, then a full disk (a file size limit): each
    // said once, the rows meanwhile lost, a row cut short cut off, a new file
    // tried now and then and never left empty behind, until rows fit again.
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
        logger.setClock([this] { return now; });
        logger.ReceiveFilename("logs");
        QSignalSpy said(&logger, &Datalogger::NewFileCreated);
        QSignalSpy resumed(&logger, &Datalogger::resumed);
        const QString missing = "Log file " + tmp.filePath("logs/05.12, 9.05.03.txt") +
                                " could not be opened: No such file or directory";
        const QString full = "Writing to logs//05.12, 9.05.08.txt failed: File too large. Rows "
                             "are lost until a new log file is started.";
        for (const QString &warning : {missing, full})
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        for (int n = 0; n < 3; ++n)
            logSample(logger, n);
        QVERIFY(QDir().mkdir("logs")); // mended, but tried again only a while after
        now = now.addSecs(Datalogger::retryInterval / 1000 - 1);
        logSample(logger, 3);
        now = now.addSecs(1);
        // The fourth row of the new file is cut after five bytes: it keeps three.
        QVERIFY(limit(block(4, 3).size() + 5));
        for (int n = 4; n < 8; ++n)
            logSample(logger, n);
        // No header fits now: the tries leave nothing behind and say nothing more.
        limit(5);
        for (int n = 8; n < 12; ++n, now = now.addSecs(Datalogger::retryInterval / 1000))
            logSample(logger, n);
        const QString first = "logs/05.12, 9.05.08.txt=" + block(4, 3);
        QCOMPARE(filesBelow(tmp.path()), QStringList{first});
        QCOMPARE(said.size(), 4);
        QCOMPARE(said.at(0).at(0), "File could not be created!");
        QCOMPARE(said.at(1).at(0), missing);
        QCOMPARE(said.at(3).at(0), full);
        QCOMPARE(logger.failure(), QString(full).replace("9.05.08", "9.05.23")); // the last try
        limit(-1);
        logSample(logger, 12);
        QCOMPARE(filesBelow(tmp.path()),
                 QStringList({first, "logs/05.12, 9.05.28.txt=" + block(12, 1)}));
        QCOMPARE(logger.failure(), QString());
        QCOMPARE(resumed.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDatalogger)
#include "tst_datalogger.moc"
