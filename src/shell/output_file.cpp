#include "shell/output_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <random>
#include <streambuf>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kaven {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kDefaultBuffer = 256 * 1024;

// A stream buffer over a file descriptor that remembers the first failed write (errno),
// after which it takes nothing more.
class DescriptorBuffer : public std::streambuf {
 public:
  DescriptorBuffer(int fd, std::size_t bytes) : fd_(fd), buffer_(std::max<std::size_t>(bytes, 64)) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
  }
  int error() const { return error_; }
  void fail_after(std::size_t bytes) { limit_ = bytes; }
  bool flush_all() { return drain() && error_ == 0; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const auto room = static_cast<std::streamsize>(epptr() - pptr());
    if (n <= room) {
      std::copy(s, s + n, pptr());
      pbump(static_cast<int>(n));
      return n;
    }
    // Larger than the room left: empty the buffer and write the block directly.
    if (!drain() || !write_all(s, static_cast<std::size_t>(n))) return 0;
    return n;
  }
  int sync() override { return drain() ? 0 : -1; }

 private:
  bool drain() {
    const std::size_t n = static_cast<std::size_t>(pptr() - pbase());
    const bool ok = n == 0 || write_all(pbase(), n);
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return ok;
  }
  bool write_all(const char* p, std::size_t n) {
    if (error_ != 0) return false;
    while (n > 0) {
      std::size_t chunk = n;
      if (written_ + chunk > limit_) {
        chunk = limit_ > written_ ? limit_ - written_ : 0;
        if (chunk == 0) {
          error_ = ENOSPC;
          return false;
        }
      }
      const ssize_t w = ::write(fd_, p, chunk);
      if (w < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        return false;
      }
      p += w;
      n -= static_cast<std::size_t>(w);
      written_ += static_cast<std::size_t>(w);
    }
    return true;
  }

  int fd_;
  std::vector<char> buffer_;
  int error_ = 0;
  std::size_t written_ = 0;
  std::size_t limit_ = std::numeric_limits<std::size_t>::max();
};

std::string describe(int err) { return std::generic_category().message(err); }

// The name the file finally gets: a symbolic link is written through, as a plain
// opening of the name would, so the link keeps pointing at the new file.
fs::path final_name(const fs::path& path) {
  std::error_code ec;
  if (fs::is_symlink(path, ec)) {
    const fs::path target = fs::weakly_canonical(path, ec);
    if (!ec) return target;
  }
  return path;
}

}  // namespace

struct OutputFile::State {
  fs::path path, temporary;
  int fd = -1;
  std::unique_ptr<DescriptorBuffer> buffer;
  std::unique_ptr<std::ostream> stream;
  std::string error;
  int error_number = 0;
  bool committed = false;

  void close_descriptor() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  void remove_temporary() {
    if (!temporary.empty()) ::unlink(temporary.c_str());
    temporary.clear();
  }
};

OutputFile::OutputFile() : s_(std::make_unique<State>()) {}

OutputFile::OutputFile(const fs::path& path, std::size_t buffer_bytes) : OutputFile() {
  open(path, buffer_bytes);
}

// A moved-from file holds nothing (and is reopened by open()).
OutputFile::OutputFile(OutputFile&&) noexcept = default;
OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    discard();
    s_ = std::move(other.s_);
  }
  return *this;
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const fs::path& path, std::size_t buffer_bytes) {
  discard();
  s_ = std::make_unique<State>();
  State& s = *s_;
  if (path.empty() || !path.has_filename()) {
    s.error = "no file name";
    return false;
  }
  s.path = final_name(path);
  const fs::path folder = s.path.has_parent_path() ? s.path.parent_path() : fs::path(".");
  // A hidden name in the same folder, unique by a random part; O_EXCL makes sure no
  // other writer's temporary file is taken over.
  std::random_device rd;
  for (int attempt = 0; attempt < 100 && s.fd < 0; ++attempt) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(rd()));
    const fs::path tmp = folder / ("." + s.path.filename().string() + "." + tag + ".tmp");
    s.fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (s.fd >= 0) {
      s.temporary = tmp;
    } else if (errno != EEXIST) {
      s.error_number = errno;
      s.error = "cannot create a file in " + folder.string() + ": " + describe(errno);
      return false;
    }
  }
  if (s.fd < 0) {
    s.error_number = EEXIST;
    s.error = "cannot create a temporary file in " + folder.string();
    return false;
  }
  // A file replaced keeps its permissions, as it would when written over in place.
  struct stat st {};
  if (::stat(s.path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(s.fd, st.st_mode & 07777);
  s.buffer = std::make_unique<DescriptorBuffer>(s.fd, buffer_bytes ? buffer_bytes : kDefaultBuffer);
  s.stream = std::make_unique<std::ostream>(s.buffer.get());
  return true;
}

bool OutputFile::is_open() const { return s_ && s_->fd >= 0; }

std::ostream& OutputFile::stream() {
  if (!s_) s_ = std::make_unique<State>();
  if (!s_->stream) {
    // Not open: a stream that takes nothing and stays failed.
    s_->stream = std::make_unique<std::ostream>(nullptr);
    s_->stream->setstate(std::ios::badbit);
  }
  return *s_->stream;
}

bool OutputFile::commit() {
  if (!s_ || s_->committed) return s_ && s_->committed;
  State& s = *s_;
  if (s.fd < 0) {
    if (s.error.empty()) s.error = "the file was not opened";
    return false;
  }
  s.stream->flush();
  const bool written = s.buffer->flush_all() && !s.stream->fail();
  const int write_error = s.buffer->error();
  const int closed = ::close(s.fd);
  const int close_error = errno;
  s.fd = -1;
  if (!written || closed != 0) {
    s.error_number = write_error != 0 ? write_error : closed != 0 ? close_error : EIO;
    s.error = "writing " + s.path.string() + " failed: " + describe(s.error_number);
    s.remove_temporary();
    return false;
  }
  if (std::rename(s.temporary.c_str(), s.path.c_str()) != 0) {
    s.error_number = errno;
    s.error = "cannot rename the written file to " + s.path.string() + ": " + describe(errno);
    s.remove_temporary();
    return false;
  }
  s.temporary.clear();
  s.committed = true;
  return true;
}

void OutputFile::discard() {
  if (!s_) return;
  s_->close_descriptor();
  s_->remove_temporary();
}

bool OutputFile::committed() const { return s_ && s_->committed; }
const fs::path& OutputFile::path() const { return s_->path; }
const fs::path& OutputFile::temporary() const { return s_->temporary; }
const std::string& OutputFile::error() const { return s_->error; }
int OutputFile::error_number() const { return s_ ? s_->error_number : 0; }

void OutputFile::fail_after_bytes(std::size_t bytes) {
  if (s_ && s_->buffer) s_->buffer->fail_after(bytes);
}

std::string write_file_atomically(const fs::path& path, std::string_view text) {
  OutputFile file;
  if (!file.open(path, text.size() + 1)) return file.error();
  file.stream().write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!file.commit()) return file.error();
  return {};
}

}  // namespace kaven
