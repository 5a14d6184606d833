// Starting and stopping acquisition, the timer tick, the test-mode generator,
// the live values, the plots and the message log.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "datalogger.h"
#include "linkwatch.h"
#include "liveplots.h"
#include "options.h"
#include "pacer.h"
#include "serialdevices.h"
#include "serialhandler.h"

#include <QFileInfo>
#include <QLabel>
#include <QTimer>
#include <cmath>

void MainWindow::on_Start_Button_clicked()
{
    const OptionSet &o = options->settings();
    if (!o.testMode) {
        switch (serial->OpenUsb(ui->TaajuusSBox->value())) {
        case -1:
            ui->msgBrowser->append("USB open failed. Device does not exist.");
            ui->msgBrowser->append("No device at " + o.devicename + ". " + describeSerialDevices());
            return;
        case 1:
            ui->msgBrowser->append("Serial port opened");
            break;
        default:
            ui->msgBrowser->append("Unknown error!");
            return;
        }
    }
    // A refused init message is reported by the serial link itself; the port
    // stays open until Stop.
    if (o.initMsgOn && !serial->SendInitMsg())
        return;
    timer->start(ui->TaajuusSBox->value());
    if (!o.testMode)
        watch->start(clock.elapsed());
    statusTimer->start();
    showLinkState();
}

void MainWindow::on_Stop_Button_clicked()
{
    // A port left open by a switch to test mode is closed too.
    const bool closed = serial->CloseUsb() == 1;
    if (options->settings().testMode)
        ui->msgBrowser->setText("Test stopped");
    else if (closed)
        ui->msgBrowser->setText("USB closed");
    else
        ui->msgBrowser->append("Port already closed");
    if (timer->isActive())
        timer->stop();
    watch->stop();
    statusTimer->stop();
    linkState->clear();
    linkState->setToolTip(QString());
}

void MainWindow::showLinkState()
{
    const OptionSet &o = options->settings();
    QString text = "Test mode", details;
    if (!o.testMode) {
        bool reopened = false;
        for (const QString &line : watch->check(clock.elapsed(), &reopened))
            ui->msgBrowser->append(line);
        if (reopened && o.initMsgOn)
            serial->SendInitMsg();
        text = watch->isActive() ? watch->summary() : QString();
        details = serial->deviceName();
    }
    // Names only: the full paths are in the tool tip.
    const QString log = logger->currentFile();
    if (!log.isEmpty()) {
        text += QStringLiteral("\nlog %1: %2 rows")
                    .arg(QFileInfo(log).fileName())
                    .arg(logger->rowCount());
        details += "\n" + QFileInfo(log).absoluteFilePath();
    }
    linkState->setText(text);
    linkState->setToolTip(details.trimmed());
}

void MainWindow::MainTimeout()
{
    if (!options->settings().testMode) {
        // A sample found comes back through OtaVastaanData before this returns.
        serial->readSerial();
        return;
    }
    // Simulated sensor: the waves advance only when a point is plotted, so
    // the plots' sample count is their time base. Conversion truncates
    // toward zero.
    const double t = plotsReady() ? plots->sampleCount() : 0;
    OtaVastaanData(int16_t(10 * std::sin(0.2 * t)), int16_t(5 * std::cos(0.1 * t)),
                   int16_t(15 * std::sin(0.05 * t)), int16_t(20 * std::sin(0.2 * t)),
                   int16_t(55 * std::cos(0.3 * t)), int16_t(150 * std::sin(0.05 * t)));
}

void MainWindow::OtaVastaanData(int16_t a0, int16_t a1, int16_t a2, int16_t g0, int16_t g1,
                                int16_t g2)
{
    accX = a0;
    accY = a1;
    accZ = a2;
    gyroX = g0;
    gyroY = g1;
    gyroZ = g2;
    displays->request();
    if (plotsReady())
        PiirraKuvaajat();
    if (!ui->LogBox1->isChecked())
        return;
    const bool test = options->settings().testMode;
    if (test != logHoldsTestSamples)
        logger->startNewFile();
    logHoldsTestSamples = test;
    logger->Log(accX, accY, accZ, gyroX, gyroY, gyroZ);
}

Sample MainWindow::latestSample() const
{
    return {{accX, accY, accZ}, {gyroX, gyroY, gyroZ}};
}

void MainWindow::PaivitaLcdt()
{
    ui->acc_X->display(int(accX));
    ui->acc_Y->display(int(accY));
    ui->acc_Z->display(int(accZ));
    ui->gyro_X->display(int(gyroX));
    ui->gyro_Y->display(int(gyroY));
    ui->gyro_Z->display(int(gyroZ));
}

void MainWindow::OtaVastaanViesti(QString msg)
{
    ui->msgBrowser->append(msg);
}

void MainWindow::LahetaInitMsg()
{
    if (!serial->isOpen())
        ui->msgBrowser->append("Init message not sent: no serial port is open (press Start "
                               "in wireless mode first)");
    serial->SendInitMsg();
}

void MainWindow::OtaVastaanOptions(int *optionFrame)
{
    Q_UNUSED(optionFrame); // the serial link takes the frame options itself
    ui->msgBrowser->append("options updated.");
    ui->msgBrowser->append("****************");
    if (options->settings().testMode)
        ui->msgBrowser->append("TEST MODE");
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
    plots->append(latestSample(), options->settings().autoClearLines, ui->Autoscale->checkState());
}

void MainWindow::TyhjennaKuvaajat()
{
    // Clearing empties what the plots hold too, so nothing cleared comes
    // back, and shows at once, also while acquisition is stopped.
    plots->clearPoints();
}
