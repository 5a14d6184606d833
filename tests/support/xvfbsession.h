#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>

// A private X server (Xvfb, no window manager) on a free display, and xdotool
// to drive the windows of programs started on it, for tests that run the
// built program as its user meets it. The server stops with the object.
//
//     XvfbSession x;
//     QVERIFY2(x.isRunning(), qPrintable(x.error()));
//     QProcess p;
//     p.setProcessEnvironment(x.environment());
//     p.start(mmtest::programPath());
//     const QString win = x.waitForWindow(p.processId(), "^Options$");
//     QVERIFY(!win.isEmpty());
//     QVERIFY(x.pressKey(win, "Return"));
//
// Every wait is bounded and polls a condition; none relies on a fixed delay.
class XvfbSession
{
public:
    XvfbSession();
    ~XvfbSession();
    XvfbSession(const XvfbSession &) = delete;
    XvfbSession &operator=(const XvfbSession &) = delete;

    bool isRunning() const { return !display_.isEmpty(); }
    QString error() const { return error_; }
    QString display() const { return display_; } // e.g. ":3"

    // The test's environment with DISPLAY set to this server and Qt told to
    // use it (QT_QPA_PLATFORM=xcb).
    QProcessEnvironment environment() const;

    // Runs xdotool on this display and returns its trimmed output; *ok (when
    // given) tells whether it ran to a normal end within 30 s. A search that
    // finds nothing counts as a normal end with empty output.
    QString xdotool(const QStringList &args, bool *ok = nullptr) const;

    // Ids of the visible windows of process pid whose name matches the
    // regular expression (xdotool's search syntax).
    QStringList visibleWindows(qint64 pid, const QString &nameRegex) const;
    // Waits until process pid shows a visible window matching the regular
    // expression; returns its id, or an empty string after timeoutMs.
    QString waitForWindow(qint64 pid, const QString &nameRegex, int timeoutMs = 60000) const;

    QSize windowSize(const QString &window) const;
    // Gives the window the keyboard focus and types key (e.g. "Return").
    bool pressKey(const QString &window, const QString &key) const;
    // Clicks the left mouse button at pos, relative to the window.
    bool click(const QString &window, int x, int y) const;

private:
    void startServer(int number);
    void stopServer();

    QProcess server_;
    QString display_;
    QString error_;
};
