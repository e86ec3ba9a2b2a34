#include "audio/MMAlloc.h"

#include <cstdlib>

void* TMMAllocator::GetBlock(unsigned /*Flags*/, std::size_t Bytes)
{
    std::lock_guard guard(FLock);
    Record* larger = nullptr;
    for (auto& r : FBlocks) {
        if (r.useCount != 0) {
            continue;
        }
        if (r.size == Bytes) {
            r.useCount = 1;
            return r.block;
        }
        if (!larger && r.size > Bytes) {
            larger = &r;
        }
    }
    if (larger) {
        larger->useCount = 1;
        return larger->block;
    }
    void* block = std::calloc(1, Bytes ? Bytes : 1);
    if (!block) {
        return nullptr;
    }
    try {
        FBlocks.push_back({ block, Bytes, 1 });
    } catch (...) {
        std::free(block);
        return nullptr;
    }
    return block;
}

void TMMAllocator::ReleaseBlock(void*& Block)
{
    std::lock_guard guard(FLock);
    for (auto& r : FBlocks) {
        if (r.block == Block) {
            if (r.useCount > 0) {
                --r.useCount;
            }
            Block = nullptr;
            return;
        }
    }
}

void TMMAllocator::FreeAll()
{
    std::lock_guard guard(FLock);
    while (!FBlocks.empty()) {
        std::free(FBlocks.back().block);
        FBlocks.pop_back();
    }
}

std::size_t TMMAllocator::BlockCount() const
{
    std::lock_guard guard(FLock);
    return FBlocks.size();
}
