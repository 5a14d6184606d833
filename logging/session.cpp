#include "session.h"

#include "version.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>

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
    // A framing byte, or null where it is switched off.
    Line &numberOrNull(const char *key, int value)
    {
        return value == FrameFormat::off ? raw(key, "null") : add(key, value);
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

} // namespace

bool Session::begin(const QString &dir, const Origin &origin, QString *error)
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
    clock.start();
    files.clear();
    const OptionSet &o = origin.options;
    const FrameFormat f = o.frameFormat();
    Line options;
    options.add("data_bytes", f.dataBytes)
        .numberOrNull("start1", f.startByte1)
        .numberOrNull("start2", f.startByte2)
        .numberOrNull("end1", f.endByte1)
        .numberOrNull("end2", f.endByte2)
        .textOrNull("slot1", slotName(f.slot1Type))
        .textOrNull("slot2", slotName(f.slot2Type))
        .add("sensor1_bytes", o.sensor1Bytes)
        .add("sensor2_bytes", o.sensor2Bytes)
        .add("rows_per_file", o.newfileLines)
        .add("log_dir", QFileInfo(o.filename).absoluteFilePath())
        .add("init_message", o.initMsgOn);
    write(Line()
              .add("format", "motionmonitor-session")
              .add("version", 1)
              .add("program", MM_PROGRAM_VERSION)
              .add("start", origin.start.toOffsetFromUtc(origin.start.offsetFromUtc())
                                .toString(Qt::ISODateWithMs))
              .add("host", QSysInfo::machineHostName())
              .add("device", origin.device)
              .add("source", origin.testMode ? "test" : "receiver")
              .add("interval_ms", origin.intervalMs)
              .add("options", options));
    return true;
}

Session::Line Session::event(const char *kind, long long rows) const
{
    Line line;
    line.add("t_ms", clock.elapsed()).add("rows", rows).add("event", kind);
    return line;
}

void Session::logFile(const QString &path, qint64 offset, int index, long long rows)
{
    files.insert(path);
    write(event("file", rows)
              .add("path", QFileInfo(file).absoluteDir().relativeFilePath(path))
              .add("offset", offset)
              .add("index", index));
}

void Session::mark(long long rows)
{
    write(event("mark", rows));
}

void Session::note(const char *kind, long long rows, const char *key, const QString &value)
{
    Line line = event(kind, rows);
    if (key)
        line.add(key, value);
    write(line);
}

void Session::datalog(bool on, long long rows)
{
    write(event("datalog", rows).add("on", on));
}

void Session::end(long long rows, long long frames, long long strayBytes)
{
    write(event("end", rows)
              .add("frames", frames)
              .add("stray_bytes", strayBytes)
              .add("files", int(files.size())));
    file.close();
}

void Session::write(const Line &line)
{
    // Unbuffered: each line reaches the system as one write.
    file.write(line.text().toUtf8() + '\n');
}
