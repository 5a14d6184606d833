// libFuzzer target for the session reader: any bytes as a session file beside log.txt (rows
// 0..4 of one start, then the header and rows 0..4 of a second), checked against a plain model
// of the rules: refused where it refuses, or accepted with its rows, note and the user's notes
// (in time order); times never fall, no row lies before a line it follows, and "Datalog" off
// breaks the curves.
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
#include <optional>

static bool whole(const QJsonValue &v, double max = 9007199254740992.0)
{
    return v.isDouble() && v.toDouble() >= 0 && v.toDouble() <= max &&
           std::floor(v.toDouble()) == v.toDouble();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const auto write = [&](const char *name, const QByteArray &content) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", name);
        return file.fileName();
    };
    // Line i of log.txt (0..11): the header when i is 0 or 6, else a row with
    // index i % 6 - 1 and every value i; starts[i] is where it begins.
    static std::vector<qint64> starts{0};
    if (starts.size() == 1) {
        QByteArray log;
        for (int i = 0; i < 12; starts.push_back(log.size()), ++i)
            log +=
                (i % 6 ? QByteArray::number(i % 6 - 1) + ("," + QByteArray::number(i)).repeated(6)
                       : QByteArray(logformat::header)) +
                '\n';
        write("log.txt", log);
    }
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    Recording recording;
    QString error;
    const bool accepted = SessionReader::read(write("s.session.jsonl", text), &recording, &error);

    // The model: where it refuses ("": accepted; none: not modelled), the rows, any note.
    QList<QByteArray> lines = text.split('\n');
    bool noted = lines.size() > 1 && !lines.takeLast().isEmpty(); // a cut last line
    std::vector<std::int16_t> values;
    std::vector<std::pair<double, QString>> notes;
    const auto at = [&](qint64 line, const char *file = "s.session.jsonl") {
        return QStringLiteral("%1/%2:%3:").arg(dir.path(), file).arg(line);
    };
    const std::optional<QString> refusal = [&]() -> std::optional<QString> {
        std::vector<std::pair<qint64, QJsonObject>> files; // the `file` lines, numbered
        qint64 ms = 0, rows = 0, line = 0, ended = 0, arrived = 0;
        for (const QByteArray &text : lines) {
            ++line;
            const QJsonObject o = QJsonDocument::fromJson(text).object();
            const QString e = o["event"].toString();
            if (!QJsonDocument::fromJson(text).isObject() ||
                (line == 1
                     ? o["format"] != "motionmonitor-session" || o["version"] != 1 ||
                           !QDateTime::fromString(o["start"].toString(), Qt::ISODateWithMs)
                                .isValid()
                     : (!whole(o["t_ms"]) || !whole(o["rows"]) || ended ||
                        (line == 2 && (e != "file" || o["rows"] != 0)) ||
                        o["t_ms"].toDouble() < ms || o["rows"].toDouble() < rows ||
                        (e == "file" && (o["path"].toString().isEmpty() || !whole(o["offset"]) ||
                                         !whole(o["index"], 2147483647))) ||
                        (e == "source" && o["source"] != "receiver" && o["source"] != "test") ||
                        (e == "datalog" && !o["on"].isBool()) ||
                        (e == "note" && (!whole(o["at_ms"], o["t_ms"].toDouble()) ||
                                         (o.contains("text") && !o["text"].isString()))) ||
                        (o.contains("last_row_ms") && (!whole(o["last_row_ms"]) || o["rows"] == 0 ||
                                                       o["last_row_ms"].toDouble() < arrived)))))
                return at(line);
            if (line == 1)
                continue;
            arrived = o["last_row_ms"].toInteger(arrived);
            if (e == "note")
                notes.push_back({o["at_ms"].toDouble() / 1000, o["text"].toString()});
            ms = o["t_ms"].toInteger();
            rows = o["rows"].toInteger();
            ended = e == "end";
            if (e == "file")
                files.push_back({line, o});
        }
        if (files.empty()) // no log file named after the start lies beside it
            return dir.filePath("s.session.jsonl: the session file names no log file");
        for (const auto &[line, o] : files) {
            QFileInfo file(QDir::cleanPath(QDir(dir.path()).filePath(o["path"].toString())));
            if (!file.isFile()) // one named from another working directory, beside it
                file.setFile(dir.filePath(QFileInfo(o["path"].toString()).fileName()));
            if (!file.isFile())
                return at(line);
            if (file.canonicalFilePath() != QFileInfo(dir.filePath("log.txt")).canonicalFilePath())
                return std::nullopt; // the session file itself as a log, say
        }
        for (qint64 i = 0, l = 0; i < qint64(files.size()); ++i) { // l: the log's next line
            const auto &[line, o] = files[size_t(i)];
            const bool last = i + 1 == qint64(files.size());
            const qint64 offset = o["offset"].toInteger(), first = o["rows"].toInteger(),
                         end = last ? rows : files[size_t(i) + 1].second["rows"].toInteger(),
                         from = std::lower_bound(starts.begin(), starts.end(), offset) -
                                starts.begin();
            if (offset < starts[size_t(l)] || (from == 13 ? !last : starts[size_t(from)] != offset))
                return at(line);
            for (l = from; qint64(values.size()) < end && l < 12; ++l) {
                if (l % 6 && l % 6 - 1 != o["index"].toInteger() + qint64(values.size()) - first)
                    return at(l + 1, "log.txt");
                if (l % 6)
                    values.push_back(std::int16_t(l));
            }
            if (qint64(values.size()) < end && !last)
                return dir.filePath("log.txt:");
            noted = noted || qint64(values.size()) < end;
        }
        return QString();
    }();

    for (std::int64_t r = 1; r < recording.rows(); ++r)
        if (recording.timeline()->seconds(r) < recording.timeline()->seconds(r - 1))
            qFatal("session check failed: a time falls at row %lld", (long long)r);
    // "Datalog" off breaks the curves; in a file without arrivals (`last_row_ms`), no row is
    // placed before a line after which it came.
    const bool arrivals = text.contains("\"last_row_ms\"");
    for (qsizetype l = 1; accepted && l < lines.size(); ++l) {
        const QJsonObject o = QJsonDocument::fromJson(lines[l]).object();
        const std::int64_t r = o["rows"].toInteger();
        const QString e = o["event"].toString();
        const Timeline &t = *recording.timeline();
        if (e == "datalog" && o["on"] == false && r > 0 && r < recording.rows() &&
            std::find(t.breaks.begin(), t.breaks.end(), r) == t.breaks.end())
            qFatal("session check failed: no break after Datalog off at row %lld", (long long)r);
        const bool floor = e == "reopened" || e == "source" || e == "log_resumed" ||
                           (e == "datalog" && o["on"] == true);
        for (std::int64_t i = r; floor && !arrivals && r > 0 && i < recording.rows(); ++i)
            if (t.seconds(i) < o["t_ms"].toDouble() / 1000 - 1e-9)
                qFatal("session check failed: row %lld before the line it follows", (long long)i);
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    const auto notesRead = [&] {
        decltype(notes) read;
        for (const Timeline::Note &n : recording.timeline()->notes)
            read.push_back({n.seconds, n.text});
        return read;
    };
    if (refusal && !(refusal->isEmpty() == accepted && error.startsWith(*refusal) &&
                     (!accepted || (recording.note().isEmpty() != noted && notesRead() == notes)) &&
                     recording.column(Recording::AccX) == (accepted ? values : decltype(values)())))
        qFatal("session check failed: refusal, note or rows unlike the model's: %s / %s / %s",
               qPrintable(error), qPrintable(*refusal), qPrintable(recording.note()));
    return 0;
}
