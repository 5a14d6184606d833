// libFuzzer target for the log reader: any bytes as a log file.
//
// Checked against a plain model of the rules, line by line: an accepted file
// holds the model's rows with the model's values, and says so when its last
// line was cut short and left out; a refused one is refused at the first line
// the model finds bad.
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

// Field f as the program writes it: "-"? then "0" or a digit 1-9 and more
// digits, the value within the field's range.
bool field(const std::string &text, size_t f)
{
    const long long high = f == 0 ? 2147483647 : f < 4 ? 8191 : 32767, low = f == 0 ? 0 : -high - 1;
    const size_t sign = !text.empty() && text[0] == '-';
    const std::string digits = text.substr(sign);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
        (digits[0] == '0' && (digits.size() > 1 || sign)) || digits.size() > 12)
        return false;
    const long long value = std::stoll(text);
    return value >= low && value <= high;
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

    // The model: the first bad line, or the last line left out, and the
    // values of the rows before.
    long long line = 0, bad = size == 0, cut = 0;
    std::vector<int> values;
    for (size_t start = 0; start < size && !bad && !cut; ++line) {
        const size_t end = std::min(text.find('\n', start), size);
        std::string l = text.substr(start, end - start);
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        start = end + 1;
        if (l == logformat::header)
            continue;
        std::vector<std::string> fields{std::string()};
        for (const char c : l)
            c == ',' ? fields.push_back({}) : fields.back().push_back(c);
        // A last line without its line feed is left out when it begins as
        // one the program writes: a part of the header, or at most 7 fields,
        // each a value but the last, which may also be "" or "-".
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
    check(recording.note().isEmpty() == !cut &&
              (!cut || recording.note().startsWith(
                           QStringLiteral("input:%1: the last line was cut short").arg(cut))),
          "the note differs from the model's:", recording.note());
    check(recording.rows() * 6 == (bad ? 0 : std::int64_t(values.size())),
          "the row count differs from the model's");
    for (size_t v = 0; !bad && v < values.size(); ++v)
        check(recording.column(int(v % 6))[v / 6] == values[v], "a value differs from the model's");
    return 0;
}
