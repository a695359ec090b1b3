// A file's text converted, piece by piece, from the client character set
// into the character set of a text or ntext value. Nothing is ever replaced:
// a byte sequence that is not a character, or a character the target has no
// place for, ends the conversion with its offset in the file.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "lob/lob.h"

namespace ktdb {
namespace {

// The most bytes one character takes in any character set iconv converts
// from: a read that cut a character keeps at most this many for the next.
constexpr std::size_t kLongestCharacter = 16;

// An iconv conversion descriptor of the call, closed whichever way it ends.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (Ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Whether the bytes at `data` begin with a whole character of `from`, and
// which one (its Unicode number).
bool DecodeOne(const char* from, const char* data, std::size_t size, std::uint32_t& character) {
  Iconv decoder("UTF-32LE", from);
  if (!decoder.Ok()) return false;
  std::array<unsigned char, 8> out{};
  char* in = const_cast<char*>(data);
  std::size_t inLeft = std::min(size, kLongestCharacter);
  char* outPointer = reinterpret_cast<char*>(out.data());
  std::size_t outLeft = 4;  // room for exactly one character
  const std::size_t answer = iconv(decoder.Get(), &in, &inLeft, &outPointer, &outLeft);
  // One character converted: either all input went (answer not -1) or the
  // output ran full after it (E2BIG).
  if (outLeft != 0 || (answer == static_cast<std::size_t>(-1) && errno != E2BIG)) return false;
  character = static_cast<std::uint32_t>(out[0]) | static_cast<std::uint32_t>(out[1]) << 8 |
              static_cast<std::uint32_t>(out[2]) << 16 | static_cast<std::uint32_t>(out[3]) << 24;
  return true;
}

// Hands the converted bytes to the sink and empties the output piece.
bool Flush(std::size_t& used, ConvertedSink sink, void* context) {
  if (used == 0) return true;
  const bool accepted = sink(PieceBuffer.data(), used, context);
  used = 0;
  return accepted;
}

}  // namespace

const char* ServerTextCharset(DBPROCESS* dbproc) {
  const char* announced = dbproc != nullptr ? dbservcharset(dbproc) : nullptr;
  if (announced == nullptr || announced[0] == '\0' || std::strcmp(announced, "iso_1") == 0) {
    return "CP1252";
  }
  return announced;
}

bool ConvertText(std::FILE* file, const char* from, const char* to, ConvertedSink sink,
                 void* context, TextFault& fault) {
  fault = TextFault{};
  Iconv converter(to, from);
  if (!converter.Ok()) {
    errno = EINVAL;
    return false;
  }
  std::int64_t consumed = 0;  // file bytes converted before ConvertInput[0]
  std::size_t carried = 0;    // bytes of a cut character at ConvertInput[0]
  std::size_t used = 0;       // converted bytes waiting in PieceBuffer
  // Every round reads more of the file or ends: bounded by the file's size.
  for (;;) {
    const std::size_t got =
        std::fread(ConvertInput.data() + carried, 1, ConvertInput.size() - carried, file);
    if (got == 0 && std::ferror(file)) return false;
    const bool end = got == 0;
    char* in = ConvertInput.data();
    std::size_t inLeft = carried + got;
    // Every round converts input or empties the output piece: bounded by
    // the bytes read.
    while (inLeft > 0) {
      char* out = reinterpret_cast<char*>(PieceBuffer.data()) + used;
      std::size_t outLeft = PieceBuffer.size() - used;
      const std::size_t answer = iconv(converter.Get(), &in, &inLeft, &out, &outLeft);
      used = PieceBuffer.size() - outLeft;
      if (answer != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        if (!Flush(used, sink, context)) return false;
        continue;
      }
      fault.offset = consumed + (in - ConvertInput.data());
      if (errno == EINVAL && !end) break;  // a cut character: read on
      fault.kind = TextFault::Kind::kInvalid;
      if (errno == EILSEQ && DecodeOne(from, in, inLeft, fault.character)) {
        fault.kind = TextFault::Kind::kUnrepresentable;
      }
      return false;
    }
    if (end) break;
    // What a cut character left is moved to the front for the next read; it
    // is shorter than any character.
    if (inLeft >= kLongestCharacter) {
      fault.offset = consumed + (in - ConvertInput.data());
      fault.kind = TextFault::Kind::kInvalid;
      return false;
    }
    consumed += in - ConvertInput.data();
    std::memmove(ConvertInput.data(), in, inLeft);
    carried = inLeft;
  }
  // A character set with shift states ends in its initial one.
  char* out = reinterpret_cast<char*>(PieceBuffer.data()) + used;
  std::size_t outLeft = PieceBuffer.size() - used;
  if (iconv(converter.Get(), nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1)) {
    if (!Flush(used, sink, context)) return false;
    out = reinterpret_cast<char*>(PieceBuffer.data());
    outLeft = PieceBuffer.size();
    iconv(converter.Get(), nullptr, nullptr, &out, &outLeft);
  }
  used = PieceBuffer.size() - outLeft;
  return Flush(used, sink, context);
}

void DescribeTextFault(const TextFault& fault, const char* from, const char* to,
                       std::span<char> text) {
  const bool wide = std::string_view(to).starts_with("UTF-16");
  if (fault.kind == TextFault::Kind::kUnrepresentable) {
    std::snprintf(text.data(), text.size(),
                  "byte offset %lld of the file: character U+%04lX has no place in the server's "
                  "character set %s; nothing was sent: store such text in an ntext column, or "
                  "the file in an image column",
                  static_cast<long long>(fault.offset), static_cast<unsigned long>(fault.character),
                  to);
    return;
  }
  std::snprintf(text.data(), text.size(),
                "byte offset %lld of the file: not a character of the client character set %s "
                "(an invalid or cut byte sequence); nothing was sent: store the file in an image "
                "column%s",
                static_cast<long long>(fault.offset), from, wide ? "" : ", or fix the text");
}

}  // namespace ktdb
