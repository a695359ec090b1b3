#include "file_root.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace tdslite::procs {
namespace {

// realpath() into a std::string; empty when the path does not resolve.
std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool HasDotDotComponent(std::string_view name) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t slash = name.find('/', start);
    size_t end = slash == std::string_view::npos ? name.size() : slash;
    if (name.substr(start, end - start) == "..") return true;
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return false;
}

bool Inside(const std::string& path, const std::string& root) {
  if (path == root) return true;
  if (root == "/") return true;
  return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
         path[root.size()] == '/';
}

}  // namespace

FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool FileHandle::WriteAll(std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool FileHandle::Close() {
  if (fd_ < 0) return false;
  int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0;
}

std::string ResolveInRoot(std::string_view root, std::string_view name) {
  if (name.empty() || name.size() > kMaxFileNameChars * 4) return "";
  if (name.find('\0') != std::string_view::npos || HasDotDotComponent(name)) return "";
  const std::string real_root = RealPath(std::string(root.empty() ? "." : root));
  if (real_root.empty()) return "";
  std::string full = name[0] == '/' ? std::string(name) : real_root + "/" + std::string(name);
  size_t slash = full.rfind('/');
  std::string base = full.substr(slash + 1);
  if (base.empty() || base == ".") return "";
  // The directory is resolved (symbolic links included) and must still be
  // inside the root; the file itself is opened without following links.
  std::string parent = RealPath(slash == 0 ? "/" : full.substr(0, slash));
  if (parent.empty() || !Inside(parent, real_root)) return "";
  return (parent == "/" ? "" : parent) + "/" + base;
}

FileHandle CreateInRoot(std::string_view root, std::string_view name) {
  std::string path = ResolveInRoot(root, name);
  if (path.empty()) return FileHandle();
  // O_NONBLOCK keeps a FIFO from stalling the open; the type is checked
  // before anything is truncated or written.
  FileHandle file(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644));
  if (!file.valid()) return FileHandle();
  struct stat st;
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return FileHandle();
  int flags = ::fcntl(file.get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return FileHandle();
  if (::ftruncate(file.get(), 0) != 0) return FileHandle();
  return file;
}

bool ReadInRoot(std::string_view root, std::string_view name, std::string* text) {
  std::string path = ResolveInRoot(root, name);
  if (path.empty()) return false;
  FileHandle file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!file.valid()) return false;
  struct stat st;
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (static_cast<unsigned long long>(st.st_size) > kMaxTemplateBytes) return false;
  text->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(file.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (text->size() + static_cast<size_t>(n) > kMaxTemplateBytes) return false;
    text->append(buf, static_cast<size_t>(n));
  }
  return true;
}

}  // namespace tdslite::procs
