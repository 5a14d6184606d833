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
// Failures are never silent and never fatal: a file that cannot be started or
// written is reported once per run of failures on NewFileCreated (and with
// path and reason as a warning), and failure() says why until a row is
// written again. The rows meanwhile are lost; a new file is tried at the
// next sample at least retryInterval after the last try, and a try that
// fails leaves no empty file behind.
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
    static constexpr qint64 retryInterval = 5000; // milliseconds

    // The local time files are named after; the system's clock unless set.
    void setClock(std::function<QDateTime()> now) { clock = std::move(now); }

signals:
    // One line for the user: "New file created: " with the file's full name,
    // "File could not be created!", or a line naming a file and the reason it
    // failed.
    void NewFileCreated(QString);
    // A file was started at `path`; its header, and then its rows, begin at
    // byte `offset` (more than 0 when the file is appended to).
    void fileStarted(const QString &path, qint64 offset);
    // Rows stopped being written (failure() says why), and are written again.
    void failing(const QString &reason);
    void resumed();

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
    // Reports a failure unless this run of failures has been reported already.
    void reportFailure(const QString &headline, const QString &detail);

    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };
    QFile file;
    QString filename;
    bool fileOpen;
    int lineIndex;
    int newfileIndex;
    // A failure has been reported and no row has been written since.
    bool failureReported;
    QString problem;
    QDateTime lastTry; // of a file start that failed
    long long written = 0;
    // The next file must not be the one named here.
    QString avoidName;
};
