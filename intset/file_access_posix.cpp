// Named files on POSIX systems (Linux, macOS, the BSDs): descriptors, an unbuffered stream buffer over
// them, and replacement of regular files through a flushed temporary file and rename().
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>
#include <system_error>

#include "intset/exceptions.h"
#include "intset/files.h"

namespace intset {

namespace {

namespace fs = std::filesystem;

std::string system_text(int error) { return std::system_category().message(error); }

// The errors of a file that cannot be opened or created: the system's text and its error code.
[[noreturn]] void cannot_open(const std::string& shown, int error) {
  throw EFOpenError(shown, system_text(error), std::error_code(error, std::generic_category()));
}
[[noreturn]] void cannot_create(const std::string& shown, int error) {
  throw EFCreateError(shown, system_text(error), std::error_code(error, std::generic_category()));
}

// The name shown in messages: the file name made absolute against the working folder.
std::string shown_name(const fs::path& file_name) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(file_name, ec);
  return ec ? file_name.string() : absolute.string();
}

// Closes the descriptor on every path.
class file_descriptor {
 public:
  explicit file_descriptor(int fd) noexcept : fd_(fd) {}
  ~file_descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  file_descriptor(const file_descriptor&) = delete;
  file_descriptor& operator=(const file_descriptor&) = delete;
  int get() const noexcept { return fd_; }
  // Closes now and reports whether the system accepted it (a delayed write error shows here).
  bool close() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// An unbuffered stream buffer on a file descriptor; the set's reader and writer bring their own chunks.
class descriptor_buffer : public std::streambuf {
 public:
  explicit descriptor_buffer(int fd) noexcept : fd_(fd) {}

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::streamsize done = 0;
    while (done < n) {
      const ssize_t put = ::write(fd_, s + done, static_cast<std::size_t>(n - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      done += put;
    }
    return done;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }

  // Delivers fewer than `n` bytes only at the end of the file; a failing read raises EReadError.
  std::streamsize xsgetn(char* s, std::streamsize n) override {
    std::streamsize done = 0;
    if (gptr() < egptr() && n > 0) {  // the byte underflow() peeked at
      *s = *gptr();
      gbump(1);
      done = 1;
    }
    while (done < n) {
      const ssize_t got = ::read(fd_, s + done, static_cast<std::size_t>(n - done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw EReadError();
      if (got == 0) break;
      done += got;
    }
    return done;
  }
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (xsgetn(&peeked_, 1) != 1) return traits_type::eof();
    setg(&peeked_, &peeked_, &peeked_ + 1);
    return traits_type::to_int_type(peeked_);
  }

 private:
  int fd_;
  char peeked_ = 0;
};

// Where a save goes: the named file, or the file that its chain of symbolic links ends at.
struct save_target {
  fs::path path;
  bool exists = false;
  struct stat status {};
};

save_target resolve_target(const fs::path& file_name, const std::string& shown) {
  save_target target{file_name};
  for (int hops = 0;; ++hops) {
    if (target.path.filename().empty()) cannot_create(shown, EISDIR);
    if (::lstat(target.path.c_str(), &target.status) != 0) {
      if (errno == ENOENT) return target;  // a new file (or a missing folder, noticed on creating it)
      cannot_create(shown, errno);
    }
    if (!S_ISLNK(target.status.st_mode)) {
      target.exists = true;
      return target;
    }
    if (hops == 40) cannot_create(shown, ELOOP);
    std::error_code ec;
    const fs::path link = fs::read_symlink(target.path, ec);
    if (ec) cannot_create(shown, ec.value());
    target.path = link.is_absolute() ? link : target.path.parent_path() / link;
  }
}

// A new file beside the target, removed again unless kept.
class temporary_file {
 public:
  temporary_file(const fs::path& target, mode_t mode, const std::string& shown) {
    static std::atomic<unsigned> counter{0};
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string base = target.filename().string().substr(0, 200);  // leaves room within name limits
    for (int attempt = 0;; ++attempt) {
      const auto stamp = static_cast<unsigned long long>(
          std::chrono::steady_clock::now().time_since_epoch().count() ^ (std::uint64_t{counter++} << 40));
      char suffix[48];
      std::snprintf(suffix, sizeof suffix, ".%ld.%llx.tmp", static_cast<long>(::getpid()), stamp);
      path_ = folder / ("." + base + suffix);
      const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
      if (fd >= 0) {
        fd_ = fd;
        return;
      }
      if (errno != EEXIST || attempt == 100) cannot_create(shown, errno);
    }
  }
  ~temporary_file() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(path_.c_str());
  }
  temporary_file(const temporary_file&) = delete;
  temporary_file& operator=(const temporary_file&) = delete;

  int fd() const noexcept { return fd_; }
  const fs::path& path() const noexcept { return path_; }
  bool close() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void keep() noexcept { kept_ = true; }

 private:
  fs::path path_;
  int fd_ = -1;
  bool kept_ = false;
};

// Makes a completed rename survive a crash; a failure here does not undo the save.
void sync_folder(const fs::path& target) {
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Runs `write` on a stream over the descriptor; a stream left failed by it is a write error, too.
void write_through(int fd, const std::function<void(std::ostream&)>& write) {
  descriptor_buffer buffer(fd);
  std::ostream out(&buffer);
  write(out);
  if (!out.flush()) throw EWriteError();
}

}  // namespace

// A regular file is replaced whole: the bytes go to a new file in the same folder, which is flushed to
// disk and then renamed over the target, so a save that fails anywhere leaves the old file untouched.
// Anything else that exists under the name (a device, a pipe) is opened and written in place.
void write_file(const fs::path& file_name, const std::function<void(std::ostream&)>& write) {
  const std::string shown = shown_name(file_name);
  if (file_name.empty()) cannot_create(shown, ENOENT);
  save_target target = resolve_target(file_name, shown);

  if (target.exists && S_ISREG(target.status.st_mode)) {
    // The old file must be writable by us, as overwriting it in place would need; its mode is kept.
    file_descriptor probe(::open(target.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (probe.get() < 0) cannot_create(shown, errno);
    if (::fstat(probe.get(), &target.status) != 0) cannot_create(shown, errno);
  }
  if (target.exists && !S_ISREG(target.status.st_mode)) {
    file_descriptor file(
        ::open(target.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
    if (file.get() < 0) cannot_create(shown, errno);
    write_through(file.get(), write);
    if (!file.close()) throw EWriteError();
    return;
  }

  temporary_file temp(target.path, target.exists ? S_IRUSR | S_IWUSR : 0666, shown);
  if (target.exists) {
    const struct stat& old = target.status;
    // Owner and group are kept where the system lets us (only a privileged user may give files away);
    // the permission bits are set afterwards, as a change of owner may clear some of them.
    if (::fchown(temp.fd(), old.st_uid, old.st_gid) != 0) {
    }
    if (::fchmod(temp.fd(), old.st_mode & 07777) != 0) cannot_create(shown, errno);
  }
  write_through(temp.fd(), write);
  if (::fsync(temp.fd()) != 0) throw EWriteError();
  if (!temp.close()) throw EWriteError();
  if (::rename(temp.path().c_str(), target.path.c_str()) != 0) cannot_create(shown, errno);
  temp.keep();
  sync_folder(target.path);
}

void read_file(const fs::path& file_name, const std::function<void(std::istream&)>& read) {
  file_descriptor file(::open(file_name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (file.get() < 0) {
    const int error = errno;  // before building the name, which may touch errno
    cannot_open(shown_name(file_name), error);
  }
  struct stat status {};
  if (::fstat(file.get(), &status) == 0 && S_ISDIR(status.st_mode)) {
    cannot_open(shown_name(file_name), EISDIR);
  }
  descriptor_buffer buffer(file.get());
  std::istream in(&buffer);
  read(in);
}

}  // namespace intset
