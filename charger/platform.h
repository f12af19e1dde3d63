// The charger's only door to the handset: files, device requests, the framebuffer mapping,
// the shell, threads, the clock and its log streams. Everything the program does to the
// outside world goes through one `platform`, so the whole state machine can run against a
// fake with a virtual clock, and the real binary against the kernel unchanged.
//
// Results follow the kernel's habit rather than errno: a negative result is the negated
// error number (-ENOENT, -EINTR, ...), so no caller depends on thread-local state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <sys/types.h>

class platform {
public:
    virtual ~platform() = default;

    // Opens `path` with open(2) flags; the descriptor (>= 0) or -errno.
    virtual int open(const char* path, int flags) = 0;
    // Closes a descriptor; 0 or -errno.
    virtual int close(int fd) = 0;
    // One read(2) of at most `size` bytes; the count (0 at end of file) or -errno.
    virtual ssize_t read(int fd, void* buffer, size_t size) = 0;
    // One write(2); the count or -errno.
    virtual ssize_t write(int fd, const void* buffer, size_t size) = 0;
    // Moves the file position to `offset` from the start; 0 or -errno.
    virtual int seek_set(int fd, off_t offset) = 0;
    // ioctl(2) with a pointer or a plain number as its argument (passed as the integer);
    // the request's non-negative result or -errno. A request the driver blocks on (the
    // alarm wait) blocks here.
    virtual int ioctl(int fd, unsigned long request, uintptr_t argument) = 0;
    // Maps `length` bytes of `fd` from offset 0, readable, writable and shared with the
    // device; nullptr on failure. The mapping lives until the process ends.
    virtual void* map_shared(int fd, size_t length) = 0;
    // Waits at most `microseconds` for `fd` to become readable (select(2) on that one
    // descriptor). 1 when readable, 0 on time-out, -errno on failure. A descriptor that
    // cannot be waited on (negative, or beyond the select set) just waits out the time.
    virtual int wait_readable(int fd, long microseconds) = 0;

    // Runs `command` with "/system/bin/sh -c" and waits for it; its exit status, or -errno
    // when it could not be started.
    virtual int run_shell(const char* command) = 0;
    // Starts `entry(argument)` on a new thread with default attributes, never joined;
    // 0 or -errno.
    virtual int start_thread(void (*entry)(void*), void* argument) = 0;

    // Whole seconds since the epoch, as time(2) gives them.
    virtual long now() = 0;
    // Sleeps `microseconds`.
    virtual void sleep_us(unsigned long microseconds) = 0;

    // Writes `text` to standard output (stream 1) or standard error (stream 2) at once,
    // unbuffered, so the log is complete even when the handset reboots right after it.
    virtual void write_log(int stream, std::string_view text) = 0;
};

// The platform of the running process: the system calls themselves.
platform& linux_platform();
