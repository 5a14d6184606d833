#include "calibration.h"

#include <QFile>
#include <QJsonDocument>

#include <cmath>

namespace
{

constexpr const char *format = "motionmonitor-calibration";
// Each sensor's key and unit, by the columns' order: three of each.
constexpr const char *sensors[2] = {"accelerometer", "gyroscope"};
const QString units[2] = {QStringLiteral("g"), QStringLiteral("°/s")};
constexpr const char *csvUnits[2] = {"g", "dps"};
constexpr const char *axisKeys[3] = {"x", "y", "z"};

} // namespace

bool Calibration::any() const
{
    for (const Axis &a : axes)
        if (a.known())
            return true;
    return false;
}

double Calibration::value(int column, double count) const
{
    const Axis &a = axes[std::size_t(column)];
    return a.known() ? (count - a.offset) * a.scale : count;
}

ColumnStatistics::Figures Calibration::figures(int column,
                                               const ColumnStatistics::Figures &counts) const
{
    if (!known(column))
        return counts;
    const Axis &a = axes[std::size_t(column)];
    ColumnStatistics::Figures f = counts;
    f.min = value(column, a.scale > 0 ? counts.min : counts.max);
    f.max = value(column, a.scale > 0 ? counts.max : counts.min);
    f.mean = value(column, counts.mean);
    f.deviation = counts.deviation * std::abs(a.scale);
    // The mean square about the offset: the variance plus the mean's distance.
    f.rms = std::abs(a.scale) * std::hypot(counts.deviation, counts.mean - a.offset);
    return f;
}

QString Calibration::unit(int column) const
{
    return known(column) ? units[column / 3] : QString();
}

QString Calibration::csvName(int column) const
{
    const QString name = Recording::countColumns()[std::size_t(column)].name;
    return known(column) ? name + '_' + csvUnits[column / 3] : name;
}

Recording::CsvColumns Calibration::csvColumns() const
{
    Recording::CsvColumns columns;
    for (int c = 0; c < Recording::columnCount; ++c) {
        const Axis &a = axes[std::size_t(c)];
        columns[std::size_t(c)] = {csvName(c), a.offset, a.scale, decimals(c)};
    }
    return columns;
}

int Calibration::decimals(int column) const
{
    if (!known(column))
        return 0;
    const double step = std::abs(axes[std::size_t(column)].scale);
    return std::clamp(int(std::ceil(-std::log10(step))) + 1, 0, 15);
}

bool Calibration::fromJson(const QJsonObject &object, Calibration *calibration, QString *error)
{
    if (object.value("format") != QLatin1String(format) || object.value("version") != 1) {
        *error = QStringLiteral("not a calibration: it does not say \"format\":\"%1\","
                                "\"version\":1")
                     .arg(format);
        return false;
    }
    Calibration read;
    for (int s = 0; s < 2; ++s) {
        const QJsonValue sensor = object.value(sensors[s]);
        if (sensor.isUndefined() || sensor.isNull())
            continue;
        const QString where = QString::fromLatin1(sensors[s]);
        if (!sensor.isObject()) {
            *error = QStringLiteral("\"%1\" is not an object").arg(where);
            return false;
        }
        if (sensor["unit"] != units[s]) {
            *error = QStringLiteral("\"%1\" needs \"unit\": \"%2\"").arg(where, units[s]);
            return false;
        }
        for (int a = 0; a < 3; ++a) {
            const QJsonValue axis = sensor[axisKeys[a]];
            if (axis.isUndefined() || axis.isNull())
                continue;
            const QJsonValue offset = axis["offset"], scale = axis["scale"];
            const auto within = [](const QJsonValue &v, double bound) {
                return v.isDouble() && std::abs(v.toDouble()) <= bound;
            };
            if (!axis.isObject() || !within(offset, maxOffset) ||
                !(scale.isNull() || (within(scale, maxScale) && scale.toDouble() != 0))) {
                *error = QStringLiteral("\"%1\" \"%2\" needs an \"offset\" from -%3 to %3 "
                                        "and a \"scale\" from -%4 to %4 other than 0, or null")
                             .arg(where, axisKeys[a])
                             .arg(maxOffset)
                             .arg(maxScale);
                return false;
            }
            read.axes[std::size_t(3 * s + a)] = {offset.toDouble(), scale.toDouble()};
        }
    }
    *calibration = read;
    return true;
}

QJsonObject Calibration::toJson() const
{
    QJsonObject object{{"format", format}, {"version", 1}};
    for (int s = 0; s < 2; ++s) {
        QJsonObject sensor{{"unit", units[s]}};
        for (int a = 0; a < 3; ++a) {
            // An offset without a scale is kept (the gyroscope's, measured at
            // rest); an axis with neither is null.
            const Axis &axis = axes[std::size_t(3 * s + a)];
            sensor[axisKeys[a]] =
                !axis.known() && axis.offset == 0
                    ? QJsonValue()
                    : QJsonObject{{"offset", axis.offset},
                                  {"scale", axis.known() ? QJsonValue(axis.scale) : QJsonValue()}};
        }
        object[sensors[s]] = sensor;
    }
    return object;
}

bool Calibration::ofRecording(const Recording &recording, Calibration *calibration, QString *error)
{
    *calibration = Calibration();
    const Timeline *timeline = recording.timeline();
    if (!timeline || timeline->facts.calibration.isEmpty() ||
        fromJson(timeline->facts.calibration, calibration, error))
        return true;
    *error = QStringLiteral("the session's calibration is not used: ") + *error;
    return false;
}

bool Calibration::read(const QString &path, Calibration *calibration, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
    QString why;
    if (!document.isObject())
        why = parse.error != QJsonParseError::NoError ? QStringLiteral("not JSON: %1 at byte %2")
                                                            .arg(parse.errorString())
                                                            .arg(parse.offset)
                                                      : QStringLiteral("not a JSON object");
    else if (fromJson(document.object(), calibration, &why))
        return true;
    *error = path + QStringLiteral(": ") + why;
    return false;
}

bool Calibration::write(const QString &path, const QJsonObject &extra, QString *error) const
{
    QJsonObject object = toJson();
    for (auto i = extra.begin(); i != extra.end(); ++i)
        object[i.key()] = i.value();
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Indented);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size() &&
        file.flush())
        return true;
    *error = path + QStringLiteral(": ") + file.errorString();
    return false;
}
