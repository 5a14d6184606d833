// The data logger as the main window drives it: samples in, files read back.
// The rows on disk are what a user keeps, so every case checks the files.
#include "datalogger.h"

#include <QDateTime>
#include <QDir>
#include <QMap>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

const QString header = "indeksi,x-akseli1,y-akseli1,z-akseli1,x-akseli2,y-akseli2,z-akseli2\n";
const QString created = "New file created: ";

// Sample n: distinct per n, with negative values and both extremes.
void logSample(Datalogger &logger, int n)
{
    logger.Log(n + 1, -(n + 1), 32767, -32768, 0, -250 * n);
}

// The line that sample n becomes as row `index` of its file.
QString row(int index, int n)
{
    return QString::asprintf("%d,%d,%d,32767,-32768,0,%d\n", index, n + 1, -(n + 1), -250 * n);
}

// Header and rows of one file start; first is the first row's sample.
QString fileStart(int first, int rows)
{
    QString text = header;
    for (int i = 0; i < rows; ++i)
        text += row(i, first + i);
    return text;
}

QString readBack(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll())
                                       : "<unreadable " + path + ">";
}

// The name of a file started in dir at time t, built field by field.
QString nameAt(const QString &dir, const QDateTime &t)
{
    return dir + QString::asprintf("//%02d.%02d, %d.%02d.%02d.txt", t.date().day(),
                                   t.date().month(), t.time().hour(), t.time().minute(),
                                   t.time().second());
}

// The file name that message i of a NewFileCreated spy announced, if any.
QString createdName(const QSignalSpy &spy, int i)
{
    const QString message = spy.at(i).at(0).toString();
    return message.startsWith(created) ? message.mid(created.size()) : QString();
}

// Logs one sample; true when it started a file named for a second between
// the clock readings around the call (or up to `later` seconds after).
bool logAndCheckName(Datalogger &logger, int n, const QString &dir, QSignalSpy &spy, int later = 0)
{
    const int before = spy.count();
    const QDateTime from = QDateTime::currentDateTime();
    logSample(logger, n);
    const QDateTime to = QDateTime::currentDateTime().addSecs(later);
    if (spy.count() == before)
        return false;
    for (QDateTime t = from; t.toSecsSinceEpoch() <= to.toSecsSinceEpoch(); t = t.addSecs(1))
        if (createdName(spy, before) == nameAt(dir, t))
            return true;
    qWarning("unexpected file: %s", qPrintable(spy.at(before).at(0).toString()));
    return false;
}

} // namespace

class TestDatalogger : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> tmp;

private slots:
    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
    }

    void script_data()
    {
        // Steps: "L" logs the next sample, "N<k>" sets the rows per file,
        // "D<x>" switches to directory x, "W" waits for the next second, "S"
        // asks for a new file whatever the second. Files
        // started within one second share a name; `names` is how many
        // distinct names the run gives (another attempt is made when a second
        // boundary fell among the steps). `hour` is the local hour of the run.
        QTest::addColumn<QString>("script");
        QTest::addColumn<QList<int>>("files"); // rows of each file started
        QTest::addColumn<int>("names");
        QTest::addColumn<int>("hour");
        QTest::newRow("count 3, seven samples within one second: one file")
            << "N3 L L L L L L L" << QList<int>{3, 3, 1} << 1 << 5;
        QTest::newRow("count 3, seven samples, starts a second apart: three files")
            << "N3 L L L W L L L W L" << QList<int>{3, 3, 1} << 3 << 14;
        QTest::newRow("count 0 never rolls over, hour 0")
            << "N0 L L L L L" << QList<int>{5} << 1 << 0;
        QTest::newRow("count lowered below the index ends the file")
            << "N10 L L L L L N3 L L L" << QList<int>{5, 3} << 1 << 8;
        QTest::newRow("a new file asked for within one second")
            << "N0 L L S L L" << QList<int>{2, 2} << 2 << 20;
        QTest::newRow("count raised applies to the open file")
            << "N2 L N4 Db L L L L" << QList<int>{4, 1} << 2 << 10;
        QTest::newRow("directory change waits for the next start")
            << "N2 L Db L L" << QList<int>{2, 1} << 2 << 12;
        QTest::newRow("absolute directory, trailing slash")
            << "D/logs/ L" << QList<int>{1} << 1 << 3;
    }
    void script()
    {
        QFETCH(QString, script);
        QFETCH(QList<int>, files);
        QFETCH(int, names);
        QFETCH(int, hour);
        const QString workingDir = QDir::currentPath();
        const QByteArray savedTz = qgetenv("TZ");
        const bool hadTz = qEnvironmentVariableIsSet("TZ");
        const auto restore = qScopeGuard([&] {
            QDir::setCurrent(workingDir);
            hadTz ? qputenv("TZ", savedTz) : qunsetenv("TZ");
        });
        // A time zone that puts local time into the wanted hour now.
        const int east = (hour - QDateTime::currentDateTimeUtc().time().hour() + 36) % 24 - 12;
        qputenv("TZ", "MMT" + QByteArray::number(-east));
        const int hourNow = QDateTime::currentDateTime().time().hour();
        QVERIFY(hourNow == hour || hourNow == (hour + 1) % 24);
        QVERIFY(QDir::setCurrent(tmp->path()));

        for (int attempt = 0; attempt < 3; ++attempt) {
            const QString base = QString::number(attempt);
            for (const char *sub : {"/a", "/b", "/logs"})
                QVERIFY(QDir().mkpath(base + sub));
            Datalogger logger;
            QString dir = base + "/a"; // relative, as a user may give it
            logger.ReceiveFilename(dir);
            QSignalSpy spy(&logger, &Datalogger::NewFileCreated);
            QMap<QString, QString> expected;
            int n = 0;
            QTRY_VERIFY_WITH_TIMEOUT(QTime::currentTime().msec() < 300, 5000);
            for (const QString &step : script.split(' ')) {
                if (step == "W") {
                    const qint64 now = QDateTime::currentSecsSinceEpoch();
                    QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentSecsSinceEpoch() > now, 5000);
                } else if (step.startsWith('N')) {
                    logger.ReceiveNewfileIndex(step.mid(1).toInt());
                } else if (step.startsWith('D')) {
                    dir = step.startsWith("D/") ? tmp->filePath(base + step.mid(1))
                                                : base + "/" + step.mid(1);
                    logger.ReceiveFilename(dir);
                } else if (step == "S") {
                    logger.startNewFile();
                } else if (logAndCheckName(logger, n++, dir, spy, script.contains('S'))) {
                    QVERIFY(spy.count() <= files.size());
                    expected[createdName(spy, spy.count() - 1)] +=
                        fileStart(n - 1, files[spy.count() - 1]);
                }
            }
            QCOMPARE(spy.count(), files.size());
            if (expected.size() != names)
                continue;
            for (auto it = expected.cbegin(); it != expected.cend(); ++it)
                QCOMPARE(readBack(it.key()), it.value());
            int onDisk = 0;
            for (const char *sub : {"/a", "/b", "/logs"})
                onDisk += QDir(base + sub).entryList(QDir::Files).size();
            QCOMPARE(onDisk, names);
            // One row spelled out, so that the format is not only checked against itself.
            QVERIFY(readBack(createdName(spy, 0)).contains("\n0,1,-1,32767,-32768,0,0\n"));
            return;
        }
        QFAIL("every attempt straddled a second boundary");
    }

    void failedStartIsReportedOnceThenRetried_data()
    {
        // Each of these fails for root too.
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing directory") << "missing"
                                           << "No such file or directory";
        QTest::newRow("directory under a regular file") << "file"
                                                        << "Not a directory";
        QTest::newRow("file name taken by a directory") << "taken"
                                                        << "Is a directory";
    }
    void failedStartIsReportedOnceThenRetried()
    {
        QFETCH(QString, blocker);
        QFETCH(QString, reason);
        QFile plain(tmp->filePath("plain"));
        // Relative, as a user may give it; the message names the absolute path.
        const QString workingDir = QDir::currentPath();
        const auto restore = qScopeGuard([&] { QDir::setCurrent(workingDir); });
        QVERIFY(QDir::setCurrent(tmp->path()));
        const QString dir = blocker == "file" ? "plain/logs" : "logs";
        QVERIFY(blocker != "file" || plain.open(QIODevice::WriteOnly));
        // Directories under every name the next two minutes would give.
        for (int s = -2; blocker == "taken" && s < 120; ++s)
            QVERIFY(QDir().mkpath(nameAt(dir, QDateTime::currentDateTime().addSecs(s))));

        Datalogger logger;
        logger.ReceiveFilename(dir);
        QSignalSpy spy(&logger, &Datalogger::NewFileCreated);
        const QRegularExpression detail(
            "^Log file " + QRegularExpression::escape(tmp->filePath(dir) + "/") +
            "\\d\\d\\.\\d\\d, [^/]* could not be opened: " + reason + "$");
        QTest::ignoreMessage(QtWarningMsg, detail);
        QTest::failOnWarning(QRegularExpression(".")); // a second report fails the case
        for (int n = 0; n < 4; ++n)
            logSample(logger, n);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toString(), QString("File could not be created!"));
        QVERIFY2(detail.match(spy.at(1).at(0).toString()).hasMatch(),
                 qPrintable(spy.at(1).at(0).toString()));
        // The logger never creates a directory.
        QVERIFY(blocker == "taken" || !QFileInfo::exists(dir));

        // The user mends the cause; logging resumes without a restart.
        QVERIFY(blocker != "file" || plain.remove());
        QVERIFY(blocker != "taken" || QDir(dir).removeRecursively());
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(logAndCheckName(logger, 4, dir, spy));
        logSample(logger, 5);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(readBack(createdName(spy, 2)), fileStart(4, 2));
    }

    // A file size limit stands for a full disk: a write stops part-way
    // through a row and the next one fails. In a child process, since the
    // limit applies to the whole process.
    void writeFailureIsReportedOnceAndLosesNoReportedRow()
    {
        const QString dir = tmp->filePath("logs");
        QVERIFY(QDir().mkpath(dir));
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            const QString problem = logUnderSizeLimit(dir);
            std::fprintf(stderr, "%s\n", qPrintable(problem));
            _exit(problem.isEmpty() ? 0 : 1);
        }
        int status = 0;
        QVERIFY(QTest::qWaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 60000));
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "see the logging process above");
    }

private:
    // Logs until five rows were lost (the limit cuts row 40 of a file after
    // five bytes), lifts the limit and logs three more, following what the
    // user is told: after "New file created: " rows go to that file, after
    // a failure they are lost until the next such message. Returns what
    // went wrong.
    static QString logUnderSizeLimit(const QString &dir)
    {
        std::signal(SIGXFSZ, SIG_IGN); // its default action would end the process
        rlimit lim{};
        getrlimit(RLIMIT_FSIZE, &lim);
        const rlimit limited{rlim_t(fileStart(0, 40).size() + 5), lim.rlim_max};
        if (setrlimit(RLIMIT_FSIZE, &limited) != 0)
            return "cannot set a file size limit";
        QMap<QString, QString> expected;
        QString file, problem;
        int index = 0, failures = 0;
        Datalogger logger;
        logger.ReceiveFilename(dir);
        QObject::connect(&logger, &Datalogger::NewFileCreated, [&](const QString &text) {
            const bool created = text.startsWith("New file created: ");
            if (!created && (file.isEmpty() || text != "Writing to " + file +
                                                           " failed: File too large. Rows are "
                                                           "lost until a new log file is started."))
                problem = "unexpected message: " + text;
            file = created ? text.mid(18) : QString();
            expected[file] += created ? header : QString();
            index = 0;
            failures += !created;
        });
        for (int n = 0; n < 1000 && failures < 5; ++n) {
            logSample(logger, n);
            expected[file] += file.isEmpty() ? QString() : row(index++, n);
        }
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
            return "cannot lift the file size limit";
        for (int n = 1000; n < 1003; ++n) {
            logSample(logger, n);
            expected[file] += row(index++, n);
        }
        expected.remove(QString());
        // Every row reported written is on disk, and nothing else.
        for (const QString &f : QDir(dir).entryList(QDir::Files))
            if (readBack(dir + "//" + f) != expected.take(dir + "//" + f))
                problem += "\nrows of " + f + ":\n" + readBack(dir + "//" + f);
        return problem + (expected.isEmpty() ? "" : "\nfiles missing");
    }
};

QTEST_GUILESS_MAIN(TestDatalogger)
#include "tst_datalogger.moc"
