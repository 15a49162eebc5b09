// Allocation failure is fatal: every C++ allocation of the program (texts, blocks, arrays, the
// service's containers) goes through these operators, so a request the heap cannot meet
// reaches the fatal path with the size that was asked for. Libraries that call malloc
// themselves (Qt's own containers, SQLite) report their failures in their own ways.
#include "runtime/FatalError.h"

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

} // namespace

void* operator new(size_t size)
{
    if (void* block = std::malloc(size ? size : 1))
        return block;
    allocationFailed(size);
}

void* operator new(size_t size, std::align_val_t alignment)
{
    // aligned_alloc wants a multiple of the alignment; a size so large that rounding it up
    // wraps around must fail, not come back as a tiny block.
    size_t align = static_cast<size_t>(alignment);
    if (size > std::numeric_limits<size_t>::max() - (align - 1))
        allocationFailed(size);
    size_t rounded = (size + align - 1) / align * align;
    if (void* block = std::aligned_alloc(align, rounded ? rounded : align))
        return block;
    allocationFailed(size);
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
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { std::free(block); }

// Called by the frame so that the linker always keeps the operators above, also when a
// sanitizer's runtime library already offers its own.
void linkAllocationFailureOperators() { }
