#include "xvfbsession.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

XvfbSession::XvfbSession()
{
    // Servers started with -displayfd alone scan upwards from :0 and may
    // disturb a running server's socket on the way: this one takes a free
    // number far above, and -displayfd only tells when it accepts connections.
    for (int attempt = 0; attempt < 20 && display_.isEmpty(); ++attempt) {
        const int number = QRandomGenerator::global()->bounded(200, 5000);
        if (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)) ||
            QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            continue;
        startServer(number);
    }
}

XvfbSession::~XvfbSession()
{
    stopServer();
}

void XvfbSession::startServer(int number)
{
    const QString name = QString::number(number);
    server_.setProcessChannelMode(QProcess::SeparateChannels);
    // -noreset: by default the server starts over whenever its last client
    // leaves, and a client connecting meanwhile (the program, started right
    // after an xdotool call) may fail to connect.
    server_.start("Xvfb", {":" + name, "-displayfd", "1", "-screen", "0", "1280x1024x24",
                           "-nolisten", "tcp", "-noreset"});
    if (!server_.waitForStarted(30000)) {
        error_ = "Xvfb did not start: " + server_.errorString();
        return;
    }
    QByteArray out;
    const QDeadlineTimer deadline(60000);
    while (!out.contains('\n') && !deadline.hasExpired() && server_.state() == QProcess::Running) {
        server_.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        out += server_.readAllStandardOutput();
    }
    if (out.trimmed() != name.toLatin1()) {
        error_ = "Xvfb did not start on :" + name + ": " +
                 QString::fromLocal8Bit(server_.readAllStandardError());
        stopServer();
        return;
    }
    display_ = ":" + name;
    if (!run({"getdisplaygeometry"})) {
        error_ = "Xvfb on " + display_ + " does not answer";
        display_.clear();
        stopServer();
    }
}

void XvfbSession::stopServer()
{
    if (server_.state() == QProcess::NotRunning)
        return;
    server_.terminate();
    if (!server_.waitForFinished(30000)) {
        server_.kill();
        server_.waitForFinished(30000);
    }
}

QProcessEnvironment XvfbSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("WAYLAND_DISPLAY");
    return env;
}

QString XvfbSession::xdotool(const QStringList &args, bool *ok) const
{
    if (ok)
        *ok = false;
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start("xdotool", args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return QString();
    }
    // search exits with 1 when nothing matched: that is an empty answer.
    const bool nothingFound = args.value(0) == "search" && p.exitCode() == 1;
    if (p.exitStatus() != QProcess::NormalExit || (p.exitCode() != 0 && !nothingFound))
        return QString();
    if (ok)
        *ok = true;
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QStringList XvfbSession::visibleWindows(qint64 pid, const QString &nameRegex) const
{
    const QString out = xdotool(
        {"search", "--all", "--onlyvisible", "--pid", QString::number(pid), "--name", nameRegex});
    return out.split('\n', Qt::SkipEmptyParts);
}

QString XvfbSession::waitForWindow(qint64 pid, const QString &nameRegex, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QStringList found = visibleWindows(pid, nameRegex);
        if (!found.isEmpty())
            return found.first();
        QTest::qWait(50);
    }
    return QString();
}

QSize XvfbSession::windowSize(const QString &window) const
{
    const QString out = xdotool({"getwindowgeometry", window});
    const auto m = QRegularExpression(R"(Geometry:\s*(\d+)x(\d+))").match(out);
    return m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
}
