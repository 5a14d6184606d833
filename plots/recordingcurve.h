#pragma once

#include "columnextremes.h"
#include "rowkeys.h"

#include <qcustomplot.h>

#include <cstdint>
#include <vector>

// One column of a recording drawn as a line graph, each row at the key that
// `keys` gives it, straight from the column's int16 values: no copy as
// QCPGraph data.
//
// It looks like a QCPGraph with a plain pen, except that the line does not
// join across the breaks `keys` names. Where more than two rows fall on one
// pixel column, the line is drawn through that column's minimum and maximum,
// found in a pyramid of block extremes, so a redraw costs about the same for
// a thousand rows as for millions. Linear axes only; the curve cannot be
// selected (its legend entry can).
class RecordingCurve : public QCPAbstractPlottable
{
    Q_OBJECT
public:
    // Registers itself with the plot of keyAxis, which owns it from then on.
    // `values` and `keys` must outlive the curve and stay unchanged; without
    // keys, each row is keyed by its position.
    RecordingCurve(QCPAxis *keyAxis, QCPAxis *valueAxis, const std::vector<std::int16_t> &values,
                   const RowKeys *keys = nullptr);

    const ColumnExtremes &extremes() const { return blocks; }
    // Draws each count as (count - offset) * scale (a calibration's units);
    // by default, as it is.
    void setCounts(double offset, double scale);

    double selectTest(const QPointF &pos, bool onlySelectable,
                      QVariant *details = nullptr) const override;
    // The keys of the first and the last row. Only QCP::sdBoth finds a range.
    QCPRange getKeyRange(bool &foundRange,
                         QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    // The extremes of the rows within inKeyRange (all rows for QCPRange()), as
    // drawn.
    // Only QCP::sdBoth finds a range.
    QCPRange getValueRange(bool &foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange &inKeyRange = QCPRange()) const override;

protected:
    void draw(QCPPainter *painter) override;
    void drawLegendIcon(QCPPainter *painter, const QRectF &rect) const override;

private:
    // Adds the rows first .. end - 1, which no break parts, to line.
    void trace(std::size_t first, std::size_t end, QPolygonF *line) const;

    double shown(double count) const { return (count - countOffset) * countScale; }

    const std::vector<std::int16_t> &values;
    double countOffset = 0, countScale = 1;
    const RowKeys byPosition;
    const RowKeys &keys;
    ColumnExtremes blocks;
};
