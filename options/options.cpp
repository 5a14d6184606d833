#include "options.h"
#include "ui_options.h"

#include "serialdevices.h"

#include <QCompleter>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QStringListModel>

Options::Options(QWidget *parent)
    : QDialog(parent), devices(new QStringListModel(this)), ui(new Ui_Options)
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

    ui->devicenameField->setText(current.devicename);
    auto *completer = new QCompleter(devices, ui->devicenameField);
    completer->setFilterMode(Qt::MatchContains);
    ui->devicenameField->setCompleter(completer);

    // Under the data bytes, in the frame panel's free strip: said while the
    // data bytes cannot carry the sensors in use (the dialog refuses nothing).
    dataBytesWarning = new QLabel(ui->frame);
    dataBytesWarning->setObjectName("dataBytesWarning");
    dataBytesWarning->setGeometry(219, 81, 345, 18);
    dataBytesWarning->setStyleSheet("color: rgb(190, 0, 0);");
    connect(ui->DataBytes, &QSpinBox::valueChanged, this, &Options::showDataBytesWarning);
    for (QCheckBox *box : {ui->S1On, ui->S2On})
        connect(box, &QCheckBox::toggled, this, &Options::showDataBytesWarning);
    showDataBytesWarning();
}

void Options::showDataBytesWarning()
{
    const int needed = readForm().frameFormat().dataBytesNeeded();
    dataBytesWarning->setText(
        ui->DataBytes->value() < needed
            ? QStringLiteral("The sensors in use take %1 data bytes").arg(needed)
            : QString());
}

void Options::showEvent(QShowEvent *event)
{
    devices->setStringList(serialDevices());
    QDialog::showEvent(event);
}

Options::~Options()
{
    delete ui;
}

OptionSet Options::readForm() const
{
    // A switched-off framing byte is -1; the sensor types and byte counts are
    // kept also for a slot that is off.
    const auto framing = [](const QGroupBox *on, const QSpinBox *value) {
        return on->isChecked() ? value->value() : FrameFormat::off;
    };
    OptionSet o;
    o.frame.dataBytes = ui->DataBytes->value();
    o.frame.startByte1 = framing(ui->XSB1, ui->StartByte1);
    o.frame.startByte2 = framing(ui->XSB2, ui->StartByte2);
    o.frame.endByte1 = framing(ui->XEB1, ui->EndByte1);
    o.frame.endByte2 = framing(ui->XEB2, ui->EndByte2);
    o.frame.slot1Type = ui->S1_Sensor->currentIndex();
    o.frame.slot2Type = ui->S2_Sensor->currentIndex();
    o.s1On = ui->S1On->isChecked();
    o.s2On = ui->S2On->isChecked();
    o.sensor1Bytes = ui->S1_Bytes->value();
    o.sensor2Bytes = ui->S2_Bytes->value();
    o.filename = ui->filenameField->text();
    o.newfileLines = ui->newfilelines->value();
    o.devicename = ui->devicenameField->text();
    o.drawPlots = ui->checkBox->isChecked();
    // The plots use this as their window length, so the "Auto clear" check
    // state is deliberately not consulted.
    o.autoClearLines = ui->AutoClearLines->value();
    o.testMode = ui->TestProgram->isChecked();
    o.initMsgOn = ui->InitMsgOn->isChecked();
    return o;
}

void Options::CheckOptions()
{
    current = readForm();
    OptionArray optionFrame = current.optionArray();
    emit SendOptions(optionFrame.data());
    emit SendFilename(current.filename);
    emit SendDeviceName(current.devicename);
    emit SendNewfileIndex(current.newfileLines);
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
    current.filename = dir;
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
