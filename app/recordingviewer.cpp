#include "recordingviewer.h"
#include "ui_recordingviewer.h"

#include "sample.h"
#include "plotimage.h"
#include "plotlook.h"
#include "recording.h"
#include "recordingcurve.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>

RecordingViewer *RecordingViewer::open(const QString &path, QWidget *parent, QString *error)
{
    auto recording = std::make_unique<Recording>();
    if (!recording->read(path, error))
        return nullptr;
    return new RecordingViewer(path, std::move(recording), parent);
}

RecordingViewer::RecordingViewer(const QString &path, std::unique_ptr<Recording> recording_,
                                 QWidget *parent)
    : QMainWindow(parent), recording(std::move(recording_)), ui(new Ui_RecordingViewer)
{
    ui->setupUi(this);
    const std::int64_t rows = recording->rows();
    setWindowTitle(QStringLiteral("%1 (%2 %3)")
                       .arg(QFileInfo(path).fileName())
                       .arg(rows)
                       .arg(rows == 1 ? "row" : "rows"));
    const struct {
        QCustomPlot *plot;
        int sensor;
        const char *title;
        int firstColumn;
    } plots[2] = {{ui->accPlot, sensor::accelerometer, "acc", Recording::AccX},
                  {ui->gyroPlot, sensor::gyroscope, "gyro", Recording::GyroX}};
    for (const auto &p : plots) {
        plotlook::setUp(p.plot, p.sensor, p.title, font());
        for (int axis = 0; axis < 3; ++axis)
            plotlook::styleCurve(new RecordingCurve(p.plot->xAxis, p.plot->yAxis,
                                                    recording->column(p.firstColumn + axis)),
                                 p.sensor, axis);
        fitToRecording(p.plot);
        QCustomPlot *plot = p.plot;
        connect(plot, &QCustomPlot::mouseDoubleClick, this, [this, plot] {
            fitToRecording(plot);
            plot->replot();
        });
    }
    connect(ui->actionSaveImage, &QAction::triggered, this, [this, path] {
        askAndSavePlotImage(this, {ui->accPlot, ui->gyroPlot},
                            QFileInfo(path).completeBaseName() + QStringLiteral(".png"));
    });
}

RecordingViewer::~RecordingViewer()
{
    // The curves read the recording, which goes before the window's children.
    ui->accPlot->clearPlottables();
    ui->gyroPlot->clearPlottables();
    delete ui;
}

void RecordingViewer::fitToRecording(QCustomPlot *plot)
{
    if (recording->rows() == 0)
        return;
    plot->xAxis->setRange(0, std::max<double>(double(recording->rows() - 1), 1));
    plotlook::fitValueAxisToView(plot);
}

bool RecordingViewer::saveImage(const QString &fileName, QString *error)
{
    // A window never shown has not laid out its plots yet.
    layout()->activate();
    centralWidget()->layout()->activate();
    return savePlotImage({ui->accPlot, ui->gyroPlot}, fileName, error);
}

int viewRecording(const QString &path, const QString &imageFile)
{
    QString error;
    const std::unique_ptr<RecordingViewer> viewer(RecordingViewer::open(path, nullptr, &error));
    if (viewer && imageFile.isEmpty()) {
        viewer->show();
        return QApplication::exec();
    }
    if (viewer && viewer->saveImage(imageFile, &error))
        return 0;
    std::fprintf(stderr, "motionmonitor: %s\n", qPrintable(error));
    return 1;
}
