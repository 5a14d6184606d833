// The two live plots: building them, laying them out, drawing each sample and
// clearing them.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "liveplot.h"
#include "liveplotgraph.h"
#include "options.h"

#include <QPushButton>
#include <qcustomplot.h>

namespace
{

// Both plot widgets are made as LivePlot by InitialisoiKuvaajat.
LivePlot *live(QCustomPlot *plot)
{
    return static_cast<LivePlot *>(plot);
}

void configurePlot(QCustomPlot *plot, double valueLower, double valueUpper, const QString &title,
                   const QFont &windowFont)
{
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
    QFont legendFont = windowFont;
    legendFont.setPointSize(10);
    plot->legend->setFont(legendFont);
    plot->legend->setSelectedFont(legendFont);
    plot->legend->setSelectableParts(QCPLegend::spItems);
}

void setGridPen(QCustomPlot *plot, const QPen &pen)
{
    plot->xAxis->grid()->setPen(pen);
    plot->yAxis->grid()->setPen(pen);
}

} // namespace

void MainWindow::InitialisoiKuvaajat()
{
    accPlot = new LivePlot(this);
    accPlot->setObjectName("accPlot");
    configurePlot(accPlot, -150, 1100, accTitle, font());

    gyroPlot = new LivePlot(this);
    gyroPlot->setObjectName("gyroPlot");
    SkaalaaKuvaajat();
    configurePlot(gyroPlot, -500, 500, gyroTitle, font());

    const QPen gridPen(QColor(0, 0, 0, 255), 1, Qt::DotLine);
    setGridPen(accPlot, gridPen);
    setGridPen(gyroPlot, gridPen);

    const QPen blue(QColor(0, 0, 255)), green(QColor(0, 255, 0)), red(QColor(255, 0, 0));
    const QPen pens[3] = {blue, green, red};
    const char *accNames[3] = {"Acc_Xaxis", "Acc_Yaxis", "Acc_Zaxis"};
    const char *gyroNames[3] = {"Gyro_Xaxis", "Gyro_Yaxis", "Gyro_Zaxis"};
    for (int i = 0; i < 3; ++i) {
        LivePlotGraph *graph = live(accPlot)->addLiveGraph();
        graph->setPen(pens[i]);
        graph->setName(accNames[i]);
    }
    for (int i = 0; i < 3; ++i) {
        LivePlotGraph *graph = live(gyroPlot)->addLiveGraph();
        graph->setName(gyroNames[i]);
        graph->setPen(pens[i]);
    }

    accPlot->setBackground(QColor(240, 235, 226));
    gyroPlot->setBackground(QColor(240, 235, 226));

    // Not kept: it lives as long as the window and is never changed.
    auto *clearButton = new QPushButton("Clear plots", this);
    clearButton->setObjectName("clearPlotsButton");
    clearButton->move(300, 650);
    clearButton->show();
    connect(clearButton, SIGNAL(clicked()), this, SLOT(TyhjennaKuvaajat()));

    plotsReady = true;
}

void MainWindow::SkaalaaKuvaajat()
{
    if (options->s1On && options->s2On) {
        accPlot->move(400, 23);
        accPlot->resize(600, 375);
        gyroPlot->move(400, 398);
        gyroPlot->resize(600, 375);
        accPlot->show();
        gyroPlot->show();
    } else if (!options->s1On && options->s2On) {
        resize(450, 750);
        accPlot->hide();
        gyroPlot->hide();
    } else if (options->s1Sensor == 0) {
        gyroPlot->move(400, 23);
        gyroPlot->resize(600, 700);
        accPlot->hide();
        gyroPlot->show();
    } else if (options->s1Sensor == 1) {
        accPlot->move(400, 23);
        accPlot->resize(600, 700);
        gyroPlot->hide();
        accPlot->show();
    } else {
        resize(450, 750);
        accPlot->hide();
        gyroPlot->hide();
    }
}

void MainWindow::PiirraKuvaajat()
{
    // The window: once more than autoClearLines samples have been drawn since
    // the start or the last clear, the oldest point leaves as the new one
    // comes. A window lowered at run time thus narrows the buffers by none at
    // once: they keep their length, one out and one in.
    const bool full = sampleCount > options->autoClearLines;
    if (full) {
        for (QVector<double> *buffer :
             {&accXData, &accYData, &accZData, &gyroXData, &gyroYData, &gyroZData, &indexData})
            buffer->removeFirst();
    }
    const double key = sampleCount;
    indexData.append(key);
    if (full) {
        // The plots hold the same points as the buffers: drop what left them.
        live(accPlot)->dropBefore(indexData.constFirst());
        live(gyroPlot)->dropBefore(indexData.constFirst());
    }
    accXData.append(accX);
    accYData.append(accY);
    accZData.append(accZ);
    live(accPlot)->appendPoints(key, {double(accX), double(accY), double(accZ)});
    live(accPlot)->redraw();

    gyroXData.append(gyroX);
    gyroYData.append(gyroY);
    gyroZData.append(gyroZ);
    live(gyroPlot)->appendPoints(key, {double(gyroX), double(gyroY), double(gyroZ)});
    live(gyroPlot)->redraw();

    // The time axis moves after the redraw, so a new range shows with the
    // next sample, and a drag or zoom of the user's stays on the screen until
    // then. Unchecked leaves the range wherever it was put.
    const Qt::CheckState autoscale = ui->Autoscale->checkState();
    if (autoscale != Qt::Unchecked) {
        // The bounds are whole numbers but for the upper one of "checked",
        // which widens with sampleCount.
        const double lower = sampleCount - options->autoClearLines;
        const double upper =
            autoscale == Qt::Checked ? sampleCount * 1.2 : double(sampleCount + 20);
        accPlot->xAxis->setRange(lower, upper);
        gyroPlot->xAxis->setRange(lower, upper);
    }
    ++sampleCount;
}

void MainWindow::TyhjennaKuvaajat()
{
    // Clearing empties the buffers too, so nothing cleared comes back: the
    // next sample is drawn at key 0 on empty plots and the window fills again
    // as after start-up. The plots are redrawn at once, so that a clear while
    // acquisition is stopped shows as well.
    sampleCount = 0;
    for (QVector<double> *buffer :
         {&accXData, &accYData, &accZData, &gyroXData, &gyroYData, &gyroZData, &indexData})
        buffer->clear();
    for (QCustomPlot *plot : {accPlot, gyroPlot}) {
        live(plot)->clearPoints();
        live(plot)->redraw();
    }
}
