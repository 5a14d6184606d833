#include "outputsdialog.h"
#include "ui_outputsdialog.h"

#include <QRegularExpression>

OutputsDialog::OutputsDialog(QWidget *parent) : QDialog(parent), ui(new Ui_OutputsDialog)
{
    ui->setupUi(this);
    ui->problem->hide();
}

OutputsDialog::~OutputsDialog()
{
    delete ui;
}

void OutputsDialog::setDevice(const QString &device)
{
    ui->mqttTopic->setPlaceholderText(OutputSettings::defaultTopic(device));
}

void OutputsDialog::accept()
{
    using Field = OutputSettings::Field;
    OutputSettings::Given given;
    given.udp =
        ui->udpDestinations->text().split(QRegularExpression("[\\s,]+"), Qt::SkipEmptyParts);
    given.udpBatch = ui->udpBatch->isChecked();
    given.mqtt = ui->mqttUrl->text().trimmed();
    // A broker's own settings count only with a broker.
    if (!given.mqtt.isEmpty()) {
        given.topic = ui->mqttTopic->text().trimmed();
        given.qos = ui->mqttQos->currentText();
        given.user = ui->mqttUser->text().trimmed();
        given.passwordFile = ui->mqttPasswordFile->text().trimmed();
        given.cafile = ui->mqttCafile->text().trimmed();
    }
    given.mqttBatch = ui->mqttBatch->isChecked();
    Field field;
    QString reason;
    if (OutputSettings::read(given, &current, &field, &reason)) {
        ui->problem->clear();
        ui->problem->hide();
        QDialog::accept();
        return;
    }
    const std::pair<QLabel *, QWidget *> where[] = {
        {ui->udpLabel, ui->udpDestinations}, {ui->mqttLabel, ui->mqttUrl},
        {ui->topicLabel, ui->mqttTopic},     {ui->qosLabel, ui->mqttQos},
        {ui->userLabel, ui->mqttUser},       {ui->passwordLabel, ui->mqttPasswordFile},
        {ui->cafileLabel, ui->mqttCafile}};
    const auto [label, input] = where[int(field)];
    ui->problem->setText(label->text().chopped(1) + ": " + reason);
    ui->problem->show();
    input->setFocus();
}
