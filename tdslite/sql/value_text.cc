// A value of a result row as the text a client asks for.
#include "value_text.h"

#include <cstdio>

#include "tdslite/common/text.h"
#include "temporal.h"
#include "types.h"
#include "values.h"

namespace tdslite::sql {

std::string ValueAsText(const ColumnDesc& c, const Value& v) {
  if (v.is_null) return "";
  switch (StorageOf(c.type.id)) {
    case Storage::kInteger:
      return std::to_string(v.i);
    case Storage::kMoney:
      return FormatScaled(v.i, 4);
    case Storage::kReal: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", v.f);
      return buf;
    }
    case Storage::kDecimalText:
      return FormatScaled(v.dec, c.type.scale);
    case Storage::kDateTicks: {
      const bool small = c.type.id == TypeId::kSmallDateTime;
      return FormatDateTime(ToSerial(v.dt), small ? 120 : 121, small).value_or("");
    }
    case Storage::kText:
    case Storage::kWideTime:
    case Storage::kOffsetText:
      return v.bytes;
    case Storage::kGuid:
      return GuidText(v.bytes);
    case Storage::kBlob:
      return HexDigits(v.bytes, true);
  }
  return "";
}

}  // namespace tdslite::sql
