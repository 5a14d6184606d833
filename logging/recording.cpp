#include "recording.h"
#include "logformat.h"

#include <QFile>

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

QString quoted(const char *p, const char *end)
{
    const QString text = QString::fromLatin1(p, int(std::min<qint64>(end - p, 24)));
    return '"' + text + (end - p > 24 ? QStringLiteral("...\"") : QStringLiteral("\""));
}

// Reads the line [p, end) as a row into values; returns what is wrong with
// it, or a null string.
QString readRow(const char *p, const char *end, std::int16_t *values)
{
    const auto commas = std::count(p, end, ',');
    if (commas != 6)
        return QStringLiteral("%1 fields where a row has 7").arg(commas + 1);
    for (int f = 0; f < 7; ++f) {
        const char *stop =
            f < 6 ? static_cast<const char *>(std::memchr(p, ',', size_t(end - p))) : end;
        // The program writes "-" only before a digit other than 0, and no
        // leading zeros.
        const char *digits = p + (p < stop && *p == '-');
        long long value = 0;
        const auto [last, status] = std::from_chars(p, stop, value);
        if (digits == stop || last != stop || (*digits == '0' && last != digits + 1) ||
            (*digits == '0' && digits != p))
            return QStringLiteral("field %1 (%2) is not an integer as the program writes one: %3")
                .arg(f + 1)
                .arg(fields[f].name, quoted(p, stop));
        if (status != std::errc() || value < fields[f].low || value > fields[f].high)
            return QStringLiteral("field %1 (%2) is %3, out of the range %4..%5")
                .arg(f + 1)
                .arg(fields[f].name, QString::fromLatin1(p, int(stop - p)))
                .arg(fields[f].low)
                .arg(fields[f].high);
        if (f > 0)
            values[f - 1] = std::int16_t(value);
        p = stop + 1;
    }
    return QString();
}

} // namespace

bool Recording::read(const QString &path, QString *error)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        return read(file, path, error);
    for (auto &c : columns)
        c.clear();
    *error = path + QStringLiteral(": ") + file.errorString();
    return false;
}

bool Recording::read(QIODevice &device, const QString &name, QString *error)
{
    for (auto &c : columns)
        c.clear();
    const qint64 headerLength = qint64(sizeof logformat::header) - 1;
    std::vector<char> buffer(size_t(chunkSize + longestLine));
    qint64 lineNumber = 0;
    qint64 held = 0; // the start of an unfinished line, at the buffer's start
    QString problem;
    std::int16_t values[columnCount];
    const auto refuse = [&](const QString &message) {
        for (auto &c : columns)
            c.clear();
        *error = message;
        return false;
    };

    // Takes the line [p, end); false when it is refused.
    const auto take = [&](const char *p, const char *end) {
        ++lineNumber;
        if (end - p == headerLength && std::memcmp(p, logformat::header, size_t(headerLength)) == 0)
            return true;
        if (lineNumber == 1) {
            problem = QStringLiteral("not a log file: the first line is not the header \"%1\"")
                          .arg(QLatin1String(logformat::header));
            return false;
        }
        problem = readRow(p, end, values);
        if (!problem.isNull())
            return false;
        for (int c = 0; c < columnCount; ++c)
            columns[size_t(c)].push_back(values[c]);
        return true;
    };

    for (;;) {
        const qint64 n = device.read(buffer.data() + held, chunkSize);
        if (n < 0)
            return refuse(name + QStringLiteral(": ") + device.errorString());
        const char *p = buffer.data();
        const char *const end = p + held + n;
        bool refused = false;
        while (const auto *lineEnd =
                   static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)))) {
            if ((refused = !take(p, lineEnd)))
                break;
            p = lineEnd + 1;
        }
        if (refused)
            break;
        held = end - p;
        if (n == 0) {
            if (held > 0 && !take(p, end))
                break;
            if (lineNumber == 0) {
                lineNumber = 1;
                problem = QStringLiteral("the file is empty; a log file starts with the header");
                break;
            }
            return true;
        }
        if (held > longestLine) {
            ++lineNumber;
            problem = QStringLiteral("the line is longer than any the program writes");
            break;
        }
        std::memmove(buffer.data(), p, size_t(held));
    }

    return refuse(QStringLiteral("%1:%2: %3").arg(name).arg(lineNumber).arg(problem));
}
