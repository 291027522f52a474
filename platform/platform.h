// The one header through which the rest of Orvik reaches the platform.
//
// On Windows this is <windows.h> and the system libraries. On POSIX it is
// Orvik's own registry platform, which declares the same types, constants and
// calls (the ANSI registry API and the few system calls the tool uses) and
// implements them over a durable store and hive files.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// ShellExecuteExA, which the lean <windows.h> leaves out.
#include <shellapi.h>
#else
#include "platform/posix/windows_api.h"
#endif
