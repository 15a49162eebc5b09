// Owns one POSIX descriptor that is not a socket of the server component (a lock file, a held
// place in the descriptor table, an epoll set) and closes it when destroyed; moves hand it over.
#pragma once

#include "runtime/UniqueOwner.h"

#include <unistd.h>

struct DescriptorTraits {
    using Handle = int;
    static constexpr int none() { return -1; }
    static constexpr bool isHandle(int descriptor) { return descriptor >= 0; }
    static void close(int descriptor) { ::close(descriptor); }
};

using OwnedDescriptor = UniqueOwner<DescriptorTraits>;
