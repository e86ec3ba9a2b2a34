#pragma once

// Pool of zero-filled memory blocks that outlives close and open: the wave-in takes its
// header-and-data blocks from here, so restarting with the same sizes allocates nothing.
// Its lock lets the capture side give blocks back while the user-interface side frees them.

#include <cstddef>
#include <mutex>
#include <vector>

// Flags of GetBlock. Blocks are always zero-filled when new; the value is kept for callers that
// name their request.
inline constexpr unsigned GHND = 0x0042; // movable, zero-filled

class TMMAllocator {
public:
    TMMAllocator() = default;
    TMMAllocator(const TMMAllocator&) = delete;
    TMMAllocator& operator=(const TMMAllocator&) = delete;
    ~TMMAllocator() { FreeAll(); }

    // A free block of exactly Bytes, else the first free one that is larger, else a new one.
    // Null when memory runs out.
    void* GetBlock(unsigned Flags, std::size_t Bytes);
    // Gives the block back to the pool and sets Block to null; an unknown address changes nothing.
    void ReleaseBlock(void*& Block);
    // Frees every block, last first.
    void FreeAll();

    std::size_t BlockCount() const;

private:
    struct Record {
        void* block;
        std::size_t size;
        int useCount;
    };
    mutable std::mutex FLock;
    std::vector<Record> FBlocks; // guarded by FLock
};
