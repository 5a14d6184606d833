#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>

// A private X server (Xvfb, no window manager) on a free display, with
// xdotool to drive the windows of programs started on it. The server stops
// with the object. Every wait is bounded and polls a condition.
class XvfbSession
{
public:
    XvfbSession();
    ~XvfbSession();
    XvfbSession(const XvfbSession &) = delete;
    XvfbSession &operator=(const XvfbSession &) = delete;

    bool isRunning() const { return !display_.isEmpty(); }
    QString error() const { return error_; }
    // The test's environment with DISPLAY set to this server and Qt on xcb.
    QProcessEnvironment environment() const;

    // Runs xdotool here and returns its trimmed output; *ok tells whether it
    // ended normally within 30 s (a search that finds nothing does).
    QString xdotool(const QStringList &args, bool *ok = nullptr) const;
    bool run(const QStringList &xdotoolArgs) const
    {
        bool ok;
        xdotool(xdotoolArgs, &ok);
        return ok;
    }
    // Visible windows of process pid whose name matches the regular expression.
    QStringList visibleWindows(qint64 pid, const QString &nameRegex) const;
    // The first such window once one shows; empty after timeoutMs.
    QString waitForWindow(qint64 pid, const QString &nameRegex, int timeoutMs = 60000) const;
    QSize windowSize(const QString &window) const;
    // Focuses the window and types key (e.g. "Return").
    bool pressKey(const QString &window, const QString &key) const
    {
        return run({"windowfocus", "--sync", window, "key", key});
    }
    // A left click at (x, y) in the window.
    bool click(const QString &window, int x, int y) const
    {
        return run({"mousemove", "--sync", "--window", window, QString::number(x),
                    QString::number(y), "click", "1"});
    }

private:
    void startServer(int number);
    void stopServer();

    QProcess server_;
    QString display_;
    QString error_;
};
