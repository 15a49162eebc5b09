// Allocation failure is fatal: every C++ allocation of the program (texts, blocks, arrays, the
// service's containers) goes through these operators, so a request the heap cannot meet
// reaches the fatal path with the size that was asked for. Libraries that call malloc
// themselves (Qt's own containers, SQLite) report their failures in their own ways.
#include "runtime/FatalError.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

namespace {

[[noreturn]] void allocationFailed(size_t size)
{
    char message[96];
    std::snprintf(message, sizeof message, "分配 %zu 字节内存失败!", size);
    fatalError(0, message);
}

// The block that malloc gave for an over-aligned one (see the aligned operator new).
void freeAligned(void* block)
{
    if (block)
        std::free(static_cast<void**>(block)[-1]);
}

} // namespace

void* operator new(size_t size)
{
    if (void* block = std::malloc(size ? size : 1))
        return block;
    allocationFailed(size);
}

// Over-aligned blocks come from malloc as well, with room to align them and, just before the
// aligned start, the block malloc gave, which the aligned delete hands back. (aligned_alloc is
// not in every C library, and mixing it with these frees would be wrong.)
void* operator new(size_t size, std::align_val_t alignment)
{
    size_t align = std::max(static_cast<size_t>(alignment), sizeof(void*));
    size_t extra = align + sizeof(void*);
    // A size so large that the extra room wraps around must fail, not come back as a tiny block.
    if (size > std::numeric_limits<size_t>::max() - extra)
        allocationFailed(size);
    void* raw = std::malloc(size + extra);
    if (!raw)
        allocationFailed(size);
    auto start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
    auto aligned = (start + align - 1) & ~static_cast<std::uintptr_t>(align - 1);
    reinterpret_cast<void**>(aligned)[-1] = raw;
    return reinterpret_cast<void*>(aligned);
}

// The array and no-throw forms are replaced as well. Left to the library, they could come
// from a sanitizer's runtime, which ends the process its own way on failure and whose blocks
// would then be freed by the operators below (a mismatch it reports). A no-throw request that
// fails is fatal like any other, as it is when the library's no-throw form calls operator new.
void* operator new[](size_t size) { return ::operator new(size); }
void* operator new[](size_t size, std::align_val_t alignment) { return ::operator new(size, alignment); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return ::operator new(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return ::operator new(size); }
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return ::operator new(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return ::operator new(size, alignment);
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { freeAligned(block); }
void operator delete(void* block, size_t, std::align_val_t) noexcept { freeAligned(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { freeAligned(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { freeAligned(block); }
void operator delete[](void* block, size_t, std::align_val_t) noexcept { freeAligned(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { freeAligned(block); }

// Called by the frame so that the linker always keeps the operators above, also when a
// sanitizer's runtime library already offers its own.
void linkAllocationFailureOperators() { }
