#pragma once
// Which rows the column auto-fit measures. Walking every row of a large
// dataset would make fitting slow, so past a limit only both ends count.
#include <vector>

namespace kv {

// Datasets up to this many rows are measured completely.
inline constexpr int kFitAllRowsLimit = 200;
// Otherwise this many rows from the start and as many from the end.
inline constexpr int kFitEdgeRows = 100;

// Row indexes to measure for a dataset of rowCount rows, in ascending order
// and without repeats. A count of 0 or less yields none.
std::vector<int> FitSampleRows(int rowCount);

}  // namespace kv
