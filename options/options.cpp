#include "options.h"

// TODO(options): placeholder until the form exists.
Options::Options(QWidget *parent)
    : QDialog(parent), drawPlots(false), testMode(false), s1On(false), s2On(false),
      initMsgOn(false), s1Sensor(0), s2Sensor(0), dataBytes(0), autoClearLines(0), ui(nullptr)
{
}

Options::~Options() = default;

void Options::CheckOptions() {}
void Options::Browse() {}
void Options::on_Sensorsetup_Button_toggled(bool) {}
void Options::BytesChanged() {}
