#pragma once

#include "optionset.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QString>

// The session file of one Start to Stop while rows are logged: how and when
// the recording was made, the log files its rows went to and what happened
// on the way, as JSON Lines (the format is written down in
// docs/session-format.md). Each line is appended and flushed as it happens,
// so a crash loses nothing written before it.
class Session
{
public:
    // What the first line tells of the session.
    struct Origin {
        QDateTime start; // the first row's local time
        OptionSet options;
        QString device;
        bool testMode = false;
        int intervalMs = 0;
    };

    // Begins the session: creates its file in `dir`, named after the start,
    // and writes the first line. False with *error when it cannot.
    bool begin(const QString &dir, const Origin &origin, QString *error);
    bool isActive() const { return file.isOpen(); }
    QString fileName() const { return file.fileName(); }

    // The session's rows go on in the log file at `path`, from byte `offset`,
    // the first of them with row index `index`; `rows` rows came before.
    void logFile(const QString &path, qint64 offset, int index, long long rows);
    void mark(long long rows);
    // An event with one further key and its text (empty: none).
    void note(const char *event, long long rows, const char *key = nullptr,
              const QString &value = QString());
    void datalog(bool on, long long rows);
    // Writes the totals and closes the file.
    void end(long long rows, long long frames, long long strayBytes);

private:
    class Line;
    // A line that begins with the time, the rows and the event.
    Line event(const char *kind, long long rows) const;
    void write(const Line &line);

    QFile file;
    QElapsedTimer clock;
    QSet<QString> files; // the log files written to (one may be started twice in a second)
};
