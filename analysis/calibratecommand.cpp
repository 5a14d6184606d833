#include "calibratecommand.h"

#include "calibrator.h"
#include "session.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace
{

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
}

QString number(double value)
{
    return QString::number(value, 'g', 7);
}

} // namespace

int runCalibrate(int argc, char **argv, const QString &version)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("motionmonitor");
    QCoreApplication::setApplicationVersion(version);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Measures a calibration from a recording of the node at rest: the gyroscope's\n"
        "offsets from every rest, and each accelerometer axis's offset and scale once\n"
        "the node rested with that axis up and down (six faces for all three).");
    parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption calibrate("calibrate", "The recording: a session or a log file.",
                                       "recording");
    const QCommandLineOption output(
        "output",
        "Write the calibration to <file>, replacing it. Without it, calibration.json\n"
        "beside the recording is written only when it does not exist.",
        "file");
    const QCommandLineOption gyroScale(
        "gyro-scale", "The gyroscope's scale in °/s per count (measured with one turn).", "scale");
    const QCommandLineOption rest("rest", "The shortest rest in seconds (default 2).", "seconds");
    const QCommandLineOption rate("rate", "Rows per second of a log file without a session.", "hz");
    parser.addOptions({calibrate, output, gyroScale, rest, rate});
    const auto usage = [](const QString &error) {
        std::fprintf(stderr, "motionmonitor: %s (see --calibrate --help)\n", qPrintable(error));
        return 2;
    };
    // "--calibrate --help" would take --help for the recording.
    const QStringList arguments = app.arguments();
    if (arguments.contains("--help") || arguments.contains("-h") || arguments.contains("-?"))
        parser.showHelp(0);
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usage("unexpected argument " + parser.positionalArguments().first());
    // A number option: false when given outside low .. high; *v unchanged when not given.
    const auto value = [&](const QCommandLineOption &o, double low, double high, double *v) {
        bool ok = true;
        if (parser.isSet(o))
            *v = parser.value(o).toDouble(&ok);
        return ok && *v >= low && *v <= high;
    };
    double scale = 0, minimum = 2, rowRate = 0;
    if (!value(gyroScale, -1e6, 1e6, &scale) || (parser.isSet(gyroScale) && scale == 0))
        return usage("--gyro-scale takes °/s per count, a number other than 0");
    if (!value(rest, 0.1, 3600, &minimum))
        return usage("--rest takes seconds from 0.1 to 3600");
    if (!value(rate, 0, 1e6, &rowRate) || (parser.isSet(rate) && rowRate == 0))
        return usage("--rate takes rows per second, more than 0 and up to 1000000");

    const QString path = parser.value(calibrate);
    Recording recording;
    QString error;
    if (!recording.open(path, &error)) {
        std::fprintf(stderr, "motionmonitor: %s\n", qPrintable(error));
        return 1;
    }
    if (!recording.note().isEmpty())
        std::fprintf(stderr, "motionmonitor: %s\n", qPrintable(recording.note()));
    if (!recording.timeline() && rowRate == 0)
        return usage(path + " is a log file without a session, which has no times: give --rate "
                            "(rows per second; at the line's pace, 960 / the frame's bytes)");

    const Calibrator fit(recording, rowRate, minimum, scale);
    say(QStringLiteral("%1: %2 rows, %3 rests of %4 s or more")
            .arg(path)
            .arg(recording.rows())
            .arg(fit.finder.rests().size())
            .arg(minimum));
    for (std::size_t i = 0; i < fit.faces.size(); ++i) {
        const RestFinder::Rest &r = fit.finder.rests()[i];
        QStringList means;
        for (double m : r.mean)
            means << QString::number(m, 'f', 1);
        say(QStringLiteral("rest %1: %2 s to %3 s, rows %4 to %5, %6; mean counts %7")
                .arg(i + 1)
                .arg(r.start, 0, 'f', 1)
                .arg(r.start + r.seconds, 0, 'f', 1)
                .arg(r.rows.first)
                .arg(r.rows.end - 1)
                .arg(Calibrator::faceName(fit.faces[i]), means.join(' ')));
    }
    for (int c = 0; c < Recording::columnCount; ++c) {
        const Calibration::Axis &a = fit.calibration.axes[std::size_t(c)];
        if (a.known() || (c >= Recording::GyroX && !fit.finder.rests().empty()))
            say(QStringLiteral("%1: offset %2 counts, scale %3")
                    .arg(fit.calibration.csvName(c).section('_', 0, 1), number(a.offset),
                         a.known() ? number(a.scale) + ' ' + fit.calibration.unit(c) + " per count"
                                   : QStringLiteral("unknown")));
    }
    if (fit.residual >= 0)
        say(QStringLiteral("residual of the fit: %1 g (the root mean square of each face's "
                           "|acceleration| - 1 g)")
                .arg(fit.residual, 0, 'g', 3));
    for (const QString &line : fit.missing)
        say("not determined: " + line);
    if (fit.finder.rests().empty())
        return 1;

    QString file = parser.value(output);
    if (file.isEmpty()) {
        file = QDir::cleanPath(QFileInfo(path).dir().filePath(Session::calibrationFile));
        if (QFileInfo::exists(file)) {
            say(QStringLiteral("not written: %1 exists (give --output to replace it)").arg(file));
            return 0;
        }
    }
    QJsonObject extra{{"from", QFileInfo(path).fileName()},
                      {"made", QDateTime::currentDateTime()
                                   .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
                                   .toString(Qt::ISODate)}};
    if (fit.residual >= 0)
        extra["residual_g"] = fit.residual;
    if (!fit.calibration.write(file, extra, &error)) {
        std::fprintf(stderr, "motionmonitor: %s\n", qPrintable(error));
        return 1;
    }
    say("written to " + file);
    return 0;
}
