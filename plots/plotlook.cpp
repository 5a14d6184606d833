#include "plotlook.h"

#include "sample.h"

#include <qcustomplot.h>

namespace plotlook
{

void setUp(QCustomPlot *plot, int sensor, const QString &title, const QFont &font)
{
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectAxes |
                          QCP::iSelectLegend | QCP::iSelectPlottables | QCP::iSelectOther);
    plot->axisRect()->setRangeDrag(Qt::Horizontal | Qt::Vertical);
    plot->axisRect()->setRangeZoom(Qt::Horizontal | Qt::Vertical);
    plot->xAxis->setRange(0, 100);
    if (sensor == sensor::gyroscope)
        plot->yAxis->setRange(-500, 500);
    else
        plot->yAxis->setRange(-150, 1100);
    // The top and right axes copy the ranges once and do not follow them.
    plot->axisRect()->setupFullAxesBox(false);

    // The title is a text element in a row of its own above the axes; being
    // selectable is what "select title" means for it.
    plot->plotLayout()->insertRow(0);
    auto *titleElement = new QCPTextElement(plot, title);
    titleElement->setSelectable(true);
    plot->plotLayout()->addElement(0, 0, titleElement);
    plot->xAxis->setLabel("Time");
    plot->yAxis->setLabel("Magnitude");

    plot->legend->setVisible(true);
    QFont legendFont = font;
    legendFont.setPointSize(10);
    plot->legend->setFont(legendFont);
    plot->legend->setSelectedFont(legendFont);
    plot->legend->setSelectableParts(QCPLegend::spItems);

    const QPen gridPen(QColor(0, 0, 0, 255), 1, Qt::DotLine);
    plot->xAxis->grid()->setPen(gridPen);
    plot->yAxis->grid()->setPen(gridPen);
    plot->setBackground(QColor(240, 235, 226));
}

void styleCurve(QCPAbstractPlottable *curve, int sensor, int axis)
{
    static const QColor colours[3] = {QColor(0, 0, 255), QColor(0, 255, 0), QColor(255, 0, 0)};
    curve->setPen(QPen(colours[axis]));
    curve->setName(QStringLiteral("%1_%2axis")
                       .arg(sensor == sensor::gyroscope ? "Gyro" : "Acc")
                       .arg(QChar("XYZ"[axis])));
}

void setTitle(QCustomPlot *plot, const QString &title)
{
    for (int i = 0; i < plot->plotLayout()->elementCount(); ++i)
        if (auto *text = qobject_cast<QCPTextElement *>(plot->plotLayout()->elementAt(i)))
            text->setText(title);
}

void fitValueAxisToView(QCustomPlot *plot)
{
    QCPRange values;
    bool any = false;
    for (int i = 0; i < plot->plottableCount(); ++i) {
        bool found = false;
        const QCPRange r =
            plot->plottable(i)->getValueRange(found, QCP::sdBoth, plot->xAxis->range());
        if (!found)
            continue;
        if (any)
            values.expand(r);
        else
            values = r;
        any = true;
    }
    if (!any)
        return;
    const double margin = std::max(values.size() * 0.05, 0.5);
    plot->yAxis->setRange(values.lower - margin, values.upper + margin);
}

} // namespace plotlook
