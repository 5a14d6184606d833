#pragma once

#include "columnextremes.h"

#include <qcustomplot.h>

#include <cstdint>
#include <vector>

// One column of a recording drawn as a line graph, the value of row i at key
// i, straight from the column's int16 values: no copy as QCPGraph data.
//
// It looks like a QCPGraph with a plain pen. Where more than two rows fall
// on one pixel column, the line is drawn through that column's minimum and
// maximum, found in a pyramid of block extremes, so a redraw costs about the
// same for a thousand rows as for millions. Linear axes only; the curve
// cannot be selected (its legend entry can).
class RecordingCurve : public QCPAbstractPlottable
{
    Q_OBJECT
public:
    // Registers itself with the plot of keyAxis, which owns it from then on.
    // `values` must outlive the curve and stay unchanged.
    RecordingCurve(QCPAxis *keyAxis, QCPAxis *valueAxis, const std::vector<std::int16_t> &values);

    double selectTest(const QPointF &pos, bool onlySelectable,
                      QVariant *details = nullptr) const override;
    // Keys 0 to rows - 1. Only QCP::sdBoth finds a range.
    QCPRange getKeyRange(bool &foundRange,
                         QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    // The extremes of the rows within inKeyRange (all rows for QCPRange()).
    // Only QCP::sdBoth finds a range.
    QCPRange getValueRange(bool &foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange &inKeyRange = QCPRange()) const override;

protected:
    void draw(QCPPainter *painter) override;
    void drawLegendIcon(QCPPainter *painter, const QRectF &rect) const override;

private:
    const std::vector<std::int16_t> &values;
    ColumnExtremes extremes;
};
