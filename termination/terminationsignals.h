#pragma once

#include <QObject>

// SIGTERM, SIGINT and SIGHUP (`kill`, Ctrl-C, a logout, a service being
// stopped) brought into the event loop, where the program can end as it
// chooses: the handler only writes a byte to a socket pair, and arrived() is
// emitted from the event loop, once per signal. The handlers stay in place
// for the life of the process, so a signal that comes while the program ends
// is one more arrived(), never the default action. One per process; create
// it right after the application object.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);

signals:
    void arrived();
};
