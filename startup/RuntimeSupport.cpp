// What the compiler expects of a C runtime, for a program that links none: the heap behind new
// and delete, and the block operations it may emit calls to.
#include <windows.h>
#include <stddef.h>

#include <new>

const std::nothrow_t std::nothrow{};

void* operator new(size_t size)
{
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void* operator new[](size_t size)
{
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void operator delete(void* block) noexcept
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

void operator delete[](void* block) noexcept
{
    operator delete(block);
}

void operator delete(void* block, size_t) noexcept
{
    operator delete(block);
}

void operator delete[](void* block, size_t) noexcept
{
    operator delete(block);
}

extern "C" {

int __cxa_pure_virtual()
{
    ExitProcess(static_cast<UINT>(-1));
}

void* memset(void* destination, int value, size_t count)
{
    BYTE* out = static_cast<BYTE*>(destination);
    while (count--)
        *out++ = static_cast<BYTE>(value);
    return destination;
}

void* memcpy(void* destination, const void* source, size_t count)
{
    BYTE* out = static_cast<BYTE*>(destination);
    const BYTE* in = static_cast<const BYTE*>(source);
    while (count--)
        *out++ = *in++;
    return destination;
}

}  // extern "C"
