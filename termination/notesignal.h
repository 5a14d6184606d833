#pragma once

#include "sample.h"

#include <QObject>

// SIGUSR1 (`kill -USR1 PID`, from a script or another shell) brought into
// the event loop as a request for a note, with the moment the signal came:
// the handler reads the steady clock and writes that moment to a socket
// pair; requested() is emitted from the event loop, once per signal. The
// handler stays for the life of the process, so a signal is never the
// default action (the end of the process) once this exists. One per
// process; create it right after the application object.
class NoteSignal : public QObject
{
    Q_OBJECT
public:
    explicit NoteSignal(QObject *parent = nullptr);

signals:
    void requested(SteadyNs at);
};
