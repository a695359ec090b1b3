// What windows, recursive queries and FOR XML PATH('') compile to: exact
// decimal sums over a window, the recursion guard, XML text.
#include "functions_internal.h"
#include "markup_escape.h"

namespace tdslite::sql {
namespace function_detail {

namespace {

// Removes a value a window frame leaves behind from a decimal sum.
void DecimalInverse(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Int128 v;
  int s;
  DecimalAccumulator* acc = DecimalArgument(ctx, argv[0], &v, &s);
  if (acc == nullptr) return;
  // Every value added before had a scale of at most acc->scale.
  if (s < acc->scale) v = Rescale(v, s, acc->scale);
  StoreSum(acc, LoadSum(*acc) - v);
  --acc->count;
}

// tds_recursion(level, limit, unlimited): the level of a new row of a
// recursive query, or error 530 once it passes MAXRECURSION.
void RecursionFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int64_t level = sqlite3_value_int64(argv[0]);
  const int64_t limit = sqlite3_value_int64(argv[1]);
  if (level > limit) {
    if (sqlite3_value_int64(argv[2]) != 0) {
      Fail(ctx, MakeMessage(50100, 1, 16,
                            "A recursion deeper than " + std::to_string(limit) +
                                " levels is not supported by tdslite."));
      return;
    }
    Fail(ctx,
         MakeMessage(530, 1, 16,
                     "The statement terminated. The maximum recursion " + std::to_string(limit) +
                         " has been exhausted before statement completion."));
    return;
  }
  sqlite3_result_int64(ctx, level);
}

// tds_xmltext(value[, name]): the value as FOR XML PATH('') writes it: its
// text with &, < and > escaped, in <name>...</name> for a named column.
void XmlTextFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const std::string in = ValueText(argv[0]);
  std::string out;
  std::string name = argc > 1 ? ValueText(argv[1]) : std::string();
  if (!FitsValueLimit(ctx, in.size() * 5 + name.size() * 2 + 5)) return;
  if (!name.empty()) out += "<" + name + ">";
  out += EscapeMarkup(in, {{'\r', "&#x0D;"}});
  if (!name.empty()) out += "</" + name + ">";
  ResultText(ctx, out);
}

// tds_xmlcap(text, limit): FOR XML PATH('') answers in a column of at most
// `limit` characters here; a longer value is refused, never cut.
void XmlCapFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const std::string text = ValueText(argv[0]);
  const int64_t limit = sqlite3_value_int64(argv[1]);
  if (Utf16Length(text) > limit) {
    Fail(ctx, MakeMessage(50100, 1, 16,
                          "A FOR XML PATH('') value longer than " + std::to_string(limit) +
                              " characters is not supported by tdslite."));
    return;
  }
  ResultText(ctx, text);
}

}  // namespace

}  // namespace function_detail

using namespace function_detail;

bool RegisterWindowFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int rc = sqlite3_create_window_function(
      db, "tds_wdsum", 1, flags, nullptr, Guarded<DecimalStep>, GuardedFinal<DecimalSumFinal>,
      GuardedFinal<DecimalSumFinal>, Guarded<DecimalInverse>, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_window_function(
        db, "tds_wdavg", 1, flags, nullptr, Guarded<DecimalStep>, GuardedFinal<DecimalAvgFinal>,
        GuardedFinal<DecimalAvgFinal>, Guarded<DecimalInverse>, nullptr);
  }
  auto add = [&](const char* name, int args, void (*fn)(sqlite3_context*, int, sqlite3_value**)) {
    if (rc == SQLITE_OK) {
      rc = sqlite3_create_function(db, name, args, flags, nullptr, fn, nullptr, nullptr);
    }
  };
  add("tds_recursion", 3, Guarded<RecursionFunc>);
  add("tds_xmltext", 1, Guarded<XmlTextFunc>);
  add("tds_xmltext", 2, Guarded<XmlTextFunc>);
  add("tds_xmlcap", 2, Guarded<XmlCapFunc>);
  return rc == SQLITE_OK;
}

}  // namespace tdslite::sql
