#include "outputsettings.h"

#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QSysInfo>
#include <QUrl>

#include <cerrno>
#include <cstring>

namespace
{

// A topic level from a name: no separators, no wildcards.
QString level(QString name)
{
    for (const QChar c : {QChar('/'), QChar('+'), QChar('#'), QChar(' ')})
        name.replace(c, '_');
    return name.isEmpty() ? QStringLiteral("_") : name;
}

bool port(const QString &text, quint16 *out)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    *out = quint16(n);
    return ok && n >= 1 && n <= 65535 && !text.startsWith('+');
}

// The first line of a file, without its line end.
bool firstLine(const QString &path, QString *line, QString *reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("cannot be read (%1)").arg(file.errorString());
        return false;
    }
    const QByteArray text = file.readLine();
    *line = QString::fromUtf8(text).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    return true;
}

} // namespace

QString OutputSettings::Broker::url() const
{
    const QString h = host.contains(':') ? '[' + host + ']' : host;
    return QStringLiteral("%1://%2:%3").arg(tls ? "mqtts" : "mqtt", h).arg(port);
}

bool OutputSettings::operator==(const OutputSettings &o) const
{
    return udp == o.udp && udpBatch == o.udpBatch && mqtt == o.mqtt && topic == o.topic &&
           qos == o.qos && mqttBatch == o.mqttBatch && user == o.user && password == o.password &&
           cafile == o.cafile;
}

QString OutputSettings::defaultTopic(const QString &device)
{
    return QStringLiteral("motionmonitor/%1/%2")
        .arg(level(QSysInfo::machineHostName()), level(QFileInfo(device).fileName()));
}

QString OutputSettings::clientId(const QString &device)
{
    return QStringLiteral("motionmonitor-%1-%2")
        .arg(level(QSysInfo::machineHostName()), level(QFileInfo(device).fileName()));
}

bool OutputSettings::parseDestination(const QString &text, Destination *d, QString *reason)
{
    QString host = QStringLiteral("127.0.0.1"), portText = text;
    const int colon = text.lastIndexOf(':');
    if (colon >= 0) {
        host = text.left(colon);
        portText = text.mid(colon + 1);
        if (host.startsWith('[') && host.endsWith(']'))
            host = host.mid(1, host.size() - 2);
    }
    d->text = text;
    if (!port(portText, &d->port)) {
        *reason = text + QStringLiteral(": the port must be a number from 1 to 65535");
        return false;
    }
    if (d->address.setAddress(host))
        return true;
    const QHostInfo found = QHostInfo::fromName(host);
    if (found.error() != QHostInfo::NoError || found.addresses().isEmpty() || host.isEmpty()) {
        *reason = text + QStringLiteral(": the host name does not resolve (%1)")
                             .arg(host.isEmpty() ? QStringLiteral("no name") : found.errorString());
        return false;
    }
    // IPv4 first: a name for both most often means a receiver bound to IPv4.
    d->address = found.addresses().constFirst();
    for (const QHostAddress &a : found.addresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            d->address = a;
            break;
        }
    return true;
}

bool OutputSettings::parseBroker(const QString &url, Broker *b, QString *reason)
{
    const QUrl u(url, QUrl::StrictMode);
    const QString scheme = u.scheme();
    if (!u.isValid() || (scheme != "mqtt" && scheme != "mqtts") || u.host().isEmpty() ||
        !(u.path().isEmpty() || u.path() == "/") || u.hasQuery() || u.hasFragment()) {
        *reason = url + QStringLiteral(": not an mqtt://HOST[:PORT] or mqtts://HOST[:PORT] URL");
        return false;
    }
    if (!u.userInfo().isEmpty()) {
        *reason = url + QStringLiteral(": the user goes in its own setting, the password in a "
                                       "file or in %1")
                            .arg(passwordVariable);
        return false;
    }
    b->tls = scheme == "mqtts";
    b->host = u.host();
    const int p = u.port(b->tls ? defaultMqttsPort : defaultMqttPort);
    if (p < 1 || p > 65535) {
        *reason = url + QStringLiteral(": the port must be a number from 1 to 65535");
        return false;
    }
    b->port = quint16(p);
    return true;
}

bool OutputSettings::read(const Given &given, OutputSettings *settings, Field *field,
                          QString *reason)
{
    OutputSettings s;
    const auto fail = [&](Field f, const QString &text) {
        *field = f;
        *reason = text;
        return false;
    };
    for (const QString &text : given.udp) {
        Destination d;
        if (!parseDestination(text, &d, reason))
            return fail(Field::Udp, *reason);
        s.udp << d;
    }
    s.udpBatch = given.udpBatch;
    const bool mqtt = !given.mqtt.isEmpty();
    if (mqtt && !parseBroker(given.mqtt, &s.mqtt, reason))
        return fail(Field::Mqtt, *reason);
    // What belongs to a broker is refused without one, so that a typo in
    // --mqtt's name does not pass unnoticed.
    const std::pair<Field, QString> brokerOnly[] = {{Field::Topic, given.topic},
                                                    {Field::Qos, given.qos},
                                                    {Field::User, given.user},
                                                    {Field::PasswordFile, given.passwordFile},
                                                    {Field::Cafile, given.cafile}};
    for (const auto &[f, value] : brokerOnly)
        if (!mqtt && !value.isEmpty())
            return fail(f, value + QStringLiteral(": needs an MQTT broker"));
    s.topic = given.topic;
    if (s.topic.contains('+') || s.topic.contains('#') || s.topic.startsWith('/') ||
        s.topic.endsWith('/') || s.topic.startsWith('$'))
        return fail(Field::Topic, s.topic + QStringLiteral(": a topic prefix has no wildcards "
                                                           "(+, #), no leading $ and no "
                                                           "leading or trailing /"));
    if (!given.qos.isEmpty() && given.qos != "0" && given.qos != "1")
        return fail(Field::Qos, given.qos + QStringLiteral(": takes 0 or 1"));
    s.qos = given.qos == "1" ? 1 : 0;
    s.mqttBatch = given.mqttBatch;
    s.user = given.user;
    if (!given.passwordFile.isEmpty()) {
        if (!firstLine(given.passwordFile, &s.password, reason))
            return fail(Field::PasswordFile, given.passwordFile + ": " + *reason);
    } else if (mqtt) {
        s.password = qEnvironmentVariable(passwordVariable);
    }
    // MQTT has no password without a user name.
    if (!s.password.isEmpty() && s.user.isEmpty())
        return fail(Field::User, QStringLiteral("is needed with a password"));
    s.cafile = given.cafile;
    if (!s.cafile.isEmpty() && !QFileInfo(s.cafile).isReadable())
        return fail(Field::Cafile,
                    s.cafile + QStringLiteral(": cannot be read (%1)")
                                   .arg(QFileInfo::exists(s.cafile)
                                            ? QString::fromLocal8Bit(std::strerror(EACCES))
                                            : QStringLiteral("no such file")));
    *settings = s;
    return true;
}
