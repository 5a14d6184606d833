#pragma once

#include "frameformat.h"

#include <string>
#include <vector>

namespace nodesim
{

// Reads a log file that Motion Monitor wrote: header lines (also repeated
// ones, when a file was appended to) and rows "index,ax,ay,az,gx,gy,gz".
// Returns false with `error` naming the file and line when a row does not
// parse or a value lies outside what the program can log.
bool readLogFile(const std::string &path, std::vector<Sample> &samples, std::string &error);

} // namespace nodesim
