#include "recordingcurve.h"

#include <cmath>

RecordingCurve::RecordingCurve(QCPAxis *keyAxis, QCPAxis *valueAxis,
                               const std::vector<std::int16_t> &values)
    : QCPAbstractPlottable(keyAxis, valueAxis), values(values), extremes(values)
{
    setSelectable(QCP::stNone);
}

double RecordingCurve::selectTest(const QPointF &, bool, QVariant *) const
{
    return -1;
}

QCPRange RecordingCurve::getKeyRange(bool &foundRange, QCP::SignDomain inSignDomain) const
{
    foundRange = !values.empty() && inSignDomain == QCP::sdBoth;
    return foundRange ? QCPRange(0, double(values.size() - 1)) : QCPRange();
}

QCPRange RecordingCurve::getValueRange(bool &foundRange, QCP::SignDomain inSignDomain,
                                       const QCPRange &inKeyRange) const
{
    double first = 0, end = double(values.size());
    if (inKeyRange != QCPRange()) {
        first = std::max(first, std::ceil(inKeyRange.lower));
        end = std::min(end, std::floor(inKeyRange.upper) + 1);
    }
    foundRange = first < end && inSignDomain == QCP::sdBoth;
    if (!foundRange)
        return QCPRange();
    const Extremes<std::int16_t> e = extremes.over(std::size_t(first), std::size_t(end));
    return QCPRange(e.min, e.max);
}

void RecordingCurve::draw(QCPPainter *painter)
{
    const QCPAxis *keyAxis = mKeyAxis.data();
    if (!keyAxis || !mValueAxis || values.empty())
        return;
    // The rows in view and one more on each side, so the line runs on to
    // the edges.
    const double lastRow = double(values.size() - 1);
    const double from = std::max(0.0, std::floor(keyAxis->range().lower));
    const double to = std::min(lastRow, std::ceil(keyAxis->range().upper));
    if (from > to)
        return;
    const auto first = std::size_t(from), last = std::size_t(to);
    const double pixels = std::abs(keyAxis->coordToPixel(to) - keyAxis->coordToPixel(from));

    QPolygonF line;
    if (double(last - first + 1) <= 2 * pixels + 2) {
        line.reserve(int(last - first + 1));
        for (std::size_t row = first; row <= last; ++row)
            line.append(coordsToPixels(double(row), values[row]));
    } else {
        // One pixel column at a time: its rows' extremes, the one nearer to
        // where the line comes from first.
        const auto columns = std::size_t(std::ceil(pixels)) + 1;
        const std::size_t rows = last - first + 1;
        line.reserve(int(2 * columns));
        double previous = values[first];
        for (std::size_t c = 0; c < columns; ++c) {
            const std::size_t a = first + rows * c / columns, b = first + rows * (c + 1) / columns;
            const Extremes<std::int16_t> e = extremes.over(a, b);
            const bool minFirst = std::abs(previous - e.min) <= std::abs(previous - e.max);
            const double key = 0.5 * double(a + b - 1);
            line.append(coordsToPixels(key, minFirst ? e.min : e.max));
            line.append(coordsToPixels(key, minFirst ? e.max : e.min));
            previous = minFirst ? e.max : e.min;
        }
    }
    applyDefaultAntialiasingHint(painter);
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);
    painter->drawPolyline(line);
}

void RecordingCurve::drawLegendIcon(QCPPainter *painter, const QRectF &rect) const
{
    applyDefaultAntialiasingHint(painter);
    painter->setPen(mPen);
    painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
}
