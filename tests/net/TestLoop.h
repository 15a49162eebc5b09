// The loop the server component's suites run on: a poll loop on Linux (PollWatchers.h), and
// the Windows program's own readiness watchers with the thread's message loop on Windows
// (Win32TestLoop.h), so that the same cases check both backends.
#pragma once

#ifdef _WIN32
#include "platform/win32/Win32TestLoop.h"
using TestLoop = Win32TestLoop;
#else
#include "net/PollWatchers.h"
using TestLoop = PollWatchers;
#endif
