#pragma once
// The process-wide tables of rows that the ANT library writes before it calls a callback:
// 10-byte response rows, 16-byte receive rows and the one response buffer of global mode.
//
// A row handed to the library keeps its address for the life of the process: the tables
// grow in fixed chunks that are never moved or freed, so a table may grow on the
// user-interface thread while the library's thread writes a row handed out earlier, and a
// row can be looked up from any thread without a lock.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>

constexpr size_t ResponseRowSize = 10;
constexpr size_t RxRowSize = 16;

template <size_t RowSize>
class TCallbackRowTable {
public:
    static constexpr size_t RowsPerChunk = 64;
    static constexpr size_t MaxChunks = 1024;

    TCallbackRowTable() = default;
    TCallbackRowTable(const TCallbackRowTable &) = delete;
    TCallbackRowTable &operator=(const TCallbackRowTable &) = delete;
    ~TCallbackRowTable()
    {
        for (auto &chunk : FChunks)
            delete[] chunk.load(std::memory_order_relaxed);
    }

    // Appends a zeroed row and returns its index; any thread. Throws std::length_error when
    // the table is full (65,536 rows: far beyond any number of channels a process makes).
    int32_t AddRow()
    {
        std::lock_guard<std::mutex> lock(FGrowMutex);
        const size_t index = FCount.load(std::memory_order_relaxed);
        const size_t chunk = index / RowsPerChunk;
        if (chunk >= MaxChunks)
            throw std::length_error("callback row table full");
        if (FChunks[chunk].load(std::memory_order_relaxed) == nullptr)
            FChunks[chunk].store(new TRow[RowsPerChunk]{}, std::memory_order_release);
        FCount.store(index + 1, std::memory_order_release);
        return static_cast<int32_t>(index);
    }

    // Number of rows handed out so far; any thread.
    size_t Count() const { return FCount.load(std::memory_order_acquire); }

    // The row at Index, or nullptr when Index is outside the table; any thread.
    uint8_t *Row(int32_t Index) const
    {
        if (Index < 0 || static_cast<size_t>(Index) >= Count())
            return nullptr;
        const size_t index = static_cast<size_t>(Index);
        TRow *chunk = FChunks[index / RowsPerChunk].load(std::memory_order_acquire);
        return chunk[index % RowsPerChunk].data();
    }

private:
    using TRow = std::array<uint8_t, RowSize>;
    std::mutex FGrowMutex;
    std::atomic<size_t> FCount{0};
    std::array<std::atomic<TRow *>, MaxChunks> FChunks{};
};

using TResponseBuffers = TCallbackRowTable<ResponseRowSize>;
using TRxBuffers = TCallbackRowTable<RxRowSize>;

// The two tables and the global-mode buffer shared by every controller of the process.
TResponseBuffers &ResponseBuffers();
TRxBuffers &RxBuffers();
uint8_t *GlobalResponseBuffer();
