// The owner of one kernel object handle: closed when the owner goes, never twice.
#pragma once

#include "runtime/UniqueOwner.h"

#include <windows.h>

// Both "no handle" values of the API (null and INVALID_HANDLE_VALUE) count as none.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static HANDLE none() { return nullptr; }
    static bool isHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) { CloseHandle(handle); }
};

using UniqueHandle = UniqueOwner<KernelHandleTraits>;
