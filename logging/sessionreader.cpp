#include "sessionreader.h"

#include "logformat.h"
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
#include <limits>

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
    // Where lines say when their last row arrived: those rows at those times.
    std::vector<Timeline::Anchor> arrivals{{0, 0, false}};
    std::vector<Range> ranges;
    std::vector<std::int64_t> breaks;
    std::vector<Timeline::Event> events;
    std::vector<Timeline::Note> notes;
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
    facts.calibration = o.value("calibration").toObject();
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
    if (o.contains("last_row_ms")) {
        qint64 arrived = 0;
        if (!whole(o.value("last_row_ms"), largest, &arrived) || rows == 0 ||
            arrived < arrivals.back().ms)
            return refuse(QStringLiteral("\"last_row_ms\" must be a whole number, after rows, "
                                         "never falling"));
        arrivals.push_back({rows, arrived, false});
    }
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
    } else if (event == QLatin1String("note")) {
        qint64 at = 0;
        if (!whole(o.value("at_ms"), double(ms), &at) ||
            (o.contains("text") && !o.value("text").isString()))
            return refuse(QStringLiteral("a \"note\" line needs \"at_ms\", a whole number not "
                                         "after its \"t_ms\", and its \"text\" as a string"));
        notes.push_back({double(at) / 1000, o.value("text").toString()});
    } else if (event == QLatin1String("end")) {
        ended = true;
    }
    // Other events (mark, warning, and those of later versions) place nothing.
    return true;
}

// The log file a `file` line names, as the session file's folder holds it.
// Sessions written with a relative log directory named their files
// relative to the working directory then ("logs/..."): a named file that is
// missing, but whose name lies in the session file's folder, is that file.
QString logFilePath(const QDir &dir, const QString &path)
{
    const QString named = QDir::cleanPath(dir.filePath(path));
    const QString beside = dir.filePath(QFileInfo(path).fileName());
    return !QFileInfo(named).isFile() && QFileInfo(beside).isFile() ? beside : named;
}

// Rows per second at the pace of the session's source: the line's, for the
// frames of its format (9600 baud, ten bits a byte), or the test mode's ticks.
double linePace(const Timeline::Facts &facts)
{
    if (facts.source == QLatin1String("test"))
        return 1000.0 / std::max(1, facts.intervalMs);
    const QJsonObject o = facts.options;
    int length = o.value("data_bytes").toInt(12);
    for (const char *framing : {"start1", "start2", "end1", "end2"})
        length += o.value(framing).isDouble();
    return 960.0 / std::max(1, length);
}

// Where the last block of a log file begins: its last header line.
qint64 lastHeader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = file.readAll();
    const QByteArray header = QByteArray(logformat::header) + '\n';
    qint64 at = text.lastIndexOf('\n' + header);
    return at < 0 ? 0 : at + 1;
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
                QFileInfo(logFilePath(dir, o.value("path").toString())).canonicalFilePath() ==
                    target) {
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

    std::int64_t total = lines.anchors.empty() ? 0 : lines.anchors.back().rows;
    const QDir dir = QFileInfo(path).absoluteDir();
    // A session file cut short after its first line (the power gone at
    // once) names no log file: the one named after its start is its own.
    const bool cut = lines.ranges.empty();
    if (cut) {
        QString named;
        // The file was started as the first row was logged, at or shortly
        // after its arrival, the start.
        for (int s = 0; s <= 2 && named.isEmpty(); ++s) {
            const QString name =
                lines.facts.start.addSecs(s).toString(QStringLiteral("dd.MM, h.mm.ss")) + ".txt";
            if (QFileInfo(dir.filePath(name)).isFile())
                named = name;
        }
        if (named.isEmpty())
            return refuse(QStringLiteral("%1: the session file names no log file (it was cut "
                                         "short after its first line), and no log file named "
                                         "after its start (%2.txt) lies beside it")
                              .arg(path, lines.facts.start.toString("dd.MM, h.mm.ss")));
        lines.ranges.push_back({named, lastHeader(dir.filePath(named)), 0, 0, 1});
        total = std::numeric_limits<std::int64_t>::max();
        notes += QStringLiteral("%1: the session file was cut short after its first line: the "
                                "rows of %2 are shown as its own, at the line's pace\n")
                     .arg(path, named);
    }
    // Each log file is there, and the rows it can hold bound the space taken
    // before reading.
    qint64 room = 0;
    for (const Range &r : lines.ranges) {
        const QFileInfo log(logFilePath(dir, r.path));
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
        const QString name = logFilePath(dir, r.path);
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
        if (got < wanted && !cut) {
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
    if (cut)
        lines.anchors = {{0, 0, false},
                         {rows, std::int64_t(double(rows - 1) * 1000 / linePace(lines.facts))}};
    const bool arrivals = lines.arrivals.size() > 1;
    auto timeline = std::make_unique<Timeline>(arrivals ? lines.arrivals : lines.anchors, rows,
                                               /*paced=*/!arrivals);
    for (std::int64_t b : lines.breaks)
        if (b > 0 && b < rows && (timeline->breaks.empty() || timeline->breaks.back() != b))
            timeline->breaks.push_back(b);
    timeline->events = std::move(lines.events);
    std::stable_sort(lines.notes.begin(), lines.notes.end(),
                     [](const auto &a, const auto &b) { return a.seconds < b.seconds; });
    timeline->notes = std::move(lines.notes);
    timeline->facts = lines.facts;
    timeline->facts.seconds = lines.anchors.empty() ? 0 : double(lines.anchors.back().ms) / 1000;
    if (cut)
        timeline->facts.seconds = timeline->seconds(rows - 1);
    timeline->facts.files = int(files.size());
    recording->time = std::move(timeline);
    notes.chop(1);
    recording->notes = notes;
    return true;
}
