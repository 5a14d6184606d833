#pragma once

#include <cstddef>
#include <utility>
#include <vector>

// Where the rows of a recording lie on a plot's key axis, and where the line
// through them breaks. Keys never fall from one row to the next. This base
// keys each row by its position (0, 1, 2, ...) and breaks nowhere; a
// recording with times derives from it.
class RowKeys
{
public:
    virtual ~RowKeys() = default;
    virtual double key(std::size_t row) const { return double(row); }
    // The first of `rows` rows whose key is at or after `key`; rows when
    // none is.
    virtual std::size_t firstFrom(double key, std::size_t rows) const;

    // The rows whose keys lie within lower .. upper: first and end.
    std::pair<std::size_t, std::size_t> within(double lower, double upper, std::size_t rows) const;

    // Rows before which the line breaks, rising.
    std::vector<std::size_t> breaks;
};
