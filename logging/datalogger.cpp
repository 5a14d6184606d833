#include "datalogger.h"

// TODO(logger): placeholder.
Datalogger::Datalogger(QObject *parent)
    : QObject(parent), fileOpen(false), lineIndex(0), newfileIndex(0)
{
}

Datalogger::~Datalogger() = default;

void Datalogger::ReceiveFilename(QString filename_) { filename = filename_; }
void Datalogger::CreateFile() {}
void Datalogger::Log(int, int, int, int, int, int) {}
void Datalogger::ReceiveNewfileIndex(int newfileIndex_) { newfileIndex = newfileIndex_; }
