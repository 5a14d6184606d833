// libFuzzer target for the session reader: any bytes as a session file beside
// log.txt (rows 0..4 of one start, then the header and rows 0..4 of a second),
// checked against a plain model of the rules: refused at the model's first bad
// line (or `file` line), or accepted with the model's rows and saying when
// something was left out; times never fall.
#include "logformat.h"
#include "recording.h"
#include "sessionreader.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cmath>
#include <optional>

namespace
{

void check(bool ok, const char *what, const QString &detail = QString())
{
    if (!ok)
        qFatal("session check failed: %s %s", what, qPrintable(detail));
}

bool whole(const QJsonValue &v, double max = 9007199254740992.0)
{
    return v.isDouble() && v.toDouble() >= 0 && v.toDouble() <= max &&
           std::floor(v.toDouble()) == v.toDouble();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const auto write = [&](const char *name, const QByteArray &content) {
        QFile file(dir.filePath(name));
        check(file.open(QIODevice::WriteOnly) && file.write(content) == content.size(),
              "cannot write", file.fileName());
        return file.fileName();
    };
    // Line i of log.txt (0..11): the header when i is 0 or 6, else a row with
    // index i % 6 - 1 and every value i; starts[i] is where it begins.
    static std::vector<qint64> starts;
    if (starts.empty()) {
        QByteArray log;
        for (int i = 0; i < 12; ++i) {
            starts.push_back(log.size());
            log +=
                (i % 6 ? QByteArray::number(i % 6 - 1) + ("," + QByteArray::number(i)).repeated(6)
                       : QByteArray(logformat::header)) +
                '\n';
        }
        starts.push_back(log.size());
        write("log.txt", log);
    }
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    Recording recording;
    QString error;
    const bool accepted = SessionReader::read(write("s.session.jsonl", text), &recording, &error);

    // The model: the start of the refusal (empty: accepted; none: not
    // modelled), or the rows' values and whether something was left out.
    QList<QByteArray> lines = text.split('\n');
    bool noted = lines.size() > 1 && !lines.takeLast().isEmpty(); // a cut last line is left out
    std::vector<int> values;
    const auto at = [&](const QString &file, qint64 line) {
        return QStringLiteral("%1/%2:%3:").arg(dir.path(), file).arg(line);
    };
    const std::optional<QString> refusal = [&]() -> std::optional<QString> {
        if (text.isEmpty())
            return at("s.session.jsonl", 1);
        std::vector<std::pair<qint64, QJsonObject>> files; // the `file` lines, numbered
        qint64 ms = 0, rows = 0, line = 0;
        bool ended = false;
        for (const QByteArray &text : lines) {
            ++line;
            const QJsonObject o = QJsonDocument::fromJson(text).object();
            const QString e = o["event"].toString();
            if (!QJsonDocument::fromJson(text).isObject() ||
                (line == 1 &&
                 (o["format"] != "motionmonitor-session" || o["version"] != 1 ||
                  !QDateTime::fromString(o["start"].toString(), Qt::ISODateWithMs).isValid())) ||
                (line > 1 &&
                 (!whole(o["t_ms"]) || !whole(o["rows"]) || ended ||
                  (line == 2 && (e != "file" || o["rows"] != 0)) || o["t_ms"].toDouble() < ms ||
                  o["rows"].toDouble() < rows ||
                  (e == "file" && (o["path"].toString().isEmpty() || !whole(o["offset"]) ||
                                   !whole(o["index"], 2147483647))) ||
                  (e == "source" && o["source"] != "receiver" && o["source"] != "test") ||
                  (e == "datalog" && !o["on"].isBool()) ||
                  !QStringList{"file", "mark", "lost", "reopened", "warning", "source",
                               "log_failed", "log_resumed", "datalog", "end"}
                       .contains(e))))
                return at("s.session.jsonl", line);
            if (line == 1)
                continue;
            ms = o["t_ms"].toInteger();
            rows = o["rows"].toInteger();
            ended = e == "end";
            if (e == "file")
                files.push_back({line, o});
        }
        for (const auto &[line, o] : files) {
            const QFileInfo file(QDir(dir.path()).filePath(o["path"].toString()));
            if (!file.isFile())
                return at("s.session.jsonl", line);
            if (file.canonicalFilePath() != QFileInfo(dir.filePath("log.txt")).canonicalFilePath())
                return std::nullopt; // the session file itself as a log, say
        }
        qint64 l = 0; // the log's next line
        for (size_t i = 0; i < files.size(); ++i) {
            const QJsonObject &o = files[i].second;
            const bool last = i + 1 == files.size();
            const qint64 offset = o["offset"].toInteger(), size = starts.back(),
                         wanted = (last ? rows : files[i + 1].second["rows"].toInteger()) -
                                  o["rows"].toInteger();
            if (offset < starts[size_t(l)] || (offset > size && !last) ||
                (offset <= size && std::find(starts.begin(), starts.end(), offset) == starts.end()))
                return at("s.session.jsonl", files[i].first);
            qint64 got = 0;
            for (l = std::lower_bound(starts.begin(), starts.end(), offset) - starts.begin();
                 got < wanted && l < 12; ++l) {
                if (l % 6 && l % 6 - 1 != o["index"].toInteger() + got)
                    return at("log.txt", l + 1);
                if (l % 6 && ++got)
                    values.push_back(int(l));
            }
            if (got < wanted && !last)
                return dir.filePath("log.txt:");
            noted = noted || got < wanted;
        }
        return QString();
    }();

    if (!refusal)
        return 0;
    check(refusal->isEmpty() == accepted && error.startsWith(*refusal),
          "refused or accepted unlike the model:", error + " / " + *refusal);
    check(!accepted || recording.note().isEmpty() != noted,
          "the note differs from the model's:", recording.note());
    check(recording.rows() == (accepted ? std::int64_t(values.size()) : 0),
          "the rows differ from the model's");
    for (std::int64_t r = 0; r < recording.rows(); ++r)
        check(recording.column(Recording::AccX)[size_t(r)] == values[size_t(r)] &&
                  (r == 0 ||
                   recording.timeline()->seconds(r) >= recording.timeline()->seconds(r - 1)),
              "a value differs from the model's or a time falls");
    return 0;
}
