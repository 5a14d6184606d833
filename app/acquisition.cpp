// Starting and stopping acquisition, the timer tick, the test-mode generator,
// the live values and the message log.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "datalogger.h"
#include "options.h"
#include "serialhandler.h"

#include <QTimer>
#include <cmath>
#include <qcustomplot.h>

namespace
{
void setPlotTitle(QCustomPlot *plot, const QString &title)
{
    for (int i = 0; i < plot->plotLayout()->elementCount(); ++i) {
        if (auto *text = qobject_cast<QCPTextElement *>(plot->plotLayout()->elementAt(i)))
            text->setText(title);
    }
}
} // namespace

void MainWindow::on_Start_Button_clicked()
{
    if (!options->testMode) {
        switch (serial->OpenUsb(ui->TaajuusSBox->value())) {
        case -1:
            ui->msgBrowser->append("USB open failed. Device does not exist.");
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
    if (options->initMsgOn && !serial->SendInitMsg())
        return;
    timer->start(ui->TaajuusSBox->value());
}

void MainWindow::on_Stop_Button_clicked()
{
    if (options->testMode) {
        ui->msgBrowser->setText("Test stopped");
    } else if (serial->CloseUsb() == 1) {
        ui->msgBrowser->setText("USB closed");
    } else {
        ui->msgBrowser->append("Port already closed");
    }
    if (timer->isActive())
        timer->stop();
}

void MainWindow::MainTimeout()
{
    if (!options->testMode) {
        // A sample found comes back through OtaVastaanData before this returns.
        serial->readSerial();
        return;
    }

    // Simulated sensor: the waves advance only when a point is plotted, so
    // sampleCount is their time base. Conversion truncates toward zero.
    const double t = sampleCount;
    accX = static_cast<int16_t>(10 * std::sin(0.2 * t));
    accY = static_cast<int16_t>(5 * std::cos(0.1 * t));
    accZ = static_cast<int16_t>(15 * std::sin(0.05 * t));
    gyroX = static_cast<int16_t>(20 * std::sin(0.2 * t));
    gyroY = static_cast<int16_t>(55 * std::cos(0.3 * t));
    gyroZ = static_cast<int16_t>(150 * std::sin(0.05 * t));
    if (plotsReady)
        PiirraKuvaajat();
    PaivitaLcdt();
    if (ui->LogBox1->isChecked())
        logger->Log(accX, accY, accZ, gyroX, gyroY, gyroZ);
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
    PaivitaLcdt();
    if (plotsReady)
        PiirraKuvaajat();
    if (ui->LogBox1->isChecked())
        logger->Log(accX, accY, accZ, gyroX, gyroY, gyroZ);
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
    serial->SendInitMsg();
}

void MainWindow::OtaVastaanOptions(int *optionFrame)
{
    Q_UNUSED(optionFrame); // the serial link takes the frame options itself
    ui->msgBrowser->append("options updated.");
    ui->msgBrowser->append("****************");
    if (options->testMode)
        ui->msgBrowser->append("TEST MODE");
    accTitle = "acc";
    gyroTitle = "gyro";
    if (plotsReady) {
        setPlotTitle(accPlot, accTitle);
        setPlotTitle(gyroPlot, gyroTitle);
    }
}

void MainWindow::AvaaOptions()
{
    // An acceptance has delivered the new options before exec() returns.
    options->exec();
    if (!options->drawPlots)
        return; // plots built earlier stay and go on being drawn
    if (plotsReady)
        SkaalaaKuvaajat();
    else
        InitialisoiKuvaajat();
    resize(1000, 780);
}
