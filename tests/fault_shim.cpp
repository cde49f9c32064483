// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into the score store probe: makes the N-th call of one kind of
// system call fail, counting from additions_fault_arm().
//   ADDITIONS_FAULT=KIND:N:ERRNO   KIND open, read, write, fsync or rename;
//                                  ERRNO a number (5 is EIO, 28 ENOSPC)
// The store calls open() itself; were it built with 64-bit file offsets it
// would call open64(), and the test finds that no open ever failed.
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>

namespace {

std::atomic<bool> g_armed{false};
std::atomic<int> g_calls{0};
std::atomic<bool> g_fired{false};

// Whether this call is the one to fail.
bool failsNow(const char *kind)
{
    const char *fault = std::getenv("ADDITIONS_FAULT");
    const size_t length = std::strlen(kind);
    if (!g_armed || !fault || std::strncmp(fault, kind, length) != 0 || fault[length] != ':')
        return false;
    char *rest = nullptr;
    const long n = std::strtol(fault + length + 1, &rest, 10);
    if (++g_calls != n)
        return false;
    g_fired = true;
    errno = static_cast<int>(std::strtol(rest + 1, nullptr, 10));
    return true;
}

template <typename Function> Function real(const char *name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

void additions_fault_arm()
{
    g_armed = true;
}

// Whether the fault came; no call fails after this one.
int additions_fault_fired()
{
    g_armed = false;
    return g_fired;
}

int open(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    if (failsNow("open"))
        return -1;
    return real<int (*)(const char *, int, ...)>("open")(path, flags, mode);
}

ssize_t read(int fd, void *buffer, size_t count)
{
    return failsNow("read") ? -1
                            : real<ssize_t (*)(int, void *, size_t)>("read")(fd, buffer, count);
}

ssize_t write(int fd, const void *buffer, size_t count)
{
    return failsNow("write")
               ? -1
               : real<ssize_t (*)(int, const void *, size_t)>("write")(fd, buffer, count);
}

int fsync(int fd)
{
    return failsNow("fsync") ? -1 : real<int (*)(int)>("fsync")(fd);
}

int rename(const char *from, const char *to)
{
    return failsNow("rename") ? -1 : real<int (*)(const char *, const char *)>("rename")(from, to);
}

} // extern "C"
