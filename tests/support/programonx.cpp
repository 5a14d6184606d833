#include "programonx.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>

ProgramOnX::ProgramOnX()
{
    // -displayfd alone scans upwards from :0 and may disturb a running
    // server on the way: take a free number far above. -noreset: a server
    // that starts over when its last client leaves may refuse the next one.
    for (int attempt = 0; attempt < 20 && display.isEmpty(); ++attempt) {
        const QString n = QString::number(QRandomGenerator::global()->bounded(200, 5000));
        if (QFileInfo::exists("/tmp/.X" + n + "-lock") || QFileInfo::exists("/tmp/.X11-unix/X" + n))
            continue;
        server.start("Xvfb", {":" + n, "-displayfd", "1", "-screen", "0", "1280x1024x24",
                              "-nolisten", "tcp", "-noreset"});
        QByteArray out;
        const QDeadlineTimer deadline(60000);
        while (!out.contains('\n') && !deadline.hasExpired() &&
               server.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            out += server.readAllStandardOutput();
        if (out.trimmed() == n.toLatin1())
            display = ":" + n;
        else
            server.kill(), server.waitForFinished();
    }
    problem = display.isEmpty() ? "Xvfb did not start" : QString();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("WAYLAND_DISPLAY");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
}

ProgramOnX::~ProgramOnX()
{
    for (QProcess *p : {&process, &server}) {
        p->kill();
        p->waitForFinished(30000);
    }
}

void ProgramOnX::start(const QString &workDir, const QStringList &arguments)
{
    if (!problem.isEmpty())
        return;
    process.setWorkingDirectory(workDir);
    process.start(MM_BINARY, arguments);
    if (!process.waitForStarted(30000))
        problem = "the program did not start: " + process.errorString();
}

QString ProgramOnX::xdotool(const QStringList &args, bool *ok) const
{
    QProcess p;
    p.setProcessEnvironment(process.processEnvironment());
    p.start("xdotool", args);
    const bool finished = p.waitForFinished(30000);
    // search exits with 1 when nothing matched: that is an empty answer.
    const bool good = finished && p.exitStatus() == QProcess::NormalExit &&
                      (p.exitCode() == 0 || (args.value(0) == "search" && p.exitCode() == 1));
    if (ok)
        *ok = good;
    return good ? QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed() : QString();
}

QStringList ProgramOnX::windows(const QString &nameRegex) const
{
    return xdotool({"search", "--all", "--onlyvisible", "--pid",
                    QString::number(process.processId()), "--name", nameRegex})
        .split('\n', Qt::SkipEmptyParts);
}

QString ProgramOnX::waitForWindow(const QString &nameRegex, int timeoutMs) const
{
    QStringList found;
    return QTest::qWaitFor([&] { return !(found = windows(nameRegex)).isEmpty(); }, timeoutMs)
               ? found.first()
               : QString();
}

bool ProgramOnX::key(const QString &window, const QString &key) const
{
    bool ok;
    xdotool({"windowfocus", "--sync", window, "key", key}, &ok);
    return ok;
}
