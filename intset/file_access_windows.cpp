// Named files on Windows: wide-character paths, an unbuffered stream buffer over file handles, and
// replacement of regular files through a flushed temporary file and MoveFileExW. Messages carry the
// system's own text for the error code, in UTF-8.
//
// Where POSIX behaviour has no direct counterpart here:
// - Permission bits: the replacement takes the old file's attributes (hidden, system, archive, not indexed);
//   its access control list is the one a new file in that folder inherits, as a new file's would be.
// - A read-only file (the read-only attribute, or an access list that denies writing) cannot be opened for
//   writing and is refused, as on POSIX.
// - Links: the target is the file the name finally leads to (GetFinalPathNameByHandleW), so a link keeps
//   pointing at the replaced file.
// - Devices and pipes (NUL, COM1, \\.\pipe\...) are written in place, like POSIX devices and FIFOs.
// - A folder given as a file is refused with the system's text for ERROR_ACCESS_DENIED, which is what
//   opening a folder as a file reports; there is no "is a directory" code.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cwchar>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

#include "intset/exceptions.h"
#include "intset/files.h"

namespace intset {

namespace {

namespace fs = std::filesystem;

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), bytes, nullptr, nullptr);
  return out;
}

// The system's message for `code` in the user's language, without the line break and full stop that end
// it, so that it reads like the POSIX texts in "Cannot open file "%s". %s".
std::string system_text(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0) return "Error " + std::to_string(code);
  struct release {
    wchar_t* text;
    ~release() { ::LocalFree(text); }
  } owner{text};
  std::wstring_view message(text, length);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.remove_suffix(1);
  if (!message.empty() && message.back() == L'.') message.remove_suffix(1);
  return utf8(message);
}

// The error code of a Windows error: as std::errc where it is one of those callers tell apart (the C++
// runtime here does not map Windows codes to them), else the Windows code itself.
std::error_code error_code_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return std::make_error_code(std::errc::permission_denied);
    default:
      return {static_cast<int>(error), std::system_category()};
  }
}

// The errors of a file that cannot be opened or created: the system's text and its error code.
[[noreturn]] void cannot_open(const std::string& shown, DWORD error) {
  throw EFOpenError(shown, system_text(error), error_code_of(error));
}
[[noreturn]] void cannot_create(const std::string& shown, DWORD error) {
  throw EFCreateError(shown, system_text(error), error_code_of(error));
}

// The name shown in messages: the file name made absolute against the working folder.
std::string shown_name(const fs::path& file_name) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(file_name, ec);
  return utf8(ec ? file_name.native() : absolute.native());
}

// Closes the handle on every path.
class file_handle {
 public:
  explicit file_handle(HANDLE handle) noexcept : handle_(handle) {}
  ~file_handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  file_handle(const file_handle&) = delete;
  file_handle& operator=(const file_handle&) = delete;
  bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const noexcept { return handle_; }
  // Closes now and reports whether the system accepted it.
  bool close() noexcept {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

// An unbuffered stream buffer on a file handle; the set's reader and writer bring their own chunks.
class handle_buffer : public std::streambuf {
 public:
  explicit handle_buffer(HANDLE handle) noexcept : handle_(handle) {}

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::streamsize done = 0;
    while (done < n) {
      const auto piece = static_cast<DWORD>(std::min<std::streamsize>(n - done, kMaxPiece));
      DWORD put = 0;
      if (!::WriteFile(handle_, s + done, piece, &put, nullptr) || put == 0) break;
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
      const auto piece = static_cast<DWORD>(std::min<std::streamsize>(n - done, kMaxPiece));
      DWORD got = 0;
      if (!::ReadFile(handle_, s + done, piece, &got, nullptr)) {
        if (::GetLastError() == ERROR_BROKEN_PIPE) break;  // the writing end of a pipe has closed
        throw EReadError();
      }
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
  static constexpr std::streamsize kMaxPiece = 1 << 30;  // bytes per system call, within a DWORD
  HANDLE handle_;
  char peeked_ = 0;
};

// Runs `write` on a stream over the handle; a stream left failed by it is a write error, too.
void write_through(HANDLE handle, const std::function<void(std::ostream&)>& write) {
  handle_buffer buffer(handle);
  std::ostream out(&buffer);
  write(out);
  if (!out.flush()) throw EWriteError();
}

// The file a name finally leads to, following links; the name itself when the system cannot say.
fs::path final_path(HANDLE handle, const fs::path& file_name) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return file_name;
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length);  // the room needed, including the terminating zero
  }
}

// A new file beside the target, removed again unless kept.
class temporary_file {
 public:
  temporary_file(const fs::path& target, const std::string& shown) {
    static std::atomic<unsigned> counter{0};
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(L".");
    const std::wstring base = target.filename().native().substr(0, 200);  // leaves room within name limits
    for (int attempt = 0;; ++attempt) {
      const auto stamp = static_cast<unsigned long long>(
          std::chrono::steady_clock::now().time_since_epoch().count() ^ (std::uint64_t{counter++} << 40));
      wchar_t suffix[48];
      std::swprintf(suffix, 48, L".%lu.%llx.tmp", static_cast<unsigned long>(::GetCurrentProcessId()), stamp);
      path_ = folder / (L"." + base + suffix);
      const HANDLE handle =
          ::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        handle_ = handle;
        return;
      }
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS || attempt == 100) cannot_create(shown, error);
    }
  }
  ~temporary_file() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    if (!kept_) ::DeleteFileW(path_.c_str());
  }
  temporary_file(const temporary_file&) = delete;
  temporary_file& operator=(const temporary_file&) = delete;

  HANDLE handle() const noexcept { return handle_; }
  const fs::path& path() const noexcept { return path_; }
  bool close() noexcept {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(handle) != 0;
  }
  void keep() noexcept { kept_ = true; }

 private:
  fs::path path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool kept_ = false;
};

// The attributes a replacement takes over from the file it replaces.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

// A regular file is replaced whole: the bytes go to a new file in the same folder, which is flushed to
// disk and then moved over the target, so a save that fails anywhere leaves the old file untouched.
// Anything else that exists under the name (a device, a pipe) is opened and written in place.
void write_file(const fs::path& file_name, const std::function<void(std::ostream&)>& write) {
  const std::string shown = shown_name(file_name);
  if (file_name.empty()) cannot_create(shown, ERROR_PATH_NOT_FOUND);

  // What exists under the name is opened for writing, which checks the access that replacing it needs,
  // refuses folders, and tells files from devices and pipes.
  fs::path target = file_name;
  DWORD attributes = 0;
  bool exists = false;
  {
    file_handle existing(::CreateFileW(file_name.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!existing.valid()) {
      const DWORD error = ::GetLastError();
      // A missing folder is noticed on creating the temporary file, with the system's own code.
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) cannot_create(shown, error);
    } else if (::GetFileType(existing.get()) != FILE_TYPE_DISK) {
      write_through(existing.get(), write);
      if (!existing.close()) throw EWriteError();
      return;
    } else {
      BY_HANDLE_FILE_INFORMATION information{};
      if (!::GetFileInformationByHandle(existing.get(), &information)) cannot_create(shown, ::GetLastError());
      // Opening a read-only file for writing fails on Windows itself; some emulations let it through.
      if (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
        cannot_create(shown, ERROR_ACCESS_DENIED);
      attributes = information.dwFileAttributes & kKeptAttributes;
      target = final_path(existing.get(), file_name);
      exists = true;
    }
  }

  temporary_file temp(target, shown);
  write_through(temp.handle(), write);
  if (!::FlushFileBuffers(temp.handle())) throw EWriteError();
  if (!temp.close()) throw EWriteError();
  if (exists && attributes != 0 && !::SetFileAttributesW(temp.path().c_str(), attributes))
    cannot_create(shown, ::GetLastError());
  if (!::MoveFileExW(temp.path().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    cannot_create(shown, ::GetLastError());
  temp.keep();
}

void read_file(const fs::path& file_name, const std::function<void(std::istream&)>& read) {
  file_handle file(::CreateFileW(file_name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.valid()) {
    const DWORD error = ::GetLastError();  // before building the name, which may change it
    cannot_open(shown_name(file_name), error);
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (::GetFileInformationByHandle(file.get(), &information) &&
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    cannot_open(shown_name(file_name), ERROR_ACCESS_DENIED);
  }
  handle_buffer buffer(file.get());
  std::istream in(&buffer);
  read(in);
}

}  // namespace intset
