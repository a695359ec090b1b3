// What freetds.conf says about a server: its client character set, protocol
// version and encryption.
//
// The package wants UTF-8 end to end and TDS 7.4, so it sets the login's
// charset and version itself, which overrides freetds.conf. An administrator
// who named either in freetds.conf meant it, though: the package then leaves
// the choice to the file. And a file that requires encryption must never be
// met with a protocol version that has none. FreeTDS offers no call that
// tells what the file says, so it is read
// here the way FreeTDS reads it: the first file found among $FREETDSCONF,
// $FREETDS/etc/freetds.conf, ~/.freetds.conf and the system file, its
// [global] section and the server's own section (names compared without
// regard to case, option names with their blanks collapsed).
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "server/server.h"

namespace ktdb {
namespace {

constexpr const char* kSystemConfig = "/etc/freetds/freetds.conf";

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// The option name as FreeTDS compares it: lower case, blanks collapsed.
std::string OptionName(std::string_view text) {
  std::string out;
  bool blank = false;
  for (char c : Trim(text)) {
    if (c == ' ' || c == '\t') {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out.push_back(' ');
    blank = false;
    out.push_back(c);
  }
  return Lower(out);
}

struct FileAnswer {
  bool sectionFound = false;  // the server's own section is in the file
  std::string global;         // the option's value in [global], or empty
  std::string own;            // the option's value in the server's section, or empty
};

FileAnswer ReadConfig(std::ifstream& in, const std::string& section, const std::string& option) {
  FileAnswer answer;
  std::string line;
  std::string current;
  while (std::getline(in, line)) {
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    if (text.front() == '[') {
      const std::size_t close = text.find(']');
      current = Lower(Trim(text.substr(1, close == std::string_view::npos ? close : close - 1)));
      if (current == section) answer.sectionFound = true;
      continue;
    }
    if (current != "global" && current != section) continue;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    if (OptionName(text.substr(0, equals)) == option) {
      (current == section ? answer.own : answer.global) = Trim(text.substr(equals + 1));
    }
  }
  return answer;
}

}  // namespace

std::string ConfiguredOption(std::string_view server, std::string_view option) {
  std::string candidates[4];
  if (const char* file = std::getenv("FREETDSCONF"); file != nullptr && *file != '\0') {
    candidates[0] = file;
  }
  if (const char* home = std::getenv("FREETDS"); home != nullptr && *home != '\0') {
    candidates[1] = std::string(home) + "/etc/freetds.conf";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    candidates[2] = std::string(home) + "/.freetds.conf";
  }
  candidates[3] = kSystemConfig;

  const std::string section = Lower(server);
  const std::string name = OptionName(option);
  std::string value;
  for (const std::string& path : candidates) {
    if (path.empty()) continue;
    std::ifstream in(path);
    if (!in) continue;
    const FileAnswer answer = ReadConfig(in, section, name);
    // The server's section overrides [global].
    if (!answer.own.empty()) return answer.own;
    if (value.empty()) value = answer.global;
    // FreeTDS stops at the first file that has the server's section.
    if (answer.sectionFound) break;
  }
  return value;
}

std::string ConfiguredClientCharset(std::string_view server) {
  return ConfiguredOption(server, "client charset");
}

bool VersionBelow71(std::string_view version) {
  const std::string v = Lower(Trim(version));
  static constexpr std::string_view kOld[] = {"4.2", "4.6", "5.0", "7.0", "42", "46", "50", "70"};
  return std::find(std::begin(kOld), std::end(kOld), v) != std::end(kOld);
}

bool EncryptionRequired(std::string_view setting) {
  const std::string v = Lower(Trim(setting));
  return v == "require" || v == "strict";
}

std::int32_t MaxBytesPerCharacter(std::string_view charset) {
  const std::string name = Lower(charset);
  if (name == "utf-8" || name == "utf8" || name == "gb18030") return 4;
  if (name == "euc-jp" || name == "eucjp") return 3;
  static constexpr std::string_view kDoubleByte[] = {
      "shift_jis", "sjis", "cp932", "big5", "cp950", "gbk", "cp936", "euc-kr", "cp949", "gb2312"};
  if (std::find(std::begin(kDoubleByte), std::end(kDoubleByte), name) != std::end(kDoubleByte)) {
    return 2;
  }
  return 1;
}

}  // namespace ktdb
