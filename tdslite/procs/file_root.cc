#include "file_root.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <random>

namespace tdslite::procs {
namespace {

// realpath() into a std::string; empty when the path does not resolve.
std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

// The folder that holds a name's last component, opened beneath the root
// without following links, and that last component.
struct Parent {
  FileHandle dir;
  std::string base;
};

bool OpenParent(std::string_view root, std::string_view name, Parent* parent) {
  std::vector<std::string> components;
  if (!NameInRoot(root, name, &components)) return false;
  // The root itself is the administrator's choice: links in its own path
  // are followed, once, here.
  FileHandle dir(::open(RealPath(std::string(root)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return false;
  for (size_t i = 0; i + 1 < components.size(); ++i) {
    // O_NOFOLLOW: a link (even one swapped in a moment ago) is not entered;
    // no component is "." or "..", so every step goes one level down.
    FileHandle next(::openat(dir.get(), components[i].c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.valid()) return false;
    dir = std::move(next);
  }
  parent->dir = std::move(dir);
  parent->base = components.back();
  return true;
}

// A plain file with a single name: anything else (a device, a FIFO, a hard
// link to a file that may lie outside the root) is not touched.
bool PlainFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_nlink == 1;
}

std::string TemporaryName() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char buf[40];
  std::snprintf(buf, sizeof buf, ".tdslite-%016llx.tmp", static_cast<unsigned long long>(random()));
  return buf;
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

bool NameInRoot(std::string_view root, std::string_view name,
                std::vector<std::string>* components) {
  components->clear();
  if (root.empty() || name.empty() || name.size() > kMaxFileNameChars * 4) return false;
  if (name.find('\0') != std::string_view::npos) return false;
  std::string relative(name);
  if (name[0] == '/') {
    const std::string real_root = RealPath(std::string(root));
    if (real_root.empty()) return false;
    const std::string prefix = real_root == "/" ? "/" : real_root + "/";
    if (relative.compare(0, prefix.size(), prefix) != 0) return false;
    relative.erase(0, prefix.size());
  }
  if (relative.empty() || relative.back() == '/') return false;
  size_t start = 0;
  while (start < relative.size()) {
    size_t slash = relative.find('/', start);
    if (slash == std::string::npos) slash = relative.size();
    if (slash > start) {  // "a//b" is "a/b"
      if (relative[start] == '.' || components->size() >= kMaxNameComponents) return false;
      components->push_back(relative.substr(start, slash - start));
    }
    start = slash + 1;
  }
  return !components->empty();
}

WriteResult WriteInRoot(std::string_view root, std::string_view name, std::string_view data) {
  Parent parent;
  if (!OpenParent(root, name, &parent)) return WriteResult::kCannotOpen;
  const int dir = parent.dir.get();
  const char* base = parent.base.c_str();
  // An existing target must be a plain file the server may write: its
  // contents are replaced, never those of a file it links to.
  mode_t mode = 0644;
  struct stat st;
  if (::fstatat(dir, base, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!PlainFile(st) || ::faccessat(dir, base, W_OK, AT_EACCESS) != 0) {
      return WriteResult::kCannotOpen;
    }
    mode = st.st_mode & 0777;
  } else if (errno != ENOENT) {
    return WriteResult::kCannotOpen;
  }
  std::string temp;
  FileHandle file;
  for (int attempt = 0; attempt < 8 && !file.valid(); ++attempt) {
    temp = TemporaryName();
    file = FileHandle(
        ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!file.valid() && errno != EEXIST) break;
  }
  if (!file.valid()) return WriteResult::kCannotOpen;
  // The creation mode is subject to the umask; an existing page keeps its own.
  if (mode != 0644) ::fchmod(file.get(), mode);
  const bool written = file.WriteAll(data) && file.Close();
  if (!written || ::renameat(dir, temp.c_str(), dir, base) != 0) {
    ::unlinkat(dir, temp.c_str(), 0);
    return written ? WriteResult::kCannotOpen : WriteResult::kCannotWrite;
  }
  return WriteResult::kOk;
}

bool ReadInRoot(std::string_view root, std::string_view name, std::string* text) {
  Parent parent;
  if (!OpenParent(root, name, &parent)) return false;
  // O_NONBLOCK keeps a FIFO from stalling the open; the type is checked
  // before anything is read.
  FileHandle file(::openat(parent.dir.get(), parent.base.c_str(),
                           O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!file.valid()) return false;
  struct stat st;
  if (::fstat(file.get(), &st) != 0 || !PlainFile(st)) return false;
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
