#include "util/GridFit.h"

namespace kv {

std::vector<int> FitSampleRows(int rowCount)
{
    std::vector<int> rows;
    if (rowCount <= 0)
        return rows;
    if (rowCount <= kFitAllRowsLimit) {
        rows.reserve(static_cast<std::size_t>(rowCount));
        for (int r = 0; r < rowCount; ++r)
            rows.push_back(r);
        return rows;
    }
    rows.reserve(2 * kFitEdgeRows);
    for (int r = 0; r < kFitEdgeRows; ++r)
        rows.push_back(r);
    for (int r = rowCount - kFitEdgeRows; r < rowCount; ++r)
        rows.push_back(r);
    return rows;
}

}  // namespace kv
