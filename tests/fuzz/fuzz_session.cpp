// libFuzzer target for the session reader: any bytes as a session file
// beside one log file, log.txt: rows 0..4 of one start, then the header and
// rows 0..4 of a second.
//
// Checked against a plain model of the rules: the reader refuses at the
// model's first bad line, or the first bad `file` line, or accepts with the
// model's rows and says when something was left out; times never fall.
#include "logformat.h"
#include "recording.h"
#include "sessionreader.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace
{

[[noreturn]] void fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "session check failed: %s %s\n", what, qPrintable(detail));
    std::abort();
}

// The log's lines: where each begins, its row index (-1: the header) and
// the value of its columns.
struct LogLine {
    qint64 offset;
    int index, value;
};
std::vector<LogLine> logLines;
QByteArray logText;

bool whole(const QJsonValue &v, double max = 9007199254740992.0)
{
    return v.isDouble() && v.toDouble() >= 0 && v.toDouble() <= max &&
           std::floor(v.toDouble()) == v.toDouble();
}

struct Model {
    QString refusal; // the start of the message; empty: accepted
    bool other = false, noted = false;
    std::vector<int> values;
};

Model model(const QByteArray &text, const QString &dir)
{
    Model m;
    const QString session = dir + "/s.session.jsonl";
    const auto refused = [&](const QString &where) {
        m.refusal = where;
        return m;
    };
    const auto at = [&](qint64 line) {
        return refused(QStringLiteral("%1:%2:").arg(session).arg(line));
    };
    QList<QByteArray> lines = text.split('\n');
    m.noted = lines.size() > 1 && !lines.takeLast().isEmpty(); // a cut last line is left out
    if (text.isEmpty())
        return at(1);
    struct Range {
        QString path;
        qint64 offset, index, rows, line;
    };
    std::vector<Range> ranges;
    qint64 ms = 0, rows = 0, line = 0;
    bool ended = false;
    for (const QByteArray &text : lines) {
        const QJsonObject o = QJsonDocument::fromJson(text).object();
        const QString e = o["event"].toString();
        if (!QJsonDocument::fromJson(text).isObject())
            return at(++line);
        if (++line == 1) {
            if (o["format"] != "motionmonitor-session" || o["version"] != 1 ||
                !QDateTime::fromString(o["start"].toString(), Qt::ISODateWithMs).isValid())
                return at(line);
            continue;
        }
        if (!whole(o["t_ms"]) || !whole(o["rows"]) || ended ||
            (line == 2 && (e != "file" || o["rows"] != 0)) || o["t_ms"].toDouble() < ms ||
            o["rows"].toDouble() < rows ||
            (e == "file" && (o["path"].toString().isEmpty() || !whole(o["offset"]) ||
                             !whole(o["index"], 2147483647))) ||
            (e == "source" && o["source"] != "receiver" && o["source"] != "test") ||
            (e == "datalog" && !o["on"].isBool()) ||
            !QStringList{"file", "mark", "lost", "reopened", "warning", "source", "log_failed",
                         "log_resumed", "datalog", "end"}
                 .contains(e))
            return at(line);
        ms = qint64(o["t_ms"].toDouble());
        rows = qint64(o["rows"].toDouble());
        ended = e == "end";
        if (e == "file")
            ranges.push_back({o["path"].toString(), qint64(o["offset"].toDouble()),
                              qint64(o["index"].toDouble()), rows, line});
    }
    for (const Range &r : ranges) {
        const QFileInfo file(QDir(dir).filePath(r.path));
        if (!file.isFile())
            return at(r.line);
        m.other =
            m.other || file.canonicalFilePath() != QFileInfo(dir + "/log.txt").canonicalFilePath();
    }
    if (m.other)
        return m;   // the session file itself as a log: not modelled
    qint64 end = 0; // of the rows read so far
    for (size_t i = 0; i < ranges.size(); ++i) {
        const Range &r = ranges[i];
        const bool last = i + 1 == ranges.size();
        const qint64 wanted = (last ? rows : ranges[i + 1].rows) - r.rows;
        auto l = std::find_if(logLines.begin(), logLines.end(),
                              [&](const LogLine &l) { return l.offset >= r.offset; });
        if (r.offset < end || (r.offset > logText.size() && !last) ||
            (r.offset < logText.size() && l->offset != r.offset))
            return at(r.line);
        qint64 got = 0;
        for (; got < wanted && l != logLines.end(); ++l) {
            if (l->index >= 0 && l->index != r.index + got)
                return refused(
                    QStringLiteral("%1/log.txt:%2:").arg(dir).arg(l - logLines.begin() + 1));
            if (l->index >= 0 && ++got)
                m.values.push_back(l->value);
        }
        if (got < wanted && !last)
            return refused(dir + "/log.txt:");
        m.noted = m.noted || got < wanted;
        end = l == logLines.end() ? logText.size() : l->offset;
    }
    return m;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    for (int i = int(logLines.size()); i < 12; ++i) {
        const int index = i % 6 - 1; // the line's value is i
        logLines.push_back({logText.size(), index, i});
        logText += index < 0
                       ? QByteArray(logformat::header)
                       : QByteArray::number(index) + ("," + QByteArray::number(i)).repeated(6);
        logText += '\n';
    }
    QFile log(dir.filePath("log.txt")), file(dir.filePath("s.session.jsonl"));
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    if (!log.open(QIODevice::WriteOnly) || log.write(logText) != logText.size() ||
        !file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        fail("cannot write", file.fileName());
    log.close();
    file.close();

    Recording recording;
    QString error;
    const bool accepted = SessionReader::read(file.fileName(), &recording, &error);
    const Model expected = model(text, dir.path());
    if (expected.other)
        return 0;
    if (expected.refusal.isEmpty() != accepted || !error.startsWith(expected.refusal))
        fail("refused or accepted unlike the model:", error + " / " + expected.refusal);
    if (accepted && recording.note().isEmpty() == expected.noted)
        fail("the note differs from the model's:", recording.note());
    if (recording.rows() != (accepted ? std::int64_t(expected.values.size()) : 0))
        fail("the rows differ from the model's");
    for (std::int64_t r = 0; r < recording.rows(); ++r)
        if (recording.column(Recording::AccX)[size_t(r)] != expected.values[size_t(r)] ||
            (r > 0 && recording.timeline()->seconds(r) < recording.timeline()->seconds(r - 1)))
            fail("a value differs from the model's or a time falls");
    return 0;
}
