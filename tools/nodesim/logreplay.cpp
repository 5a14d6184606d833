#include "logreplay.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace nodesim
{

namespace
{

bool parseInt(const std::string &text, long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0';
}

} // namespace

bool readLogFile(const std::string &path, std::vector<Sample> &samples, std::string &error)
{
    std::ifstream in(path);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line.rfind("indeksi", 0) == 0)
            continue;
        std::vector<long> fields;
        std::stringstream row(line);
        std::string field;
        long value = 0;
        bool numeric = true;
        while (std::getline(row, field, ','))
            if ((numeric = parseInt(field, value)))
                fields.push_back(value);
            else
                break;
        const auto where = path + ":" + std::to_string(lineNumber) + ": ";
        if (!numeric || fields.size() != 7) {
            error = where + "not a row \"index,ax,ay,az,gx,gy,gz\"";
            return false;
        }
        Sample sample;
        for (int axis = 0; axis < 3; ++axis) {
            const long a = fields[1 + axis];
            const long g = fields[4 + axis];
            if (a < -8192 || a > 8191 || g < -32768 || g > 32767) {
                error = where + "value out of range";
                return false;
            }
            sample.acc[axis] = static_cast<int16_t>(a);
            sample.gyro[axis] = static_cast<int16_t>(g);
        }
        samples.push_back(sample);
    }
    return true;
}

} // namespace nodesim
