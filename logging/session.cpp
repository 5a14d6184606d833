#include "session.h"

#include "version.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#include <algorithm>
#include <cmath>
#include <cstring>

// One JSON object, its keys in the order added (easier to read than sorted).
class Session::Line
{
public:
    Line &add(const char *key, const QString &text) { return raw(key, quoted(text)); }
    Line &add(const char *key, const char *text) { return add(key, QString::fromUtf8(text)); }
    Line &add(const char *key, long long number) { return raw(key, QString::number(number)); }
    Line &add(const char *key, int number) { return raw(key, QString::number(number)); }
    Line &add(const char *key, bool on) { return raw(key, on ? "true" : "false"); }
    Line &add(const char *key, const Line &object) { return raw(key, object.text()); }
    Line &add(const char *key, const QJsonObject &object)
    {
        return raw(key, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
    }
    // A framing byte, or null where it is switched off.
    Line &numberOrNull(const char *key, int value)
    {
        return value < 0 ? raw(key, "null") : add(key, value);
    }
    Line &textOrNull(const char *key, const char *text)
    {
        return text ? add(key, text) : raw(key, "null");
    }
    QString text() const { return '{' + body + '}'; }

private:
    static QString quoted(const QString &text)
    {
        const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
        return QString::fromUtf8(array.mid(1, array.size() - 2));
    }
    Line &raw(const char *key, const QString &value)
    {
        body += (body.isEmpty() ? "" : ",") + quoted(QString::fromUtf8(key)) + ':' + value;
        return *this;
    }
    QString body;
};

namespace
{

const char *slotName(int type)
{
    return type == sensor::gyroscope ? "gyro" : type == sensor::accelerometer ? "acc" : nullptr;
}

qint64 msBetween(SteadyNs from, SteadyNs to)
{
    return (to - from) / 1000000;
}

} // namespace

bool Session::begin(const QString &dir, const Origin &origin, const QString &path, qint64 offset,
                    int index, QString *error)
{
    const QString base = QDir(dir).filePath(origin.start.toString("dd.MM, h.mm.ss"));
    QString name = base + ".session.jsonl";
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = base + QStringLiteral("_%1.session.jsonl").arg(n); // sorts after the first
    file.setFileName(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        *error = QStringLiteral("Session file %1 could not be created: %2")
                     .arg(QFileInfo(name).absoluteFilePath(), file.errorString());
        return false;
    }
    startNs = lastArrival = origin.startNs;
    count = 0;
    anchorNext = false;
    files.clear();
    const Settings &o = origin.settings;
    Line options;
    options.add("data_bytes", o.dataBytes)
        .numberOrNull("start1", o.start1)
        .numberOrNull("start2", o.start2)
        .numberOrNull("end1", o.end1)
        .numberOrNull("end2", o.end2)
        .textOrNull("slot1", slotName(o.slot1))
        .textOrNull("slot2", slotName(o.slot2))
        .add("sensor1_bytes", o.sensor1Bytes)
        .add("sensor2_bytes", o.sensor2Bytes)
        .add("rows_per_file", o.rowsPerFile)
        .add("log_dir", QFileInfo(o.logDir).absoluteFilePath())
        .add("init_message", o.initMessage);
    QFile calibrationText(QDir(dir).filePath(calibrationFile));
    const QJsonDocument calibration = QJsonDocument::fromJson(
        calibrationText.open(QIODevice::ReadOnly) ? calibrationText.readAll() : QByteArray());
    Line first = Line()
                     .add("format", "motionmonitor-session")
                     .add("version", 1)
                     .add("program", MM_PROGRAM_VERSION)
                     .add("start", origin.start.toOffsetFromUtc(origin.start.offsetFromUtc())
                                       .toString(Qt::ISODateWithMs))
                     .add("host", QSysInfo::machineHostName())
                     .add("device", origin.device)
                     .add("source", origin.testMode ? "test" : "receiver")
                     .add("interval_ms", origin.intervalMs)
                     .add("options", options);
    if (calibration.isObject())
        first.add("calibration", calibration.object());
    // One write, so that a session file never lacks its first row's file.
    const QByteArray head = first.text().toUtf8();
    const QByteArray where = fileLine(path, offset, index).text().toUtf8();
    file.write(head + '\n' + where + '\n');
    if (heard) {
        heard("session", head);
        heard("file", where);
    }
    count = 1; // the first row is at the start
    anchor();
    return true;
}

Session::Line Session::event(const char *kind) const
{
    Line line;
    line.add("t_ms", msBetween(startNs, steadyNow())).add("rows", count).add("event", kind);
    if (count > 0)
        line.add("last_row_ms", msBetween(startNs, lastArrival));
    return line;
}

void Session::rowLogged(SteadyNs arrival)
{
    const bool paused = arrival - lastArrival > pauseNs;
    const double slope = double(arrival - anchoredNs) / double(count + 1 - anchored);
    const bool bends = slope < lowestSlope || slope > highestSlope;
    if ((paused || bends) && anchored != count)
        mark();
    const double rows = double(count + 1 - anchored);
    lowestSlope = std::max(lowestSlope, double(arrival - smearNs - anchoredNs) / rows);
    highestSlope = std::min(highestSlope, double(arrival + smearNs - anchoredNs) / rows);
    ++count;
    lastArrival = arrival;
    if (anchorNext || paused) {
        anchorNext = false;
        mark();
    }
}

void Session::anchor()
{
    anchored = count;
    anchoredNs = lastArrival;
    lowestSlope = -HUGE_VAL;
    highestSlope = HUGE_VAL;
}

Session::Line Session::fileLine(const QString &path, qint64 offset, int index)
{
    // Relative to the session file's folder, whatever the working directory.
    const QString absolute = QFileInfo(path).absoluteFilePath();
    files.insert(absolute);
    return event("file")
        .add("path", QFileInfo(file).absoluteDir().relativeFilePath(absolute))
        .add("offset", offset)
        .add("index", index);
}

void Session::logFile(const QString &path, qint64 offset, int index)
{
    write("file", fileLine(path, offset, index));
}

void Session::mark()
{
    write("mark", event("mark"));
}

void Session::note(const char *kind, const char *key, const QString &value)
{
    Line line = event(kind);
    if (key)
        line.add(key, value);
    write(kind, line);
    if (!std::strcmp(kind, "reopened") || !std::strcmp(kind, "source"))
        gap();
}

void Session::datalog(bool on)
{
    write("datalog", event("datalog").add("on", on));
    if (on)
        gap();
}

qint64 Session::addNote(SteadyNs at, const QString &text)
{
    if (!isActive())
        return -1;
    const qint64 atMs = msBetween(startNs, std::clamp(at, startNs, steadyNow()));
    write("note", event("note").add("at_ms", atMs).add("text", text));
    return atMs;
}

void Session::logResumed(long long lost)
{
    write("log_resumed", event("log_resumed").add("lost_rows", lost));
    gap();
}

void Session::end(long long frames, long long strayBytes)
{
    write("end", event("end")
                     .add("frames", frames)
                     .add("stray_bytes", strayBytes)
                     .add("files", int(files.size())));
    file.close();
}

void Session::write(const char *kind, const Line &line)
{
    // Unbuffered: each line reaches the system as one write.
    const QByteArray text = line.text().toUtf8();
    file.write(text + '\n');
    anchor();
    if (heard && std::strcmp(kind, "mark"))
        heard(kind, text);
}
