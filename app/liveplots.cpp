#include "liveplots.h"

#include "liveplot.h"
#include "liveplotgraph.h"
#include "plotlook.h"

#include <QPushButton>

#include <algorithm>

namespace
{

LivePlot *makePlot(QWidget *window, const char *name, int sensor, const QString &title)
{
    auto *plot = new LivePlot(window);
    plot->setObjectName(name);
    plotlook::setUp(plot, sensor, title, window->font());
    for (int axis = 0; axis < 3; ++axis)
        plotlook::styleCurve(plot->addLiveGraph(), sensor, axis);
    // The value axis fits the points in view; the time axis is Autoscale's.
    QObject::connect(plot, &QCustomPlot::mouseDoubleClick, plot, [plot] {
        plotlook::fitValueAxisToView(plot);
        plot->redraw();
    });
    return plot;
}

} // namespace

LivePlots::LivePlots(QWidget *window, const QString &accTitle, const QString &gyroTitle)
    : QObject(window), acc(makePlot(window, "accPlot", sensor::accelerometer, accTitle)),
      gyro(makePlot(window, "gyroPlot", sensor::gyroscope, gyroTitle)),
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
    plotlook::setTitle(acc, accTitle);
    plotlook::setTitle(gyro, gyroTitle);
}

bool LivePlots::arrange(bool s1On, bool s2On, int s1Sensor)
{
    // Slot 2 alone shows nothing; otherwise slot 1's sensor fills the height.
    both = s1On && s2On;
    alone = nullptr;
    if (!s2On && s1Sensor == sensor::gyroscope)
        alone = gyro;
    else if (!s2On && s1Sensor == sensor::accelerometer)
        alone = acc;
    place();
    for (LivePlot *plot : {acc, gyro})
        plot->setVisible(both || plot == alone);
    return both || alone;
}

void LivePlots::setRoom(int right, int bottom)
{
    room.setRight(std::max(right - 1, designedRoom.right()));
    room.setBottom(std::max(bottom - 1, designedRoom.bottom()));
    place();
}

void LivePlots::place()
{
    if (both) {
        const int upper = room.height() / 2;
        acc->setGeometry(room.x(), room.y(), room.width(), upper);
        gyro->setGeometry(room.x(), room.y() + upper, room.width(), room.height() - upper);
    } else if (alone) {
        alone->setGeometry(room.adjusted(0, 0, 0, -50));
    }
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
    // "Checked" widens the axis while the first window fills, then keeps its
    // width, 1.2 windows, with the newest point a fifth of a window from the
    // right. "Unchecked" leaves the user's drags and zooms.
    if (autoscale != Qt::Unchecked) {
        const double lower = count - window;
        double upper = count + 20;
        if (autoscale == Qt::Checked)
            upper = count <= window || window == 0 ? count * 1.2 : count + window / 5.0;
        acc->xAxis->setRange(lower, upper);
        gyro->xAxis->setRange(lower, upper);
    }
    holdInView(acc, key, sample.acc);
    holdInView(gyro, key, sample.gyro);
    ++count;
}

void LivePlots::holdInView(QCustomPlot *plot, double key, const std::array<int16_t, 3> &values)
{
    if (!plot->xAxis->range().contains(key))
        return;
    const QCPRange was = plot->yAxis->range();
    const auto [low, high] = std::minmax({values[0], values[1], values[2]});
    if (was.contains(low) && was.contains(high))
        return;
    // Widened with a margin, as a fit leaves one, on the side that grows.
    QCPRange wide(std::min(was.lower, double(low)), std::max(was.upper, double(high)));
    const double margin = wide.size() * 0.05;
    plot->yAxis->setRange(wide.lower - (wide.lower < was.lower ? margin : 0),
                          wide.upper + (wide.upper > was.upper ? margin : 0));
}

void LivePlots::clearPoints()
{
    count = 0;
    for (LivePlot *plot : {acc, gyro}) {
        plot->clearPoints();
        plot->redraw(true);
    }
}
