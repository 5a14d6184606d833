#pragma once

// The log files' first line, as the Datalogger writes it and the Recording
// expects it (without its line feed).
namespace logformat
{
inline constexpr char header[] =
    "indeksi,x-akseli1,y-akseli1,z-akseli1,x-akseli2,y-akseli2,z-akseli2";
} // namespace logformat
