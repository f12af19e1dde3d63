#include "fake_platform.h"

#include "alarm.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <linux/kd.h>
#include <linux/vt.h>
#include <stdexcept>

thread_local fake_platform::scheduled_thread* fake_platform::self_ = nullptr;

namespace {

constexpr int64_t never = std::numeric_limits<int64_t>::max();

std::string hex(unsigned long v)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", v);
    return text;
}

}  // namespace

fake_platform::fake_platform(bool with_screen)
{
    set_file("/sys/class/graphics/fb0/blank", "0\n");
    set_file("/sys/class/backlight/micco-bl/brightness", "100\n");
    if (with_screen) set_framebuffer(480, 800, 16, 960, 960 * 800 * 2);
}

fake_platform::~fake_platform()
{
    for (auto& t : threads_)
        if (t->thread.joinable()) t->thread.join();
}

void fake_platform::set_file(const std::string& path, std::string content, int64_t at_us)
{
    std::lock_guard lock(mutex_);
    files_[path].emplace_back(at_us, std::move(content));
}

void fake_platform::remove_file(const std::string& path, int64_t at_us)
{
    std::lock_guard lock(mutex_);
    files_[path].emplace_back(at_us, std::nullopt);
}

void fake_platform::add_input_device(const std::string& path)
{
    std::lock_guard lock(mutex_);
    inputs_[path];
}

void fake_platform::send_event(const std::string& path, int64_t at_us, uint16_t type,
                               uint16_t code, int32_t value)
{
    std::lock_guard lock(mutex_);
    input_event e{};
    e.input_event_sec = static_cast<decltype(e.input_event_sec)>(epoch + at_us / 1000000);
    e.input_event_usec = static_cast<decltype(e.input_event_usec)>(at_us % 1000000);
    e.type = type;
    e.code = code;
    e.value = value;
    auto& queue = inputs_[path];
    auto at = std::upper_bound(queue.begin(), queue.end(), at_us,
                               [](int64_t t, const auto& item) { return t < item.first; });
    queue.insert(at, {at_us, e});
}

void fake_platform::set_framebuffer(unsigned xres, unsigned yres, unsigned bits,
                                    unsigned line_length, unsigned smem_len, uint8_t fill)
{
    fb.vi = {};
    fb.vi.xres = fb.vi.xres_virtual = xres;
    fb.vi.yres = fb.vi.yres_virtual = yres;
    fb.vi.bits_per_pixel = bits;
    if (bits == 16) {
        fb.vi.red = {11, 5, 0}, fb.vi.green = {5, 6, 0}, fb.vi.blue = {0, 5, 0};
    } else {
        fb.vi.red = {16, 8, 0}, fb.vi.green = {8, 8, 0}, fb.vi.blue = {0, 8, 0};
    }
    fb.fi = {};
    fb.fi.line_length = line_length;
    fb.fi.smem_len = smem_len;
    fb.memory.assign(smem_len, fill);
}

std::optional<std::string> fake_platform::file_now(const std::string& path) const
{
    auto it = files_.find(path);
    if (it == files_.end()) return std::nullopt;
    std::optional<std::string> content;
    int64_t latest = -1;
    for (const auto& [at, text] : it->second) {
        if (at <= now_us_ && at >= latest) {
            latest = at;
            content = text;
        }
    }
    return content;
}

void fake_platform::note(const std::string& what) { trace_.push_back({now_us_, what}); }

// ---- scheduling ----------------------------------------------------------------------

void fake_platform::block_until(std::unique_lock<std::mutex>& lock, int64_t at_us)
{
    scheduled_thread* me = self_;
    if (me == nullptr) {
        if (at_us == never) throw std::logic_error("a wait that never ends outside run()");
        now_us_ = std::max(now_us_, at_us);
        return;
    }
    me->wake_at = at_us;
    me->order = next_order_++;
    if (!stopping_) hand_over(lock);
    if (stopping_) throw stop_signal{};
    await_turn(lock, me);
    if (stopping_) throw stop_signal{};
}

// The semaphore is only a wake-up: a release may be left over from a turn that the
// thread had already begun, so the turn itself is what current_ says.
void fake_platform::await_turn(std::unique_lock<std::mutex>& lock, scheduled_thread* me)
{
    while (current_ != me && !stopping_) {
        lock.unlock();
        me->turn.acquire();
        lock.lock();
    }
}

// Picks the thread due first and lets it run; the caller waits for its own turn.
void fake_platform::hand_over(std::unique_lock<std::mutex>&)
{
    scheduled_thread* next = nullptr;
    for (auto& t : threads_) {
        if (t->finished) continue;
        if (next == nullptr || t->wake_at < next->wake_at ||
            (t->wake_at == next->wake_at && t->order < next->order))
            next = t.get();
    }
    if (next == nullptr) {
        current_ = nullptr;
        return;
    }
    if (next->wake_at == never) return stop("every thread waits for ever");
    if (next->wake_at > limit_us_) return stop("time limit");
    now_us_ = std::max(now_us_, next->wake_at);
    if (next == self_) {
        current_ = next;
        return;
    }
    current_ = next;
    next->turn.release();
}

void fake_platform::stop(const std::string& reason)
{
    if (stopping_) return;
    stopping_ = true;
    stop_reason_ = reason;
    current_ = nullptr;
    for (auto& t : threads_)
        if (!t->finished && t.get() != self_) t->turn.release();
}

fake_platform::scheduled_thread* fake_platform::add_thread()
{
    threads_.push_back(std::make_unique<scheduled_thread>());
    scheduled_thread* t = threads_.back().get();
    t->wake_at = now_us_;
    t->order = next_order_++;
    return t;
}

void fake_platform::run_thread(scheduled_thread* me, const std::function<void()>& body)
{
    std::unique_lock lock(mutex_);
    self_ = me;
    await_turn(lock, me);
    if (!stopping_) {
        lock.unlock();
        try {
            body();
        } catch (const stop_signal&) {
        }
        lock.lock();
    }
    me->finished = true;
    if (!stopping_ && current_ == me) hand_over(lock);
    self_ = nullptr;
}

run_result fake_platform::run(const std::function<int()>& main_body, int64_t limit_us)
{
    run_result result;
    scheduled_thread* main_thread;
    {
        std::lock_guard lock(mutex_);
        if (running_) throw std::logic_error("run() twice");
        running_ = true;
        limit_us_ = limit_us;
        main_thread = add_thread();
        current_ = main_thread;
    }
    main_thread->thread = std::thread([&] {
        run_thread(main_thread, [&] {
            result.status = main_body();
            result.returned = true;
            std::lock_guard lock(mutex_);
            stop("main returned");
        });
    });
    main_thread->thread.join();
    for (size_t i = 0;; ++i) {
        std::thread* t;
        {
            std::lock_guard lock(mutex_);
            stop("main returned");
            if (i >= threads_.size()) break;
            t = &threads_[i]->thread;
        }
        if (t->joinable()) t->join();
    }
    std::lock_guard lock(mutex_);
    result.stop_reason = stop_reason_;
    return result;
}

int64_t fake_platform::virtual_now_us()
{
    std::lock_guard lock(mutex_);
    return now_us_;
}

// ---- results ----------------------------------------------------------------------------

std::vector<trace_entry> fake_platform::trace()
{
    std::lock_guard lock(mutex_);
    return trace_;
}

std::vector<std::string> fake_platform::with_prefix(const std::string& prefix)
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> found;
    for (const auto& e : trace_)
        if (e.what.compare(0, prefix.size(), prefix) == 0) found.push_back(e.what);
    return found;
}

std::optional<trace_entry> fake_platform::first(const std::string& what)
{
    std::lock_guard lock(mutex_);
    for (const auto& e : trace_)
        if (e.what == what) return e;
    return std::nullopt;
}

std::string fake_platform::standard_output()
{
    std::lock_guard lock(mutex_);
    return stdout_;
}

// ---- platform -------------------------------------------------------------------------

int fake_platform::open(const char* path_text, int flags)
{
    std::lock_guard lock(mutex_);
    std::string path(path_text);
    note("open " + path + " " + hex(static_cast<unsigned long>(flags)));
    open_file f{kind::file, path, {}, 0};
    if (inputs_.count(path)) {
        f.what = kind::input;
    } else if (path == alarm_device_path && alarm.present) {
        f.what = kind::alarm;
    } else if (path == "/dev/graphics/fb0" && fb.present) {
        f.what = kind::framebuffer;
    } else if (path.rfind("/dev/tty", 0) == 0 && console.present) {
        f.what = kind::console;
    } else if (auto content = file_now(path)) {
        f.content = *content;
    } else {
        return -ENOENT;
    }
    int fd = next_fd_++;
    fds_[fd] = std::move(f);
    return fd;
}

int fake_platform::close(int fd)
{
    std::lock_guard lock(mutex_);
    auto it = fds_.find(fd);
    if (it == fds_.end()) return -EBADF;
    note("close " + it->second.path);
    fds_.erase(it);
    return 0;
}

ssize_t fake_platform::read(int fd, void* buffer, size_t size)
{
    std::lock_guard lock(mutex_);
    auto it = fds_.find(fd);
    if (it == fds_.end()) return -EBADF;
    open_file& f = it->second;
    if (f.what == kind::input) {
        auto& queue = inputs_[f.path];
        if (queue.empty() || queue.front().first > now_us_) return -EAGAIN;
        size_t n = std::min(size, sizeof(input_event));
        std::memcpy(buffer, &queue.front().second, n);
        queue.pop_front();
        return static_cast<ssize_t>(n);
    }
    if (f.what != kind::file) return -EINVAL;
    size_t n = f.position < f.content.size() ? std::min(size, f.content.size() - f.position) : 0;
    std::memcpy(buffer, f.content.data() + f.position, n);
    f.position += n;
    return static_cast<ssize_t>(n);
}

ssize_t fake_platform::write(int fd, const void* buffer, size_t size)
{
    std::lock_guard lock(mutex_);
    auto it = fds_.find(fd);
    if (it == fds_.end()) return -EBADF;
    std::string text(static_cast<const char*>(buffer), size);
    note("write " + it->second.path + " " + text);
    if (it->second.what == kind::file) files_[it->second.path].emplace_back(now_us_, text);
    return static_cast<ssize_t>(size);
}

int fake_platform::seek_set(int fd, off_t offset)
{
    std::lock_guard lock(mutex_);
    auto it = fds_.find(fd);
    if (it == fds_.end()) return -EBADF;
    if (it->second.what != kind::file || offset < 0) return -ESPIPE;
    it->second.position = static_cast<size_t>(offset);
    return 0;
}

int fake_platform::ioctl(int fd, unsigned long request, uintptr_t argument)
{
    std::unique_lock lock(mutex_);
    auto it = fds_.find(fd);
    if (it == fds_.end()) return -EBADF;
    const open_file& f = it->second;
    switch (f.what) {
    case kind::alarm: return alarm_request(lock, request, argument);
    case kind::console: return console_request(f, request, argument);
    case kind::framebuffer: return framebuffer_request(request, argument);
    default: note("ioctl " + f.path + " " + hex(request)); return -ENOTTY;
    }
}

int fake_platform::alarm_request(std::unique_lock<std::mutex>& lock, unsigned long request,
                                 uintptr_t argument)
{
    auto* time = reinterpret_cast<alarm_time*>(argument);
    if (request == alarm_get_poweroff_request) {
        note("ioctl /dev/alarm " + hex(request) + " {" + std::to_string(time->seconds) + "," +
             std::to_string(time->nanoseconds) + "}");
        if (alarm.query_result >= 0) time->seconds = alarm.pending_seconds;
        return alarm.query_result;
    }
    if ((request & ~0xF0ul) == alarm_set_request) {
        note("ioctl /dev/alarm " + hex(request) + " {" + std::to_string(time->seconds) + "," +
             std::to_string(time->nanoseconds) + "}");
        return 0;
    }
    if (request == alarm_wait_request) {
        note("ioctl /dev/alarm " + hex(request));
        if (alarm.interruptions > 0) {
            --alarm.interruptions;
            return -EINTR;
        }
        block_until(lock, alarm.fire_at_us < 0 ? never : alarm.fire_at_us);
        return alarm.fail_errno ? -alarm.fail_errno : 1;
    }
    note("ioctl /dev/alarm " + hex(request));
    return -ENOTTY;
}

int fake_platform::console_request(const open_file& f, unsigned long request, uintptr_t arg)
{
    bool by_value = request == VT_ACTIVATE || request == VT_WAITACTIVE || request == KDSETMODE;
    note("ioctl " + f.path + " " + hex(request) + (by_value ? " " + std::to_string(arg) : ""));
    if (auto failure = console.fail.find(request); failure != console.fail.end())
        return -failure->second;
    if (request == VT_OPENQRY) *reinterpret_cast<int*>(arg) = console.free_console;
    if (request == VT_GETSTATE) *reinterpret_cast<vt_stat*>(arg) = vt_stat{1, 0, 0x3};
    return 0;
}

int fake_platform::framebuffer_request(unsigned long request, uintptr_t arg)
{
    std::string what = "ioctl /dev/graphics/fb0 " + hex(request);
    if (request == FBIOPUT_VSCREENINFO) {
        const auto* vi = reinterpret_cast<const fb_var_screeninfo*>(arg);
        what += " yres_virtual=" + std::to_string(vi->yres_virtual) +
                " yoffset=" + std::to_string(vi->yoffset);
    }
    note(what);
    if (auto failure = fb.fail.find(request); failure != fb.fail.end()) return -failure->second;
    if (request == FBIOGET_FSCREENINFO) *reinterpret_cast<fb_fix_screeninfo*>(arg) = fb.fi;
    if (request == FBIOGET_VSCREENINFO) *reinterpret_cast<fb_var_screeninfo*>(arg) = fb.vi;
    return 0;
}

void* fake_platform::map_shared(int fd, size_t length)
{
    std::lock_guard lock(mutex_);
    auto it = fds_.find(fd);
    note("map " + std::to_string(length));
    if (it == fds_.end() || it->second.what != kind::framebuffer || fb.map_fails ||
        length > fb.memory.size())
        return nullptr;
    return fb.memory.data();
}

int fake_platform::wait_readable(int fd, long microseconds)
{
    std::unique_lock lock(mutex_);
    int64_t deadline = now_us_ + microseconds;
    auto it = fds_.find(fd);
    if (it != fds_.end() && it->second.what == kind::input) {
        auto& queue = inputs_[it->second.path];
        if (!queue.empty() && queue.front().first <= deadline) {
            if (queue.front().first > now_us_) block_until(lock, queue.front().first);
            return 1;
        }
    }
    block_until(lock, deadline);
    return 0;
}

int fake_platform::run_shell(const char* command)
{
    std::lock_guard lock(mutex_);
    note(std::string("shell ") + command);
    return 0;
}

int fake_platform::start_thread(void (*entry)(void*), void* argument)
{
    std::lock_guard lock(mutex_);
    if (threads_started_++ == fail_thread_start) return -EAGAIN;
    if (!running_ || stopping_) return -EAGAIN;
    scheduled_thread* t = add_thread();
    t->thread = std::thread([this, t, entry, argument] {
        run_thread(t, [entry, argument] { entry(argument); });
    });
    return 0;
}

long fake_platform::now()
{
    std::lock_guard lock(mutex_);
    return epoch + static_cast<long>(now_us_ / 1000000);
}

void fake_platform::sleep_us(unsigned long microseconds)
{
    std::unique_lock lock(mutex_);
    block_until(lock, now_us_ + static_cast<int64_t>(microseconds));
}

void fake_platform::write_log(int stream, std::string_view text)
{
    std::lock_guard lock(mutex_);
    note((stream == 1 ? "out " : "err ") + std::string(text));
    if (stream == 1) stdout_.append(text);
}
