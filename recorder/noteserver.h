#pragma once

#include "sample.h"

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

// The recorder's door for notes from the user's other shells and scripts
// (`motionmonitor --note TEXT --device PATH`): a local socket named after
// the device, in the user's runtime directory ($XDG_RUNTIME_DIR; without
// one, /tmp/motionmonitor-UID, made private to the user), that only the
// user can open (mode 0700, whatever the umask).
//
// A client sends one line, a JSON object with the note's text and how long
// ago, in nanoseconds, it was asked for ("age_ns", so that the moment does
// not depend on the two processes sharing a clock); the recorder answers
// with one line, a JSON object saying whether the note was added and the
// line it printed for it.
class NoteServer : public QObject
{
    Q_OBJECT
public:
    // Adds a note asked for at `at`; returns whether it was recorded, and
    // the line said for it in *said.
    using Handler = std::function<bool(SteadyNs at, const QString &text, QString *said)>;
    explicit NoteServer(Handler handler, QObject *parent = nullptr);
    ~NoteServer() override;

    // Listens for the notes of `device`. A socket left behind by a recorder
    // that no longer runs is replaced. False with *error when another
    // recorder of the device listens there, or the runtime directory cannot
    // be used (a fallback directory that is not the user's own alone).
    bool listen(const QString &device, QString *error);

    // The socket's path for `device` (named after its absolute path). With
    // `create`, a missing fallback directory is made and checked; false
    // with *error when it cannot be made or is unsafe.
    static bool socketPath(const QString &device, bool create, QString *path, QString *error);

private:
    void serve();
    Handler handler;
    QLocalServer *server;
};

// `motionmonitor --note TEXT [--device PATH]`: adds a note to the running
// recorder of the device, without a display, and prints the recorder's
// line for it. Returns 0 once added; 1, with the reason on the standard
// error stream, when no recorder of the device runs, it cannot be reached
// (another user's) or it did not record the note; 2 for a usage error.
// `version` is what --version prints.
int runNote(int argc, char **argv, const QString &version);
