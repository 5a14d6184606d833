#include "sessionreader.h"

#include "logreader.h"
#include "recording.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace
{

// The rows of one `file` line: in the log file at `path` (as written) from
// byte `offset`, the first carrying row index `index`; `rows` rows of the
// session came before them.
struct Range {
    QString path;
    qint64 offset, index, rows, line;
};

// A whole number from 0 to max, as JSON holds it.
bool whole(const QJsonValue &v, double max, qint64 *out)
{
    const double d = v.toDouble(-1);
    if (!v.isDouble() || d < 0 || d > max || std::floor(d) != d)
        return false;
    *out = qint64(d);
    return true;
}

constexpr double largest = 9007199254740992.0; // 2^53, exact in a double

// The session file's lines, taken one by one.
class Lines
{
public:
    explicit Lines(const QString &path) : path(path) {}
    bool take(const QJsonObject &o);
    bool refuse(const QString &what)
    {
        problem = QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(what);
        return false;
    }

    const QString path;
    qint64 line = 0;
    QString problem;
    Timeline::Facts facts;
    std::vector<Timeline::Anchor> anchors;
    std::vector<Range> ranges;
    std::vector<std::int64_t> breaks;
    std::vector<Timeline::Event> events;
    bool ended = false;

private:
    bool first(const QJsonObject &o);
};

bool Lines::first(const QJsonObject &o)
{
    if (o.value("format") != QLatin1String("motionmonitor-session") || o.value("version") != 1)
        return refuse(QStringLiteral("not a session file: its first line does not say "
                                     "\"format\":\"motionmonitor-session\",\"version\":1"));
    facts.start = QDateTime::fromString(o.value("start").toString(), Qt::ISODateWithMs);
    if (!facts.start.isValid())
        return refuse(QStringLiteral("\"start\" is not an ISO 8601 date and time"));
    facts.program = o.value("program").toString();
    facts.host = o.value("host").toString();
    facts.device = o.value("device").toString();
    facts.source = o.value("source").toString();
    facts.intervalMs = o.value("interval_ms").toInt();
    facts.options = o.value("options").toObject();
    return true;
}

bool Lines::take(const QJsonObject &o)
{
    if (line == 1)
        return first(o);
    qint64 ms = 0, rows = 0;
    if (!whole(o.value("t_ms"), largest, &ms) || !whole(o.value("rows"), largest, &rows))
        return refuse(QStringLiteral("\"t_ms\" and \"rows\" must be whole numbers from 0"));
    const QString event = o.value("event").toString();
    if (ended)
        return refuse(QStringLiteral("a line after the session's end"));
    if (anchors.empty() && (event != QLatin1String("file") || rows != 0))
        return refuse(QStringLiteral("the first event is not the first row's log file "
                                     "(\"file\" at 0 rows)"));
    if (!anchors.empty() && (ms < anchors.back().ms || rows < anchors.back().rows))
        return refuse(QStringLiteral("out of order: t_ms %1 and rows %2 after t_ms %3 and rows %4")
                          .arg(ms)
                          .arg(rows)
                          .arg(anchors.back().ms)
                          .arg(anchors.back().rows));
    // The rows after these lines came after them.
    const bool floor = event == QLatin1String("reopened") || event == QLatin1String("source") ||
                       event == QLatin1String("log_resumed") ||
                       (event == QLatin1String("datalog") && o.value("on") == true);
    anchors.push_back({rows, ms, floor});
    const double seconds = double(ms) / 1000;
    const auto mark = [&](Timeline::Event::Kind kind, const QString &label) {
        events.push_back({seconds, kind, label});
    };
    if (event == QLatin1String("file")) {
        Range r{o.value("path").toString(), 0, 0, rows, line};
        if (r.path.isEmpty() || !whole(o.value("offset"), largest, &r.offset) ||
            !whole(o.value("index"), 2147483647, &r.index))
            return refuse(QStringLiteral("a \"file\" line needs \"path\", \"offset\" and "
                                         "\"index\""));
        if (!ranges.empty())
            mark(Timeline::Event::File, QFileInfo(r.path).completeBaseName());
        ranges.push_back(r);
    } else if (event == QLatin1String("lost") || event == QLatin1String("log_failed")) {
        breaks.push_back(rows);
        mark(event == QLatin1String("lost") ? Timeline::Event::Link : Timeline::Event::Logging,
             event == QLatin1String("lost") ? QStringLiteral("lost")
                                            : QStringLiteral("log failing"));
    } else if (event == QLatin1String("reopened")) {
        mark(Timeline::Event::Link, QStringLiteral("reopened"));
    } else if (event == QLatin1String("log_resumed")) {
        mark(Timeline::Event::Logging, QStringLiteral("log resumed"));
    } else if (event == QLatin1String("source")) {
        const QString source = o.value("source").toString();
        if (source != QLatin1String("receiver") && source != QLatin1String("test"))
            return refuse(QStringLiteral("a \"source\" line needs \"source\": \"receiver\" or "
                                         "\"test\""));
        mark(Timeline::Event::Source,
             source == QLatin1String("test") ? QStringLiteral("test mode") : source);
    } else if (event == QLatin1String("datalog")) {
        if (!o.value("on").isBool())
            return refuse(QStringLiteral("a \"datalog\" line needs \"on\": true or false"));
        const bool on = o.value("on").toBool();
        if (!on)
            breaks.push_back(rows);
        mark(Timeline::Event::Logging,
             on ? QStringLiteral("Datalog on") : QStringLiteral("Datalog off"));
    } else if (event == QLatin1String("end")) {
        ended = true;
    } else if (event != QLatin1String("mark") && event != QLatin1String("warning")) {
        return refuse(QStringLiteral("\"%1\" is not an event of a session file").arg(event));
    }
    return true;
}

// Counts the lines in the first `offset` bytes of file and says whether a
// line begins at `offset`; leaves the file there.
bool linesBefore(QFile &file, qint64 offset, qint64 *lines)
{
    *lines = 0;
    char chunk[64 * 1024];
    char last = '\n';
    for (qint64 done = 0; done < offset;) {
        const qint64 n = file.read(chunk, std::min<qint64>(sizeof chunk, offset - done));
        if (n <= 0)
            return false;
        *lines += std::count(chunk, chunk + n, '\n');
        last = chunk[n - 1];
        done += n;
    }
    return last == '\n';
}

} // namespace

bool SessionReader::isSessionFile(const QString &path)
{
    if (path.endsWith(QLatin1String(".session.jsonl")))
        return true;
    QFile file(path);
    char first = 0;
    return file.open(QIODevice::ReadOnly) && file.getChar(&first) && first == '{';
}

QStringList SessionReader::sessionsNaming(const QString &logPath)
{
    const QFileInfo log(logPath);
    const QString target = log.canonicalFilePath();
    const QDir dir = log.absoluteDir();
    QStringList found;
    if (target.isEmpty())
        return found;
    const QByteArray name = log.fileName().toUtf8();
    for (const QString &entry : dir.entryList({QStringLiteral("*.session.jsonl")}, QDir::Files)) {
        QFile file(dir.filePath(entry));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = file.readAll();
        if (!text.contains(name))
            continue;
        for (const QByteArray &line : text.split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value("event") == QLatin1String("file") &&
                QFileInfo(dir.filePath(o.value("path").toString())).canonicalFilePath() == target) {
                found << file.fileName();
                break;
            }
        }
    }
    return found;
}

bool SessionReader::read(const QString &path, Recording *recording, QString *error)
{
    recording->clear();
    const auto refuse = [&](const QString &message) {
        recording->clear();
        *error = message;
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(path + QStringLiteral(": ") + file.errorString());
    Lines lines(path);
    QString notes;
    {
        const QByteArray text = file.readAll();
        file.close();
        for (qsizetype at = 0; at < text.size();) {
            const qsizetype lineFeed = text.indexOf('\n', at);
            const qsizetype stop = lineFeed < 0 ? text.size() : lineFeed;
            ++lines.line;
            if (lineFeed < 0 && lines.line > 1) {
                notes = QStringLiteral("%1:%2: the last line was cut short (it has no line "
                                       "end) and is left out\n")
                            .arg(path)
                            .arg(lines.line);
                break;
            }
            QJsonParseError parse;
            const QJsonDocument json = QJsonDocument::fromJson(text.mid(at, stop - at), &parse);
            if (!json.isObject()) {
                lines.refuse(
                    lines.line == 1
                        ? QStringLiteral("not a session file: its first line "
                                         "is not a JSON object")
                        : QStringLiteral("not a JSON object (%1)").arg(parse.errorString()));
                return refuse(lines.problem);
            }
            if (!lines.take(json.object()))
                return refuse(lines.problem);
            at = stop + 1;
        }
        if (lines.line == 0)
            return refuse(path + QStringLiteral(":1: the file is empty"));
    }

    const std::int64_t total = lines.anchors.empty() ? 0 : lines.anchors.back().rows;
    const QDir dir = QFileInfo(path).absoluteDir();
    // Each log file is there, and the rows it can hold bound the space taken
    // before reading.
    qint64 room = 0;
    for (const Range &r : lines.ranges) {
        const QFileInfo log(dir.filePath(r.path));
        if (!log.isFile())
            return refuse(QStringLiteral("%1:%2: the log file %3 is missing")
                              .arg(path)
                              .arg(r.line)
                              .arg(log.absoluteFilePath()));
        room += std::max<qint64>(0, log.size() - r.offset) / 14; // "0,0,0,0,0,0,0\n"
    }
    for (auto &c : recording->columns)
        c.reserve(size_t(std::min<qint64>(total, room)));

    QHash<QString, qint64> endOf; // of the rows read in each log file
    QSet<QString> files;
    for (size_t i = 0; i < lines.ranges.size(); ++i) {
        const Range &r = lines.ranges[i];
        const bool last = i + 1 == lines.ranges.size();
        const qint64 wanted = (last ? total : lines.ranges[i + 1].rows) - r.rows;
        const QString name = QDir::cleanPath(dir.filePath(r.path));
        const auto at = QStringLiteral("%1:%2").arg(path).arg(r.line);
        QFile log(name);
        qint64 before = 0;
        if (!log.open(QIODevice::ReadOnly))
            return refuse(QStringLiteral("%1: the log file %2 cannot be read: %3")
                              .arg(at, name, log.errorString()));
        if (r.offset < endOf.value(name, 0))
            return refuse(QStringLiteral("%1: its rows in %2 overlap those of an earlier line")
                              .arg(at, name));
        // A crash may leave the last log file shorter than the session says.
        const bool reached = r.offset <= log.size();
        if (!reached && !last)
            return refuse(QStringLiteral("%1: %2 ends before byte %3").arg(at, name).arg(r.offset));
        if (reached && !linesBefore(log, r.offset, &before))
            return refuse(QStringLiteral("%1: byte %2 of %3 is not where a line begins")
                              .arg(at)
                              .arg(r.offset)
                              .arg(name));
        LogReader reader(log, name, before + 1);
        LogReader::Row row;
        qint64 got = 0;
        while (reached && got < wanted && reader.next(&row)) {
            if (row.index != r.index + got)
                return refuse(QStringLiteral("%1:%2: row index %3 where %4 gives %5")
                                  .arg(name)
                                  .arg(reader.line())
                                  .arg(row.index)
                                  .arg(at)
                                  .arg(r.index + got));
            for (int c = 0; c < Recording::columnCount; ++c)
                recording->columns[size_t(c)].push_back(row.values[c]);
            ++got;
        }
        if (!reader.error().isEmpty())
            return refuse(reader.error());
        if (got < wanted) {
            if (!last)
                return refuse(QStringLiteral("%1: ends after %2 of the %3 rows that %4 gives it")
                                  .arg(name)
                                  .arg(got)
                                  .arg(wanted)
                                  .arg(at));
            if (!reader.note().isEmpty())
                notes += reader.note() + '\n';
            notes += QStringLiteral("%1: holds %2 of the %3 rows that %4 gives it; the rest is "
                                    "missing\n")
                         .arg(name)
                         .arg(got)
                         .arg(wanted)
                         .arg(at);
        }
        endOf[name] = reader.position();
        files.insert(name);
    }

    const std::int64_t rows = recording->rows();
    auto timeline = std::make_unique<Timeline>(lines.anchors, rows);
    for (std::int64_t b : lines.breaks)
        if (b > 0 && b < rows && (timeline->breaks.empty() || timeline->breaks.back() != b))
            timeline->breaks.push_back(b);
    timeline->events = std::move(lines.events);
    timeline->facts = lines.facts;
    timeline->facts.seconds = lines.anchors.empty() ? 0 : double(lines.anchors.back().ms) / 1000;
    timeline->facts.files = int(files.size());
    recording->time = std::move(timeline);
    notes.chop(1);
    recording->notes = notes;
    return true;
}
