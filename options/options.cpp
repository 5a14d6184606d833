#include "options.h"
#include "ui_options.h"

#include <QDir>
#include <QFileDialog>

Options::Options(QWidget *parent)
    : QDialog(parent), drawPlots(false), testMode(false), s1On(false), s2On(false),
      initMsgOn(false), s1Sensor(0), s2Sensor(0), dataBytes(0), autoClearLines(0),
      ui(new Ui_Options)
{
    ui->setupUi(this);
    setWindowTitle("Options");

    connect(this, SIGNAL(accepted()), this, SLOT(CheckOptions()));
    connect(ui->BrowseButton, SIGNAL(clicked()), this, SLOT(Browse()));
    // Made after setupUi, so the form's own DataBytes value survives until the
    // user changes a sensor byte count.
    connect(ui->S1_Bytes, SIGNAL(valueChanged(int)), this, SLOT(BytesChanged()));
    connect(ui->S2_Bytes, SIGNAL(valueChanged(int)), this, SLOT(BytesChanged()));

    resize(592, 407);
    ui->Sensorsetup_box->hide();

    for (QComboBox *sensor : {ui->S1_Sensor, ui->S2_Sensor}) {
        sensor->addItem("CMR3000");
        sensor->addItem("SCA3100");
    }
    ui->S1_Sensor->setCurrentIndex(0);
    ui->S2_Sensor->setCurrentIndex(1);

    ui->devicenameField->setText("/dev/ttyUSB0");
}

Options::~Options()
{
    delete ui;
}

void Options::CheckOptions()
{
    // -1 marks a switched-off field; receivers index the array by number.
    int optionFrame[9];
    optionFrame[0] = ui->DataBytes->value();
    optionFrame[1] = ui->XSB1->isChecked() ? ui->StartByte1->value() : -1;
    optionFrame[2] = ui->XSB2->isChecked() ? ui->StartByte2->value() : -1;
    optionFrame[3] = ui->XEB1->isChecked() ? ui->EndByte1->value() : -1;
    optionFrame[4] = ui->XEB2->isChecked() ? ui->EndByte2->value() : -1;
    optionFrame[5] = ui->S1On->isChecked() ? ui->S1_Sensor->currentIndex() : -1;
    optionFrame[6] = ui->S2On->isChecked() ? ui->S2_Sensor->currentIndex() : -1;
    optionFrame[7] = ui->S1_Bytes->value();
    optionFrame[8] = ui->S2_Bytes->value();

    dataBytes = ui->DataBytes->value();
    filename = ui->filenameField->text();
    devicename = ui->devicenameField->text();
    drawPlots = ui->checkBox->isChecked();
    s1On = ui->S1On->isChecked();
    s2On = ui->S2On->isChecked();
    s1Sensor = ui->S1_Sensor->currentIndex();
    s2Sensor = ui->S2_Sensor->currentIndex();
    testMode = ui->TestProgram->isChecked();
    initMsgOn = ui->InitMsgOn->isChecked();
    // The plots use this as their window length, so the "Auto clear" check
    // state is deliberately not consulted.
    autoClearLines = ui->AutoClearLines->value();

    emit SendOptions(optionFrame);
    emit SendFilename(filename);
    emit SendDeviceName(devicename);
    emit SendNewfileIndex(ui->newfilelines->value());
}

void Options::Browse()
{
    // Start where the field points (relative paths are taken from the working
    // directory, as the logger takes them).
    const QString start = QDir::current().absoluteFilePath(ui->filenameField->text());
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Save directory"), start,
                                                          QFileDialog::ShowDirsOnly);
    // An empty answer means the chooser was cancelled: keep the user's directory.
    if (dir.isEmpty())
        return;
    filename = dir;
    ui->filenameField->setText(dir);
}

void Options::on_Sensorsetup_Button_toggled(bool checked)
{
    if (checked) {
        resize(800, 407);
        ui->Sensorsetup_box->show();
    } else {
        resize(592, 407);
        ui->Sensorsetup_box->hide();
    }
}

void Options::BytesChanged()
{
    // The spin box clamps the sum to its maximum of 99.
    ui->DataBytes->setValue(ui->S1_Bytes->value() + ui->S2_Bytes->value());
}
