#include "tools/session_proto/fd_output.h"

#include <sys/stat.h>
#include <unistd.h>
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#endif

#include <cerrno>
#include <cstring>

namespace session_proto {

bool FdOutput::WriteAll(const char* data, size_t size) {
  if (!error_.empty()) return false;
  while (size > 0) {
    ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? std::strerror(errno) : "nothing was written";
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool FdOutput::Drain() {
  bool ok = WriteAll(pbase(), static_cast<size_t>(pptr() - pbase()));
  setp(buffer_, buffer_ + sizeof buffer_);
  return ok;
}

FdOutput::int_type FdOutput::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize FdOutput::xsputn(const char* data, std::streamsize size) {
  if (size <= epptr() - pptr()) {
    std::memcpy(pptr(), data, static_cast<size_t>(size));
    pbump(static_cast<int>(size));
    return size;
  }
  if (!Drain() || !WriteAll(data, static_cast<size_t>(size))) return 0;
  return size;
}

int FdOutput::sync() { return Drain() ? 0 : -1; }

std::string WriteFailure(std::ostream& out) {
  std::string text = "cannot write to standard output";
  if (auto* fd = dynamic_cast<FdOutput*>(out.rdbuf()); fd != nullptr && !fd->error().empty()) {
    text += ": " + fd->error();
  }
  return text;
}

#if defined(_WIN32)
bool IsRegularFile(int fd) {
  return GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) == FILE_TYPE_DISK;
}

bool IsTerminal(int fd) {
  DWORD mode;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &mode) != 0;
}
#else
bool IsRegularFile(int fd) {
  struct stat status;
  return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

bool IsTerminal(int fd) { return ::isatty(fd) != 0; }
#endif

}  // namespace session_proto
