#include "liveplotgraph.h"

#include <climits>
#include <cmath>
#include <limits>

namespace
{
constexpr int blockBits = 4;
constexpr std::int64_t blockSize = std::int64_t(1) << blockBits;
// Below this many points a column is read point by point: the tree would not pay.
constexpr std::int64_t scanLimit = 3 * blockSize;
// Keys above this are no longer whole numbers that a double holds exactly.
constexpr double keyLimit = 4503599627370496.0; // 2^52
} // namespace

LivePlotGraph::LivePlotGraph(QCPAxis *keyAxis, QCPAxis *valueAxis) : QCPGraph(keyAxis, valueAxis) {}

void LivePlotGraph::appendPoint(double key, double value)
{
    const bool follows = mDataContainer->isEmpty()
                             ? key >= 0 && key < keyLimit && key == std::floor(key)
                             : key == double(endKey);
    mDataContainer->add(QCPGraphData(key, value));
    if (!follows)
        summaryValid = false;
    if (!summaryValid)
        return;

    const auto k = std::int64_t(key);
    endKey = k + 1;
    const auto first = std::int64_t(mDataContainer->constBegin()->key);
    if ((endKey - first) / blockSize + 2 > blocks) {
        rebuildSummary();
        return;
    }
    auto e = Extremes<double>::of(value);
    if (k % blockSize != 0) {
        // A block that began before the points now held (after a start at an
        // unaligned key) may carry stale extremes; it is only ever read in
        // part, point by point, so merging into it does no harm.
        e = tree[size_t(blocks + ((k >> blockBits) & (blocks - 1)))];
        e.merge(value);
    }
    setLeaf(k >> blockBits, e);
}

void LivePlotGraph::dropBefore(double key)
{
    mDataContainer->removeBefore(key);
}

void LivePlotGraph::clearPoints()
{
    mDataContainer->clear();
    tree.clear();
    tree.shrink_to_fit();
    blocks = 0;
    endKey = 0;
    summaryValid = true;
}

void LivePlotGraph::setLeaf(std::int64_t block, Extremes<double> e)
{
    auto i = size_t(blocks + (block & (blocks - 1)));
    tree[i] = e;
    for (i >>= 1; i > 0; i >>= 1)
        updateNode(i);
}

void LivePlotGraph::updateNode(std::size_t i)
{
    tree[i] = tree[2 * i];
    tree[i].merge(tree[2 * i + 1]);
}

void LivePlotGraph::rebuildSummary()
{
    if (mDataContainer->isEmpty()) {
        tree.clear();
        blocks = 0;
        return;
    }
    // Room for twice the keys held, so that growing the window costs a
    // rebuild only now and then.
    const auto first = std::int64_t(mDataContainer->constBegin()->key);
    const std::int64_t needed = (endKey - first) / blockSize + 2;
    std::int64_t n = 16;
    while (n < 2 * needed)
        n *= 2;
    blocks = n;
    tree.assign(size_t(2 * n), Extremes<double>::none());
    for (auto it = mDataContainer->constBegin(); it != mDataContainer->constEnd(); ++it)
        tree[size_t(n + ((std::int64_t(it->key) >> blockBits) & (n - 1)))].merge(it->value);
    for (auto i = size_t(n - 1); i > 0; --i)
        updateNode(i);
}

bool LivePlotGraph::summaryCovers(const QCPGraphDataContainer::const_iterator &begin,
                                  const QCPGraphDataContainer::const_iterator &end) const
{
    // The points must be exactly those appended through appendPoint: nobody
    // has changed the container behind the summary's back.
    if (!summaryValid || blocks == 0 || mDataContainer->isEmpty() || begin == end)
        return false;
    const double first = mDataContainer->constBegin()->key;
    const double last = (mDataContainer->constEnd() - 1)->key;
    return last == double(endKey - 1) && double(mDataContainer->size()) == last - first + 1;
}

bool LivePlotGraph::summarises() const
{
    return summaryCovers(mDataContainer->constBegin(), mDataContainer->constEnd());
}

Extremes<double> LivePlotGraph::scan(std::int64_t first, std::int64_t last) const
{
    const auto base = std::int64_t(mDataContainer->constBegin()->key);
    auto it = mDataContainer->constBegin() + int(first - base);
    auto e = Extremes<double>::of(it->value);
    for (std::int64_t k = first + 1; k <= last; ++k)
        e.merge((++it)->value);
    return e;
}

Extremes<double> LivePlotGraph::extremes(std::int64_t first, std::int64_t last) const
{
    if (last - first < scanLimit)
        return scan(first, last);

    // Whole blocks from the tree, the ragged ends point by point.
    const std::int64_t wholeFirst = (first + blockSize - 1) & ~(blockSize - 1);
    const std::int64_t wholeEnd = (last + 1) & ~(blockSize - 1);
    auto e = Extremes<double>::none();
    if (wholeFirst > first)
        e = scan(first, wholeFirst - 1);
    if (wholeEnd <= last)
        e.merge(scan(wholeEnd, last));
    auto take = [&](std::int64_t lo, std::int64_t hi) { // leaves lo..hi, inclusive
        auto l = size_t(lo + blocks);
        auto r = size_t(hi + blocks + 1);
        while (l < r) {
            if (l & 1)
                e.merge(tree[l++]);
            if (r & 1)
                e.merge(tree[--r]);
            l >>= 1;
            r >>= 1;
        }
    };
    const std::int64_t mask = blocks - 1;
    const std::int64_t lo = (wholeFirst >> blockBits) & mask;
    const std::int64_t hi = ((wholeEnd >> blockBits) - 1) & mask;
    if (lo <= hi) {
        take(lo, hi);
    } else {
        take(lo, mask);
        take(0, hi);
    }
    return e;
}

void LivePlotGraph::getOptimizedLineData(QVector<QCPGraphData> *lineData,
                                         const QCPGraphDataContainer::const_iterator &begin,
                                         const QCPGraphDataContainer::const_iterator &end) const
{
    QCPAxis *keyAxis = mKeyAxis.data();
    // The summary serves the case this graph is made for: a linear key axis
    // running left to right, adaptive sampling on, the points as appended.
    // Anything else is left to the base class.
    if (!lineData || !keyAxis || !mValueAxis || !mAdaptiveSampling ||
        keyAxis->scaleType() != QCPAxis::stLinear || keyAxis->pixelOrientation() != 1 ||
        !summaryCovers(begin, end)) {
        QCPGraph::getOptimizedLineData(lineData, begin, end);
        return;
    }
    const double keyPixelSpan =
        qAbs(keyAxis->coordToPixel(begin->key) - keyAxis->coordToPixel((end - 1)->key));
    // Fewer than two points per pixel: the base class takes every point.
    if (!(2 * keyPixelSpan + 2 < double(std::numeric_limits<int>::max())) ||
        int(end - begin) < int(2 * keyPixelSpan + 2)) {
        QCPGraph::getOptimizedLineData(lineData, begin, end);
        return;
    }

    // The clusters of QCPGraph's adaptive sampling: one per pixel column,
    // drawn as its first point (when the line comes from afar), its minimum,
    // its maximum and its last point (when the line goes afar). The points of
    // a column are found from the keys instead of by walking through them.
    const auto base = std::int64_t(mDataContainer->constBegin()->key);
    auto valueAt = [&](std::int64_t key) {
        return (mDataContainer->constBegin() + int(key - base))->value;
    };
    const auto endOfData = std::int64_t((end - 1)->key) + 1;
    std::int64_t first = std::int64_t(begin->key);
    double startKey = keyAxis->pixelToCoord(int(keyAxis->coordToPixel(double(first))));
    double lastIntervalEndKey = startKey;
    const double keyEpsilon =
        qAbs(startKey - keyAxis->pixelToCoord(keyAxis->coordToPixel(startKey) + 1.0));
    for (;;) {
        // The column holds the keys below startKey + keyEpsilon.
        const double limit = startKey + keyEpsilon;
        std::int64_t next = first + 1;
        if (limit > double(next))
            next = limit < double(endOfData) ? std::int64_t(std::ceil(limit)) : endOfData;
        if (next - first >= 2) {
            if (lastIntervalEndKey < startKey - keyEpsilon)
                lineData->append(QCPGraphData(startKey + keyEpsilon * 0.2, valueAt(first)));
            const Extremes<double> e = extremes(first, next - 1);
            lineData->append(QCPGraphData(startKey + keyEpsilon * 0.25, e.min));
            lineData->append(QCPGraphData(startKey + keyEpsilon * 0.75, e.max));
            if (next<endOfData &&double(next)> startKey + keyEpsilon * 2)
                lineData->append(QCPGraphData(startKey + keyEpsilon * 0.8, valueAt(next - 1)));
        } else {
            lineData->append(QCPGraphData(double(first), valueAt(first)));
        }
        if (next >= endOfData)
            break;
        lastIntervalEndKey = double(next - 1);
        first = next;
        startKey = keyAxis->pixelToCoord(int(keyAxis->coordToPixel(double(first))));
    }
}
