// KTH: the tagged line writer.
//
// Appends one piece to a file: the text alone, or the text between an opening
// tag (the whole tag argument, upper-cased) and a closing tag (its first word,
// upper-cased), each with a line end behind it when argument 2 is present.
// The file is opened and closed within the call, so another program can read
// it between calls. Nothing is escaped: the text reaches the file unchanged,
// NUL bytes included.
#include <cstdio>
#include <memory>

#include "web/web.h"

namespace ktdb {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool Write(std::FILE* file, std::string_view text) {
  return text.empty() || std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

bool WriteUpper(std::FILE* file, std::string_view text) {
  for (char c : text) {
    if (std::fputc(UpperAscii(c), file) == EOF) return false;
  }
  return true;
}

}  // namespace

APIRET TaggedLine(const Arguments& args, Result& result) {
  result.SetEmpty();
  if (!args.Present(1) || !args.Present(3)) return kIncorrectCall;

  // Everything that can make the call incorrect is checked before the file is
  // touched. A name with a NUL byte in it would open a file other than the
  // one named; the name must also fit the result string it is handed back in.
  const std::string_view name = args.Text(1);
  std::array<char, kFileNameSize> fileName;
  if (name.find('\0') != std::string_view::npos || !CopyBounded(fileName, name) ||
      !result.Fits(name.size())) {
    return kIncorrectCall;
  }

  const std::string_view tag = args.Text(4);
  std::array<char, kClosingTagSize> closingTag;
  std::string_view closing;
  if (!tag.empty()) {
    // The closing tag name is the tag up to its first blank (character 32).
    const std::string_view word = tag.substr(0, tag.find(' '));
    if (!CopyBounded(closingTag, word)) return kIncorrectCall;
    for (std::size_t i = 0; i < word.size(); ++i) closingTag[i] = UpperAscii(closingTag[i]);
    closing = std::string_view(closingTag.data(), word.size());
  }

  File file(std::fopen(fileName.data(), "a"));
  if (!file) return kIncorrectCall;

  const std::string_view text = args.Text(3);
  bool written = true;
  if (!tag.empty()) {
    written = Write(file.get(), "<") && WriteUpper(file.get(), tag) && Write(file.get(), ">") &&
              Write(file.get(), text) && Write(file.get(), "</") && Write(file.get(), closing) &&
              Write(file.get(), ">");
  } else {
    written = Write(file.get(), text);
  }
  if (written && args.Present(2)) written = Write(file.get(), "\n");
  // The close flushes the buffered piece; a failure there is a failed write.
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) return kIncorrectCall;

  result.Set(name);
  return kCallRan;
}

}  // namespace ktdb
