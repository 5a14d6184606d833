#pragma once

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>

#include <functional>

// Writes samples as comma-separated rows into time-named files in the logging
// directory, starting a new file after a set number of rows.
//
// A file is named "<directory>//dd.MM, h.mm.ss.txt" after the local time of
// its start and opened for appending, so two starts within one second share a
// file (but for startNewFile's). Each file started gets a header line, then
// one row per sample: the row index (from 0) and the six values.
//
// Failures are never silent and never fatal: a file that cannot be started is
// reported on NewFileCreated ("File could not be created!"), and every
// failure, naming the file and the reason, on failing() once per cause;
// failure() says why until a row is written again. The rows meanwhile are
// lost and counted. A new file is tried as soon as the cause is seen to be
// gone (a missing or unwritable directory that appears or becomes
// writable, looked at every dirCheckInterval), otherwise at the next sample
// at least retryInterval after the last try (a full disk), on a steady
// clock; a try that fails leaves no empty file behind.
class Datalogger : public QObject
{
    Q_OBJECT
public:
    explicit Datalogger(QObject *parent = nullptr);
    ~Datalogger() override;

    // The file rows go to now (empty when none is open) and the rows it has.
    QString currentFile() const { return fileOpen ? file.fileName() : QString(); }
    int rowCount() const { return lineIndex; }
    // Where the next row goes in the open file: its size in bytes.
    qint64 currentSize() const { return fileOpen ? file.size() : 0; }
    // Rows written since construction.
    long long rowsWritten() const { return written; }
    // Why rows are not being written, naming the file; empty while they are.
    QString failure() const { return problem; }
    static constexpr qint64 retryInterval = 5000;   // milliseconds
    static constexpr qint64 dirCheckInterval = 200; // milliseconds

    // The local time files are named after; the system's clock unless set.
    void setClock(std::function<QDateTime()> now) { clock = std::move(now); }
    // The milliseconds that pace the retries, on a clock that never jumps;
    // the system's steady clock unless set.
    void setSteadyClock(std::function<qint64()> now) { steady = std::move(now); }

signals:
    // One line for the user: "New file created: " with the file's full name,
    // or "File could not be created!".
    void NewFileCreated(QString);
    // A file was started at `path`; its header, and then its rows, begin at
    // byte `offset` (more than 0 when the file is appended to).
    void fileStarted(const QString &path, qint64 offset);
    // Rows stopped being written, or stopped for another cause: a line for
    // the user naming the file and the reason (as failure() says it).
    void failing(const QString &reason);
    // Rows are written again, after `lost` rows could not be.
    void resumed(long long lost);

public slots:
    // Directory for files started from now on; the open file is kept.
    void ReceiveFilename(QString filename);
    // Starts a new file now (closing the current one) and writes its header.
    // On success fileOpen is true and lineIndex 0; on failure fileOpen is
    // false. Called by Log.
    void CreateFile();
    // Writes one row, starting a file first if none is open. The row is on
    // disk when this returns, or the failure has been reported.
    void Log(int acc_x, int acc_y, int acc_z, int gyro_x, int gyro_y, int gyro_z);
    // Rows per file; applies to the open file at once: it rolls over once its
    // row count reaches or passes this. 0 or less never rolls over.
    void ReceiveNewfileIndex(int newfileIndex_);
    // The next row starts a new file, never the one open now, even within
    // the same second (its name then takes the next free second): for rows
    // that must not share a file with those before, such as another source's.
    void startNewFile();

private:
    // Writes line to the end of the open file. On failure, sets reason to the
    // system's text and cuts off any part of the line that reached the file,
    // so the file always ends with a whole line.
    bool writeLine(const char *line, qint64 size, QString *reason);
    // The next row starts a new file; the current one stays open until then.
    void endFile();
    // Closes the file after a failed write and reports it; a file that held
    // nothing before this start is removed.
    void abandonFile(const QString &reason, bool created);
    // Reports a failure unless its cause has been reported already; a
    // `dirProblem` is one the directory's state shows.
    void reportFailure(const QString &cause, const QString &detail, bool dirProblem);
    // Whether a file may be tried now, after a failure.
    bool retryDue();
    // The milliseconds the retries are paced by: steady, so that a wall
    // clock set back does not hold them off.
    qint64 retryClock() const;

    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };
    std::function<qint64()> steady;
    QFile file;
    QString filename;
    bool fileOpen;
    int lineIndex;
    int newfileIndex;
    // The cause last reported since a row was written; empty: none.
    QString reportedCause;
    QString problem;
    bool waitForDir = false; // the directory is missing or cannot be written
    qint64 lastTry = 0;      // of a file start that failed, on the steady clock
    qint64 lastDirCheck = 0;
    long long written = 0;
    long long lost = 0; // rows not written since the failure began
    // The next file must not be the one named here.
    QString avoidName;
};
