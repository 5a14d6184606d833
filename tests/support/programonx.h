#pragma once

#include <QProcess>
#include <QStringList>

// The built program on a private X server (Xvfb, no window manager) of its
// own, driven with xdotool. The server and the program end with the object.
// Every wait is bounded and polls a condition.
class ProgramOnX
{
public:
    ProgramOnX();
    ~ProgramOnX();
    // Starts the program in `workDir`; an empty error() when it runs.
    void start(const QString &workDir, const QStringList &arguments = {});
    QString error() const { return problem; }
    QProcess process;

    // xdotool's trimmed answer; *ok false when it failed or hung.
    QString xdotool(const QStringList &args, bool *ok = nullptr) const;
    // The program's visible windows whose name matches the expression.
    QStringList windows(const QString &nameRegex) const;
    // The first such window once one shows; empty after timeoutMs.
    QString waitForWindow(const QString &nameRegex, int timeoutMs = 60000) const;
    bool key(const QString &window, const QString &key) const;

private:
    QProcess server;
    QString display;
    QString problem;
};
