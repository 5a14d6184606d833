#include "spectrumplot.h"

#include "calibration.h"
#include "plotlook.h"
#include "sample.h"
#include "spectrum.h"

#include <qcustomplot.h>

namespace
{

QString frequencyText(double f, bool hertz)
{
    return QString::number(f, 'g', 4) + (hertz ? QStringLiteral(" Hz") : QString());
}

} // namespace

SpectrumPlot::SpectrumPlot(QCustomPlot *plot, int sensor, int firstColumn, const QFont &font)
    : target(plot), sensor(sensor), firstColumn(firstColumn)
{
    plotlook::setUp(plot, sensor, QString(), font);
    for (int axis = 0; axis < 3; ++axis)
        plotlook::styleCurve(plot->addGraph(), sensor, axis);
    setLogarithmic(true);
}

QString SpectrumPlot::describe(const Spectrum &s)
{
    QString text = s.rate > 0 ? QStringLiteral("%1 rows/s").arg(s.rate, 0, 'f', 2)
                              : QStringLiteral("no rate: cycles per row");
    text += QStringLiteral(", step %1, %2 segments of %3 rows")
                .arg(frequencyText(s.step(), s.rate > 0))
                .arg(s.segments)
                .arg(s.length);
    if (s.shortStretches > 0)
        text += QStringLiteral("; left out: %1 %2 shorter than a segment (%3 rows%4)")
                    .arg(s.shortStretches)
                    .arg(s.shortStretches == 1 ? "stretch" : "stretches")
                    .arg(s.shortRows)
                    .arg(s.rate > 0 && s.shortSeconds > 0
                             ? QStringLiteral(", %1 s").arg(s.shortSeconds, 0, 'f', 1)
                             : QString());
    return text;
}

void SpectrumPlot::show(const Spectrum &s, const Calibration &calibration)
{
    QStringList peaks, units;
    for (int axis = 0; axis < 3; ++axis) {
        const int c = firstColumn + axis;
        const std::vector<double> &d = s.density[std::size_t(c)];
        QVector<double> keys, values;
        for (std::size_t k = 0; k < d.size(); ++k) {
            keys << s.frequency(k);
            values << d[k];
        }
        target->graph(axis)->setData(keys, values, true);
        if (!d.empty())
            peaks << QStringLiteral("%1 %2")
                         .arg(QChar("XYZ"[axis]))
                         .arg(frequencyText(s.frequency(s.peak(c)), s.rate > 0));
        const QString unit = calibration.unit(c);
        units << (unit.isEmpty()               ? QStringLiteral("counts²")
                  : unit == QLatin1String("g") ? QStringLiteral("g²")
                                               : QStringLiteral("(%1)²").arg(unit));
    }
    units.removeDuplicates();
    const QString per = s.rate > 0 ? QStringLiteral("/Hz") : QStringLiteral(" per cycle/row");
    target->yAxis->setLabel(QStringLiteral("Power spectral density (%1)")
                                .arg(units.join(per + QStringLiteral(", ")) + per));
    target->xAxis->setLabel(s.rate > 0 ? QStringLiteral("Frequency (Hz)")
                                       : QStringLiteral("Frequency (cycles per row)"));
    const QString name =
        sensor == sensor::gyroscope ? QStringLiteral("Gyroscope") : QStringLiteral("Accelerometer");
    plotlook::setTitle(target, s.empty() ? QStringLiteral("%1: no spectrum, as no stretch in view "
                                                          "holds a segment of %2 rows")
                                               .arg(name)
                                               .arg(s.length)
                                         : QStringLiteral("%1 spectrum: %2\nPeaks: %3")
                                               .arg(name, describe(s), peaks.join(", ")));
    fit();
}

void SpectrumPlot::setLogarithmic(bool on)
{
    log = on;
    // Densities span decades: powers of ten read better than long decimals.
    target->yAxis->setNumberFormat(on ? "eb" : "gb");
    target->yAxis->setNumberPrecision(on ? 0 : 6);
    for (QCPAxis *axis : {target->xAxis, target->yAxis}) {
        axis->setScaleType(on ? QCPAxis::stLogarithmic : QCPAxis::stLinear);
        if (on)
            axis->setTicker(QSharedPointer<QCPAxisTickerLog>::create());
        else
            axis->setTicker(QSharedPointer<QCPAxisTicker>::create());
    }
    fit();
}

void SpectrumPlot::fit()
{
    // A logarithmic axis takes positive keys and values only.
    const QCP::SignDomain domain = log ? QCP::sdPositive : QCP::sdBoth;
    QCPRange keys, values;
    bool anyKey = false, anyValue = false;
    for (int i = 0; i < target->graphCount(); ++i) {
        bool found = false;
        const QCPRange k = target->graph(i)->getKeyRange(found, domain);
        if (found)
            keys = anyKey ? (keys.expand(k), keys) : k;
        anyKey = anyKey || found;
        const QCPRange v = target->graph(i)->getValueRange(found, domain);
        if (found)
            values = anyValue ? (values.expand(v), values) : v;
        anyValue = anyValue || found;
    }
    if (anyKey)
        target->xAxis->setRange(keys);
    if (anyValue)
        target->yAxis->setRange(log ? QCPRange(values.lower / 2, values.upper * 2)
                                    : QCPRange(0, values.upper * 1.05));
}
