// A file written whole or not at all. The text goes to a temporary file in the folder of
// its name (so that the final rename stays on one file system and is atomic), through a
// buffer of its own; every write and the close are checked, and only a file that was
// written completely is renamed over its name. Until then the name keeps what it held
// before (or nothing): a full disk, a failed write or a run that stops early never leaves
// a truncated file under a name that looks complete. A file that is not committed is
// removed with its temporary name.
//
// Two writers of the same name each write their own temporary file; the one that commits
// last leaves its file whole under the name.
#pragma once
#include <cstddef>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

namespace kaven {

class OutputFile {
 public:
  OutputFile();
  // Opens the temporary file for `path` (see open()).
  explicit OutputFile(const std::filesystem::path& path, std::size_t buffer_bytes = 0);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&&) noexcept;
  OutputFile& operator=(OutputFile&&) noexcept;
  ~OutputFile();  // discards what was not committed

  // Creates the temporary file beside `path` (mode 0666 less the umask, as a plain file
  // would get). `buffer_bytes` sizes the write buffer (0: a default of 256 KiB); a writer
  // that knows the size of its text passes it. Returns false, with error() saying why,
  // when the folder does not exist or cannot be written. A file already open is
  // discarded first.
  bool open(const std::filesystem::path& path, std::size_t buffer_bytes = 0);
  bool is_open() const;

  // The stream to write to. Writes after a failure are dropped; the failure is kept.
  std::ostream& stream();

  // Flushes the buffer, closes the temporary file and renames it over the name. Returns
  // true when the file is now whole under its name; otherwise the temporary file is
  // removed, the name keeps what it held, and error() says what failed.
  bool commit();
  // Removes the temporary file without touching the name.
  void discard();

  bool committed() const;
  const std::filesystem::path& path() const;       // the name the file gets
  const std::filesystem::path& temporary() const;  // where it is written meanwhile
  const std::string& error() const;                // why open() or commit() failed
  int error_number() const;                        // its errno, or 0

  // Test hook: every write fails once this many bytes have been written (as on a full
  // disk). Not for production use.
  void fail_after_bytes(std::size_t bytes);

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// Writes `text` to `path` through an OutputFile. Returns an empty string on success,
// else why the file could not be written whole (the name keeps what it held).
std::string write_file_atomically(const std::filesystem::path& path, std::string_view text);

}  // namespace kaven
