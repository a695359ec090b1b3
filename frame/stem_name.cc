// The stem name rule: the caller's stem upper-cased, each suffix behind it.
#include "frame/frame.h"

namespace ktdb {

bool StemName::SetStem(std::string_view stem) {
  if (!CopyBounded(buffer_, stem)) return false;
  for (std::size_t i = 0; i < stem.size(); ++i) buffer_[i] = UpperAscii(buffer_[i]);
  stemLength_ = stem.size();
  suffixLength_ = 0;
  return true;
}

bool StemName::SetSuffix(std::string_view suffix) {
  // A failed copy writes nothing, so the previous name stays whole.
  if (!CopyBounded(buffer_.subspan(stemLength_), suffix)) return false;
  suffixLength_ = suffix.size();
  return true;
}

}  // namespace ktdb
