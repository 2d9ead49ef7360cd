#include <gtest/gtest.h>

#include <vector>

#include "util/GridFit.h"

namespace {

TEST(FitSampleRows, SmallDatasetsAreMeasuredWhole)
{
    for (int count : {0, 1, 2, 199, 200}) {
        SCOPED_TRACE(count);
        auto rows = kv::FitSampleRows(count);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(rows[i], i);
    }
    EXPECT_TRUE(kv::FitSampleRows(-5).empty());
}

TEST(FitSampleRows, LargeDatasetsMeasureFirstAndLastHundred)
{
    for (int count : {201, 202, 1000, 100000}) {
        SCOPED_TRACE(count);
        auto rows = kv::FitSampleRows(count);
        ASSERT_EQ(rows.size(), 200u);
        for (int i = 0; i < 100; ++i) {
            EXPECT_EQ(rows[i], i);
            EXPECT_EQ(rows[100 + i], count - 100 + i);
        }
    }
    // Just past the limit the middle row is the one left out.
    auto rows = kv::FitSampleRows(201);
    EXPECT_EQ(rows[99], 99);
    EXPECT_EQ(rows[100], 101);
}

}  // namespace
