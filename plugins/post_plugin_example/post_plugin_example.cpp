// Example post-flash plug-in: appends one line per flashed handset to a log file, with the
// time, the package version, the number of bytes read back, their MD5 and whether the area read
// back is blank (all 0xFF).
//
// Configuration: the environment variable POST_PLUGIN_EXAMPLE_LOG names the file (default
// "post_plugin_example.log" in the station's working directory).
// Results: 0 when the line was written; 1 when the file cannot be opened; 2 when the line could
// not be written whole.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "plugin/post_plugin.h"
#include "util/md5.h"

namespace {

struct example_context {
  std::string log_path;
  std::mutex write_lock;  // one line at a time, whatever the file system does with O_APPEND
};

std::string md5_hex(const char *data, int size) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, reinterpret_cast<const unsigned char *>(data), size > 0 ? unsigned(size) : 0);
  MD5Final(&ctx);
  char hex[33];
  for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", ctx.digest[i]);
  return hex;
}

bool is_blank(const char *data, int size) {
  for (int i = 0; i < size; ++i)
    if (static_cast<unsigned char>(data[i]) != 0xFF) return false;
  return true;
}

std::string utc_now() {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  gmtime_r(&now, &t);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &t);
  return buf;
}

bool write_whole(int fd, const std::string &line) {
  std::size_t done = 0;
  while (done < line.size()) {
    ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

}  // namespace

extern "C" {

void *plugin_init(int *errorno) {
  if (errorno) *errorno = 0;
  auto *ctx = new (std::nothrow) example_context;
  if (!ctx) return nullptr;
  const char *path = std::getenv("POST_PLUGIN_EXAMPLE_LOG");
  ctx->log_path = path && *path ? path : "post_plugin_example.log";
  return ctx;
}

const char *plugin_get_name(void) { return "Example read-back log"; }

int plugin_download_finish_cb(void *plugin_handle, usb_dev_handle *, char *preadbuf, int read_size,
                              int program_okay, char *one_file_image_version) {
  auto *ctx = static_cast<example_context *>(plugin_handle);
  std::string line = utc_now() + " version=\"" + (one_file_image_version ? one_file_image_version : "") +
                     "\" program_okay=" + std::to_string(program_okay) +
                     " bytes=" + std::to_string(read_size) + " md5=" + md5_hex(preadbuf, read_size) +
                     " blank=" + (is_blank(preadbuf, read_size) ? "yes" : "no") + "\n";
  std::lock_guard<std::mutex> hold(ctx->write_lock);
  int fd = open(ctx->log_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  bool ok = write_whole(fd, line);
  ok = close(fd) == 0 && ok;
  return ok ? 0 : 2;
}

const char *plugin_get_error_str(int error) {
  switch (error) {
    case 0: return "ok";
    case 1: return "cannot open the log file";
    case 2: return "cannot write the log file";
    default: return "unknown error";
  }
}

void plugin_finalize(void *plugin_handle) { delete static_cast<example_context *>(plugin_handle); }

}  // extern "C"
