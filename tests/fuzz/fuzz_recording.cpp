// libFuzzer target for the log reader: any bytes as a log file, checked
// against a plain model of the rules, line by line: refused at the model's
// first bad line, or accepted with its rows, saying so when a cut last line
// was left out; empty lines at the end passed over.
#include "logformat.h"
#include "recording.h"

#include <QBuffer>

#include <string>
#include <vector>

namespace
{

void check(bool ok, const char *what, const QString &detail = QString())
{
    if (!ok)
        qFatal("recording check failed: %s %s", what, qPrintable(detail));
}

// Field f as the program writes it: "-"?, then "0" or 1-9 and digits; within the field's range.
bool field(const std::string &text, size_t f)
{
    const long long high = f == 0 ? 2147483647 : f < 4 ? 8191 : 32767, low = f == 0 ? 0 : -high - 1;
    const size_t sign = !text.empty() && text[0] == '-';
    const std::string digits = text.substr(sign);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
        (digits[0] == '0' && (digits.size() > 1 || sign)) || digits.size() > 12)
        return false;
    return std::stoll(text) >= low && std::stoll(text) <= high;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    QByteArray bytes = QByteArray::fromRawData(text.data(), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    Recording recording;
    QString error;
    const bool accepted = recording.read(buffer, QStringLiteral("input"), &error);

    // The model: the first bad line, or the last line left out; the rows' values.
    long long line = 0, bad = size == 0, cut = 0, blank = 0; // blank: the first of empty lines
    std::vector<int> values;
    for (size_t start = 0; start < size && !bad && !cut; ++line) {
        const size_t end = std::min(text.find('\n', start), size);
        const std::string l =
            text.substr(start, end - start - (end > start && text[end - 1] == '\r'));
        start = end + 1;
        // Empty lines are passed over at the end only.
        if (line > 0 && l.empty() && end < size) {
            blank = blank ? blank : line + 1;
            continue;
        }
        if (blank) {
            bad = blank;
            break;
        }
        if (l == logformat::header)
            continue;
        std::vector<std::string> fields{std::string()};
        for (const char c : l)
            c == ',' ? fields.push_back({}) : fields.back().push_back(c);
        // A last line without its line feed is left out when it begins as one the program
        // writes: a part of the header, or up to 7 fields, values but the last ("" or "-" too).
        bool row = line > 0 && fields.size() == 7, begins = fields.size() <= 7;
        for (size_t f = 0; f < fields.size() && f < 7; ++f) {
            const bool good = field(fields[f], f);
            row = row && good;
            begins = begins &&
                     (good || (f + 1 == fields.size() && (fields[f].empty() || fields[f] == "-")));
        }
        if (line > 0 && end == size && (begins || std::string(logformat::header).rfind(l, 0) == 0))
            cut = line + 1;
        else if (!row)
            bad = line + 1;
        else
            for (size_t f = 1; f < 7; ++f)
                values.push_back(std::stoi(fields[f]));
    }

    check(accepted == !bad && (accepted || error.startsWith(QStringLiteral("input:%1: ").arg(bad))),
          "refused or accepted unlike the model, or at another line:", error);
    const QString note = recording.note();
    check(cut ? note.startsWith(QStringLiteral("input:%1: the last line was cut short").arg(cut))
              : note.isEmpty(),
          "the note differs from the model's:", note);
    check(recording.rows() * 6 == (bad ? 0 : std::int64_t(values.size())),
          "the row count differs from the model's");
    for (size_t v = 0; !bad && v < values.size(); ++v)
        check(recording.column(int(v % 6))[v / 6] == values[v], "a value differs from the model's");
    return 0;
}
