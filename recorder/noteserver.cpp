#include "noteserver.h"

#include "optionset.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// How long ago, in nanoseconds, the shell or script that runs this process
// started it (forked it), by the kernel's record, to half a clock tick; -1
// when unknown. Loading the program's libraries alone takes tens of
// milliseconds before main() runs.
qint64 processAge()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    bool ok = false; // the 22nd field, the 20th after the name's ')'
    const qint64 ticks = text.mid(text.lastIndexOf(')') + 2).split(' ').value(19).toLongLong(&ok);
    timespec boot = {};
    if (!ok || ::clock_gettime(CLOCK_BOOTTIME, &boot) != 0)
        return -1;
    const double tickNs = 1e9 / double(::sysconf(_SC_CLK_TCK));
    return qint64(boot.tv_sec) * 1000000000 + boot.tv_nsec - qint64((double(ticks) + 0.5) * tickNs);
}

// A request or an answer: one JSON object on one line.
QByteArray line(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

NoteServer::NoteServer(Handler handler, QObject *parent)
    : QObject(parent), handler(std::move(handler)), server(new QLocalServer(this))
{
    connect(server, &QLocalServer::newConnection, this, &NoteServer::serve);
}

NoteServer::~NoteServer() = default; // the server removes its socket as it closes

bool NoteServer::socketPath(const QString &device, bool create, QString *path, QString *error)
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!QDir::isAbsolutePath(dir) || !QFileInfo(dir).isDir()) {
        dir = QStringLiteral("/tmp/motionmonitor-%1").arg(::getuid());
        const QByteArray name = QFile::encodeName(dir);
        struct stat s = {};
        // Another user could have made it first: it must be ours alone.
        if (create && (::mkdir(name.constData(), 0700),
                       ::lstat(name.constData(), &s) != 0 || !S_ISDIR(s.st_mode) ||
                           s.st_uid != ::getuid() || (s.st_mode & 077))) {
            *error = QStringLiteral("%1 is not a directory of this user's alone").arg(dir);
            return false;
        }
    }
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(device));
    const QByteArray hash =
        QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    // The device's name for the reader of a listing; the hash tells devices apart.
    const QString name = QFileInfo(absolute).fileName().left(20).replace(
        QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    *path = QStringLiteral("%1/motionmonitor-%2-%3.socket").arg(dir, name, hash);
    return true;
}

bool NoteServer::listen(const QString &device, QString *error)
{
    QString path;
    if (!socketPath(device, true, &path, error))
        return false;
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (server->listen(path))
        return true;
    if (server->serverError() == QAbstractSocket::AddressInUseError) {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(1000)) {
            *error =
                QStringLiteral("another recorder of %1 takes its notes (%2)").arg(device, path);
            return false;
        }
        QLocalServer::removeServer(path); // left behind by a recorder that ended
        if (server->listen(path))
            return true;
    }
    *error = path + QStringLiteral(": ") + server->errorString();
    return false;
}

void NoteServer::serve()
{
    while (QLocalSocket *client = server->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        // A client that says nothing is not waited for forever.
        QTimer::singleShot(10000, client, &QLocalSocket::abort);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (!client->canReadLine()) {
                if (client->bytesAvailable() > (1 << 20))
                    client->abort();
                return;
            }
            const SteadyNs now = steadyNow();
            const QJsonObject request = QJsonDocument::fromJson(client->readLine()).object();
            const qint64 age = std::max<qint64>(0, request.value("age_ns").toInteger());
            QString said = QStringLiteral("not a note: a line with \"text\" was expected");
            const bool added = request.value("text").isString() &&
                               handler(now - age, request.value("text").toString(), &said);
            client->write(line({{"added", added}, {"line", said}}));
            client->disconnectFromServer();
        });
    }
}

int runNote(int argc, char **argv, const QString &version)
{
    // The moment asked for: when this process was started.
    const SteadyNs began = steadyNow();
    const qint64 startedAgo = processAge();
    const SteadyNs asked = startedAgo >= 0 ? began - startedAgo : began;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("motionmonitor");
    QCoreApplication::setApplicationVersion(version);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Adds a note to the session that `motionmonitor --record` is recording from the\n"
        "device: the moment it is run, with its text (\"\" for none).");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption note("note", "The note's <text>.", "text");
    const QCommandLineOption device(
        "device",
        QStringLiteral("The recorder's serial device, as given to --record (default %1).")
            .arg(OptionSet().devicename),
        "path");
    parser.addOptions({note, device});
    const auto fail = [](int status, const QString &what) {
        std::fprintf(stderr, "motionmonitor: %s\n", qPrintable(what));
        return status;
    };
    // `--note --help` asks for help, not for a note that says "--help".
    if (app.arguments().contains("--help") || app.arguments().contains("-h"))
        parser.showHelp(0);
    if (!parser.parse(app.arguments()))
        return fail(2, parser.errorText() + " (see --note --help)");
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return fail(2, QStringLiteral("unexpected argument \"%1\" (give the note's text as one "
                                      "argument, quoted)")
                           .arg(parser.positionalArguments().constFirst()));

    const QString named = parser.isSet(device) ? parser.value(device) : OptionSet().devicename;
    QString path, error;
    NoteServer::socketPath(named, false, &path, &error);
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(5000))
        return fail(1, socket.error() == QLocalSocket::SocketAccessError
                           ? QStringLiteral("the recorder of %1 cannot be reached: %2: permission "
                                            "denied (another user's recorder)")
                                 .arg(named, path)
                           : QStringLiteral("no recorder is running for %1 (none listens at %2)")
                                 .arg(named, path));
    socket.write(line({{"text", parser.value(note)}, {"age_ns", double(steadyNow() - asked)}}));
    QElapsedTimer waited;
    waited.start();
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState &&
           waited.elapsed() < 10000)
        socket.waitForReadyRead(100);
    const QJsonObject answer = QJsonDocument::fromJson(socket.readLine()).object();
    if (!answer.value("line").isString())
        return fail(1, QStringLiteral("the recorder of %1 did not answer").arg(named));
    if (!answer.value("added").toBool())
        return fail(1, answer.value("line").toString());
    std::printf("%s\n", qPrintable(answer.value("line").toString()));
    return 0;
}
