#pragma once

#include <QString>
#include <QStringList>

class Recording;

// Reads a session (docs/session-format.md): the session file and, from the
// log files it names, the session's own rows, into one Recording with its
// Timeline.
//
// The rows are those each `file` line announces: from its byte offset in its
// log file, as many as the next `file` line's (or the last line's) row count
// says, each carrying the row index that follows the line's `index`. Rows
// of other sessions in the same log files are not read. The curves break
// where the receiver was lost, logging was switched off or failed; log file
// changes, the receiver lost and reopened, source switches and logging
// failing or switched are events on the time axis; the user's notes are
// kept with their moments.
//
// What a crash leaves behind opens with what it holds, said in the note: a
// last line cut short of the session file or of the last log file, a last
// log file holding fewer rows than the session file says. Refused, with the
// session file and line, or the log file and line: a first line that is not
// a session's, a line before the last that is not a JSON object, an event
// missing what it must say or out of order (the first is not the first
// row's file, time or rows falling, anything after the end, a note without
// its moment or after its line's time), a log file that
// is missing or holds other rows than the session names, rows of two lines
// overlapping.
//
// Log files are read as a stream; the session's lines are held only while
// it is read.
class SessionReader
{
public:
    // Whether the file at path is named or begins as a session file is
    // (".session.jsonl", "{").
    static bool isSessionFile(const QString &path);
    // The session files in the folder of the log file at logPath that name
    // it, in name order.
    static QStringList sessionsNaming(const QString &logPath);
    // Replaces what *recording holds with the session at path. On refusal
    // the recording is left empty, *error says why and false is returned.
    static bool read(const QString &path, Recording *recording, QString *error);
};
