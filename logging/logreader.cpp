#include "logreader.h"
#include "logformat.h"

#include <QIODevice>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace
{

struct Field {
    const char *name;
    long long low, high;
};
constexpr Field fields[7] = {
    {"index", 0, 2147483647},         {"accelerometer X", -8192, 8191},
    {"accelerometer Y", -8192, 8191}, {"accelerometer Z", -8192, 8191},
    {"gyroscope X", -32768, 32767},   {"gyroscope Y", -32768, 32767},
    {"gyroscope Z", -32768, 32767},
};

constexpr qint64 chunkSize = 64 * 1024;
// Longer than the header and than any row the ranges allow, so a longer line
// is never one the program wrote.
constexpr qint64 longestLine = 256;
constexpr qint64 headerLength = qint64(sizeof logformat::header) - 1;

bool isHeader(const char *p, const char *end)
{
    return end - p == headerLength && std::memcmp(p, logformat::header, size_t(headerLength)) == 0;
}

QString quoted(const char *p, const char *end)
{
    const QString text = QString::fromLatin1(p, int(std::min<qint64>(end - p, 24)));
    return '"' + text + (end - p > 24 ? QStringLiteral("...\"") : QStringLiteral("\""));
}

// What is wrong with [p, stop) as field f; a null string when it holds a
// value as the program writes it, which is then in *value.
QString checkField(int f, const char *p, const char *stop, long long *value)
{
    // The program writes "-" only before a digit other than 0, and no
    // leading zeros.
    const char *digits = p + (p < stop && *p == '-');
    const auto [last, status] = std::from_chars(p, stop, *value);
    if (digits == stop || last != stop || (*digits == '0' && last != digits + 1) ||
        (*digits == '0' && digits != p))
        return QStringLiteral("field %1 (%2) is not an integer as the program writes one: %3")
            .arg(f + 1)
            .arg(fields[f].name, quoted(p, stop));
    if (status != std::errc() || *value < fields[f].low || *value > fields[f].high)
        return QStringLiteral("field %1 (%2) is %3, out of the range %4..%5")
            .arg(f + 1)
            .arg(fields[f].name, QString::fromLatin1(p, int(stop - p)))
            .arg(fields[f].low)
            .arg(fields[f].high);
    return QString();
}

// Reads the line [p, end) as a row; returns what is wrong with it, or a null
// string.
QString readRow(const char *p, const char *end, LogReader::Row *row)
{
    const auto commas = std::count(p, end, ',');
    if (commas != 6)
        return QStringLiteral("%1 fields where a row has 7").arg(commas + 1);
    for (int f = 0; f < 7; ++f) {
        const char *stop =
            f < 6 ? static_cast<const char *>(std::memchr(p, ',', size_t(end - p))) : end;
        long long value = 0;
        QString problem = checkField(f, p, stop, &value);
        if (!problem.isNull())
            return problem;
        if (f == 0)
            row->index = std::int32_t(value);
        else
            row->values[f - 1] = std::int16_t(value);
        p = stop + 1;
    }
    return QString();
}

// Whether [p, end) is how a line the program writes begins: a part of the
// header, or fields of a row of which the last may stop short (then empty,
// "-", or digits that are a value already).
bool beginsALine(const char *p, const char *end)
{
    if (end - p <= headerLength && std::memcmp(p, logformat::header, size_t(end - p)) == 0)
        return true;
    for (int f = 0; f < 7; ++f) {
        const auto *comma = static_cast<const char *>(std::memchr(p, ',', size_t(end - p)));
        const char *stop = comma ? comma : end;
        long long value = 0;
        const bool partial = !comma && (stop == p || (stop - p == 1 && *p == '-'));
        if (!partial && !checkField(f, p, stop, &value).isNull())
            return false;
        if (!comma)
            return true;
        p = comma + 1;
    }
    return false;
}

} // namespace

LogReader::LogReader(QIODevice &device, const QString &name, qint64 firstLine)
    : device(device), name(name), atStart(firstLine == 1), buffer(size_t(chunkSize + longestLine)),
      base(device.pos()), lineNumber(firstLine - 1)
{
    p = end = buffer.data();
}

LogReader::~LogReader() = default;

bool LogReader::refuseBlank()
{
    lineNumber = blankAt;
    Row unused;
    take(p, p, &unused);
    return false;
}

bool LogReader::refuse(const QString &what)
{
    problem = QStringLiteral("%1:%2: %3").arg(name).arg(lineNumber).arg(what);
    return false;
}

LogReader::Line LogReader::take(const char *first, const char *last, Row *row)
{
    if (isHeader(first, last))
        return Line::Header;
    if (atStart && lineNumber == 1) {
        refuse(QStringLiteral("not a log file: the first line is not the header \"%1\"")
                   .arg(QLatin1String(logformat::header)));
        return Line::Refused;
    }
    const QString wrong = readRow(first, last, row);
    if (wrong.isNull())
        return Line::Row;
    refuse(wrong);
    return Line::Refused;
}

bool LogReader::next(Row *row)
{
    if (!problem.isEmpty())
        return false;
    for (;;) {
        while (const auto *lineFeed =
                   static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)))) {
            const char *const start = p;
            const char *stop = lineFeed;
            p = lineFeed + 1;
            ++lineNumber;
            if (stop > start && stop[-1] == '\r')
                --stop;
            // Empty lines at the end (an editor or a spreadsheet adds one)
            // are passed over; one before another line is refused there.
            if (stop == start && (lineNumber > 1 || !atStart)) {
                blankAt = blankAt ? blankAt : lineNumber;
                continue;
            }
            if (blankAt)
                return refuseBlank();
            switch (take(start, stop, row)) {
            case Line::Header:
                continue;
            case Line::Row:
                return true;
            case Line::Refused:
                return false;
            }
        }
        if (drained) {
            if (blankAt && p != end)
                return refuseBlank();
            if (p == end) {
                if (atStart && lineNumber == 0) {
                    lineNumber = 1;
                    return refuse(
                        QStringLiteral("the file is empty; a log file starts with the header"));
                }
                return false;
            }
            // A last line without its line feed.
            const char *const start = p;
            const char *stop = end;
            p = end;
            ++lineNumber;
            if (stop[-1] == '\r')
                --stop;
            if (isHeader(start, stop))
                return false;
            if ((lineNumber > 1 || !atStart) && beginsALine(start, stop)) {
                cutNote = QStringLiteral("%1:%2: the last line was cut short (it has no line "
                                         "end) and is left out")
                              .arg(name)
                              .arg(lineNumber);
                return false;
            }
            take(start, stop, row);
            return false;
        }
        const qint64 held = end - p;
        if (held > longestLine) {
            if (blankAt) // the empty lines were not the last, whatever follows them
                return refuseBlank();
            ++lineNumber;
            return refuse(QStringLiteral("the line is longer than any the program writes"));
        }
        base += p - buffer.data();
        std::memmove(buffer.data(), p, size_t(held));
        const qint64 n = device.read(buffer.data() + held, chunkSize);
        if (n < 0) {
            problem = name + QStringLiteral(": ") + device.errorString();
            return false;
        }
        drained = n == 0;
        p = buffer.data();
        end = p + held + n;
    }
}
