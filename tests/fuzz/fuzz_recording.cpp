// libFuzzer target for the log reader: any bytes as a log file.
//
// Checked against a plain model of the rules, line by line: an accepted file
// holds the model's rows with the model's values, and says so when its last
// line was cut short and left out; a refused one is refused at the first line
// the model finds bad.
#include "logformat.h"
#include "recording.h"

#include <QBuffer>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

[[noreturn]] void fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "recording check failed: %s %s\n", what, qPrintable(detail));
    std::abort();
}

// "-"? then "0" or a digit 1-9 and more digits, the value within low..high.
bool field(const std::string &text, long long low, long long high)
{
    const size_t sign = !text.empty() && text[0] == '-';
    const std::string digits = text.substr(sign);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
        (digits[0] == '0' && (digits.size() > 1 || sign)) || digits.size() > 12)
        return false;
    const long long value = std::stoll(text);
    return value >= low && value <= high;
}

bool field(const std::string &text, size_t f)
{
    return f == 0  ? field(text, 0, 2147483647)
           : f < 4 ? field(text, -8192, 8191)
                   : field(text, -32768, 32767);
}

// Whether a line begins as one the program writes: a part of the header, or
// at most 7 fields, each a value but the last, which may also be "" or "-".
bool begins(const std::string &line, const std::vector<std::string> &fields)
{
    if (std::string(logformat::header).rfind(line, 0) == 0)
        return true;
    for (size_t f = 0; f < fields.size(); ++f)
        if (f >= 7 || (!field(fields[f], f) &&
                       !(f + 1 == fields.size() && (fields[f].empty() || fields[f] == "-"))))
            return false;
    return true;
}

struct Model {
    long long badLine = 0; // 0: the file is accepted
    long long cutLine = 0; // the last line, left out; 0: none
    std::vector<std::array<int, 6>> rows;
};

Model model(const std::string &text)
{
    Model m;
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        if (!lines.back().empty() && lines.back().back() == '\r')
            lines.back().pop_back();
        start = end + 1;
    }
    const bool lastCut = !text.empty() && text.back() != '\n';
    if (lines.empty())
        m.badLine = 1;
    for (size_t i = 0; i < lines.size() && !m.badLine; ++i) {
        if (lines[i] == logformat::header)
            continue;
        std::vector<std::string> fields{std::string()};
        for (const char c : lines[i])
            c == ',' ? fields.push_back({}) : fields.back().push_back(c);
        bool good = i > 0 && fields.size() == 7;
        for (size_t f = 0; good && f < 7; ++f)
            good = field(fields[f], f);
        // A last line without its line feed that begins as one the program
        // writes is left out.
        if (i > 0 && i + 1 == lines.size() && lastCut && begins(lines[i], fields)) {
            m.cutLine = (long long)i + 1;
            break;
        }
        if (!good) {
            m.badLine = (long long)i + 1;
            break;
        }
        std::array<int, 6> row{};
        for (size_t f = 0; f < 6; ++f)
            row[f] = std::stoi(fields[f + 1]);
        m.rows.push_back(row);
    }
    return m;
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
    const Model expected = model(text);

    if (expected.badLine) {
        if (accepted || recording.rows() != 0)
            fail("a file the model refuses was accepted");
        if (!error.startsWith(QStringLiteral("input:%1: ").arg(expected.badLine)))
            fail("the refusal names another line than the first bad one:", error);
        return 0;
    }
    if (!accepted)
        fail("a file the model accepts was refused:", error);
    if (recording.note().isEmpty() != !expected.cutLine ||
        (expected.cutLine &&
         !recording.note().startsWith(
             QStringLiteral("input:%1: the last line was cut short").arg(expected.cutLine))))
        fail("the note differs from the model's:", recording.note());
    if (recording.rows() != std::int64_t(expected.rows.size()))
        fail("the row count differs from the model's");
    for (size_t r = 0; r < expected.rows.size(); ++r)
        for (int c = 0; c < Recording::columnCount; ++c)
            if (recording.column(c)[r] != expected.rows[r][size_t(c)])
                fail("a value differs from the model's");
    return 0;
}
