// The real platform: each operation is the system call it names, nothing more.
#include "platform.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int negated_errno() { return errno > 0 ? -errno : -EIO; }

class linux_system final : public platform {
public:
    int open(const char* path, int flags) override
    {
        int fd = ::open(path, flags | O_CLOEXEC);
        return fd >= 0 ? fd : negated_errno();
    }

    int close(int fd) override { return ::close(fd) == 0 ? 0 : negated_errno(); }

    ssize_t read(int fd, void* buffer, size_t size) override
    {
        ssize_t n = ::read(fd, buffer, size);
        return n >= 0 ? n : negated_errno();
    }

    ssize_t write(int fd, const void* buffer, size_t size) override
    {
        ssize_t n = ::write(fd, buffer, size);
        return n >= 0 ? n : negated_errno();
    }

    int seek_set(int fd, off_t offset) override
    {
        return ::lseek(fd, offset, SEEK_SET) == offset ? 0 : negated_errno();
    }

    int ioctl(int fd, unsigned long request, uintptr_t argument) override
    {
        int r = ::ioctl(fd, request, argument);
        return r >= 0 ? r : negated_errno();
    }

    void* map_shared(int fd, size_t length) override
    {
        void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        return p == MAP_FAILED ? nullptr : p;
    }

    int wait_readable(int fd, long microseconds) override
    {
        timeval timeout{0, microseconds};
        if (fd < 0 || fd >= FD_SETSIZE) {
            ::select(0, nullptr, nullptr, nullptr, &timeout);
            return 0;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        int r = ::select(fd + 1, &readable, nullptr, nullptr, &timeout);
        if (r < 0) return negated_errno();
        return r > 0 ? 1 : 0;
    }

    int run_shell(const char* command) override
    {
        // The handset's shell, not the host's /bin/sh that system(3) would pick.
        pid_t child = ::fork();
        if (child < 0) return negated_errno();
        if (child == 0) {
            ::execl("/system/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        while (::waitpid(child, &status, 0) < 0) {
            if (errno != EINTR) return negated_errno();
        }
        return status;
    }

    int start_thread(void (*entry)(void*), void* argument) override
    {
        struct start { void (*entry)(void*); void* argument; };
        auto* s = new start{entry, argument};
        pthread_t id;
        int r = ::pthread_create(&id, nullptr, [](void* p) -> void* {
            auto* s = static_cast<start*>(p);
            start copy = *s;
            delete s;
            copy.entry(copy.argument);
            return nullptr;
        }, s);
        if (r != 0) {
            delete s;
            return -r;
        }
        return 0;
    }

    long now() override { return static_cast<long>(::time(nullptr)); }

    void sleep_us(unsigned long microseconds) override
    {
        timespec left{static_cast<time_t>(microseconds / 1000000),
                      static_cast<long>(microseconds % 1000000) * 1000};
        while (::nanosleep(&left, &left) < 0 && errno == EINTR) {}
    }

    void write_log(int stream, std::string_view text) override
    {
        const char* p = text.data();
        size_t left = text.size();
        while (left > 0) {
            ssize_t n = ::write(stream, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            p += n;
            left -= static_cast<size_t>(n);
        }
    }
};

}  // namespace

platform& linux_platform()
{
    // Never destroyed: the threads still use it while the process exits after main.
    static linux_system* system = new linux_system;
    return *system;
}
