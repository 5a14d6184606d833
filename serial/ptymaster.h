#pragma once

#include <string>

// Opens the master end of a new pseudo-terminal, ready for its other end to
// be opened at *devicePath. `flags` are added to O_RDWR | O_NOCTTY |
// O_CLOEXEC. Returns the master's descriptor, or -1 with errno set (and
// nothing left open).
int openPtyMaster(int flags, std::string *devicePath);
