// Construction and wiring of the main window, its three message boxes, its File menu and its
// notes.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "acquisition.h"
#include "datalogger.h"
#include "liveplots.h"
#include "options.h"
#include "outputs.h"
#include "outputsdialog.h"
#include "pacer.h"
#include "plotimage.h"
#include "recordingviewer.h"
#include "serialhandler.h"
#include "spectrumwindow.h"
#include "version.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QStatusBar>
#include <QTimer>
#include <cstdlib>
#include <qcustomplot.h>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), acquisition(nullptr), serial(nullptr), options(nullptr), logger(nullptr),
      timer(nullptr), ui(new Ui_MainWindow)
{
    version = versionString();

    // Also connects Start and Stop to their slots by name.
    ui->setupUi(this);

    // The link, the logger and the timer are the acquisition's.
    acquisition = new Acquisition(this);
    serial = acquisition->link();
    logger = acquisition->logger();
    options = new Options(nullptr);
    timer = acquisition->timer();
    ui->TaajuusSBox->setValue(Acquisition::defaultIntervalMs);

    // The order matters: signals reach their slots in connection order, so the
    // window reports new options before the serial link takes them over.
    connect(serial, SIGNAL(SendData(int16_t, int16_t, int16_t, int16_t, int16_t, int16_t)), this,
            SLOT(OtaVastaanData(int16_t, int16_t, int16_t, int16_t, int16_t, int16_t)));
    connect(logger, SIGNAL(NewFileCreated(QString)), this, SLOT(OtaVastaanViesti(QString)));
    connect(serial, SIGNAL(SendText(QString)), this, SLOT(OtaVastaanViesti(QString)));
    connect(ui->actionOptions, SIGNAL(triggered()), this, SLOT(AvaaOptions()));
    connect(ui->actionAbout, SIGNAL(triggered()), this, SLOT(AvaaAbout()));
    connect(ui->actionReadme, SIGNAL(triggered()), this, SLOT(AvaaReadme()));
    connect(ui->sendInit, SIGNAL(clicked()), this, SLOT(LahetaInitMsg()));
    connect(options, SIGNAL(SendOptions(int *)), this, SLOT(OtaVastaanOptions(int *)));
    connect(options, SIGNAL(SendOptions(int *)), serial, SLOT(updateOptions(int *)));
    connect(options, SIGNAL(SendFilename(QString)), logger, SLOT(ReceiveFilename(QString)));
    connect(options, SIGNAL(SendDeviceName(QString)), serial, SLOT(receiveDevicename(QString)));
    connect(options, SIGNAL(SendNewfileIndex(int)), logger, SLOT(ReceiveNewfileIndex(int)));
    connect(timer, SIGNAL(timeout()), this, SLOT(MainTimeout()));

    connect(ui->actionOpenRecording, &QAction::triggered, this, &MainWindow::openRecordings);
    connect(ui->actionSaveImage, &QAction::triggered, this, &MainWindow::saveImage);
    connect(ui->actionSpectrum, &QAction::triggered, this, &MainWindow::showSpectrum);
    connect(ui->actionAddNote, &QAction::triggered, this, &MainWindow::addNote);
    connect(acquisition, &Acquisition::statusChanged, ui->actionAddNote,
            [this] { ui->actionAddNote->setEnabled(acquisition->isAcquiring()); });
    connect(acquisition, &Acquisition::generated, this, [this](const Sample &s) {
        OtaVastaanData(s.acc[0], s.acc[1], s.acc[2], s.gyro[0], s.gyro[1], s.gyro[2]);
    });
    connect(acquisition, &Acquisition::message, this, &MainWindow::showMessage);
    connect(acquisition, &Acquisition::statusChanged, this, &MainWindow::showLinkState);
    connect(ui->LogBox1, &QCheckBox::toggled, acquisition, &Acquisition::setLogging);
    // Made after the acquisition, so that it outlives it and publishes the
    // session's end when the window goes.
    outputs = new Outputs(this);
    outputsDialog = new OutputsDialog(this);
    connect(acquisition, &Acquisition::taken, outputs, &Outputs::take);
    connect(acquisition, &Acquisition::polled, outputs, &Outputs::polled);
    connect(acquisition, &Acquisition::sessionLine, outputs, &Outputs::sessionLine);
    connect(outputs, &Outputs::message, this, &MainWindow::OtaVastaanViesti);
    connect(outputs, &Outputs::changed, this, &MainWindow::showLinkState);
    connect(ui->actionLiveOutputs, &QAction::triggered, this, &MainWindow::openOutputs);
    // Simulated samples advance with the points plotted, and stand still
    // without plots.
    acquisition->setTestTimeBase([this] { return plotsReady() ? plots->sampleCount() : 0; });
    displays = new Pacer([] { return 1000.0 / 25; }, [this] { PaivitaLcdt(); }, this);
    linkState = new QLabel(this);
    linkState->setObjectName("linkState");
    linkState->setWordWrap(true);
    statusBar()->addWidget(linkState);

    // An acceptance has delivered the option set to every receiver before
    // exec() returns. Declining the options at start-up declines the program.
    if (options->exec() == 0)
        exit(0);

    AvaaMuistutus();

    if (options->settings().drawPlots) {
        InitialisoiKuvaajat();
        resize(1000, 780);
    } else {
        resize(450, 780);
    }
}

QString MainWindow::versionString()
{
    return QStringLiteral(MM_PROGRAM_VERSION);
}

MainWindow::~MainWindow()
{
    // The session's end goes out before the outputs close; what they say
    // while closing has nowhere to go.
    delete acquisition;
    outputs->disconnect(this);
    delete outputs;
    delete ui;
    delete options;
}

namespace
{

QString sensorName(int code)
{
    switch (code) {
    case 0:
        return "CMR3000 gyroscope";
    case 1:
        return "SCA3100 accelerometer";
    default:
        return "Not defined";
    }
}

// The three boxes share their look: no parent, "Information", the default OK.
void showInformation(const QString &text, const QPixmap &icon = QPixmap())
{
    QMessageBox box;
    box.setWindowTitle("Information");
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    if (!icon.isNull())
        box.setIconPixmap(icon);
    box.exec();
}

// A help file as the About and Readme boxes look for it: in the working
// directory first, where a program started from its build folder has it;
// otherwise in the data folder of an installed program, found from the
// program's own folder so that the installation can be moved as a whole.
QString helpFile(const QString &name)
{
    const QString installed =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + "/" MM_DATA_FROM_BIN "/" + name);
    return QFileInfo::exists(name) || !QFileInfo::exists(installed) ? name : installed;
}

} // namespace

void MainWindow::AvaaMuistutus()
{
    const OptionSet &o = options->settings();
    QString text;
    if (o.testMode)
        text += "TEST MODE\n\n";
    text += "Serial device: " + o.devicename + "\n";
    // The link always runs at 9600 baud; the dialog's baud rate box is not read.
    text += "Baudrate: 9600\n\n";
    text += "Message data bytes: " + QString().setNum(o.frame.dataBytes) + "\n";
    // Sensor 1 is named even when its slot is switched off.
    text += "Sensor 1 type: " + sensorName(o.s1Sensor()) + "\n";
    if (o.s2On)
        text += "Sensor 2 type: " + sensorName(o.s2Sensor()) + "\n";
    else
        text += "Sensor 2 UNUSED\n";
    text += "\nPlease make sure that your device(s) are ready!";
    showInformation(text);
}

void MainWindow::AvaaReadme()
{
    const QString readme = helpFile("readme.txt");
    QString text = tr("Check readme.txt");
    if (readme != "readme.txt")
        text += " in " + QFileInfo(readme).path();
    showInformation(text);
}

void MainWindow::AvaaAbout()
{
    const QString text = tr("This program is made by:\n"
                            "\n"
                            "The Motion Monitor developers\n"
                            "developers@motionmonitor.example.org\n"
                            "\n"
                            "at the Motion Monitor\n"
                            "project\n"
                            "\n"
                            "Version: %1 \n")
                             .arg(version, 0, QLatin1Char(' '));
    showInformation(text, QPixmap(helpFile("logo.png")));
}

void MainWindow::openRecordings()
{
    const QStringList files = QFileDialog::getOpenFileNames(
        this, QStringLiteral("Open recording"), options->settings().filename,
        QStringLiteral("Sessions and log files (*.session.jsonl *.txt);;All files (*)"));
    for (const QString &file : files) {
        QString error;
        if (RecordingViewer *viewer = RecordingViewer::open(
                file, this, &error, options->settings().frameFormat().linePace())) {
            viewer->setAttribute(Qt::WA_DeleteOnClose);
            viewer->show();
        } else {
            QMessageBox::warning(this, QStringLiteral("Open recording"), error);
        }
    }
}

void MainWindow::addNote()
{
    const SteadyNs at = steadyNow();
    auto *dialog = new QInputDialog(this);
    dialog->setObjectName("noteDialog");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Add note"));
    dialog->setLabelText(QStringLiteral("Note at %1 (the text may stay empty):")
                             .arg(QDateTime::fromMSecsSinceEpoch(acquisition->unixNs(at) / 1000000)
                                      .toString(QStringLiteral("hh:mm:ss"))));
    connect(dialog, &QInputDialog::textValueSelected, acquisition,
            [this, at](const QString &text) { acquisition->addNote(at, text); });
    dialog->show();
}

void MainWindow::saveImage()
{
    QList<QCustomPlot *> shown;
    for (QCustomPlot *plot : {plots->accPlot(), plots->gyroPlot()})
        if (!plot->isHidden())
            shown << plot;
    askAndSavePlotImage(this, shown, QStringLiteral("plots.png"));
}

void MainWindow::showSpectrum()
{
    if (!spectrum)
        spectrum = new SpectrumWindow(this);
    spectrum->show();
    spectrum->raise();
}
