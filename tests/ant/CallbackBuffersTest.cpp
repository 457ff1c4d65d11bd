#include "ant/CallbackBuffers.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(CallbackBuffers, RowsKeepTheirAddressAndContentWhileTheTableGrows)
{
    TRxBuffers table;
    const int32_t first = table.AddRow();
    uint8_t *row = table.Row(first);
    ASSERT_NE(row, nullptr);
    row[0] = 0x11;
    row[15] = 0x22;
    // Well past one chunk, so growth has allocated more storage.
    for (int i = 0; i < 3 * int(TRxBuffers::RowsPerChunk); ++i)
        table.AddRow();
    EXPECT_EQ(table.Row(first), row);
    EXPECT_EQ(row[0], 0x11);
    EXPECT_EQ(row[15], 0x22);
    uint8_t *fresh = table.Row(table.AddRow());
    for (size_t i = 0; i < RxRowSize; ++i)
        EXPECT_EQ(fresh[i], 0) << "new rows start zeroed";
}

TEST(CallbackBuffers, IndicesOutsideTheTableHaveNoRow)
{
    TResponseBuffers table;
    EXPECT_EQ(table.Row(0), nullptr);
    EXPECT_EQ(table.Row(-1), nullptr);
    const int32_t index = table.AddRow();
    EXPECT_EQ(index, 0);
    EXPECT_NE(table.Row(0), nullptr);
    EXPECT_EQ(table.Row(1), nullptr);
    EXPECT_EQ(table.Count(), 1u);
}

TEST(CallbackBuffers, ProcessTablesAreSharedAndTheGlobalBufferIsFixed)
{
    EXPECT_EQ(&ResponseBuffers(), &ResponseBuffers());
    EXPECT_EQ(&RxBuffers(), &RxBuffers());
    EXPECT_EQ(GlobalResponseBuffer(), GlobalResponseBuffer());
}

// A writer on another thread keeps writing a row handed out earlier while the table grows.
TEST(CallbackBuffers, WritingAHandedOutRowRacesNothingWhileTheTableGrows)
{
    TRxBuffers table;
    uint8_t *row = table.Row(table.AddRow());
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        uint8_t n = 0;
        while (!stop.load())
            row[1] = ++n;
    });
    std::thread reader([&] {
        while (!stop.load())
            (void)table.Row(int32_t(table.Count()) - 1);
    });
    for (int i = 0; i < 2000; ++i)
        table.AddRow();
    stop = true;
    writer.join();
    reader.join();
    EXPECT_EQ(table.Row(0), row);
    EXPECT_EQ(table.Count(), 2001u);
}

} // namespace
