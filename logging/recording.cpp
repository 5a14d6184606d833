#include "recording.h"

#include "logreader.h"
#include "sessionreader.h"

#include <QFile>
#include <QFileInfo>

#include <charconv>
#include <cstring>

Recording::Recording() = default;
Recording::~Recording() = default;

void Recording::clear()
{
    for (auto &c : columns) {
        c.clear();
        c.shrink_to_fit();
    }
    time.reset();
    notes.clear();
}

bool Recording::open(const QString &path, QString *error)
{
    if (SessionReader::isSessionFile(path))
        return SessionReader::read(path, this, error);
    QStringList sessions = SessionReader::sessionsNaming(path);
    QString why;
    if (sessions.size() == 1 && SessionReader::read(sessions[0], this, &why))
        return true;
    if (!read(path, error))
        return false;
    for (QString &s : sessions)
        s = QFileInfo(s).fileName();
    // The log file on its own, and why not as a session.
    if (!why.isEmpty())
        why = QStringLiteral("shown on its own, as its session cannot be read: ") + why;
    else if (sessions.size() > 1)
        why = QStringLiteral("it holds rows of %1 sessions (%2); open one of them to see it on "
                             "its time axis")
                  .arg(sessions.size())
                  .arg(sessions.join(QStringLiteral(", ")));
    if (!why.isEmpty())
        notes += (notes.isEmpty() ? QString() : QStringLiteral("\n")) + path + ": " + why;
    return true;
}

bool Recording::read(const QString &path, QString *error)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        return read(file, path, error);
    clear();
    *error = path + QStringLiteral(": ") + file.errorString();
    return false;
}

bool Recording::read(QIODevice &device, const QString &name, QString *error)
{
    clear();
    LogReader reader(device, name);
    LogReader::Row row;
    while (reader.next(&row))
        for (int c = 0; c < columnCount; ++c)
            columns[size_t(c)].push_back(row.values[c]);
    if (!reader.error().isEmpty()) {
        clear();
        *error = reader.error();
        return false;
    }
    notes = reader.note();
    return true;
}

Recording::CsvColumns Recording::countColumns()
{
    CsvColumns columns;
    for (int c = 0; c < columnCount; ++c)
        columns[size_t(c)].name =
            QStringLiteral("%1_%2").arg(c < 3 ? "acc" : "gyro").arg(QChar("xyz"[c % 3]));
    return columns;
}

bool Recording::writeCsv(const QString &path, QString *error, const CsvColumns &format) const
{
    QFile file(path);
    const auto fail = [&] {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail();
    std::vector<char> text;
    const auto append = [&](const char *s) { text.insert(text.end(), s, s + std::strlen(s)); };
    const auto flush = [&] {
        const bool written = file.write(text.data(), qint64(text.size())) == qint64(text.size());
        text.clear();
        return written;
    };
    QByteArray header = time ? "time_s" : "row";
    for (const CsvColumn &c : format)
        header += ',' + c.name.toUtf8();
    append(header.append('\n').constData());
    // Written a megabyte at a time; a row takes at most 96 bytes in counts,
    // 6 * 40 in units (Calibration bounds them).
    constexpr std::size_t batch = 1 << 20;
    text.reserve(batch + 512);
    char row[512];
    for (std::int64_t r = 0; r < rows(); ++r) {
        char *p = row, *const end = row + sizeof row;
        p = time ? std::to_chars(p, end, time->seconds(r), std::chars_format::fixed, 3).ptr
                 : std::to_chars(p, end, r).ptr;
        for (int c = 0; c < columnCount; ++c) {
            const CsvColumn &how = format[size_t(c)];
            const std::int16_t count = columns[size_t(c)][size_t(r)];
            *p++ = ',';
            p = how.scale == 0 ? std::to_chars(p, end, count).ptr
                               : std::to_chars(p, end, (count - how.offset) * how.scale,
                                               std::chars_format::fixed, how.decimals)
                                     .ptr;
        }
        *p++ = '\n';
        text.insert(text.end(), row, p);
        if (text.size() >= batch && !flush())
            return fail();
    }
    return (flush() && file.flush()) || fail();
}

bool Recording::writeNotesCsv(const QString &path, QString *error) const
{
    QByteArray text = "time_s,text\n";
    for (const Timeline::Note &note : time ? time->notes : std::vector<Timeline::Note>()) {
        QByteArray field = note.text.toUtf8();
        if (field.contains(',') || field.contains('"') || field.contains('\n') ||
            field.contains('\r'))
            field = '"' + field.replace('"', "\"\"") + '"';
        text += QByteArray::number(note.seconds, 'f', 3) + ',' + field + '\n';
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size() &&
        file.flush())
        return true;
    *error = path + QStringLiteral(": ") + file.errorString();
    return false;
}
