// The data logger as the main window drives it: samples in, files read back.
// The rows on disk are what a user keeps, so every case checks the files.

#include "datalogger.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

const QString header =
    QStringLiteral("indeksi,x-akseli1,y-akseli1,z-akseli1,x-akseli2,y-akseli2,z-akseli2\n");
const QString created = QStringLiteral("New file created: ");
const QString notCreated = QStringLiteral("File could not be created!");

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
    QStringList fields{QString::number(index)};
    for (int v : sample(n))
        fields << QString::number(v);
    return fields.join(',') + '\n';
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

QStringList texts(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &args : spy)
        list << args.at(0).toString();
    return list;
}

// The name of a file started in dir at time t, built field by field.
QString nameAt(const QString &dir, const QDateTime &t)
{
    const QDate d = t.date();
    const QTime c = t.time();
    const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return dir + QStringLiteral("//%1.%2, %3.%4.%5.txt")
                     .arg(two(d.day()), two(d.month()), QString::number(c.hour()), two(c.minute()),
                          two(c.second()));
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

// The file name carried by a "New file created: " message.
QString createdName(const QString &message)
{
    return message.startsWith(created) ? message.mid(created.size()) : QString();
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
    void initTestCase();
    void init();
    void cleanup();

    void rollsOverWithinOneSecondIntoOneFile();
    void rollsOverIntoThreeFilesASecondApart();
    void namesFileAfterLocalTime_data();
    void namesFileAfterLocalTime();
    void followsCountAndDirectory_data();
    void followsCountAndDirectory();
    void failedStartIsReportedOnceThenRetried_data();
    void failedStartIsReportedOnceThenRetried();
    void writeFailureIsReportedOnceAndLosesNoReportedRow();

private:
    std::unique_ptr<QTemporaryDir> tmp;
    QString workingDir;
    QByteArray savedTz;
    bool hadTz = false;
};

void tst_Datalogger::initTestCase()
{
    workingDir = QDir::currentPath();
    hadTz = qEnvironmentVariableIsSet("TZ");
    savedTz = qgetenv("TZ");
}

void tst_Datalogger::init()
{
    tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp->isValid());
    // A warning the case does not expect (a repeated failure report, a misuse
    // of QFile) fails it.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
}

void tst_Datalogger::cleanup()
{
    QDir::setCurrent(workingDir);
    if (hadTz)
        qputenv("TZ", savedTz);
    else
        qunsetenv("TZ");
    tmp.reset();
}

void tst_Datalogger::rollsOverWithinOneSecondIntoOneFile()
{
    // Three starts within one second share one name, so they go into one file,
    // each after its own header. A second boundary that falls among the seven
    // samples (the process may be descheduled) makes another attempt.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QString dir = tmp->filePath(QString::number(attempt));
        QVERIFY(QDir().mkpath(dir));
        Datalogger logger;
        logger.ReceiveFilename(dir);
        logger.ReceiveNewfileIndex(3);
        QSignalSpy spy(&logger, &Datalogger::NewFileCreated);

        QTRY_VERIFY_WITH_TIMEOUT(QTime::currentTime().msec() < 300, 5000);
        const QDateTime before = QDateTime::currentDateTime();
        QList<int> messagesAfterSample;
        for (int n = 0; n < 7; ++n) {
            logSample(logger, n);
            messagesAfterSample << spy.count();
        }
        const QDateTime after = QDateTime::currentDateTime();
        if (before.toSecsSinceEpoch() != after.toSecsSinceEpoch())
            continue;

        const QString name = nameAt(dir, before);
        QCOMPARE(messagesAfterSample, QList<int>({1, 1, 1, 2, 2, 2, 3}));
        QCOMPARE(texts(spy), QStringList(3, created + name));
        QCOMPARE(readBack(name), fileStart(0, 3) + fileStart(3, 3) + fileStart(6, 1));
        QCOMPARE(filesIn(dir).size(), 1);
        return;
    }
    QFAIL("every attempt straddled a second boundary");
}

void tst_Datalogger::rollsOverIntoThreeFilesASecondApart()
{
    const QString dir = tmp->path();
    Datalogger logger;
    logger.ReceiveFilename(dir);
    logger.ReceiveNewfileIndex(3);
    QSignalSpy spy(&logger, &Datalogger::NewFileCreated);

    QStringList names;
    qint64 lastStart = 0;
    int n = 0;
    for (int file = 0; file < 3; ++file) {
        if (file > 0) // the next start then gets a name of its own
            QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentSecsSinceEpoch() > lastStart, 5000);
        const QDateTime before = QDateTime::currentDateTime();
        logSample(logger, n++);
        const QDateTime after = QDateTime::currentDateTime();
        lastStart = after.toSecsSinceEpoch();

        QCOMPARE(spy.count(), file + 1);
        const QString name = createdName(spy.last().at(0).toString());
        QVERIFY2(startedBetween(name, dir, before, after), qPrintable(name));
        names << name;
        while (n < 7 && n % 3 != 0)
            logSample(logger, n++);
        QCOMPARE(spy.count(), file + 1);
    }
    QCOMPARE(readBack(names[0]), fileStart(0, 3));
    QCOMPARE(readBack(names[1]), fileStart(3, 3));
    QCOMPARE(readBack(names[2]), fileStart(6, 1));
    QCOMPARE(filesIn(dir).size(), 3);
}

void tst_Datalogger::namesFileAfterLocalTime_data()
{
    QTest::addColumn<QString>("directory"); // below the temporary directory
    QTest::addColumn<bool>("relative");     // given relative to the working directory
    QTest::addColumn<int>("localHour");

    // The hours are chosen so that the next hour has as many digits.
    QTest::newRow("one-digit hour, relative directory") << "logs" << true << 5;
    QTest::newRow("two-digit hour, absolute directory") << "logs" << false << 14;
    QTest::newRow("hour 0, directory with a trailing slash") << "logs/" << false << 0;
}

void tst_Datalogger::namesFileAfterLocalTime()
{
    QFETCH(QString, directory);
    QFETCH(bool, relative);
    QFETCH(int, localHour);

    // A time zone that puts local time into the wanted hour now.
    const int utcHour = QDateTime::currentDateTimeUtc().time().hour();
    const int east = (localHour - utcHour + 36) % 24 - 12; // hours ahead of UTC, -12..11
    qputenv("TZ", "MMT" + QByteArray::number(-east));
    const int hourNow = QDateTime::currentDateTime().time().hour();
    QVERIFY2(hourNow == localHour || hourNow == localHour + 1, "the time zone was not applied");

    QVERIFY(QDir(tmp->path()).mkpath(directory));
    QString dir = tmp->filePath(directory);
    if (relative) {
        QVERIFY(QDir::setCurrent(tmp->path()));
        dir = directory;
    }
    Datalogger logger;
    logger.ReceiveFilename(dir);
    logger.ReceiveNewfileIndex(50000);
    QSignalSpy spy(&logger, &Datalogger::NewFileCreated);

    const QDateTime before = QDateTime::currentDateTime();
    logSample(logger, 0);
    const QDateTime after = QDateTime::currentDateTime();

    QCOMPARE(spy.count(), 1);
    const QString name = createdName(spy.at(0).at(0).toString());
    QVERIFY2(startedBetween(name, dir, before, after), qPrintable(name));
    const QRegularExpression shape(
        QStringLiteral("^\\d\\d\\.\\d\\d, (\\d+)\\.\\d\\d\\.\\d\\d\\.txt$"));
    const QRegularExpressionMatch m = shape.match(name.mid(dir.size() + 2));
    QVERIFY2(m.hasMatch(), qPrintable(name));
    QCOMPARE(m.captured(1).size(), localHour < 10 ? 1 : 2);
    QCOMPARE(readBack(name), fileStart(0, 1));
    QCOMPARE(filesIn(tmp->filePath(directory)).size(), 1);
}

void tst_Datalogger::followsCountAndDirectory_data()
{
    // A script of steps: "L" logs the next sample, "N<k>" sets the new-file
    // line count, "D<x>" switches to directory x. Expected files, in the order
    // started, as the directory and the row indexes; at most one file per
    // directory, so no two share a name.
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("files");

    QTest::newRow("count 0 never rolls over") << "N0 L L L L L" << QStringList{"a 0 1 2 3 4"};
    QTest::newRow("negative count never rolls over") << "N-1 L L L" << QStringList{"a 0 1 2"};
    QTest::newRow("count lowered below the index is never met")
        << "N10 L L L L L N3 L L L" << QStringList{"a 0 1 2 3 4 5 6 7"};
    QTest::newRow("count raised applies to the open file")
        << "N2 L N4 Db L L L L" << QStringList{"a 0 1 2 3", "b 0"};
    QTest::newRow("directory change waits for the next start")
        << "N2 L Db L L" << QStringList{"a 0 1", "b 0"};
}

void tst_Datalogger::followsCountAndDirectory()
{
    QFETCH(QString, script);
    QFETCH(QStringList, files);

    QVERIFY(QDir(tmp->path()).mkpath("a"));
    QVERIFY(QDir(tmp->path()).mkpath("b"));
    Datalogger logger;
    logger.ReceiveFilename(tmp->filePath("a"));
    QSignalSpy spy(&logger, &Datalogger::NewFileCreated);
    int n = 0;
    for (const QString &step : script.split(' ')) {
        if (step == "L")
            logSample(logger, n++);
        else if (step.startsWith('N'))
            logger.ReceiveNewfileIndex(step.mid(1).toInt());
        else
            logger.ReceiveFilename(tmp->filePath(step.mid(1)));
    }

    QCOMPARE(spy.count(), files.size());
    int first = 0;
    for (int i = 0; i < files.size(); ++i) {
        QStringList fields = files[i].split(' ');
        const QString dir = tmp->filePath(fields.takeFirst());
        const QString name = createdName(spy.at(i).at(0).toString());
        QVERIFY2(name.startsWith(dir + "//"), qPrintable(name));
        QCOMPARE(filesIn(dir).size(), 1);
        const QString content = readBack(name);
        QCOMPARE(content, fileStart(first, fields.size()));
        first += fields.size();
    }
    // One row spelled out, so that the format is not only checked against itself.
    QVERIFY(readBack(createdName(spy.at(0).at(0).toString()))
                .contains("\n0,1,-1,32767,-32768,0,0\n1,2,-2,32767,-32768,0,-250\n"));
}

enum class Blocker { MissingDirectory, DirectoryUnderFile, NameTakenByDirectory };

void tst_Datalogger::failedStartIsReportedOnceThenRetried_data()
{
    // Each of these fails for root too.
    QTest::addColumn<Blocker>("blocker");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing directory") << Blocker::MissingDirectory << "No such file or directory";
    QTest::newRow("directory under a regular file")
        << Blocker::DirectoryUnderFile << "Not a directory";
    QTest::newRow("file name taken by a directory")
        << Blocker::NameTakenByDirectory << "Is a directory";
}

void tst_Datalogger::failedStartIsReportedOnceThenRetried()
{
    QFETCH(Blocker, blocker);
    QFETCH(QString, reason);

    const QString plain = tmp->filePath("plain");
    const QString dir =
        blocker == Blocker::DirectoryUnderFile ? plain + "/logs" : tmp->filePath("logs");
    switch (blocker) {
    case Blocker::MissingDirectory:
        break;
    case Blocker::DirectoryUnderFile: {
        QFile f(plain);
        QVERIFY(f.open(QIODevice::WriteOnly));
        break;
    }
    case Blocker::NameTakenByDirectory:
        // Directories under every name the next two minutes would give.
        for (int s = -2; s < 120; ++s)
            QVERIFY(QDir().mkpath(nameAt(dir, QDateTime::currentDateTime().addSecs(s))));
        break;
    }

    Datalogger logger;
    logger.ReceiveFilename(dir);
    logger.ReceiveNewfileIndex(50000);
    QSignalSpy spy(&logger, &Datalogger::NewFileCreated);
    const QRegularExpression detail("^Log file " + QRegularExpression::escape(dir + "//") +
                                    ".* could not be opened: " + reason + "$");
    QTest::ignoreMessage(QtWarningMsg, detail); // once: a second warning fails the case

    for (int n = 0; n < 4; ++n)
        logSample(logger, n);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toString(), notCreated);
    QVERIFY2(detail.match(spy.at(1).at(0).toString()).hasMatch(),
             qPrintable(spy.at(1).at(0).toString()));
    if (blocker == Blocker::NameTakenByDirectory)
        QCOMPARE(filesIn(dir), QStringList());
    else
        QVERIFY(!QFileInfo::exists(dir)); // the logger never creates a directory

    // The user mends the cause; logging resumes without a restart.
    switch (blocker) {
    case Blocker::MissingDirectory:
        QVERIFY(QDir().mkpath(dir));
        break;
    case Blocker::DirectoryUnderFile:
        QVERIFY(QFile::remove(plain));
        QVERIFY(QDir().mkpath(dir));
        break;
    case Blocker::NameTakenByDirectory:
        QVERIFY(QDir(dir).removeRecursively());
        QVERIFY(QDir().mkpath(dir));
        break;
    }
    const QDateTime before = QDateTime::currentDateTime();
    logSample(logger, 4);
    const QDateTime after = QDateTime::currentDateTime();
    logSample(logger, 5);

    QCOMPARE(spy.count(), 3);
    const QString name = createdName(spy.at(2).at(0).toString());
    QVERIFY2(startedBetween(name, dir, before, after), qPrintable(name));
    QCOMPARE(readBack(name), fileStart(4, 2));
    QCOMPARE(filesIn(dir).size(), 1);
}

namespace
{

int reportFd = -1;

void report(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(reportFd, bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            _exit(3);
        done += n;
    }
}

void reportWarning(QtMsgType, const QMessageLogContext &, const QString &text)
{
    report("warn " + text);
}

constexpr int lostAfterFailure = 5;
constexpr int afterLimitLifted = 3;

// The child's side: logs under a file size limit until a row fails, then a few
// rows more, then lifts the limit (the disk was freed) and logs a few more.
// Every step goes down the pipe; the parent judges it.
int logUnderSizeLimit(const QString &dir, rlim_t limit)
{
    qInstallMessageHandler(reportWarning);
    std::signal(SIGXFSZ, SIG_IGN); // its default action would end the process
    rlimit lim{};
    if (getrlimit(RLIMIT_FSIZE, &lim) != 0)
        return 2;
    lim.rlim_cur = limit;
    if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
        return 2;

    Datalogger logger;
    logger.ReceiveFilename(dir);
    logger.ReceiveNewfileIndex(0);
    bool failed = false;
    QObject::connect(&logger, &Datalogger::NewFileCreated, [&failed](const QString &text) {
        failed = failed || text.startsWith("Writing to ");
        report("msg " + text);
    });
    int n = 0;
    for (int lost = 0; n < 1000 && lost < lostAfterFailure; ++n) {
        report("log " + QString::number(n));
        logSample(logger, n);
        lost += failed ? 1 : 0;
    }
    lim.rlim_cur = lim.rlim_max;
    if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
        return 2;
    report("lifted");
    for (const int end = n + afterLimitLifted; n < end; ++n) {
        report("log " + QString::number(n));
        logSample(logger, n);
    }
    report("done");
    return 0;
}

// Everything the child writes into fd until it closes it; empty after 60 s.
QByteArray readToEnd(int fd)
{
    QByteArray data;
    QDeadlineTimer deadline(60000);
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
            return QByteArray();
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            return data;
        if (n < 0)
            return QByteArray();
        data.append(buf, n);
    }
}

} // namespace

void tst_Datalogger::writeFailureIsReportedOnceAndLosesNoReportedRow()
{
    // A file size limit stands for a full disk: a write stops part-way through
    // a row and the next write fails. It applies to the whole process, so it
    // is set in a child. The limit cuts row 40 of a file after five bytes.
    const QString dir = tmp->filePath("logs");
    QVERIFY(QDir().mkpath(dir));
    const rlim_t limit = fileStart(0, 40).toUtf8().size() + 5;

    int fds[2];
    QVERIFY(::pipe(fds) == 0);
    const pid_t pid = ::fork();
    QVERIFY(pid >= 0);
    if (pid == 0) {
        ::close(fds[0]);
        reportFd = fds[1];
        _exit(logUnderSizeLimit(dir, limit));
    }
    ::close(fds[1]);
    const QByteArray output = readToEnd(fds[0]);
    ::close(fds[0]);
    if (output.isEmpty())
        ::kill(pid, SIGKILL);
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the logging process did not survive");
    const QStringList lines = QString::fromUtf8(output).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.last(), QStringLiteral("done"));

    // Replay what the user was told: after "New file created: " rows go to
    // that file; after a failure they are lost until the next such message.
    QMap<QString, QString> expected;
    QString current;
    bool writing = false;
    bool failureReported = false;
    bool lifted = false;
    int index = 0, failures = 0, rowsAfterLift = 0;
    QStringList failureTexts, warnings;
    int pending = -1;
    bool pendingLost = false;
    const auto settle = [&] {
        if (pending >= 0 && writing && !pendingLost) {
            expected[current] += row(index++, pending);
            rowsAfterLift += lifted ? 1 : 0;
        }
        pending = -1;
    };
    for (const QString &line : lines) {
        if (line.startsWith("log ") || line == "lifted" || line == "done") {
            settle();
            pending = line.startsWith("log ") ? line.mid(4).toInt() : -1;
            pendingLost = false;
            lifted = lifted || line == "lifted";
        } else if (line.startsWith("warn ")) {
            warnings << line.mid(5);
        } else if (const QString name = createdName(line.mid(4)); !name.isEmpty()) {
            current = name;
            writing = true;
            failureReported = false;
            index = 0;
            expected[current] += header;
        } else {
            QVERIFY2(!failureReported, "a failure was reported twice in one run");
            failureReported = true;
            writing = false;
            pendingLost = true;
            ++failures;
            failureTexts << line.mid(4);
            QCOMPARE(line.mid(4), "Writing to " + current +
                                      " failed: File too large. Rows are lost until a new "
                                      "log file is started.");
        }
    }
    QVERIFY(failures >= 1);
    QCOMPARE(warnings, failureTexts);
    QCOMPARE(rowsAfterLift, afterLimitLifted);

    // Every row reported written is on disk, and nothing else: no row the
    // user was told is lost, and no part of the row that failed.
    QStringList onDisk;
    for (const QString &f : filesIn(dir))
        onDisk << dir + "//" + f;
    onDisk.sort();
    QCOMPARE(onDisk, QStringList(expected.keys()));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(readBack(it.key()), it.value());
}

QTEST_GUILESS_MAIN(tst_Datalogger)
#include "tst_datalogger.moc"
