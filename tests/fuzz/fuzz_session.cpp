// libFuzzer target for the session reader: any bytes as a session file
// beside two log files, a.txt (rows 0..29) and b.txt (rows 0..9 of one
// start, then the header and rows 0..9 of a second).
//
// Checked against a plain model of the rules: the first line that breaks
// one, or the range of rows that does, is where the reader refuses; an
// accepted session holds the model's rows, says when something was left out,
// and its times neither fall nor leave the session.
#include "logformat.h"
#include "recording.h"
#include "sessionreader.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace
{

[[noreturn]] void fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "session check failed: %s %s\n", what, qPrintable(detail));
    std::abort();
}

struct Line {
    qint64 offset;
    int index = -1; // -1: the header
    int value = 0;  // of every column
};
struct Log {
    QByteArray text;
    std::vector<Line> lines;
    void add(int index, int value)
    {
        lines.push_back({text.size(), index, value});
        text += index < 0
                    ? QByteArray(logformat::header)
                    : QByteArray::number(index) +
                          QByteArray(",%1").repeated(6).replace("%1", QByteArray::number(value));
        text += '\n';
    }
};

std::map<QString, Log> logs()
{
    std::map<QString, Log> files;
    Log &a = files["a.txt"], &b = files["b.txt"];
    a.add(-1, 0);
    b.add(-1, 0);
    for (int i = 0; i < 30; ++i)
        a.add(i, i - 15);
    for (int i = 0; i < 20; ++i) {
        if (i == 10)
            b.add(-1, 0);
        b.add(i % 10, 100 + i);
    }
    return files;
}

struct Model {
    QString refusal; // the start of the message; empty: accepted
    bool unknown = false;
    bool noted = false;
    std::vector<int> values;
};

Model refused(const QString &at)
{
    Model m;
    m.refusal = at;
    return m;
}

bool whole(const QJsonValue &v, double max)
{
    return v.isDouble() && v.toDouble() >= 0 && v.toDouble() <= max &&
           std::floor(v.toDouble()) == v.toDouble();
}

Model model(const QByteArray &text, const QString &dir, const std::map<QString, Log> &files)
{
    Model m;
    const QString session = dir + "/s.session.jsonl";
    QList<QByteArray> lines = text.split('\n');
    if (text.endsWith('\n') || lines.size() > 1) // a cut last line is left out
        m.noted = !lines.takeLast().isEmpty();
    if (text.isEmpty())
        return refused(session + ":1:");
    struct Range {
        QString path;
        qint64 offset, index, rows, line;
    };
    std::vector<Range> ranges;
    qint64 lastMs = 0, lastRows = 0, line = 0;
    bool started = false, ended = false;
    for (const QByteArray &text : lines) {
        const QString at = QStringLiteral("%1:%2:").arg(session).arg(++line);
        const QJsonObject o = QJsonDocument::fromJson(text).object();
        if (!QJsonDocument::fromJson(text).isObject())
            return refused(at);
        if (line == 1) {
            if (o["format"] != "motionmonitor-session" || o["version"] != 1 ||
                !QDateTime::fromString(o["start"].toString(), Qt::ISODateWithMs).isValid())
                return refused(at);
            continue;
        }
        const QString e = o["event"].toString();
        if (!whole(o["t_ms"], 9007199254740992.0) || !whole(o["rows"], 9007199254740992.0))
            return refused(at);
        const qint64 ms = qint64(o["t_ms"].toDouble()), rows = qint64(o["rows"].toDouble());
        if (ended || (!started && (e != "file" || rows != 0)) || ms < lastMs || rows < lastRows)
            return refused(at);
        if (e == "file" &&
            (o["path"].toString().isEmpty() || !whole(o["offset"], 9007199254740992.0) ||
             !whole(o["index"], 2147483647)))
            return refused(at);
        if ((e == "source" && o["source"] != "receiver" && o["source"] != "test") ||
            (e == "datalog" && !o["on"].isBool()) ||
            !QStringList{"file", "mark", "lost", "reopened", "warning", "source", "log_failed",
                         "log_resumed", "datalog", "end"}
                 .contains(e))
            return refused(at);
        if (e == "file")
            ranges.push_back({o["path"].toString(), qint64(o["offset"].toDouble()),
                              qint64(o["index"].toDouble()), rows, line});
        started = true;
        ended = e == "end";
        lastMs = ms;
        lastRows = rows;
    }
    for (Range &r : ranges) {
        const QFileInfo file(QDir::cleanPath(QDir(dir).filePath(r.path)));
        if (!QFileInfo(QDir(dir).filePath(r.path)).isFile())
            return refused(QStringLiteral("%1:%2: the log file").arg(session).arg(r.line));
        if (!files.count(file.fileName()) || file.path() != dir) {
            Model m;
            m.unknown = true; // another file: not modelled
            return m;
        }
        r.path = file.fileName();
    }
    std::map<QString, qint64> endOf;
    for (size_t i = 0; i < ranges.size(); ++i) {
        const Range &r = ranges[i];
        const QString at = QStringLiteral("%1:%2:").arg(session).arg(r.line);
        const Log &log = files.at(r.path);
        const bool last = i + 1 == ranges.size();
        const qint64 wanted = (last ? lastRows : ranges[i + 1].rows) - r.rows;
        auto l = std::find_if(log.lines.begin(), log.lines.end(),
                              [&](const Line &line) { return line.offset >= r.offset; });
        if (r.offset < endOf[r.path] || (r.offset > log.text.size() && !last) ||
            (r.offset < log.text.size() && (l == log.lines.end() || l->offset != r.offset)))
            return refused(at);
        qint64 got = 0;
        for (; got < wanted && l != log.lines.end(); ++l) {
            if (l->index < 0)
                continue;
            if (l->index != r.index + got)
                return refused(
                    QStringLiteral("%1/%2:%3:").arg(dir, r.path).arg(l - log.lines.begin() + 1));
            m.values.push_back(l->value);
            ++got;
        }
        if (got < wanted && !last)
            return refused(dir + "/" + r.path + ":");
        m.noted = m.noted || got < wanted;
        endOf[r.path] = l == log.lines.end() ? log.text.size() : l->offset;
    }
    return m;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static const std::map<QString, Log> files = [] {
        const auto made = logs();
        for (const auto &[name, log] : made) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::WriteOnly) || file.write(log.text) != log.text.size())
                fail("cannot write", file.fileName());
        }
        return made;
    }();
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    QFile file(dir.filePath("s.session.jsonl"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        fail("cannot write", file.fileName());
    file.close();

    Recording recording;
    QString error;
    const bool accepted = SessionReader::read(file.fileName(), &recording, &error);
    const Model expected = model(text, dir.path(), files);
    if (expected.unknown)
        return 0;
    if (!expected.refusal.isEmpty()) {
        if (accepted || recording.rows() != 0 || !error.startsWith(expected.refusal))
            fail("refused elsewhere than the model or not at all:",
                 error + " / " + expected.refusal);
        return 0;
    }
    if (!accepted)
        fail("a session the model accepts was refused:", error);
    if (recording.note().isEmpty() == expected.noted)
        fail("the note differs from the model's:", recording.note());
    if (recording.rows() != std::int64_t(expected.values.size()))
        fail("the row count differs from the model's");
    const Timeline &timeline = *recording.timeline();
    double previous = 0;
    for (std::int64_t r = 0; r < recording.rows(); ++r) {
        for (int c = 0; c < Recording::columnCount; ++c)
            if (recording.column(c)[size_t(r)] != expected.values[size_t(r)])
                fail("a value differs from the model's");
        const double t = timeline.seconds(r);
        if (t < previous || t > timeline.facts.seconds || timeline.firstRowFrom(t) > r)
            fail("a time falls, leaves the session or is not found again");
        previous = t;
    }
    for (size_t b = 0; b < timeline.breaks.size(); ++b)
        if (timeline.breaks[b] <= (b ? timeline.breaks[b - 1] : 0) ||
            timeline.breaks[b] >= recording.rows())
            fail("the breaks do not rise within the rows");
    return 0;
}
