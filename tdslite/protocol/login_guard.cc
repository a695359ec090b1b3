#include "tdslite/protocol/login_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tdslite::protocol {

namespace {

// Addresses remembered at most; past it, those back at a full allowance
// are forgotten first.
constexpr size_t kMaxAddresses = 10000;
constexpr size_t kMaxUsersFileBytes = 1 << 20;

}  // namespace

bool SamePassword(std::string_view given, std::string_view expected) {
  const size_t n = std::max(given.size(), expected.size());
  unsigned diff = given.size() != expected.size() ? 1u : 0u;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    const unsigned char b = i < expected.size() ? static_cast<unsigned char>(expected[i]) : 0;
    diff |= static_cast<unsigned>(a ^ b);
  }
  return diff == 0;
}

bool ReadUsersFile(const std::string& path, std::vector<Login>* logins, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = "cannot open '" + path + "': " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  std::string text;
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    *error = "'" + path + "' is not a regular file";
    ok = false;
  } else if (ok && (st.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
    *error = "'" + path + "' may be read or changed by other users (chmod 600 it)";
    ok = false;
  } else if (ok && static_cast<unsigned long long>(st.st_size) > kMaxUsersFileBytes) {
    *error = "'" + path + "' is larger than 1 MiB";
    ok = false;
  }
  char buffer[4096];
  while (ok) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = "cannot read '" + path + "': " + std::strerror(errno);
      ok = false;
    }
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxUsersFileBytes) {
      *error = "'" + path + "' is larger than 1 MiB";
      ok = false;
    }
  }
  ::close(fd);
  if (!ok) return false;
  size_t line_number = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 128 || line.size() - colon - 1 > 128) {
      *error = "'" + path + "' line " + std::to_string(line_number) + " is not name:password";
      return false;
    }
    logins->push_back({line.substr(0, colon), line.substr(colon + 1)});
  }
  return true;
}

LoginThrottle::Bucket& LoginThrottle::Refill(const std::string& address, Deadline now) {
  auto it = buckets_.find(address);
  if (it == buckets_.end()) {
    if (buckets_.size() >= kMaxAddresses) {
      for (auto b = buckets_.begin(); b != buckets_.end();) {
        const double tokens = b->second.tokens + (now - b->second.updated) * rate_ / 1000.0;
        b = tokens >= rate_ ? buckets_.erase(b) : std::next(b);  // back at a full allowance
      }
      if (buckets_.size() >= kMaxAddresses) buckets_.clear();
    }
    it = buckets_.emplace(address, Bucket{rate_, now}).first;
  }
  Bucket& b = it->second;
  b.tokens = std::min(rate_, b.tokens + std::max<Deadline>(0, now - b.updated) * rate_ / 1000.0);
  b.updated = now;
  return b;
}

bool LoginThrottle::Allowed(const std::string& address, Deadline now) {
  std::lock_guard lock(mutex_);
  Bucket& b = Refill(address, now);
  if (b.tokens >= 1.0) return true;
  // The debt is bounded: a second's worth of allowance.
  b.tokens = std::max(-rate_, b.tokens - 1.0);
  return false;
}

void LoginThrottle::Failed(const std::string& address, Deadline now) {
  std::lock_guard lock(mutex_);
  Bucket& b = Refill(address, now);
  b.tokens = std::max(0.0, b.tokens - 1.0);
}

}  // namespace tdslite::protocol
