#include "testcore.h"

#include "logformat.h"
#include "sessionreader.h"
#include "sinesource.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/ioctl.h>

namespace mmtest
{

QString logRow(int index, const Values &v)
{
    QStringList fields{QString::number(index)};
    for (int value : v)
        fields << QString::number(value);
    return fields.join(',');
}

QStringList logRows(const QString &dir, int *files)
{
    const QStringList names = QDir(dir).entryList({"*.txt"}, QDir::Files, QDir::Name);
    if (files)
        *files = int(names.size());
    QStringList rows;
    for (const QString &name : names) {
        QFile file(QDir(dir).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return {"cannot read " + name};
        for (const QString &line : QString::fromLatin1(file.readAll()).split('\n'))
            if (!line.isEmpty() && line != QLatin1String(logformat::header))
                rows << line;
    }
    return rows;
}

QStringList sineRows(int count, int first, const FrameFormat &format, int firstSample)
{
    nodesim::SineSource source{format};
    for (int n = 0; n < firstSample; ++n)
        source.next();
    QStringList rows;
    for (int n = 0; n < count; ++n)
        rows << logRow(first + n, valuesOf(source.next()));
    return rows;
}

QStringList exportedCsv(const QString &session)
{
    QTemporaryDir out;
    QProcess p;
    p.setWorkingDirectory("/");
    p.start(MM_BINARY,
            {"--view", QFileInfo(session).absoluteFilePath(), "--export", out.filePath("out.csv")});
    QFile csv(out.filePath("out.csv"));
    if (p.waitForFinished(60000) && p.exitCode() == 0 && csv.open(QIODevice::ReadOnly))
        return QString::fromUtf8(csv.readAll()).trimmed().split('\n');
    qWarning("--export failed: %s", p.readAllStandardError().constData());
    return {};
}

std::unique_ptr<Recording> readSession(const QString &dir)
{
    auto read = std::make_unique<Recording>();
    const QStringList names = QDir(dir).entryList({"*.session.jsonl"});
    QString error = "no session file";
    if (names.size() == 1 && SessionReader::read(QDir(dir).filePath(names[0]), read.get(), &error))
        return read;
    qWarning("%s: %s", qPrintable(dir), qPrintable(error));
    return nullptr;
}

std::vector<int> rowsPerSecond(const QStringList &csv)
{
    std::vector<int> counts;
    for (const QString &line : csv.mid(1)) {
        const size_t second = size_t(line.section(',', 0, 0).toDouble());
        counts.resize(std::max(counts.size(), second + 1));
        ++counts[second];
    }
    return counts;
}

std::vector<uint8_t> sineFrames(int count, int first)
{
    nodesim::SineSource source{FrameFormat()};
    std::vector<uint8_t> bytes;
    for (int n = 0; n < first + count; ++n) {
        const Sample s = source.next();
        if (n >= first)
            FrameFormat().append(bytes, s);
    }
    return bytes;
}

int queuedOn(const QString &device)
{
    int waiting = -1;
    const QDir fds("/proc/self/fd");
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == device)
            ::ioctl(fd.toInt(), FIONREAD, &waiting);
    return waiting;
}

bool arrive(nodesim::PseudoTerminal &pty, const std::vector<uint8_t> &bytes)
{
    const QString device = QString::fromStdString(pty.devicePath());
    const int before = std::max(queuedOn(device), 0);
    return pty.write(bytes) &&
           QTest::qWaitFor([&] { return queuedOn(device) == before + int(bytes.size()); });
}

Nodesim::Nodesim(const QString &link, const QStringList &arguments)
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(NODESIM_BINARY, arguments + QStringList{"--link", link});
    if (!QTest::qWaitFor([&] { return QFileInfo(link).isSymLink(); }))
        qWarning("nodesim did not make its link %s", qPrintable(link));
}

Nodesim::~Nodesim()
{
    process.terminate();
    process.waitForFinished();
}

int Nodesim::said(const QString &text)
{
    output += QString::fromLocal8Bit(process.readAll());
    return int(output.count(text));
}

} // namespace mmtest
