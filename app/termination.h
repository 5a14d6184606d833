#pragma once

class QCoreApplication;

// Makes SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl-C) close the
// program as a user closing its windows would: an open dialog is declined
// (the options dialog at start-up thus ends the program with status 0), the
// windows close and the event loop ends normally, so that the log file is
// closed and the port released. Call once, right after creating `app`.
void closeOnTermination(QCoreApplication &app);
// True once such a signal has arrived.
bool terminationRequested();
