// The data logger as the main window drives it: samples in, files read back.
// The rows on disk are what a user keeps, so every case checks the files.

#include "datalogger.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

const QString header =
    QStringLiteral("indeksi,x-akseli1,y-akseli1,z-akseli1,x-akseli2,y-akseli2,z-akseli2\n");
const QString created = QStringLiteral("New file created: ");

// Sample n of a run: distinct per n, with negative values and both extremes.
QList<int> sample(int n)
{
    return {n + 1, -(n + 1), 32767, -32768, 0, -250 * n};
}

void logSample(Datalogger &logger, int n)
{
    const QList<int> s = sample(n);
    logger.Log(s[0], s[1], s[2], s[3], s[4], s[5]);
}

// The line that sample n must become as row `index` of its file.
QString row(int index, int n)
{
    const QList<int> s = sample(n);
    return QString::asprintf("%d,%d,%d,%d,%d,%d,%d\n", index, s[0], s[1], s[2], s[3], s[4], s[5]);
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
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("<cannot read %1: %2>").arg(path, f.errorString());
    return QString::fromUtf8(f.readAll());
}

// The file name carried by message i of a NewFileCreated spy, if any.
QString createdName(const QSignalSpy &spy, int i)
{
    const QString message = spy.at(i).at(0).toString();
    return message.startsWith(created) ? message.mid(created.size()) : QString();
}

// The name of a file started in dir at time t, built field by field.
QString nameAt(const QString &dir, const QDateTime &t)
{
    const QDate d = t.date();
    const QTime c = t.time();
    return dir + QString::asprintf("//%02d.%02d, %d.%02d.%02d.txt", d.day(), d.month(), c.hour(),
                                   c.minute(), c.second());
}

// Whether `name` is a file started in dir at some second from before to after
// (the clock read around the call; a second boundary may fall in between).
bool startedBetween(const QString &name, const QString &dir, const QDateTime &before,
                    const QDateTime &after)
{
    for (QDateTime t = before; t.toSecsSinceEpoch() <= after.toSecsSinceEpoch(); t = t.addSecs(1))
        if (name == nameAt(dir, t))
            return true;
    return false;
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files);
}

} // namespace

class tst_Datalogger : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void script_data();
    void script();
    void failedStartIsReportedOnceThenRetried_data();
    void failedStartIsReportedOnceThenRetried();
    void writeFailureIsReportedOnceAndLosesNoReportedRow();

private:
    std::unique_ptr<QTemporaryDir> tmp;
};

void tst_Datalogger::init()
{
    tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp->isValid());
    // A warning the case does not expect (a repeated failure report, a misuse
    // of QFile) fails it.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
}

void tst_Datalogger::script_data()
{
    // Steps: "L" logs the next sample, "N<k>" sets the new-file line count,
    // "D<x>" switches to directory x (relative to the working directory, the
    // temporary one), "W" waits for the next second. Files started within one
    // second share a name; `names` is how many distinct names the run must
    // give (another attempt is made when a second boundary fell among the
    // steps). `hour` is the local hour the run takes place in.
    QTest::addColumn<QString>("script");
    QTest::addColumn<QList<int>>("files"); // rows of each file started
    QTest::addColumn<int>("names");
    QTest::addColumn<int>("hour");

    QTest::newRow("count 3, seven samples within one second: one file")
        << "N3 L L L L L L L" << QList<int>{3, 3, 1} << 1 << 5;
    QTest::newRow("count 3, seven samples, starts a second apart: three files")
        << "N3 L L L W L L L W L" << QList<int>{3, 3, 1} << 3 << 14;
    QTest::newRow("count 0 never rolls over, hour 0") << "N0 L L L L L" << QList<int>{5} << 1 << 0;
    QTest::newRow("negative count never rolls over") << "N-1 L L L" << QList<int>{3} << 1 << 22;
    QTest::newRow("count lowered below the index is never met")
        << "N10 L L L L L N3 L L L" << QList<int>{8} << 1 << 8;
    QTest::newRow("count raised applies to the open file")
        << "N2 L N4 Db L L L L" << QList<int>{4, 1} << 2 << 10;
    QTest::newRow("directory change waits for the next start")
        << "N2 L Db L L" << QList<int>{2, 1} << 2 << 12;
    QTest::newRow("absolute directory, trailing slash") << "D/logs/ L" << QList<int>{1} << 1 << 3;
}

void tst_Datalogger::script()
{
    QFETCH(QString, script);
    QFETCH(QList<int>, files);
    QFETCH(int, names);
    QFETCH(int, hour);
    const QString workingDir = QDir::currentPath();
    const bool hadTz = qEnvironmentVariableIsSet("TZ");
    const QByteArray savedTz = qgetenv("TZ");
    const auto restore = qScopeGuard([&] {
        QDir::setCurrent(workingDir);
        hadTz ? qputenv("TZ", savedTz) : qunsetenv("TZ");
    });
    // A time zone that puts local time into the wanted hour now; the hours
    // are chosen so that the next hour has as many digits.
    const int utcHour = QDateTime::currentDateTimeUtc().time().hour();
    const int east = (hour - utcHour + 36) % 24 - 12; // hours ahead of UTC, -12..11
    qputenv("TZ", "MMT" + QByteArray::number(-east));
    const int hourNow = QDateTime::currentDateTime().time().hour();
    QVERIFY2(hourNow == hour || hourNow == (hour + 1) % 24, "the time zone was not applied");
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
            } else {
                const int started = spy.count();
                const QDateTime before = QDateTime::currentDateTime();
                logSample(logger, n++);
                const QDateTime after = QDateTime::currentDateTime();
                if (spy.count() == started)
                    continue;
                QCOMPARE(spy.count(), started + 1);
                QVERIFY(started < files.size());
                const QString name = createdName(spy, started);
                QVERIFY2(startedBetween(name, dir, before, after), qPrintable(name));
                expected[name] += fileStart(n - 1, files[started]);
            }
        }
        QCOMPARE(spy.count(), files.size());
        if (expected.size() != names)
            continue;
        int onDisk = 0;
        for (const char *sub : {"/a", "/b", "/logs"})
            onDisk += filesIn(base + sub).size();
        QCOMPARE(onDisk, names);
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(readBack(it.key()), it.value());
        // One row spelled out, so that the format is not only checked against itself.
        QVERIFY(readBack(createdName(spy, 0)).contains("\n0,1,-1,32767,-32768,0,0\n"));
        return;
    }
    QFAIL("every attempt straddled a second boundary");
}

void tst_Datalogger::failedStartIsReportedOnceThenRetried_data()
{
    // Each of these fails for root too.
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing directory") << "missing"
                                       << "No such file or directory";
    QTest::newRow("directory under a regular file") << "file"
                                                    << "Not a directory";
    // A file of the name exists, but cannot be opened.
    QTest::newRow("file name taken by a directory") << "taken"
                                                    << "Is a directory";
}

void tst_Datalogger::failedStartIsReportedOnceThenRetried()
{
    QFETCH(QString, blocker);
    QFETCH(QString, reason);
    const QString plain = tmp->filePath("plain");
    const QString dir = blocker == "file" ? plain + "/logs" : tmp->filePath("logs");
    QFile plainFile(plain);
    if (blocker == "file")
        QVERIFY(plainFile.open(QIODevice::WriteOnly));
    // Directories under every name the next two minutes would give.
    for (int s = -2; blocker == "taken" && s < 120; ++s)
        QVERIFY(QDir().mkpath(nameAt(dir, QDateTime::currentDateTime().addSecs(s))));

    Datalogger logger;
    logger.ReceiveFilename(dir);
    QSignalSpy spy(&logger, &Datalogger::NewFileCreated);
    const QRegularExpression detail("^Log file " + QRegularExpression::escape(dir + "//") +
                                    ".* could not be opened: " + reason + "$");
    QTest::ignoreMessage(QtWarningMsg, detail); // once: a second warning fails the case
    for (int n = 0; n < 4; ++n)
        logSample(logger, n);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("File could not be created!"));
    QVERIFY2(detail.match(spy.at(1).at(0).toString()).hasMatch(),
             qPrintable(spy.at(1).at(0).toString()));
    if (blocker == "taken")
        QCOMPARE(filesIn(dir), QStringList());
    else
        QVERIFY(!QFileInfo::exists(dir)); // the logger never creates a directory

    // The user mends the cause; logging resumes without a restart.
    QVERIFY(blocker != "file" || plainFile.remove());
    QVERIFY(blocker != "taken" || QDir(dir).removeRecursively());
    QVERIFY(QDir().mkpath(dir));
    const QDateTime before = QDateTime::currentDateTime();
    logSample(logger, 4);
    const QDateTime after = QDateTime::currentDateTime();
    logSample(logger, 5);
    QCOMPARE(spy.count(), 3);
    const QString name = createdName(spy, 2);
    QVERIFY2(startedBetween(name, dir, before, after), qPrintable(name));
    QCOMPARE(readBack(name), fileStart(4, 2));
    QCOMPARE(filesIn(dir).size(), 1);
}

namespace
{

// Runs in a child process, since a file size limit applies to the whole
// process. The limit stands for a full disk: a write stops part-way through a
// row and the next write fails. Logs until five rows were lost, lifts the
// limit (the disk was freed) and logs three more. Returns what went wrong.
QStringList logUnderSizeLimit(const QString &dir, rlim_t limit)
{
    static QStringList warnings;
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) { warnings << text; });
    std::signal(SIGXFSZ, SIG_IGN); // its default action would end the process
    rlimit lim{};
    getrlimit(RLIMIT_FSIZE, &lim);
    const rlimit limited{limit, lim.rlim_max};
    const rlimit lifted{lim.rlim_max, lim.rlim_max};
    if (setrlimit(RLIMIT_FSIZE, &limited) != 0)
        return {"cannot set a file size limit"};

    // Follows what the user is told: after "New file created: " rows go to
    // that file; after a failure they are lost until the next such message.
    QStringList problems, failures;
    QMap<QString, QString> expected;
    QString file;
    bool writing = false;
    int index = 0;
    Datalogger logger;
    logger.ReceiveFilename(dir);
    QObject::connect(&logger, &Datalogger::NewFileCreated, [&](const QString &text) {
        if (text.startsWith(created)) {
            file = text.mid(created.size());
            writing = true;
            index = 0;
            expected[file] += header;
            return;
        }
        if (!writing)
            problems << "a failure was reported twice in one run: " + text;
        else if (text != "Writing to " + file +
                             " failed: File too large. Rows are lost until a new log file is "
                             "started.")
            problems << "unexpected message: " + text;
        writing = false;
        failures << text;
    });
    int n = 0, lost = 0, afterLift = 0;
    const auto logNext = [&] {
        logSample(logger, n);
        if (writing)
            expected[file] += row(index++, n);
        ++n;
        return writing;
    };
    while (n < 1000 && lost < 5)
        lost += logNext() ? 0 : 1;
    if (setrlimit(RLIMIT_FSIZE, &lifted) != 0)
        return {"cannot lift the file size limit"};
    for (int i = 0; i < 3; ++i)
        afterLift += logNext() ? 1 : 0;

    if (failures.isEmpty())
        problems << "no write failed";
    if (warnings != failures)
        problems << "warnings: " + warnings.join(" | ");
    if (afterLift != 3)
        problems << "rows were lost after the limit was lifted";
    // Every row reported written is on disk, and nothing else: no row the
    // user was told is lost, and no part of the row that failed.
    QStringList onDisk;
    for (const QString &f : filesIn(dir))
        onDisk << dir + "//" + f;
    onDisk.sort();
    if (onDisk != expected.keys())
        problems << "files on disk: " + onDisk.join(" | ");
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        if (readBack(it.key()) != it.value())
            problems << "rows of " + it.key() + ":\n" + readBack(it.key());
    return problems;
}

} // namespace

void tst_Datalogger::writeFailureIsReportedOnceAndLosesNoReportedRow()
{
    const QString dir = tmp->filePath("logs");
    QVERIFY(QDir().mkpath(dir));
    // The limit cuts row 40 of a file after five bytes.
    const rlim_t limit = fileStart(0, 40).toUtf8().size() + 5;
    const pid_t pid = ::fork();
    QVERIFY(pid >= 0);
    if (pid == 0) {
        const QStringList problems = logUnderSizeLimit(dir, limit);
        for (const QString &problem : problems)
            std::fprintf(stderr, "FAIL in the logging process: %s\n", qPrintable(problem));
        _exit(problems.isEmpty() ? 0 : 1);
    }
    auto killer = qScopeGuard([pid] {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    });
    int status = 0;
    QVERIFY(QTest::qWaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 60000));
    killer.dismiss();
    QVERIFY2(WIFEXITED(status), "the logging process did not survive");
    QVERIFY2(WEXITSTATUS(status) == 0, "the logging process found faults (see above)");
}

QTEST_GUILESS_MAIN(tst_Datalogger)
#include "tst_datalogger.moc"
