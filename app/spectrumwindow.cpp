#include "spectrumwindow.h"
#include "ui_spectrumwindow.h"

#include "spectrumplot.h"

#include <QTimer>

namespace
{

// A few times a second: more would cost a share of a core for nothing the
// eye follows in a spectrum.
constexpr int redrawMs = 1000 / 3;
// Samples further apart than this belong to different stretches.
constexpr qint64 gapMs = 1000;
constexpr qint64 keptMs = 600 * 1000;

} // namespace

SpectrumWindow::SpectrumWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), pace(new QTimer(this)), ui(new Ui_SpectrumWindow)
{
    ui->setupUi(this);
    clock.start();
    plots[0] = std::make_unique<SpectrumPlot>(ui->accSpectrum, sensor::accelerometer,
                                              Recording::AccX, font());
    plots[1] = std::make_unique<SpectrumPlot>(ui->gyroSpectrum, sensor::gyroscope, Recording::GyroX,
                                              font());
    pace->setInterval(redrawMs);
    connect(pace, &QTimer::timeout, this, [this] {
        if (waiting && isVisible())
            redraw();
    });
    pace->start();
    connect(ui->seconds, qOverload<int>(&QSpinBox::valueChanged), this, &SpectrumWindow::redraw);
    connect(ui->logarithmic, &QCheckBox::toggled, this, [this](bool on) {
        for (const auto &p : plots) {
            p->setLogarithmic(on);
            p->plot()->replot();
        }
    });
}

SpectrumWindow::~SpectrumWindow()
{
    delete ui;
}

void SpectrumWindow::append(const Sample &sample)
{
    const qint64 now = clock.elapsed();
    arrivals.push_back({sample, now});
    while (now - arrivals.front().ms > keptMs)
        arrivals.pop_front();
    waiting = true;
}

void SpectrumWindow::redraw()
{
    waiting = false;
    const qint64 from = clock.elapsed() - qint64(ui->seconds->value()) * 1000;
    std::array<std::vector<std::int16_t>, Recording::columnCount> columns;
    std::vector<qint64> times;
    for (const Arrival &a : arrivals)
        if (a.ms >= from) {
            for (int axis = 0; axis < 3; ++axis) {
                columns[std::size_t(axis)].push_back(a.sample.acc[std::size_t(axis)]);
                columns[std::size_t(3 + axis)].push_back(a.sample.gyro[std::size_t(axis)]);
            }
            times.push_back(a.ms);
        }
    std::vector<Stretch> stretches;
    for (std::int64_t first = 0, r = 1; r <= std::int64_t(times.size()); ++r)
        if (r == std::int64_t(times.size()) ||
            times[std::size_t(r)] - times[std::size_t(r - 1)] > gapMs) {
            stretches.push_back({first, r});
            first = r;
        }
    const auto seconds = [&](std::int64_t row) { return double(times[std::size_t(row)]) / 1000; };
    Spectrum::Columns data;
    for (int c = 0; c < Recording::columnCount; ++c)
        data[std::size_t(c)] = columns[std::size_t(c)].data();
    shown =
        Spectrum::of(data, stretches, rowsPerSecond(stretches, seconds), 0, Calibration(), seconds);
    for (const auto &p : plots) {
        p->show(shown, Calibration());
        p->plot()->replot();
    }
}
