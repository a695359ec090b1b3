// set, print, raiserror and use.
#include "session_impl.h"

#include "tdslite/sql/catalog_views.h"

namespace tdslite::session_detail {

SessionImpl::Flow SessionImpl::RunSet(const Stmt& stmt, ResultSink& sink) {
  last_rowcount_ = 0;
  const std::string& name = stmt.name;
  auto number = [&]() -> int64_t {
    if (stmt.args.empty()) return 0;
    return std::strtoll(stmt.args[0]->text.c_str(), nullptr, 10);
  };
  if (name == "nocount") {
    nocount_ = stmt.on;
    return Ok(sink, kCmdSet);
  }
  if (name == "textsize") {
    int64_t v = number();
    textsize_ = v <= 0 ? kDefaultTextSize : static_cast<int32_t>(v > 2147483647 ? 2147483647 : v);
    return Ok(sink, kCmdSet);
  }
  if (name == "rowcount") {
    int64_t v = number();
    rowcount_ = v < 0 ? 0 : v;
    return Ok(sink, kCmdSet);
  }
  if (name == "datefirst") {
    int64_t v = number();
    if (v < 1 || v > 7) {
      return Failed(sink, stmt,
                    MakeMessage(sql::kNotSupportedNumber, 1, 16,
                                "SET DATEFIRST " + std::to_string(v) +
                                    " is not supported by tdslite (1 to 7 are)."),
                    kCmdSet, false);
    }
    datefirst_ = static_cast<int>(v);
    return Ok(sink, kCmdSet);
  }
  if (name == "lock_timeout" || name == "transaction isolation level") {
    return Ok(sink, kCmdSet);
  }
  if (name == "language") {
    std::string v = stmt.args.empty() ? "" : stmt.args[0]->text;
    if (v == "us_english" || v == "english") return Ok(sink, kCmdSet);
    return Failed(sink, stmt,
                  MakeMessage(sql::kNotSupportedNumber, 1, 16,
                              "SET LANGUAGE " + v + " is not supported by tdslite."),
                  kCmdSet, false);
  }
  if (name == "dateformat") {
    std::string v = stmt.args.empty() ? "" : stmt.args[0]->text;
    if (v == "mdy") return Ok(sink, kCmdSet);
    return Failed(sink, stmt,
                  MakeMessage(sql::kNotSupportedNumber, 1, 16,
                              "SET DATEFORMAT " + v + " is not supported by tdslite."),
                  kCmdSet, false);
  }
  // Options whose one value matches what tdslite does are accepted with
  // that value only.
  struct Option {
    const char* name;
    bool value;
  };
  static constexpr Option kOptions[] = {
      {"ansi_nulls", true},
      {"ansi_padding", true},
      {"ansi_warnings", true},
      {"quoted_identifier", true},
      {"concat_null_yields_null", true},
      {"arithabort", true},
      {"ansi_null_dflt_on", true},
      {"ansi_defaults", true},
      {"implicit_transactions", false},
      {"xact_abort", false},
      {"cursor_close_on_commit", false},
      {"numeric_roundabort", false},
      {"fmtonly", false},
      {"forceplan", false},
      {"showplan_text", false},
      {"showplan_all", false},
      {"noexec", false},
      {"parseonly", false},
      {"statistics", false},
      {"ansi_null_dflt_off", false},
      {"arithignore", false},
      {"nocount", false},
  };
  size_t start = 0;
  while (start <= name.size()) {
    size_t comma = name.find(',', start);
    std::string one =
        name.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const Option* found = nullptr;
    for (const Option& o : kOptions) {
      if (one == o.name) found = &o;
    }
    if (found == nullptr) {
      return Failed(sink, stmt,
                    MakeMessage(195, 1, 15, "'" + one + "' is not a recognized SET option."),
                    kCmdSet, true);
    }
    if (one == "xact_abort") {
      xact_abort_ = stmt.on;
    } else if (found->value != stmt.on) {
      return Failed(
          sink, stmt,
          MakeMessage(sql::kNotSupportedNumber, 1, 16,
                      "SET " + one + (stmt.on ? " ON" : " OFF") + " is not supported by tdslite."),
          kCmdSet, false);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return Ok(sink, kCmdSet);
}

// Evaluates expressions outside any table (print, raiserror arguments).
bool SessionImpl::Evaluate(const Stmt& stmt, const sql::Expr& expr, std::optional<ColumnType> to,
                           std::optional<std::string>* text, ColumnType* type, int64_t* integer,
                           Message* error, bool* abort) {
  sql::SessionVars vars = Vars();
  sql::Compiler compiler(db_, vars);
  std::string q;
  sql::ExprType t;
  CompileError err;
  if (!compiler.CompileValue(expr, to, &q, &t, &err)) {
    *error = err.message;
    *abort = err.abort_batch;
    return false;
  }
  (void)stmt;
  Prepared st;
  int rc = st.Prepare(db_, q);
  if (rc == SQLITE_OK) rc = sqlite3_step(st.get());
  if (rc != SQLITE_ROW) {
    *error = SqliteError(rc);
    *abort = AbortsBatch(error->number);
    return false;
  }
  *type = t.type;
  if (sqlite3_column_type(st.get(), 0) == SQLITE_NULL) {
    text->reset();
  } else {
    const unsigned char* p = sqlite3_column_text(st.get(), 0);
    *text = std::string(p != nullptr ? reinterpret_cast<const char*>(p) : "",
                        static_cast<size_t>(sqlite3_column_bytes(st.get(), 0)));
    *integer = sqlite3_column_int64(st.get(), 0);
  }
  return true;
}

SessionImpl::Flow SessionImpl::RunPrint(const Stmt& stmt, ResultSink& sink) {
  std::optional<std::string> text;
  ColumnType type;
  int64_t ignored = 0;
  Message error;
  bool abort = false;
  // PRINT takes character data; other types are converted as SQL Server does.
  if (!Evaluate(stmt, *stmt.args[0], sql::VarCharType(8000, false), &text, &type, &ignored, &error,
                &abort)) {
    return Failed(sink, stmt, error, kCmdPrint, abort);
  }
  Message m = MakeMessage(0, 1, 0, text.value_or(""));
  m.line = stmt.line;
  sink.Send(m);
  return Ok(sink, kCmdPrint);
}

// printf-like formatting of RAISERROR's message.
std::string SessionImpl::FormatRaiserror(const std::string& format,
                                         const std::vector<std::optional<std::string>>& args,
                                         const std::vector<int64_t>& ints) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    std::string directive = "%";
    while (j < format.size() && std::strchr("-+ 0#", format[j]) != nullptr)
      directive += format[j++];
    while (j < format.size() &&
           (std::isdigit(static_cast<unsigned char>(format[j])) || format[j] == '.')) {
      directive += format[j++];
    }
    if (j < format.size() && (format[j] == 'h' || format[j] == 'l' || format[j] == 'I')) {
      while (j < format.size() && std::strchr("hlI64", format[j]) != nullptr) ++j;
    }
    if (j >= format.size()) {
      out += format.substr(i);
      break;
    }
    char conv = format[j];
    if (directive.size() > 12) directive.resize(12);
    char buf[256];
    const bool have = next < args.size();
    if (conv == 'd' || conv == 'i' || conv == 'u' || conv == 'x' || conv == 'X' || conv == 'o') {
      std::string f = directive + "ll" + (conv == 'i' ? 'd' : conv);
      if (have && args[next]) {
        std::snprintf(buf, sizeof buf, f.c_str(), static_cast<long long>(ints[next]));
        out += buf;
      } else {
        out += "(null)";
      }
      ++next;
    } else if (conv == 's') {
      std::string v = have && args[next] ? *args[next] : "(null)";
      std::string f = directive + "s";
      if (v.size() < 200) {
        std::snprintf(buf, sizeof buf, f.c_str(), v.c_str());
        out += buf;
      } else {
        out += v;
      }
      ++next;
    } else {
      out += format.substr(i, j - i + 1);
    }
    i = j;
  }
  return out;
}

SessionImpl::Flow SessionImpl::RunRaiserror(const Stmt& stmt, ResultSink& sink) {
  std::vector<std::optional<std::string>> values;
  std::vector<int64_t> ints;
  std::vector<ColumnType> types;
  for (const auto& arg : stmt.args) {
    std::optional<std::string> text;
    ColumnType type;
    int64_t integer = 0;
    Message error;
    bool abort = false;
    if (!Evaluate(stmt, *arg, std::nullopt, &text, &type, &integer, &error, &abort)) {
      return Failed(sink, stmt, error, kCmdRaiserror, abort);
    }
    values.push_back(text);
    ints.push_back(integer);
    types.push_back(type);
  }
  int64_t severity = values[1] ? ints[1] : 0;
  int64_t state = values[2] ? ints[2] : 1;
  if (severity < 0) severity = 0;
  if (severity > 25) severity = 25;
  if (state < 0) state = 1;
  if (state > 255) state = 255;
  Message m;
  if (sql::IsCharType(types[0].id) || !values[0]) {
    std::vector<std::optional<std::string>> rest(values.begin() + 3, values.end());
    std::vector<int64_t> rest_ints(ints.begin() + 3, ints.end());
    m = MakeMessage(50000, static_cast<int>(state), static_cast<int>(severity),
                    FormatRaiserror(values[0].value_or(""), rest, rest_ints));
  } else if (auto added = sql::FindUserMessage(db_, ints[0]); added && ints[0] > 50000) {
    // A message sp_addmessage added: its text, with the severity and state
    // the raiserror gives.
    std::vector<std::optional<std::string>> rest(values.begin() + 3, values.end());
    std::vector<int64_t> rest_ints(ints.begin() + 3, ints.end());
    m = MakeMessage(static_cast<int>(ints[0]), static_cast<int>(state), static_cast<int>(severity),
                    FormatRaiserror(added->text, rest, rest_ints));
  } else {
    m = MakeMessage(18054, 1, 16,
                    "Error " + std::to_string(ints[0]) + ", severity " + std::to_string(severity) +
                        ", state " + std::to_string(state) +
                        " was raised, but no message with that error number was found in "
                        "sys.messages. If error is larger than 50000, make sure the "
                        "user-defined message is added using sp_addmessage.");
    severity = 16;
  }
  m.line = stmt.line;
  if (severity > 18 && !stmt.on) {
    return Failed(sink, stmt,
                  MakeMessage(2754, 1, 16,
                              "Error severity levels greater than 18 can only be specified by "
                              "members of the sysadmin role, using the WITH LOG option."),
                  kCmdRaiserror, false);
  }
  if (severity <= 10) {
    sink.Send(m);
    return Ok(sink, kCmdRaiserror);
  }
  // Severities 20 and up are fatal in SQL Server: the batch ends here.
  return Failed(sink, stmt, m, kCmdRaiserror, severity >= 20);
}

SessionImpl::Flow SessionImpl::RunUse(const Stmt& stmt, ResultSink& sink) {
  last_rowcount_ = 0;
  if (!EqualsIgnoreCase(stmt.name, state_->config.database_name)) {
    return Failed(sink, stmt,
                  MakeMessage(911, 1, 16,
                              "Database '" + stmt.name +
                                  "' does not exist. Make sure that the name is entered "
                                  "correctly."),
                  kCmdUse, true);
  }
  std::string old = database_;
  database_ = state_->config.database_name;
  sink.DatabaseChanged(old, database_);
  Message m = MakeMessage(5701, 1, 0, "Changed database context to '" + database_ + "'.");
  m.line = stmt.line;
  sink.Send(m);
  return Ok(sink, kCmdUse);
}

}  // namespace tdslite::session_detail
