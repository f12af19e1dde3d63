#include "result_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

struct result_log {
  int fd;
  std::string path;
};

result_log *logging_fd = nullptr;

namespace {

const char kHeader[] = "Fixture ID,MPU Die ID,Start Time,Finish Time,Section,Status code\r\n";

// A line is written whole and synced: a crash or a power cut never loses a finished handset.
bool write_line(int fd, const std::string &line) {
  std::size_t done = 0;
  while (done < line.size()) {
    ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return fdatasync(fd) == 0;
}

std::string stamp(const std::tm &t) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

int create_exclusive(const std::string &base, std::string &path) {
  for (int n = 0; n < 10000; ++n) {
    path = base + (n ? "_" + std::to_string(n) : "") + ".csv";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

std::string csv_field(const std::string &text, std::size_t limit) {
  std::string cut = text.substr(0, limit);
  if (cut.find_first_of(",\"\r\n") == std::string::npos) return cut;
  std::string quoted = "\"";
  for (char c : cut) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

bool log_open(const std::string &base_dir) { return log_open_at(base_dir, station_local_time()); }

bool log_open_at(const std::string &base_dir, const std::tm &now) {
  std::string dir = base_dir + "/log";
  mkdir(dir.c_str(), 0755);  // an existing directory is fine; a failure shows at creation
  char name[128];
  std::snprintf(name, sizeof name, "/log_%04d%02d%02d_%02d%02d%02d", now.tm_year + 1900,
                now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
  std::string path;
  int fd = create_exclusive(dir + name, path);
  if (fd < 0) return false;
  if (!write_line(fd, kHeader)) {
    close(fd);
    return false;
  }
  logging_fd = new result_log{fd, path};
  return true;
}

void log_msg(int nItem, HWND hDlgItemWnd) {
  if (!logging_fd) return;
  std::tm finish = station_local_time();
  const list_row &row = hDlgItemWnd->rows[std::size_t(nItem)];
  const tag_list_item *rec = row.item;
  std::string line = csv_field(row.cells[COL_FIXTURE_ID], 29) + "," +
                     csv_field(row.cells[COL_MPU_DIE_ID], 29) + "," + stamp(rec->startTime) + "," +
                     stamp(finish) + "," + csv_field(row.cells[COL_IMAGE], 255) + "," +
                     std::to_string(rec->status_code) + "\r\n";
  write_line(logging_fd->fd, line);  // write errors are not the operator's business mid-shift
}

void log_close() {
  if (!logging_fd) return;
  close(logging_fd->fd);
  delete logging_fd;
  logging_fd = nullptr;
}

std::string log_path() { return logging_fd ? logging_fd->path : std::string(); }
