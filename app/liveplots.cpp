#include "liveplots.h"

#include "liveplot.h"
#include "liveplotgraph.h"

#include <QPushButton>

namespace
{

void setTitle(QCustomPlot *plot, const QString &title)
{
    for (int i = 0; i < plot->plotLayout()->elementCount(); ++i)
        if (auto *text = qobject_cast<QCPTextElement *>(plot->plotLayout()->elementAt(i)))
            text->setText(title);
}

LivePlot *makePlot(QWidget *window, const char *name, double valueLower, double valueUpper,
                   const QString &title, const QStringList &graphNames)
{
    auto *plot = new LivePlot(window);
    plot->setObjectName(name);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectAxes |
                          QCP::iSelectLegend | QCP::iSelectPlottables | QCP::iSelectOther);
    plot->axisRect()->setRangeDrag(Qt::Horizontal | Qt::Vertical);
    plot->axisRect()->setRangeZoom(Qt::Horizontal | Qt::Vertical);
    plot->xAxis->setRange(0, 100);
    plot->yAxis->setRange(valueLower, valueUpper);
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
    QFont legendFont = window->font();
    legendFont.setPointSize(10);
    plot->legend->setFont(legendFont);
    plot->legend->setSelectedFont(legendFont);
    plot->legend->setSelectableParts(QCPLegend::spItems);

    const QPen gridPen(QColor(0, 0, 0, 255), 1, Qt::DotLine);
    plot->xAxis->grid()->setPen(gridPen);
    plot->yAxis->grid()->setPen(gridPen);
    const QColor colours[3] = {QColor(0, 0, 255), QColor(0, 255, 0), QColor(255, 0, 0)};
    for (int i = 0; i < 3; ++i) {
        LivePlotGraph *graph = plot->addLiveGraph();
        graph->setPen(QPen(colours[i]));
        graph->setName(graphNames.at(i));
    }
    plot->setBackground(QColor(240, 235, 226));
    return plot;
}

} // namespace

LivePlots::LivePlots(QWidget *window, const QString &accTitle, const QString &gyroTitle)
    : QObject(window), acc(makePlot(window, "accPlot", -150, 1100, accTitle,
                                    {"Acc_Xaxis", "Acc_Yaxis", "Acc_Zaxis"})),
      gyro(makePlot(window, "gyroPlot", -500, 500, gyroTitle,
                    {"Gyro_Xaxis", "Gyro_Yaxis", "Gyro_Zaxis"})),
      clear(new QPushButton("Clear plots", window))
{
    clear->setObjectName("clearPlotsButton");
    clear->move(300, 650);
    clear->show();
}

QCustomPlot *LivePlots::accPlot() const
{
    return acc;
}

QCustomPlot *LivePlots::gyroPlot() const
{
    return gyro;
}

void LivePlots::setTitles(const QString &accTitle, const QString &gyroTitle)
{
    setTitle(acc, accTitle);
    setTitle(gyro, gyroTitle);
}

bool LivePlots::arrange(bool s1On, bool s2On, int s1Sensor)
{
    if (s1On && s2On) {
        acc->setGeometry(400, 23, 600, 375);
        gyro->setGeometry(400, 398, 600, 375);
        acc->show();
        gyro->show();
        return true;
    }
    // Slot 2 alone shows nothing; otherwise slot 1's sensor fills the height.
    LivePlot *alone = nullptr;
    if (!s2On && s1Sensor == sensor::gyroscope)
        alone = gyro;
    else if (!s2On && s1Sensor == sensor::accelerometer)
        alone = acc;
    for (LivePlot *plot : {acc, gyro})
        if (plot != alone)
            plot->hide();
    if (!alone)
        return false;
    alone->setGeometry(400, 23, 600, 700);
    alone->show();
    return true;
}

void LivePlots::append(const Sample &sample, int window, Qt::CheckState autoscale)
{
    const double key = count;
    const bool full = count > window;
    for (LivePlot *plot : {acc, gyro}) {
        if (full)
            plot->dropOldest();
        const auto &values = plot == acc ? sample.acc : sample.gyro;
        plot->appendPoints(key, {double(values[0]), double(values[1]), double(values[2])});
        plot->redraw();
    }
    // The bounds are whole numbers but for the upper one of "checked", which
    // widens with the count. "Unchecked" leaves the user's drags and zooms.
    if (autoscale != Qt::Unchecked) {
        const double lower = count - window;
        const double upper = autoscale == Qt::Checked ? count * 1.2 : double(count + 20);
        acc->xAxis->setRange(lower, upper);
        gyro->xAxis->setRange(lower, upper);
    }
    ++count;
}

void LivePlots::clearPoints()
{
    count = 0;
    for (LivePlot *plot : {acc, gyro}) {
        plot->clearPoints();
        plot->redraw(true);
    }
}
