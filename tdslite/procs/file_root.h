// Files the web task procedures read and write, kept inside the server's
// file root (--file-root): a relative name is taken from the root, an
// absolute one must lie inside it, ".." is refused, and symbolic links that
// would lead out of the root are not followed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tdslite::procs {

// A file descriptor that closes itself.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Writes all of `data`; false on any failure.
  bool WriteAll(std::string_view data);
  // Closes now and reports whether the close (the final flush) succeeded.
  bool Close();

 private:
  int fd_ = -1;
};

// The longest file name the procedures accept (SQL Server declares
// @outputfile and @templatefile nvarchar(255)).
constexpr size_t kMaxFileNameChars = 255;
// A template larger than this is refused rather than read into memory.
constexpr size_t kMaxTemplateBytes = 16 * 1024 * 1024;

// Resolves `name` under `root` to an absolute path inside the root, or
// answers an empty string when the name is empty, too long, contains "..",
// or its directory is missing or lies outside the root once symbolic links
// are resolved. The last component itself is not resolved: callers open it
// with O_NOFOLLOW.
std::string ResolveInRoot(std::string_view root, std::string_view name);

// Creates or truncates a regular file inside the root for writing. Invalid
// handle when the name does not resolve, the file is a symbolic link or not a
// regular file, or it cannot be opened.
FileHandle CreateInRoot(std::string_view root, std::string_view name);

// Reads a regular file inside the root (at most kMaxTemplateBytes). False
// when it cannot be opened or read, or is too large.
bool ReadInRoot(std::string_view root, std::string_view name, std::string* text);

}  // namespace tdslite::procs
