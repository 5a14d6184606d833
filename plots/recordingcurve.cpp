#include "recordingcurve.h"

#include <algorithm>
#include <cmath>

RecordingCurve::RecordingCurve(QCPAxis *keyAxis, QCPAxis *valueAxis,
                               const std::vector<std::int16_t> &values, const RowKeys *keys)
    : QCPAbstractPlottable(keyAxis, valueAxis), values(values), keys(keys ? *keys : byPosition),
      blocks(values)
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
    return foundRange ? QCPRange(keys.key(0), keys.key(values.size() - 1)) : QCPRange();
}

QCPRange RecordingCurve::getValueRange(bool &foundRange, QCP::SignDomain inSignDomain,
                                       const QCPRange &inKeyRange) const
{
    auto [first, end] = std::pair<std::size_t, std::size_t>(0, values.size());
    if (inKeyRange != QCPRange())
        std::tie(first, end) = keys.within(inKeyRange.lower, inKeyRange.upper, values.size());
    foundRange = first < end && inSignDomain == QCP::sdBoth;
    if (!foundRange)
        return QCPRange();
    const Extremes<std::int16_t> e = blocks.over(first, end);
    return QCPRange(std::min(shown(e.min), shown(e.max)), std::max(shown(e.min), shown(e.max)));
}

void RecordingCurve::draw(QCPPainter *painter)
{
    const QCPAxis *keyAxis = mKeyAxis.data();
    if (!keyAxis || !mValueAxis || values.empty())
        return;
    // The rows in view and one more on each side, so the line runs on to
    // the edges.
    const QCPRange view = keyAxis->range();
    auto [first, end] = keys.within(view.lower, view.upper, values.size());
    first -= first > 0;
    end += end < values.size();
    applyDefaultAntialiasingHint(painter);
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);
    // One polyline for each stretch between breaks.
    auto brk = std::upper_bound(keys.breaks.begin(), keys.breaks.end(), first);
    for (std::size_t a = first; a < end;) {
        const std::size_t b = brk != keys.breaks.end() && *brk < end ? *brk++ : end;
        QPolygonF line;
        trace(a, b, &line);
        painter->drawPolyline(line);
        a = b;
    }
}

void RecordingCurve::trace(std::size_t first, std::size_t end, QPolygonF *line) const
{
    const QCPAxis *keyAxis = mKeyAxis.data();
    const QCPRange view = keyAxis->range();
    const double lo = std::max(keys.key(first), view.lower);
    const double hi = std::min(keys.key(end - 1), view.upper);
    const double pixels = std::abs(keyAxis->coordToPixel(hi) - keyAxis->coordToPixel(lo));
    if (double(end - first) <= 2 * pixels + 2) {
        line->reserve(int(end - first));
        for (std::size_t row = first; row < end; ++row)
            line->append(coordsToPixels(keys.key(row), shown(values[row])));
        return;
    }
    // One pixel column at a time: its rows' extremes, the one nearer to
    // where the line comes from first. A row beyond the view on either side
    // is a point of its own.
    const auto columns = std::size_t(std::ceil(pixels)) + 1;
    const double width = (hi - lo) / double(columns);
    line->reserve(int(2 * columns + 2));
    std::size_t a = std::max(first, keys.firstFrom(lo, values.size()));
    if (a > first)
        line->append(coordsToPixels(keys.key(first), shown(values[first])));
    double previous = shown(values[std::min(a, end - 1)]);
    for (std::size_t c = 0; c < columns && a < end; ++c) {
        const std::size_t b = c + 1 == columns
                                  ? keys.within(lo, hi, values.size()).second
                                  : keys.firstFrom(lo + double(c + 1) * width, values.size());
        const std::size_t stop = std::clamp(b, a, end);
        if (stop == a)
            continue;
        const Extremes<std::int16_t> e = blocks.over(a, stop);
        const double low = shown(e.min), high = shown(e.max);
        const bool lowFirst = std::abs(previous - low) <= std::abs(previous - high);
        const double key = lo + (double(c) + 0.5) * width;
        line->append(coordsToPixels(key, lowFirst ? low : high));
        line->append(coordsToPixels(key, lowFirst ? high : low));
        previous = lowFirst ? high : low;
        a = stop;
    }
    for (; a < end; ++a)
        line->append(coordsToPixels(keys.key(a), shown(values[a])));
}

void RecordingCurve::setCounts(double offset, double scale)
{
    countOffset = offset;
    countScale = scale;
}

void RecordingCurve::drawLegendIcon(QCPPainter *painter, const QRectF &rect) const
{
    applyDefaultAntialiasingHint(painter);
    painter->setPen(mPen);
    painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
}
