// The window's controls of acquisition, its live values, plots, message log
// and status bar.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "acquisition.h"
#include "liveplots.h"
#include "options.h"
#include "outputs.h"
#include "outputsdialog.h"
#include "pacer.h"
#include "spectrumwindow.h"

#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>

void MainWindow::on_Start_Button_clicked()
{
    acquisition->start(ui->TaajuusSBox->value());
}

void MainWindow::on_Stop_Button_clicked()
{
    acquisition->stop();
}

void MainWindow::MainTimeout()
{
    // Received samples come back through OtaVastaanData before this returns;
    // a generated one too.
    acquisition->tick();
}

void MainWindow::LahetaInitMsg()
{
    acquisition->sendInitMessage();
}

void MainWindow::OtaVastaanData(int16_t a0, int16_t a1, int16_t a2, int16_t g0, int16_t g1,
                                int16_t g2)
{
    latest = {{a0, a1, a2}, {g0, g1, g2}};
    displays->request();
    if (spectrum)
        spectrum->append(latest);
    if (plotsReady())
        PiirraKuvaajat();
}

void MainWindow::PaivitaLcdt()
{
    ui->acc_X->display(int(latest.acc[0]));
    ui->acc_Y->display(int(latest.acc[1]));
    ui->acc_Z->display(int(latest.acc[2]));
    ui->gyro_X->display(int(latest.gyro[0]));
    ui->gyro_Y->display(int(latest.gyro[1]));
    ui->gyro_Z->display(int(latest.gyro[2]));
}

void MainWindow::OtaVastaanViesti(QString msg)
{
    ui->msgBrowser->append(msg);
}

void MainWindow::showMessage(const QString &text, bool newPage)
{
    if (newPage)
        ui->msgBrowser->setText(text);
    else
        OtaVastaanViesti(text);
}

void MainWindow::showLinkState()
{
    const Acquisition::Status s = acquisition->status();
    QString text, details;
    if (s.acquiring && s.testMode) {
        text = "Test mode";
    } else if (s.acquiring) {
        const QString rate = s.lost ? QStringLiteral("lost, reopening")
                                    : QStringLiteral("%1 samples/s").arg(s.samplesPerSecond);
        text = QStringLiteral("%1 · %2 · %3 frames · %4 stray bytes")
                   .arg(QFileInfo(s.device).fileName(), rate)
                   .arg(s.frames)
                   .arg(s.strayBytes);
        details = s.device;
    }
    // Names only: the full paths are in the tool tip.
    if (s.acquiring && !s.logFailure.isEmpty()) {
        text += "\nlog failing: " + s.logFailure;
        details += "\n" + s.logFailure;
    } else if (s.acquiring && !s.logFile.isEmpty()) {
        text +=
            QStringLiteral("\nlog %1: %2 rows").arg(QFileInfo(s.logFile).fileName()).arg(s.logRows);
        details += "\n" + QFileInfo(s.logFile).absoluteFilePath();
    }
    if (outputs->isOpen()) {
        text += "\n" + outputs->statusText();
        details += "\n" + outputs->statusText();
    }
    linkState->setText(text.trimmed());
    linkState->setToolTip(details.trimmed());
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    // Once the window is tall enough for the plots' designed room with a
    // status bar of two lines (the link's and the log's) below it, the status
    // bar spans the window and the plots take the room above it. Smaller,
    // it keeps the part the plots leave it at the designed size.
    const int twoLines = 2 * linkState->fontMetrics().lineSpacing();
    const int barTop = height() - (statusBar()->height() - linkState->height()) - twoLines;
    const bool free = barTop > LivePlots::designedRoom.bottom();
    if (free != statusBarFree) {
        statusBarFree = free;
        statusBar()->removeWidget(linkState);
        statusBar()->addWidget(linkState, free ? 1 : 0);
        linkState->show();
    }
    linkState->setMinimumHeight(free ? twoLines : 0);
    linkState->setMaximumWidth(free ? QWIDGETSIZE_MAX : 390);
    if (plotsReady())
        plots->setRoom(width(), barTop);
}

void MainWindow::OtaVastaanOptions(int *optionFrame)
{
    Q_UNUSED(optionFrame); // the serial link takes the frame options itself
    ui->msgBrowser->append("options updated.");
    ui->msgBrowser->append("****************");
    if (options->settings().testMode)
        ui->msgBrowser->append("TEST MODE");
    acquisition->setOptions(options->settings());
    // Outputs open follow the device and the slots in use.
    if (outputs->isOpen())
        outputs->open(outputs->settings(), options->settings().devicename,
                      options->settings().frameFormat());
    accTitle = "acc";
    gyroTitle = "gyro";
    if (plotsReady())
        plots->setTitles(accTitle, gyroTitle);
}

void MainWindow::AvaaOptions()
{
    // An acceptance has delivered the new options before exec() returns.
    options->exec();
    if (!options->settings().drawPlots)
        return; // plots built earlier stay and go on being drawn
    if (plotsReady())
        SkaalaaKuvaajat();
    else
        InitialisoiKuvaajat();
    resize(1000, 780);
}

void MainWindow::InitialisoiKuvaajat()
{
    plots = new LivePlots(this, accTitle, gyroTitle);
    ui->actionSaveImage->setEnabled(true);
    connect(plots->clearButton(), SIGNAL(clicked()), this, SLOT(TyhjennaKuvaajat()));
    SkaalaaKuvaajat();
}

void MainWindow::SkaalaaKuvaajat()
{
    const OptionSet &o = options->settings();
    if (!plots->arrange(o.s1On, o.s2On, o.s1Sensor()))
        resize(450, 750);
}

void MainWindow::PiirraKuvaajat()
{
    plots->append(latest, options->settings().autoClearLines, ui->Autoscale->checkState());
}

void MainWindow::TyhjennaKuvaajat()
{
    // Clearing empties what the plots hold too, so nothing cleared comes
    // back, and shows at once, also while acquisition is stopped.
    plots->clearPoints();
}

void MainWindow::openOutputs()
{
    outputsDialog->setDevice(options->settings().devicename);
    if (outputsDialog->exec() == QDialog::Accepted)
        outputs->open(outputsDialog->settings(), options->settings().devicename,
                      options->settings().frameFormat());
}
