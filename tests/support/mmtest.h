#pragma once

#include <QString>

namespace mmtest {

// Path of the built program, of its folder (with logo.png and readme.txt) and
// of the source tree.
inline QString programPath() { return QStringLiteral(MM_BINARY); }
inline QString programDir() { return QStringLiteral(MM_BIN_DIR); }
inline QString sourceDir() { return QStringLiteral(MM_SOURCE_DIR); }

} // namespace mmtest
