#pragma once

#include "outputsettings.h"

#include <QDialog>

class Ui_OutputsDialog;

// "Edit → Live outputs…": the UDP destinations and the MQTT broker, with the
// recorder's settings and defaults. OK checks the form as the recorder checks
// its command line (names resolved, the password read) and stays open with the
// problem shown while one remains; the form keeps its values for the next
// showing, and nothing is stored beyond the run.
class OutputsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit OutputsDialog(QWidget *parent = nullptr);
    ~OutputsDialog() override;

    // What the last acceptance read; no output before the first.
    const OutputSettings &settings() const { return current; }
    // Shows the default topic prefix of this device as a hint.
    void setDevice(const QString &device);

public slots:
    void accept() override;

private:
    Ui_OutputsDialog *ui;
    OutputSettings current;
};
