// A handset in a box for the charger's tests: files and sysfs texts that change at given
// moments, input devices fed with timed events, the alarm driver, consoles and a
// framebuffer in memory, a recording shell, and a virtual clock.
//
// Under run() every thread the program starts is a real thread, but only one runs at a
// time: a thread that sleeps or waits hands over to the one due earliest (ties in the
// order they started waiting), and the clock jumps to that moment. So a run is the same on
// every machine, and 30 seconds of handset time pass in a blink. When the program's main
// function returns (or the time limit is reached) every other thread is ended, as the
// process end would end them.
//
// Outside run(), calls come from the test's own thread and sleeps just move the clock.
#pragma once

#include "platform.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <linux/fb.h>
#include <linux/input.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <set>
#include <string>
#include <thread>
#include <vector>

inline constexpr int64_t seconds_us(double s) { return static_cast<int64_t>(s * 1e6 + 0.5); }

struct trace_entry {
    int64_t at_us;
    std::string what;  // "out TEXT", "err TEXT", "open PATH", "write PATH TEXT", "ioctl PATH ...", "shell CMD"
};

struct run_result {
    bool returned = false;  // main returned (else it was stopped)
    int status = -1;
    std::string stop_reason;
};

class fake_platform final : public platform {
public:
    static constexpr long epoch = 1700000000;  // what now() gives at virtual time 0

    // A 480 x 800 RGB 565 screen unless `with_screen` is false (then set_framebuffer first).
    explicit fake_platform(bool with_screen = true);
    ~fake_platform() override;

    // ---- the handset's contents ------------------------------------------------------
    void set_file(const std::string& path, std::string content, int64_t at_us = 0);
    void remove_file(const std::string& path, int64_t at_us = 0);
    void add_input_device(const std::string& path);
    void send_event(const std::string& path, int64_t at_us, uint16_t type, uint16_t code,
                    int32_t value);

    struct alarm_driver {
        bool present = true;
        int query_result = 0;    // result of the pending-alarm query
        int pending_seconds = 0;  // what the query puts into the record
        int64_t fire_at_us = -1;  // the wait returns 1 then; -1: never
        int fail_errno = 0;       // instead, the wait fails with this error at fire_at_us
        int interruptions = 0;    // the first waits fail with EINTR
    } alarm;

    struct console_driver {
        bool present = true;
        int free_console = 7;
        std::map<unsigned long, int> fail;  // request -> errno
    } console;

    struct framebuffer_driver {
        bool present = true;
        fb_var_screeninfo vi{};
        fb_fix_screeninfo fi{};
        std::map<unsigned long, int> fail;  // request -> errno
        bool map_fails = false;
        std::vector<uint8_t> memory;        // what the mapping shows, fi.smem_len bytes
    } fb;

    // A framebuffer of the given geometry; the memory is filled with `fill`.
    void set_framebuffer(unsigned xres, unsigned yres, unsigned bits_per_pixel,
                         unsigned line_length, unsigned smem_len, uint8_t fill = 0xA5);

    int fail_thread_start = -1;  // the n-th start_thread call (0-based) fails

    // ---- running -----------------------------------------------------------------
    run_result run(const std::function<int()>& main_body, int64_t limit_us);
    int64_t virtual_now_us();

    // ---- what happened ---------------------------------------------------------------
    std::vector<trace_entry> trace();
    // The entries whose text starts with `prefix`, in order (texts only, prefix kept).
    std::vector<std::string> with_prefix(const std::string& prefix);
    // The first entry whose text is exactly `what`; nullopt when there is none.
    std::optional<trace_entry> first(const std::string& what);
    bool has(const std::string& what) { return first(what).has_value(); }
    std::string standard_output();

    // ---- platform ----------------------------------------------------------------------
    int open(const char* path, int flags) override;
    int close(int fd) override;
    ssize_t read(int fd, void* buffer, size_t size) override;
    ssize_t write(int fd, const void* buffer, size_t size) override;
    int seek_set(int fd, off_t offset) override;
    int ioctl(int fd, unsigned long request, uintptr_t argument) override;
    void* map_shared(int fd, size_t length) override;
    int wait_readable(int fd, long microseconds) override;
    int run_shell(const char* command) override;
    int start_thread(void (*entry)(void*), void* argument) override;
    long now() override;
    void sleep_us(unsigned long microseconds) override;
    void write_log(int stream, std::string_view text) override;

private:
    enum class kind { file, input, alarm, console, framebuffer };
    struct open_file {
        kind what;
        std::string path;
        std::string content;  // a file's text as it was when opened
        size_t position = 0;
    };
    struct scheduled_thread {
        std::counting_semaphore<> turn{0};  // released when it is this thread's turn
        int64_t wake_at = 0;
        uint64_t order = 0;
        bool finished = false;
        std::thread thread;
    };
    struct stop_signal {};

    std::optional<std::string> file_now(const std::string& path) const;
    void note(const std::string& what);
    void block_until(std::unique_lock<std::mutex>& lock, int64_t at_us);
    void hand_over(std::unique_lock<std::mutex>& lock);
    void await_turn(std::unique_lock<std::mutex>& lock, scheduled_thread* me);
    void stop(const std::string& reason);
    scheduled_thread* add_thread();
    void run_thread(scheduled_thread* me, const std::function<void()>& body);
    int alarm_request(std::unique_lock<std::mutex>& lock, unsigned long request, uintptr_t arg);
    int console_request(const open_file& f, unsigned long request, uintptr_t arg);
    int framebuffer_request(unsigned long request, uintptr_t arg);

    std::mutex mutex_;
    int64_t now_us_ = 0;
    std::map<std::string, std::vector<std::pair<int64_t, std::optional<std::string>>>> files_;
    std::map<std::string, std::deque<std::pair<int64_t, input_event>>> inputs_;
    std::map<int, open_file> fds_;
    int next_fd_ = 3;
    int threads_started_ = 0;
    std::vector<trace_entry> trace_;
    std::string stdout_;

    std::deque<std::unique_ptr<scheduled_thread>> threads_;
    scheduled_thread* current_ = nullptr;
    bool running_ = false;
    bool stopping_ = false;
    int64_t limit_us_ = 0;
    uint64_t next_order_ = 0;
    std::string stop_reason_;
    static thread_local scheduled_thread* self_;
};
