// The analysis layer against figures written out by hand: spectra of known signals in sessions
// with gaps, the figures of any run, and the built program's calibration from a six-face
// recording made with the simulator and --record, and its exports in units.
#include "calibration.h"
#include "logformat.h"
#include "spectrum.h"
#include "testcore.h"
#include "welch.h"

#include <QJsonDocument>
#include <QTemporaryDir>

#include <cmath>
#include <complex>
#include <numeric>
#include <random>

using mmtest::Values;

namespace
{

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool write(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

// The built program with arguments; its status, and its output in *output.
int run(const QStringList &arguments, QString *output = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(MM_BINARY, arguments);
    const bool done = p.waitForFinished(120000);
    if (output)
        *output = p.readAll();
    return done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A log file of `rows` in dir: the header, then each row with its index.
QByteArray logOf(const std::vector<Values> &rows, int first = 0)
{
    QByteArray text = QByteArray(logformat::header) + '\n';
    for (std::size_t r = 0; r < rows.size(); ++r)
        text += mmtest::logRow(first + int(r), rows[r]).toLatin1() + '\n';
    return text;
}

// The node on one face, from accelerometer counts a = offset + g / scale: six faces, each axis
// up and down, and the same node tilted half-way between two faces.
constexpr double accOffset[3] = {30, -45, 60}, accScale[3] = {1 / 1000.0, 1 / 1040.0, 1 / 980.0};
constexpr double gyroOffset[3] = {-120, 75, 210};
std::vector<Values> faces(int facesWanted, int restRows, int turnRows)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-2, 2);
    std::vector<Values> rows;
    std::array<double, 3> g{}, previous{};
    for (int face = 0; face < facesWanted; ++face, previous = g) {
        g = {};
        g[face / 2] = face % 2 ? -1 : 1;
        for (int r = 0; r < turnRows + restRows; ++r) {
            const double turning = r < turnRows ? double(r) / turnRows : 1;
            Values v;
            for (int a = 0; a < 3; ++a) {
                const double along = (1 - turning) * previous[a] + turning * g[a];
                v[a] = int(std::lround(accOffset[a] + along / accScale[a])) + noise(random);
                v[3 + a] = int(gyroOffset[a]) + noise(random) + (r < turnRows ? 4000 : 0);
            }
            rows.push_back(v);
        }
    }
    return rows;
}

} // namespace

class TestAnalysis : public QObject
{
    Q_OBJECT
    QTemporaryDir tmp;
    QString recorded; // the six-face session that --record wrote

    // A session of `rows` at 100 rows a second (a time mark every 100 rows) in log files in tmp:
    // the receiver lost for a second before each row of `lost`, the source switched (a new log
    // file) before row `switched`. Returns the session file.
    QString session(const QString &name, const std::vector<Values> &rows,
                    const std::vector<int> &lost = {}, int switched = -1)
    {
        int gaps = 0;
        const auto ms = [&](std::size_t r) { return QByteArray::number(r * 10 + gaps * 1000); };
        const auto line = [](const QByteArray &t, std::size_t rows, const QByteArray &rest) {
            return "{\"t_ms\":" + t + ",\"rows\":" + QByteArray::number(rows) +
                   ",\"event\":" + rest + "}\n";
        };
        const auto file = [&](int n) {
            return "\"file\",\"path\":\"" + name.toUtf8() + "-" + QByteArray::number(n) +
                   ".txt\",\"offset\":0";
        };
        QByteArray lines = R"({"format":"motionmonitor-session","version":1,)"
                           R"("start":"2026-12-08T10:00:00.000+01:00"})"
                           "\n" +
                           line("0", 0, file(1) + ",\"index\":0");
        for (std::size_t r = 0; r < rows.size(); ++r) {
            if (std::find(lost.begin(), lost.end(), int(r)) != lost.end()) {
                lines += line(ms(r - 1), r, "\"lost\",\"reason\":\"unplugged\"");
                ++gaps;
                lines += line(QByteArray::number(ms(r).toInt() - 10), r, "\"reopened\"");
            }
            if (int(r) == switched)
                lines += line(ms(r - 1), r, "\"source\",\"source\":\"test\"") +
                         line(ms(r - 1), r, file(2) + ",\"index\":" + QByteArray::number(r));
            if (r % 100 == 99)
                lines += line(ms(r), r + 1, "\"mark\"");
        }
        lines += line(ms(rows.size() - 1), rows.size(), "\"end\"");
        const std::size_t cut = switched < 0 ? rows.size() : std::size_t(switched);
        const bool written =
            write(tmp.filePath(name + "-1.txt"), logOf({rows.begin(), rows.begin() + cut})) &&
            write(tmp.filePath(name + "-2.txt"), logOf({rows.begin() + cut, rows.end()}, cut));
        return written && write(tmp.filePath(name + ".session.jsonl"), lines)
                   ? tmp.filePath(name + ".session.jsonl")
                   : QString();
    }

private slots:
    // A sine of amplitude 1000 at 10 Hz (accelerometer X) and white noise of deviation 50
    // (gyroscope X) over 2000 s at 100 rows a second.
    void spectrumOfKnownSignals()
    {
        std::mt19937 random(3);
        std::normal_distribution<double> noise(0, 50);
        std::vector<Values> rows(200000);
        for (std::size_t r = 0; r < rows.size(); ++r)
            rows[r] = {int(std::lround(1000 * std::sin(2 * M_PI * 10 * double(r) / 100))),
                       0,
                       0,
                       int(std::lround(noise(random))),
                       0,
                       0};
        Recording recording;
        QString error;
        QVERIFY2(recording.open(session("known", rows), &error), qPrintable(error));
        const Spectrum s = Spectrum::of(recording, 0, recording.rows(), 0, 0, Calibration());
        // The largest power of two with 8 segments or more: (200000 - 32768) / 16384 + 1.
        QCOMPARE(std::tuple(s.length, s.segments, s.stretches), std::tuple(32768, 11, 1));
        QVERIFY(std::abs(s.rate - 100) < 1e-9);
        const std::vector<double> &sine = s.density[Recording::AccX],
                                  &white = s.density[Recording::GyroX];
        QCOMPARE(s.peak(Recording::AccX), std::size_t(std::lround(10 / s.step())));
        const auto power = [&](const std::vector<double> &d, std::size_t from, std::size_t to) {
            return std::accumulate(d.begin() + long(from), d.begin() + long(to), 0.0) * s.step();
        };
        const std::size_t peak = s.peak(Recording::AccX), half = white.size() / 2;
        // A² / 2 in the peak, and in all (Parseval); the noise: 2 σ² / rate in each half, σ².
        QVERIFY(std::abs(power(sine, peak - 8, peak + 9) / 500000 - 1) < 0.01);
        QVERIFY(std::abs(power(sine, 0, sine.size()) / 500000 - 1) < 0.01);
        QVERIFY(std::abs(power(white, 0, white.size()) / 2500 - 1) < 0.01);
        for (const auto &[from, to] : {std::pair(std::size_t(1), half), {half, white.size() - 1}})
            QVERIFY2(std::abs(power(white, from, to) / (s.step() * double(to - from)) / 50 - 1) <
                         0.03,
                     qPrintable(QString::number(power(white, from, to))));
    }

    // Welch's method written out: each half-overlapping segment's mean removed, a periodic Hann
    // window, a plain discrete Fourier transform, the mean of |X|², one-sided, per hertz.
    void welchAsWrittenOut()
    {
        std::mt19937 random(5);
        std::vector<std::int16_t> x(200);
        std::generate(x.begin(), x.end(), [&] { return std::int16_t(random() % 2001 - 1000); });
        const int n = 64, segments = (200 - n) / (n / 2) + 1;
        const double rate = 50;
        std::vector<double> expected(n / 2 + 1);
        double windowPower = 0;
        for (int i = 0; i < n; ++i)
            windowPower += std::pow(0.5 - 0.5 * std::cos(2 * M_PI * i / n), 2);
        for (int a = 0; a + n <= 200; a += n / 2) {
            const double mean = std::accumulate(&x[a], &x[a] + n, 0.0) / n;
            for (int k = 0; k <= n / 2; ++k) {
                std::complex<double> sum;
                for (int i = 0; i < n; ++i)
                    sum += (x[a + i] - mean) * (0.5 - 0.5 * std::cos(2 * M_PI * i / n)) *
                           std::polar(1.0, -2 * M_PI * k * i / n);
                expected[k] += std::norm(sum) * (k == 0 || k == n / 2 ? 1 : 2) /
                               (rate * windowPower * segments);
            }
        }
        const std::vector<double> d = Welch(n).density(x.data(), {{0, 200}}, rate);
        QCOMPARE(d.size(), expected.size());
        for (std::size_t k = 0; k < d.size(); ++k)
            QVERIFY2(std::abs(d[k] - expected[k]) <= 1e-9 * expected[k],
                     qPrintable(QString::number(k)));
    }

    // Steps from 0 to 1000 and back where the receiver was lost and where the source switched:
    // no segment crosses them (each segment's mean removed leaves nothing), a stretch too short
    // for a segment is left out and counted.
    void noSegmentAcrossAGap()
    {
        std::vector<Values> rows(3000, Values{});
        rows.resize(6000, Values{1000, 1000, 1000, 1000, 1000, 1000});
        rows.resize(6100, Values{});
        Recording recording;
        QString error;
        QVERIFY2(recording.open(session("gaps", rows, {3000}, 6000), &error), qPrintable(error));
        const Spectrum s = Spectrum::of(recording, 0, recording.rows(), 1024, 0, Calibration());
        QCOMPARE(std::tuple(s.segments, s.stretches, s.shortStretches, s.shortRows),
                 std::tuple(std::int64_t(8), 3, 1, std::int64_t(100)));
        QVERIFY(std::abs(s.rate - 100) < 1e-9 && std::abs(s.shortSeconds - 0.99) < 1e-9);
        for (const std::vector<double> &d : s.density)
            QCOMPARE(*std::max_element(d.begin(), d.end()), 0.0);
    }

    // The figures of any run, in counts and through a calibration, against sums over it.
    void figuresOfRuns()
    {
        std::mt19937 random(1);
        std::vector<std::int16_t> values(100000);
        std::generate(values.begin(), values.end(), [&] { return std::int16_t(random()); });
        const ColumnExtremes extremes(values);
        const ColumnStatistics statistics(values, extremes);
        Calibration calibration;
        calibration.axes[0] = {123.5, -0.25};
        for (std::size_t i = 0, a, b; i < 20000; ++i) {
            a = random() % values.size();
            b = std::min(values.size(), a + 1 + random() % (i % 2 ? 50 : values.size()));
            const std::int16_t *from = values.data() + a, *to = values.data() + b;
            const auto [min, max] = std::minmax_element(from, to);
            QCOMPARE(std::pair(extremes.over(a, b).min, extremes.over(a, b).max),
                     std::pair(*min, *max));
            if (i % 10)
                continue;
            const bool inUnits = i % 20;
            std::vector<double> v(from, to);
            if (inUnits)
                for (double &x : v)
                    x = (x - 123.5) * -0.25;
            const ColumnStatistics::Figures f =
                calibration.figures(inUnits ? 0 : 1, statistics.over(a, b));
            const double n = double(b - a), mean = std::accumulate(v.begin(), v.end(), 0.0) / n;
            const double deviations =
                std::accumulate(v.begin(), v.end(), 0.0, [&](double sum, double x) {
                    return sum + (x - mean) * (x - mean);
                });
            QCOMPARE(std::pair(f.min, f.max), std::pair(*std::min_element(v.begin(), v.end()),
                                                        *std::max_element(v.begin(), v.end())));
            QVERIFY(qAbs(f.mean - mean) < 1e-9 * (1 + std::abs(mean)));
            QVERIFY(qAbs(f.rms - std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0) /
                                           n)) < 1e-9 * (1 + f.rms));
            QVERIFY(qAbs(f.deviation - std::sqrt(deviations / n)) < 1e-9 * (1 + f.rms));
        }
    }

    // A node resting on its six faces, replayed by the simulator into --record: --calibrate
    // finds the offsets and scales it was made with, writes calibration.json beside the session
    // and never replaces it unasked.
    void calibrateFromSixFaces()
    {
        const QString logs = tmp.filePath("six faces"), link = tmp.filePath("ttyNODE");
        const std::vector<Values> rows = faces(6, 300, 100);
        QVERIFY(QDir().mkpath(logs) && write(tmp.filePath("faces.txt"), logOf(rows)));
        {
            mmtest::Nodesim node(link, {"--replay", tmp.filePath("faces.txt"), "--rate", "300"});
            QProcess recorder;
            recorder.start(MM_BINARY, {"--record", "--device", link, "--log-dir", logs});
            QTRY_COMPARE_WITH_TIMEOUT(mmtest::logRows(logs).size(), rows.size(), 60000);
            recorder.terminate();
            QVERIFY(recorder.waitForFinished(30000) && recorder.exitCode() == 0);
        }
        recorded = QDir(logs).filePath(QDir(logs).entryList({"*.session.jsonl"}).value(0));
        QString said;
        QCOMPARE(run({"--calibrate", recorded, "--rest", "0.5", "--gyro-scale", "0.0625"}, &said),
                 0);
        const QString file = QDir(logs).filePath("calibration.json");
        QVERIFY2(said.count(QRegularExpression("rest \\d: .*, (X|Y|Z) (up|down);")) == 6 &&
                     said.contains("written to " + file),
                 qPrintable(said));
        Calibration c;
        QString error;
        QVERIFY2(Calibration::read(file, &c, &error), qPrintable(error));
        for (int a = 0; a < 3; ++a) {
            QVERIFY2(std::abs(c.axes[a].offset - accOffset[a]) < 0.005 * 1000 * 2 &&
                         std::abs(c.axes[a].scale / accScale[a] - 1) < 0.005 &&
                         std::abs(c.axes[3 + a].offset / gyroOffset[a] - 1) < 0.005 &&
                         c.axes[3 + a].scale == 0.0625,
                     qPrintable(said));
        }
        const QRegularExpressionMatch residual =
            QRegularExpression("residual of the fit: (\\S+) g").match(said);
        QVERIFY(residual.hasMatch() && residual.captured(1).toDouble() < 0.001);
        QCOMPARE(run({"--calibrate", recorded, "--rest", "0.5"}, &said), 0);
        QVERIFY(said.endsWith("not written: " + file + " exists (give --output to replace it)\n"));
    }

    // A session of five faces: the face missing is named, that axis gets no scale in the file
    // written where --output says. A log file on its own needs a rate.
    void calibrateWithAFaceMissing()
    {
        const QString log = tmp.filePath("five faces.txt"),
                      out = tmp.filePath("my calibration.json");
        QVERIFY(write(log, logOf(faces(5, 300, 100))));
        QString said;
        QCOMPARE(run({"--calibrate", log, "--rest", "0.5"}, &said), 2); // no times
        QVERIFY(said.contains("give --rate"));
        const QString five = session("five faces", faces(5, 300, 100));
        QCOMPARE(run({"--calibrate", five, "--rest", "0.5", "--output", out}, &said), 0);
        QVERIFY2(said.contains("not determined: accelerometer Z: offset and scale, as it never "
                               "rested Z down\n") &&
                     said.contains("not determined: gyroscope: scale") &&
                     !said.contains("residual"),
                 qPrintable(said));
        const QJsonObject file = QJsonDocument::fromJson(readAll(out)).object();
        QCOMPARE(file["accelerometer"]["z"], QJsonValue());
        QVERIFY(file["accelerometer"]["y"]["scale"].toDouble() > 0);
        QCOMPARE(file["gyroscope"]["x"]["scale"], QJsonValue());
    }

    // The recorded session exported through its calibration: the rows' columns named with their
    // units and in them; the spectrum's densities in units squared per hertz (the counts'
    // times the scale squared).
    void exportsInUnits()
    {
        QVERIFY(!recorded.isEmpty());
        const QString calibration = QFileInfo(recorded).dir().filePath("calibration.json"),
                      rowsCsv = tmp.filePath("in units.csv");
        QCOMPARE(run({"--view", recorded, "--calibration", calibration, "--export", rowsCsv}), 0);
        for (const QStringList &units : {QStringList{"--calibration", calibration}, QStringList()})
            QCOMPARE(
                run(QStringList{"--view", recorded, "--spectrum", "--segment", "256", "--export",
                                tmp.filePath(QString::number(units.size()) + "psd.csv")} +
                    units),
                0);
        Calibration c;
        QString error;
        QVERIFY(Calibration::read(calibration, &c, &error));
        const QStringList csv = QString(readAll(rowsCsv)).trimmed().split('\n');
        const QStringList logged = mmtest::logRows(QFileInfo(recorded).path());
        QCOMPARE(csv.first(), "time_s,acc_x_g,acc_y_g,acc_z_g,gyro_x_dps,gyro_y_dps,gyro_z_dps");
        QCOMPARE(csv.size(), logged.size() + 1);
        // A count's step is about 0.001 g and 0.0625 °/s: four decimals and more, and three.
        for (int r = 0; r < logged.size(); r += 97)
            for (int a = 0; a < 6; ++a) {
                const double count = logged[r].section(',', a + 1, a + 1).toDouble();
                const double expected = (count - c.axes[a].offset) * c.axes[a].scale;
                const QString value = csv[r + 1].section(',', a + 1, a + 1);
                if (a < 3)
                    QVERIFY2(value.section('.', 1).size() >= 4 &&
                                 std::abs(value.toDouble() - expected) <= 0.00005,
                             qPrintable(value));
                else
                    QCOMPARE(value, QString::number(expected, 'f', 3));
            }
        const QStringList psd = QString(readAll(tmp.filePath("2psd.csv"))).trimmed().split('\n'),
                          counts = QString(readAll(tmp.filePath("0psd.csv"))).trimmed().split('\n');
        QCOMPARE(psd.first(), QString(csv.first()).replace("time_s", "frequency_hz"));
        QCOMPARE(psd.size() + counts.size(), 2 * (1 + 129));
        for (int k = 1; k < psd.size(); ++k)
            for (int a = 0; a < 6; ++a) {
                const double ratio = psd[k].section(',', a + 1, a + 1).toDouble() /
                                     counts[k].section(',', a + 1, a + 1).toDouble();
                QVERIFY(std::abs(ratio / (c.axes[a].scale * c.axes[a].scale) - 1) < 1e-9);
            }
    }
};

QTEST_MAIN(TestAnalysis)
#include "tst_analysis.moc"
