#pragma once

#include "optionset.h"

#include <QDialog>
#include <QString>

class QLabel;
class QStringListModel;
class Ui_Options;

// The options dialog and the store of the accepted option set. The values
// are taken from the form only when the dialog is accepted, then emitted;
// a rejection leaves the form's edits in place for the next showing.
class Options : public QDialog
{
    Q_OBJECT
public:
    explicit Options(QWidget *parent = nullptr);
    ~Options() override;

    // The option set of the last acceptance; before the first one, the
    // form's defaults. The directory is also set by Browse at once.
    const OptionSet &settings() const { return current; }

signals:
    // optionFrame points to nine ints valid only during delivery.
    void SendOptions(int *optionFrame);
    void SendFilename(QString);
    void SendDeviceName(QString);
    void SendNewfileIndex(int);

public slots:
    // Reads the form into the option set and emits it; runs on acceptance.
    void CheckOptions();
    void Browse();

private slots:
    void on_Sensorsetup_Button_toggled(bool checked);
    void BytesChanged();

protected:
    // Offers the serial devices present now as the device field's completions.
    void showEvent(QShowEvent *event) override;

private:
    OptionSet readForm() const;
    void showDataBytesWarning();

    OptionSet current;
    QStringListModel *devices;
    QLabel *dataBytesWarning;
    Ui_Options *ui;
};
