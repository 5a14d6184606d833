#include "datalogger.h"
#include "logformat.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <QElapsedTimer>

#include <charconv>
#include <iterator>
#include <unistd.h>

Datalogger::Datalogger(QObject *parent)
    : QObject(parent), fileOpen(false), lineIndex(0), newfileIndex(0)
{
    QElapsedTimer elapsed;
    elapsed.start();
    steady = [elapsed] { return elapsed.elapsed(); };
}

Datalogger::~Datalogger() = default;

void Datalogger::ReceiveFilename(QString filename_)
{
    filename = filename_;
}

void Datalogger::CreateFile()
{
    QDateTime start = clock();
    lastTry = retryClock();
    QString name;
    do {
        name = QDir::toNativeSeparators(filename) + QStringLiteral("//") +
               start.toString(QStringLiteral("dd.MM, h.mm.ss")) + QStringLiteral(".txt");
        start = start.addSecs(1);
    } while (name == avoidName);
    avoidName.clear();
    // The name of an open QFile cannot be changed.
    file.close();
    file.setFileName(name);
    endFile();

    // Unbuffered, so that each row reaches the system in the write call that
    // carries it and a failing row is seen as that row fails.
    const bool existed = file.exists();
    if (!file.open(QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered)) {
        const QString dir = QFileInfo(name).absolutePath();
        const bool dirProblem = !QFileInfo(dir).isDir() ||
                                ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) != 0;
        const QString cause = "open: " + file.errorString();
        if (cause != reportedCause)
            emit NewFileCreated(QStringLiteral("File could not be created!"));
        reportFailure(cause,
                      QStringLiteral("Log file %1 could not be opened: %2")
                          .arg(QFileInfo(name).absoluteFilePath(), file.errorString()),
                      dirProblem);
        return;
    }
    const qint64 offset = file.size();
    QString reason;
    const QByteArray header = QByteArray(logformat::header) + '\n';
    if (!writeLine(header.constData(), header.size(), &reason)) {
        abandonFile(reason, !existed || offset == 0);
        return;
    }
    fileOpen = true;
    emit fileStarted(name, offset);
    emit NewFileCreated(QStringLiteral("New file created: ") + name);
}

void Datalogger::Log(int acc_x, int acc_y, int acc_z, int gyro_x, int gyro_y, int gyro_z)
{
    if (!fileOpen && (problem.isEmpty() || retryDue()))
        CreateFile();
    if (!fileOpen) {
        ++lost; // Nowhere to write this row; the failure has been reported.
        return;
    }

    // Seven ints of at most 11 characters, six commas and a line feed.
    char row[96];
    char *const end = std::end(row);
    char *p = std::to_chars(row, end, lineIndex).ptr;
    for (const int value : {acc_x, acc_y, acc_z, gyro_x, gyro_y, gyro_z}) {
        *p++ = ',';
        p = std::to_chars(p, end, value).ptr;
    }
    *p++ = '\n';
    QString reason;
    if (!writeLine(row, p - row, &reason)) {
        abandonFile(reason, false);
        ++lost;
        return;
    }
    ++written;
    if (!problem.isEmpty()) {
        problem.clear();
        reportedCause.clear();
        const long long missed = lost;
        lost = 0;
        emit resumed(missed);
    }

    ++lineIndex;
    if (newfileIndex > 0 && lineIndex >= newfileIndex)
        endFile();
}

void Datalogger::ReceiveNewfileIndex(int newfileIndex_)
{
    newfileIndex = newfileIndex_;
    // A count lowered to or below the rows written ends the file now.
    if (fileOpen && newfileIndex > 0 && lineIndex >= newfileIndex)
        endFile();
}

void Datalogger::startNewFile()
{
    if (!fileOpen)
        return;
    avoidName = file.fileName();
    endFile();
}

void Datalogger::endFile()
{
    fileOpen = false;
    lineIndex = 0;
}

bool Datalogger::writeLine(const char *line, qint64 size, QString *reason)
{
    // A short write (file size limit, disk full) reports no error; writing the
    // rest then fails with the system's reason.
    qint64 written = 0;
    while (written < size) {
        const qint64 n = file.write(line + written, size - written);
        if (n <= 0) {
            *reason = file.errorString();
            if (written > 0)
                file.resize(file.size() - written);
            return false;
        }
        written += n;
    }
    return true;
}

void Datalogger::abandonFile(const QString &reason, bool created)
{
    const QString name = file.fileName();
    file.close();
    if (created)
        file.remove();
    endFile();
    reportFailure("write: " + reason,
                  QStringLiteral("Writing to %1 failed: %2. Rows are lost until a new "
                                 "log file is started.")
                      .arg(name, reason),
                  false);
}

void Datalogger::reportFailure(const QString &cause, const QString &detail, bool dirProblem)
{
    problem = detail;
    waitForDir = dirProblem;
    if (cause == reportedCause)
        return;
    reportedCause = cause;
    emit failing(detail);
}

qint64 Datalogger::retryClock() const
{
    return steady();
}

bool Datalogger::retryDue()
{
    const qint64 now = retryClock();
    if (now - lastTry >= retryInterval)
        return true;
    if (!waitForDir || now - lastDirCheck < dirCheckInterval)
        return false;
    lastDirCheck = now;
    const QString dir =
        QFileInfo(QDir::toNativeSeparators(filename) + QStringLiteral("//x")).absolutePath();
    return QFileInfo(dir).isDir() && ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0;
}
