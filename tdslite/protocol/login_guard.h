// What guards the login: the accounts file, a password comparison that
// takes the same time wherever the first difference lies, and a limit on
// failed logins per client address.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tdslite/protocol/packet_io.h"

namespace tdslite::protocol {

struct Login {
  std::string name;
  std::string password;
};

// Compares two passwords in time that depends on their lengths only.
bool SamePassword(std::string_view given, std::string_view expected);

// Reads an accounts file: one `name:password` a line (the password may hold
// ':'); blank lines and lines that begin with '#' are skipped. Refused, with
// a message in `error`, when the file cannot be read, when its group or
// other users may read or write it, or when a line is not an account.
bool ReadUsersFile(const std::string& path, std::vector<Login>* logins, std::string* error);

// At most `per_second` failed logins a second per client address (after a
// first burst of as many): beyond that, an address's logins are refused
// without their password being looked at, and each refused one counts as a
// failure too, so that an address that keeps guessing faster stays refused
// (until it has been quiet for up to two seconds).
class LoginThrottle {
 public:
  explicit LoginThrottle(double per_second = 10) : rate_(per_second) {}
  // True when the address may try a password now; a refusal is counted.
  bool Allowed(const std::string& address, Deadline now);
  void Failed(const std::string& address, Deadline now);

 private:
  struct Bucket {
    double tokens;
    Deadline updated;
  };
  Bucket& Refill(const std::string& address, Deadline now);

  const double rate_;
  std::mutex mutex_;
  std::map<std::string, Bucket> buckets_;
};

}  // namespace tdslite::protocol
