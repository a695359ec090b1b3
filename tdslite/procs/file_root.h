// Files the web task procedures read and write, kept inside the server's
// file root (--file-root). A relative name is taken from the root, an
// absolute one must lie inside it. Every name is resolved beneath a
// descriptor of the root, one component at a time, without following any
// symbolic link; a component that begins with "." (dot files and folders,
// "." and "..") is refused, and so is a file with more than one hard link.
// A page is written to a temporary file beside its target and renamed into
// place, so that a reader never sees half a page and no other file's
// contents are ever truncated.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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
// The deepest folder nesting a name may have below the root.
constexpr size_t kMaxNameComponents = 64;

// Splits `name` into its components below `root` (an absolute name is made
// relative to the root first). False when no root is set, or the name is
// empty, too long, holds a NUL, lies outside the root, ends in "/", or has a
// component that begins with ".".
bool NameInRoot(std::string_view root, std::string_view name, std::vector<std::string>* components);

enum class WriteResult {
  kOk,
  kCannotOpen,   // refused name, missing folder, link, not a plain file, no permission
  kCannotWrite,  // the data could not be written (disk full, ...)
};

// Replaces (or creates) the regular file `name` inside the root with `data`.
WriteResult WriteInRoot(std::string_view root, std::string_view name, std::string_view data);

// Reads a regular file inside the root (at most kMaxTemplateBytes). False
// when it cannot be opened or read, or is too large.
bool ReadInRoot(std::string_view root, std::string_view name, std::string* text);

}  // namespace tdslite::procs
