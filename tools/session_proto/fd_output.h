// Standard output as a stream that remembers why a write failed: a full
// disk, a closed descriptor or a short write must not pass for success.
#ifndef SESSION_PROTO_FD_OUTPUT_H_
#define SESSION_PROTO_FD_OUTPUT_H_

#include <ostream>
#include <streambuf>
#include <string>

namespace session_proto {

// A buffered stream buffer over a file descriptor. After the first failed
// write it drops everything, and the stream using it turns bad.
class FdOutput : public std::streambuf {
 public:
  explicit FdOutput(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
  ~FdOutput() override { sync(); }
  FdOutput(const FdOutput&) = delete;
  FdOutput& operator=(const FdOutput&) = delete;

  // The system's reason for the first failed write; empty while all is well.
  const std::string& error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* data, std::streamsize size) override;
  int sync() override;

 private:
  bool WriteAll(const char* data, size_t size);
  bool Drain();

  int fd_;
  std::string error_;
  char buffer_[64 * 1024];
};

// "cannot write to standard output: No space left on device", for a stream
// whose writes failed (the reason only when its buffer is an FdOutput).
std::string WriteFailure(std::ostream& out);

// Whether a descriptor is a regular file (a disk file on Windows): output to
// anything else (a pipe, a terminal) is written out message by message, and
// only a file can grow under --follow.
bool IsRegularFile(int fd);

// Whether a descriptor is a terminal (a console on Windows, where character
// devices such as NUL are no terminal), where binary output does harm.
bool IsTerminal(int fd);

inline bool StandardOutputIsRegularFile() { return IsRegularFile(1); }
inline bool StandardOutputIsTerminal() { return IsTerminal(1); }

}  // namespace session_proto

#endif  // SESSION_PROTO_FD_OUTPUT_H_
