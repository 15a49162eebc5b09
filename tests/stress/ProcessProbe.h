// What /proc tells about the running server: its open descriptors, resident memory, CPU time
// and descriptor limit. The stress tests compare these before and after a load instead of
// trusting the program's own account.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

size_t openDescriptorCount(pid_t pid);
// "fd -> target" lines, for a failure message.
std::string describeDescriptors(pid_t pid);
// VmRSS, in KiB.
size_t residentKiB(pid_t pid);
// User plus system CPU time, in seconds.
double cpuSeconds(pid_t pid);
// The soft limit on open descriptors ("Max open files"); 0 when it cannot be read.
size_t descriptorLimit(pid_t pid);
