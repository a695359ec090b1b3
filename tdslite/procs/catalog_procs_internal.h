// What the catalog procedure files share: the call of a procedure (its
// arguments, its result sets, its messages), the value helpers, and each
// family's procedures, which catalog_procs.cc dispatches to.
//   catalog_procs.cc           the dispatch table, object names
//   catalog_proc_types.cc      how sp_help and sp_columns describe a type
//   catalog_procs_tables.cc    sp_tables, sp_columns, sp_pkeys, sp_helpindex,
//                              sp_stored_procedures
//   catalog_procs_help.cc      sp_help, sp_helptext
//   catalog_procs_server.cc    sp_databases, sp_spaceused, sp_who, sp_server_info
//   catalog_procs_messages.cc  sp_addmessage, sp_dropmessage
#pragma once

#include <sqlite3.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "proc_call.h"
#include "procs.h"
#include "tdslite/common/text.h"
#include "tdslite/sql/catalog.h"
#include "tdslite/sql/catalog_views.h"
#include "tdslite/sql/sqlite_query.h"
#include "tdslite/sql/types.h"
#include "tdslite/sql/values.h"

namespace tdslite::procs::catalog_detail {

inline constexpr uint16_t kCmdSelect = 0xC1;
inline constexpr const char* kCollation = "SQL_Latin1_General_CP1_CI_AS";

inline const ColumnType kSysname = sql::VarCharType(128, true);

inline ColumnType Fixed(TypeId id, int length = 0) {
  ColumnType t = sql::IntType(id);
  t.length = length;
  return t;
}

inline const ColumnType kInt = Fixed(TypeId::kInt);
inline const ColumnType kSmallInt = Fixed(TypeId::kSmallInt);

inline Value Null() {
  return Value{};
}

inline Value Str(std::string s) {
  Value v;
  v.is_null = false;
  v.bytes = std::move(s);
  return v;
}

inline Value OptStr(const std::optional<std::string>& s) {
  return s ? Str(*s) : Null();
}

// char(n): padded with blanks to n characters.
inline Value Padded(std::string s, size_t n) {
  if (s.size() < n) s.append(n - s.size(), ' ');
  return Str(std::move(s));
}

inline Value Num(int64_t i) {
  Value v;
  v.is_null = false;
  v.i = i;
  return v;
}

inline Value OptNum(std::optional<int64_t> i) {
  return i ? Num(*i) : Null();
}

struct Out {
  const char* name;
  ColumnType type;
  bool nullable;
};

using Row = std::vector<Value>;

// A row read from SQLite: each column as text, NULL as nullopt.
using TextRow = std::vector<std::optional<std::string>>;

// One call of a procedure: its arguments by parameter, and what it sends.
class Call : public ProcCall {
 public:
  using ProcCall::ProcCall;

  sqlite3* db() { return host().Database(); }

  // Matches the arguments to the parameters (positional in order, named by
  // name). Answers false after reporting a call that does not fit.
  bool Bind(std::span<const ProcArgument> args, std::initializer_list<const char*> params) {
    params_.assign(params.begin(), params.end());
    values_.assign(params_.size(), std::nullopt);
    size_t position = 0;
    for (const ProcArgument& a : args) {
      size_t index = params_.size();
      if (a.name.empty()) {
        index = position++;
      } else {
        for (size_t i = 0; i < params_.size(); ++i) {
          if (EqualsIgnoreCase(a.name, params_[i])) index = i;
        }
        if (index == params_.size()) {
          Refuse(MakeMessage(8145, 2, 16,
                             a.name + " is not a parameter for procedure " + procedure() + "."));
          return false;
        }
      }
      if (index >= params_.size()) {
        Refuse(MakeMessage(
            8144, 2, 16,
            "Procedure or function " + procedure() + " has too many arguments specified."));
        return false;
      }
      values_[index] = a.value;
    }
    return true;
  }

  const std::optional<std::string>& Arg(size_t i) const { return values_[i]; }

  void Result(const std::vector<Out>& columns, const std::vector<Row>& rows) {
    std::vector<ColumnDesc> descs;
    for (const Out& o : columns) {
      ColumnDesc d;
      d.name = o.name;
      d.type = o.type;
      d.nullable = o.nullable;
      descs.push_back(std::move(d));
    }
    sink().Columns(descs);
    uint64_t sent = 0;
    for (const Row& r : rows) {
      if (!sink().Row(r)) break;
      ++sent;
    }
    Done d;
    d.kind = DoneKind::kDoneInProc;
    d.status = kDoneCount;
    d.current_command = kCmdSelect;
    d.row_count = sent;
    sink().Finish(d);
  }

  void Info(int number, std::string text) { Send(MakeMessage(number, 1, 10, std::move(text)), 1); }

  // An error raised inside the procedure, which then returns `status`.
  int Fail(Message m, int status) {
    Send(std::move(m), 1);
    return FailWithSent(status);
  }

  // Rows of a SQLite query over the catalog, with text parameters.
  std::vector<TextRow> Query(const std::string& sql, std::initializer_list<std::string> params) {
    std::vector<TextRow> rows;
    sql::SqliteQuery q(db(), sql);
    if (!q.prepared()) return rows;
    int i = 1;
    for (const std::string& p : params) q.Bind(i++, p);
    while (q.Step()) {
      TextRow r;
      for (int c = 0; c < q.ColumnCount(); ++c) r.push_back(q.OptionalText(c));
      rows.push_back(std::move(r));
    }
    return rows;
  }

  // The SQLite query of a catalog view of the connection's database.
  std::string View(const char* name) {
    auto v = sql::FindCatalogView(name, host().DatabaseName());
    return v ? "(" + v->sql + ")" : "(SELECT NULL WHERE 0)";
  }

 private:
  std::vector<std::string> params_;
  std::vector<std::optional<std::string>> values_;
};

int64_t ToInt(const std::optional<std::string>& s, int64_t fallback = 0);
// The object part of a name given to a procedure ("dbo.emp", "[emp]"), or
// nullopt when it names another schema or database.
std::optional<std::string> LocalName(const std::string& text, const std::string& database);
Message NoSuchObject(const std::string& name, const std::string& database);

// ---- type descriptions (catalog_proc_types.cc) ----------------------------------

bool IsNamed(const ColumnType& t, const char* name);
// The size in bytes sp_help and col_length report.
int64_t StorageLength(const ColumnType& t);
// How the ODBC catalog procedures describe a type.
struct OdbcType {
  int data_type = 0;
  std::optional<int64_t> precision;
  std::optional<int64_t> length;
  std::optional<int64_t> scale;
  std::optional<int64_t> radix;
  int sql_data_type = 0;
  std::optional<int64_t> datetime_sub;
  std::optional<int64_t> octets;
  int ss_data_type = 0;
};
OdbcType Odbc(const ColumnType& t, bool nullable);

// ---- the procedures, by family ----------------------------------------------------

// catalog_procs_tables.cc
int SpTables(std::span<const ProcArgument> args, Call& call);
int SpColumns(std::span<const ProcArgument> args, Call& call);
int SpHelpIndex(std::span<const ProcArgument> args, Call& call);
int SpPkeys(std::span<const ProcArgument> args, Call& call);
int SpStoredProcedures(std::span<const ProcArgument> args, Call& call);
std::string KeyList(const std::vector<std::string>& columns);
// The index_name/index_description/index_keys result set of a table.
void IndexResult(const sql::CatalogTable& table, Call& call);
// catalog_procs_help.cc
int SpHelp(std::span<const ProcArgument> args, Call& call);
int SpHelpText(std::span<const ProcArgument> args, Call& call);
// catalog_procs_server.cc
int SpDatabases(std::span<const ProcArgument> args, Call& call);
int SpSpaceUsed(std::span<const ProcArgument> args, Call& call);
int SpWho(std::span<const ProcArgument> args, Call& call);
int SpServerInfo(std::span<const ProcArgument> args, Call& call);
// catalog_procs_messages.cc
int SpAddMessage(std::span<const ProcArgument> args, Call& call);
int SpDropMessage(std::span<const ProcArgument> args, Call& call);

}  // namespace tdslite::procs::catalog_detail
