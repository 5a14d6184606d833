#include "recordingviewer.h"
#include "ui_recordingviewer.h"

#include "columnstatistics.h"
#include "pacer.h"
#include "plotimage.h"
#include "plotlook.h"
#include "recording.h"
#include "recordingcurve.h"
#include "sample.h"
#include "spectrumplot.h"
#include "welch.h"

#include <QActionGroup>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>

#include <cstdio>

namespace
{

// A session's rows at their times.
class TimelineKeys : public RowKeys
{
public:
    explicit TimelineKeys(const Timeline &timeline) : timeline(timeline)
    {
        breaks.assign(timeline.breaks.begin(), timeline.breaks.end());
    }
    double key(std::size_t row) const override { return timeline.seconds(std::int64_t(row)); }
    std::size_t firstFrom(double key, std::size_t rows) const override
    {
        return std::min(rows, std::size_t(timeline.firstRowFrom(key)));
    }

private:
    const Timeline &timeline;
};

QString durationText(double seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
    const qint64 s = qRound64(seconds);
    const QString minutes =
        QStringLiteral("%1 min %2 s").arg(s / 60 % 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return s < 3600 ? minutes : QStringLiteral("%1 h ").arg(s / 3600) + minutes;
}

QColor eventColour(Timeline::Event::Kind kind)
{
    switch (kind) {
    case Timeline::Event::File:
        return QColor(90, 90, 90);
    case Timeline::Event::Link:
        return QColor(180, 0, 0);
    case Timeline::Event::Source:
        return QColor(150, 0, 170);
    case Timeline::Event::Logging:
        break;
    }
    return QColor(190, 110, 0);
}

} // namespace

RecordingViewer *RecordingViewer::open(const QString &path, QWidget *parent, QString *error,
                                       double linePace)
{
    auto recording = std::make_unique<Recording>();
    if (!recording->open(path, error))
        return nullptr;
    return new RecordingViewer(path, std::move(recording), parent, linePace);
}

RecordingViewer::RecordingViewer(const QString &path, std::unique_ptr<Recording> recording,
                                 QWidget *parent, double linePace)
    : QMainWindow(parent), path(path), shown(std::move(recording)), ui(new Ui_RecordingViewer)
{
    ui->setupUi(this);
    setWindowTitle(title());
    const Timeline *timeline = shown->timeline();
    keys = timeline ? std::make_unique<TimelineKeys>(*timeline) : std::make_unique<RowKeys>();
    const struct {
        QCustomPlot *plot;
        int sensor;
        const char *title;
        int firstColumn;
    } plots[2] = {{ui->accPlot, sensor::accelerometer, "acc", Recording::AccX},
                  {ui->gyroPlot, sensor::gyroscope, "gyro", Recording::GyroX}};
    for (const auto &p : plots) {
        plotlook::setUp(p.plot, p.sensor, p.title, font());
        p.plot->xAxis->setLabel(timeline ? QStringLiteral("Time from the start (s)")
                                         : QStringLiteral("Row in the file"));
        // The same room left of both plots, so their key axes line up.
        p.plot->axisRect()->setAutoMargins(QCP::msRight | QCP::msTop | QCP::msBottom);
        p.plot->axisRect()->setMargins(QMargins(80, 0, 0, 0));
        for (int axis = 0; axis < 3; ++axis) {
            const auto &column = shown->column(p.firstColumn + axis);
            auto *curve = new RecordingCurve(p.plot->xAxis, p.plot->yAxis, column, keys.get());
            plotlook::styleCurve(curve, p.sensor, axis);
            curves.push_back(curve);
            statistics.push_back(std::make_unique<ColumnStatistics>(column, curve->extremes()));
            ui->statistics->setHorizontalHeaderItem(p.firstColumn + axis,
                                                    new QTableWidgetItem(curve->name()));
        }
        connect(p.plot, &QCustomPlot::mouseDoubleClick, this, [this] {
            fitToRecording();
            ui->accPlot->replot();
            ui->gyroPlot->replot();
        });
    }
    // The key axes move together.
    for (auto [from, to] :
         {std::pair(ui->accPlot, ui->gyroPlot), std::pair(ui->gyroPlot, ui->accPlot)})
        connect(from->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), to,
                [to = to](const QCPRange &range) {
                    to->xAxis->setRange(range);
                    to->replot(QCustomPlot::rpQueuedReplot);
                });
    connect(ui->accPlot->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
            &RecordingViewer::showStatistics);
    // As tall as its rows, the curves sharing the width.
    QTableWidget *table = ui->statistics;
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->setFixedHeight(table->horizontalHeader()->sizeHint().height() +
                          table->rowCount() * table->verticalHeader()->defaultSectionSize() +
                          2 * table->frameWidth());
    for (int r = 0; r < ui->statistics->rowCount(); ++r)
        for (int c = 0; c < ui->statistics->columnCount(); ++c) {
            auto *item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            ui->statistics->setItem(r, c, item);
        }
    if (timeline)
        markEvents();
    showNotes();
    // What was left out of a file cut short stays in view.
    auto *note = new QLabel(shown->note(), this);
    note->setObjectName(QStringLiteral("note"));
    note->setStyleSheet(QStringLiteral("color: #b00000"));
    ui->statusBar->addWidget(note, 1);
    rowsInView = new QLabel(this);
    rowsInView->setObjectName(QStringLiteral("inView"));
    ui->statusBar->addPermanentWidget(rowsInView);

    // The spectrum: its plots, redrawn as the view moves once they show.
    spectrumPlots[0] = std::make_unique<SpectrumPlot>(ui->accSpectrum, sensor::accelerometer,
                                                      Recording::AccX, font());
    spectrumPlots[1] = std::make_unique<SpectrumPlot>(ui->gyroSpectrum, sensor::gyroscope,
                                                      Recording::GyroX, font());
    spectrumPacer = new Pacer([] { return 1000.0 / 25; }, [this] { showSpectrum(); }, this);
    connect(ui->accPlot->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), spectrumPacer,
            &Pacer::request);
    ui->segmentLength->addItem(QStringLiteral("Default"), 0);
    for (int rows = Welch::shortest; rows <= Welch::longest; rows *= 2)
        ui->segmentLength->addItem(QStringLiteral("%1 rows").arg(rows), rows);
    connect(ui->segmentLength, qOverload<int>(&QComboBox::currentIndexChanged), spectrumPacer,
            &Pacer::request);
    connect(ui->rate, qOverload<double>(&QDoubleSpinBox::valueChanged), spectrumPacer,
            &Pacer::request);
    ui->linePace->setText(QStringLiteral("Line's pace: %1 Hz").arg(linePace, 0, 'f', 2));
    connect(ui->linePace, &QPushButton::clicked, this,
            [this, linePace] { ui->rate->setValue(linePace); });
    for (QWidget *w : std::initializer_list<QWidget *>{ui->rateLabel, ui->rate, ui->linePace})
        w->setVisible(!timeline);
    auto *views = new QActionGroup(this);
    const std::pair<QAction *, Shown> choices[] = {{ui->actionTimePlots, Shown::TimePlots},
                                                   {ui->actionSpectrum, Shown::Spectrum},
                                                   {ui->actionTimePlotsAndSpectrum, Shown::Both}};
    for (const auto &[action, what] : choices) {
        views->addAction(action);
        connect(action, &QAction::triggered, this, [this, what = what] { setShown(what); });
    }
    connect(ui->actionLogarithmic, &QAction::toggled, this, [this](bool on) {
        for (const auto &p : spectrumPlots) {
            p->setLogarithmic(on);
            p->plot()->replot();
        }
    });
    connect(ui->actionApplyCalibration, &QAction::triggered, this,
            &RecordingViewer::chooseCalibration);
    setShown(Shown::TimePlots);

    labelValueAxes();
    fitToRecording();
    showStatistics();
    Calibration recorded;
    QString why;
    if (Calibration::ofRecording(*shown, &recorded, &why))
        applyCalibration(recorded);
    else
        note->setText(note->text() + (note->text().isEmpty() ? "" : "\n") + why);
    connect(ui->actionSaveImage, &QAction::triggered, this, [this] {
        QList<QCustomPlot *> plots;
        for (QCustomPlot *p : {ui->accPlot, ui->gyroPlot, ui->accSpectrum, ui->gyroSpectrum})
            if (!p->isHidden())
                plots << p;
        askAndSavePlotImage(this, plots,
                            QFileInfo(this->path).completeBaseName() + QStringLiteral(".png"),
                            title());
    });
}

RecordingViewer::~RecordingViewer()
{
    // The curves read the recording and the keys, which go before the
    // window's children.
    ui->accPlot->clearPlottables();
    ui->gyroPlot->clearPlottables();
    delete ui;
}

QString RecordingViewer::title() const
{
    const std::int64_t rows = shown->rows();
    const QString rowCount = QStringLiteral("%1 %2").arg(rows).arg(rows == 1 ? "row" : "rows");
    const Timeline *timeline = shown->timeline();
    if (!timeline)
        return QStringLiteral("%1 (%2)").arg(QFileInfo(path).fileName(), rowCount);
    const Timeline::Facts &facts = timeline->facts;
    return QStringLiteral("Session of %1: %2, %3 in %4 %5")
        .arg(facts.start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t")),
             durationText(facts.seconds), rowCount)
        .arg(facts.files)
        .arg(facts.files == 1 ? "file" : "files");
}

void RecordingViewer::markEvents()
{
    for (const Timeline::Event &event : shown->timeline()->events) {
        const QColor colour = eventColour(event.kind);
        for (QCustomPlot *plot : {ui->accPlot, ui->gyroPlot}) {
            auto *line = new QCPItemStraightLine(plot);
            line->point1->setCoords(event.seconds, 0);
            line->point2->setCoords(event.seconds, 1);
            line->setPen(QPen(colour, 1, Qt::DashLine));
            line->setAntialiased(false); // one sharp pixel wide
        }
        // The label runs down from the top of the upper plot, beside its line.
        auto *label = new QCPItemText(ui->accPlot);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        label->position->setCoords(event.seconds, 0.02);
        label->setRotation(-90);
        label->setPositionAlignment(Qt::AlignRight | Qt::AlignBottom);
        label->setText(event.label);
        label->setColor(colour);
        QFont small = font();
        small.setPointSize(8);
        label->setFont(small);
    }
}

void RecordingViewer::showNotes()
{
    const std::vector<Timeline::Note> none;
    const auto &notes = shown->timeline() ? shown->timeline()->notes : none;
    ui->notes->setVisible(!notes.empty());
    const QColor colour(0, 110, 140);
    for (const Timeline::Note &note : notes) {
        for (QCustomPlot *plot : {ui->accPlot, ui->gyroPlot}) {
            auto *line = new QCPItemStraightLine(plot);
            line->point1->setCoords(note.seconds, 0);
            line->point2->setCoords(note.seconds, 1);
            line->setPen(QPen(colour, 1)); // solid: the events' are dashed
            line->setAntialiased(false);
        }
        // The first line of its text runs up from the foot of the upper plot
        // (the events' labels run down from its top).
        auto *label = new QCPItemText(ui->accPlot);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        label->position->setCoords(note.seconds, 0.98);
        label->setRotation(-90);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
        const QString first = note.text.section('\n', 0, 0);
        label->setText(first.size() > 40 ? first.left(39) + "…" : first);
        label->setColor(colour);
        label->setBrush(QColor(255, 255, 255, 200));
        auto *item = new QListWidgetItem(
            QStringLiteral("%1 s  %2").arg(note.seconds, 0, 'f', 2).arg(note.text), ui->notes);
        item->setData(Qt::UserRole, note.seconds);
        item->setToolTip(shown->timeline()
                             ->facts.start.addMSecs(qRound64(note.seconds * 1000))
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz t")));
    }
    connect(ui->notes, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        // The view keeps its width, centred on the note; the lower plot follows.
        const QCPRange view = ui->accPlot->xAxis->range();
        ui->accPlot->xAxis->setRange(item->data(Qt::UserRole).toDouble(), view.size(),
                                     Qt::AlignCenter);
        ui->accPlot->replot();
    });
}

void RecordingViewer::fitToRecording()
{
    const std::int64_t rows = shown->rows();
    if (rows == 0)
        return;
    const double last = keys->key(std::size_t(rows - 1));
    const double end = shown->timeline() ? std::max(shown->timeline()->facts.seconds, last) : last;
    ui->accPlot->xAxis->setRange(keys->key(0), std::max(end, keys->key(0) + 1));
    for (QCustomPlot *plot : {ui->accPlot, ui->gyroPlot})
        plotlook::fitValueAxisToView(plot);
}

void RecordingViewer::showStatistics()
{
    const QCPRange view = ui->accPlot->xAxis->range();
    const auto [first, end] = keys->within(view.lower, view.upper, std::size_t(shown->rows()));
    const QString unit = shown->timeline() ? QStringLiteral(" s") : QString();
    rowsInView->setText(QStringLiteral("In view: %1%3 to %2%3, %4 of %5 rows")
                            .arg(view.lower, 0, 'f', 1)
                            .arg(view.upper, 0, 'f', 1)
                            .arg(unit)
                            .arg(end - first)
                            .arg(shown->rows()));
    for (int c = 0; c < Recording::columnCount; ++c) {
        const ColumnStatistics::Figures f =
            calibration.figures(c, statistics[size_t(c)]->over(first, end));
        const double figures[5] = {f.min, f.max, f.mean, f.rms, f.deviation};
        // Counts are whole; units get the places a count's step needs.
        const int places = calibration.decimals(c);
        for (int r = 0; r < 5; ++r)
            ui->statistics->item(r, c)->setText(
                f.count == 0 ? QString()
                             : QString::number(figures[r], 'f', places + (r < 2 ? 0 : 2)));
    }
}

void RecordingViewer::showSpectrum()
{
    if (ui->accSpectrum->isHidden())
        return;
    const QCPRange view = ui->accPlot->xAxis->range();
    const auto [first, end] = keys->within(view.lower, view.upper, std::size_t(shown->rows()));
    inView = Spectrum::of(*shown, std::int64_t(first), std::int64_t(end),
                          ui->segmentLength->currentData().toInt(), ui->rate->value(), calibration);
    for (const auto &p : spectrumPlots) {
        p->show(inView, calibration);
        p->plot()->replot(QCustomPlot::rpQueuedReplot);
    }
}

const Spectrum &RecordingViewer::spectrum()
{
    spectrumPacer->runNow();
    return inView;
}

void RecordingViewer::labelValueAxes()
{
    for (auto [plot, firstColumn] : {std::pair(ui->accPlot, int(Recording::AccX)),
                                     std::pair(ui->gyroPlot, int(Recording::GyroX))}) {
        QStringList units;
        for (int c = firstColumn; c < firstColumn + 3; ++c)
            units << (calibration.known(c) ? calibration.unit(c) : QStringLiteral("counts"));
        units.removeDuplicates();
        plot->yAxis->setLabel(
            calibration.any()
                ? QStringLiteral("Magnitude (%1)").arg(units.join(QStringLiteral(", ")))
                : QStringLiteral("Magnitude"));
    }
}

void RecordingViewer::applyCalibration(const Calibration &c)
{
    calibration = c;
    for (int column = 0; column < Recording::columnCount; ++column) {
        const Calibration::Axis &a = calibration.axes[std::size_t(column)];
        curves[std::size_t(column)]->setCounts(a.known() ? a.offset : 0, a.known() ? a.scale : 1);
    }
    labelValueAxes();
    for (QCustomPlot *plot : {ui->accPlot, ui->gyroPlot}) {
        plotlook::fitValueAxisToView(plot);
        plot->replot(QCustomPlot::rpQueuedReplot);
    }
    showStatistics();
    spectrumPacer->request();
}

void RecordingViewer::chooseCalibration()
{
    const QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("Apply calibration"), QFileInfo(path).path(),
        QStringLiteral("Calibrations (*.json);;All files (*)"));
    if (file.isEmpty())
        return;
    Calibration c;
    QString error;
    if (Calibration::read(file, &c, &error))
        applyCalibration(c);
    else
        QMessageBox::warning(this, QStringLiteral("Apply calibration"), error);
}

void RecordingViewer::setShown(Shown what)
{
    const bool time = what != Shown::Spectrum, spectrum = what != Shown::TimePlots;
    ui->accPlot->setVisible(time);
    ui->gyroPlot->setVisible(time);
    ui->accSpectrum->setVisible(spectrum);
    ui->gyroSpectrum->setVisible(spectrum);
    ui->spectrumBar->setVisible(spectrum);
    QAction *action = what == Shown::TimePlots  ? ui->actionTimePlots
                      : what == Shown::Spectrum ? ui->actionSpectrum
                                                : ui->actionTimePlotsAndSpectrum;
    action->setChecked(true);
    if (spectrum)
        spectrumPacer->request();
}

void RecordingViewer::setView(double from, double to)
{
    ui->accPlot->xAxis->setRange(from, to);
    for (QCustomPlot *plot : {ui->accPlot, ui->gyroPlot})
        plotlook::fitValueAxisToView(plot);
}

void RecordingViewer::setRate(double rowsPerSecond)
{
    ui->rate->setValue(rowsPerSecond);
}

void RecordingViewer::setSegmentLength(int rows)
{
    ui->segmentLength->setCurrentIndex(std::max(0, ui->segmentLength->findData(rows)));
}

bool RecordingViewer::writeSpectrumCsv(const QString &fileName, QString *error)
{
    return spectrum().writeCsv(fileName, calibration, error);
}

bool RecordingViewer::writeCsv(const QString &fileName, QString *error) const
{
    return shown->writeCsv(fileName, error, calibration.csvColumns());
}

bool RecordingViewer::saveImage(const QString &fileName, QString *error)
{
    // A window never shown has not laid out its plots yet.
    layout()->activate();
    centralWidget()->layout()->activate();
    spectrumPacer->runNow();
    QList<QCustomPlot *> plots;
    for (QCustomPlot *p : {ui->accPlot, ui->gyroPlot, ui->accSpectrum, ui->gyroSpectrum})
        if (!p->isHidden())
            plots << p;
    return savePlotImage(plots, fileName, error, title());
}

int viewRecording(const QString &path, const ViewRequest &request)
{
    QString error;
    const QString &exportFile = request.exportFile;
    const auto fail = [&] {
        std::fprintf(stderr, "motionmonitor: %s\n", qPrintable(error));
        if (exportFile.isEmpty())
            QMessageBox::critical(nullptr, QStringLiteral("Open recording"), error);
        return 1;
    };
    auto recording = std::make_unique<Recording>();
    if (!recording->open(path, &error))
        return fail();
    if (!recording->note().isEmpty())
        std::fprintf(stderr, "motionmonitor: %s\n", qPrintable(recording->note()));
    if (request.notes && !recording->timeline()) {
        error = path + QStringLiteral(": a log file on its own has no notes (they are kept in "
                                      "its session file)");
        return fail();
    }
    if (request.notes)
        return recording->writeNotesCsv(exportFile, &error) ? 0 : fail();
    // The calibration given, or else the session's own.
    Calibration calibration;
    if (!request.calibrationFile.isEmpty() &&
        !Calibration::read(request.calibrationFile, &calibration, &error))
        return fail();
    if (request.calibrationFile.isEmpty() &&
        !Calibration::ofRecording(*recording, &calibration, &error))
        std::fprintf(stderr, "motionmonitor: %s\n", qPrintable(error));
    const bool csv =
        QFileInfo(exportFile).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0;
    // The rows need no window.
    if (csv && !request.spectrum)
        return recording->writeCsv(exportFile, &error, calibration.csvColumns()) ? 0 : fail();
    const auto viewer =
        std::make_unique<RecordingViewer>(path, std::move(recording), nullptr, request.linePace);
    if (!request.calibrationFile.isEmpty())
        viewer->applyCalibration(calibration);
    viewer->setRate(request.rate);
    viewer->setSegmentLength(request.segment);
    if (request.from || request.to) {
        const QCPRange all =
            viewer->findChild<QCustomPlot *>(QStringLiteral("accPlot"))->xAxis->range();
        viewer->setView(request.from.value_or(all.lower), request.to.value_or(all.upper));
    }
    if (request.spectrum)
        viewer->setShown(RecordingViewer::Shown::Spectrum);
    if (exportFile.isEmpty()) {
        viewer->show();
        return QApplication::exec();
    }
    if (csv)
        return viewer->writeSpectrumCsv(exportFile, &error) ? 0 : fail();
    // An image of the plots alone, at the window's size.
    viewer->findChild<QWidget *>(QStringLiteral("statistics"))->hide();
    viewer->findChild<QWidget *>(QStringLiteral("notes"))->hide();
    return viewer->saveImage(exportFile, &error) ? 0 : fail();
}
