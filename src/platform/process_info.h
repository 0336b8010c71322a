// What the driver needs to know about its process and thread, from Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

// What the calls below answer. The platform layer sits below the error table
// and includes nothing above it; the failure is the error table's general
// error (KX_ERR_GENERAL), which the foundation library checks.
constexpr int PLATFORM_OK = 0;
constexpr int PLATFORM_FAILED = 15;

// The name the program was started with (argv[0]), NUL-terminated in out.
// PLATFORM_OK; PLATFORM_FAILED when it cannot be read or does not fit (out
// then holds "").
int PlatformCommandName(char* out, size_t capacity);
// Login name of the effective user. PLATFORM_OK; PLATFORM_FAILED when unknown
// or too long (out "").
int PlatformUserName(char* out, size_t capacity);
// Kernel id of the calling thread.
int64_t PlatformThreadId();
// Full path of the shared object (or program) that holds the driver's code.
// PLATFORM_OK; PLATFORM_FAILED when unknown or too long (out "").
int PlatformModulePath(char* out, size_t capacity);

}  // namespace kx
