#pragma once

#include <QDialog>
#include <QString>

class Ui_Options;

// The options dialog and the store of the accepted option values. The values
// are taken from the form only when the dialog is accepted, then emitted.
class Options : public QDialog
{
    Q_OBJECT
public:
    explicit Options(QWidget *parent = nullptr);
    ~Options() override;

    QString filename;
    QString devicename;
    bool drawPlots;
    bool testMode;
    bool s1On;
    bool s2On;
    bool initMsgOn;
    int s1Sensor;
    int s2Sensor;
    int dataBytes;
    int autoClearLines;
    Ui_Options *ui;

signals:
    // optionFrame points to nine ints valid only during delivery.
    void SendOptions(int *optionFrame);
    void SendFilename(QString);
    void SendDeviceName(QString);
    void SendNewfileIndex(int);

public slots:
    void CheckOptions();
    void Browse();

private slots:
    void on_Sensorsetup_Button_toggled(bool checked);
    void BytesChanged();
};
