// The compiler's inside, shared by the compile_*.cc files and nothing else:
// typed SQLite expressions, name scopes and ExprCompiler, which turns the
// syntax tree into SQLite SQL while it infers SQL Server's types. Its
// methods live by concern:
//   compile_conversion.cc   conversion rules between types
//   compile_expressions.cc  literals, columns, variables, CASE, IN
//   compile_operators.cc    unary, comparison, AND/OR, arithmetic (chains flat)
//   compile_functions.cc    built-in and aggregate functions
//   compile_select.cc       select, from, group by, order by, union
// and the statements in compile_insert.cc, compile_update_delete.cc and
// compile_create_table.cc.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "builtins.h"
#include "catalog_views.h"
#include "compile.h"
#include "lexer.h"
#include "parser.h"
#include "tdslite/common/text.h"
#include "values.h"

namespace tdslite::sql::compiler_detail {

struct Failure {
  CompileError error;
};

[[noreturn]] inline void Throw(int number, int state, int severity, std::string text,
                               bool abort_batch = true) {
  throw Failure{CompileError{MakeMessage(number, state, severity, std::move(text)), abort_batch}};
}

[[noreturn]] inline void NotSupported(const std::string& what) {
  Throw(kNotSupportedNumber, 1, 16, what + " is not supported by tdslite.");
}

// A typed SQLite expression.
struct Typed {
  std::string sql;
  ExprType t;
  bool predicate = false;
  bool aggregate = false;  // contains an aggregate function
  // Columns referenced outside aggregates: (sql, display name).
  std::vector<std::pair<std::string, std::string>> bare;
  // Set for a plain column reference.
  std::string column_name;
  std::string table;
  bool identity = false;
  // An integer literal: SQL Server types it as decimal(digits, 0), not as
  // int's decimal(10, 0), when it meets a decimal in arithmetic.
  int literal_digits = 0;
  // A text/ntext/image column of a base table: the row's rowid, for the
  // value's text pointer.
  std::string rowid_sql;
  // An operator chain ("and", "or", or "ops" for arithmetic) compiled to one
  // flat parenthesis or call; the next operator of the chain extends it
  // while `sql` still equals `chain_sql` (nothing has wrapped it since).
  std::string chain_kind;
  std::string chain_sql;
  // "concat": the chain cut to 8,000 bytes; the chain extends from it too,
  // since cutting each step's prefix is cutting the whole once.
  std::string chain_cut_sql;
  int chain_steps = 0;
  ColumnType chain_type;  // "ops": the last step's result type
};

struct SourceColumn {
  std::string name;
  ExprType type;
  std::string sql;
  bool identity = false;
  std::string table;      // base table name, for text pointers
  std::string rowid_sql;  // base tables only
};

struct Source {
  std::string exposed;  // alias, or the table name
  std::string table;    // base table name; empty for derived tables
  std::string sql_alias;
  std::vector<SourceColumn> columns;
};

struct Scope {
  std::vector<Source> sources;
  const Scope* parent = nullptr;
};

struct CoreResult {
  std::vector<Typed> items;
  std::vector<std::string> names;
  std::vector<bool> named;
  std::string from_and_rest;  // " FROM ... WHERE ... GROUP BY ... HAVING ..."
  bool distinct = false;
  Scope scope;
  bool grouped = false;
  std::vector<std::string> group_sqls;
};

inline ExprType Make(ColumnType type, bool nullable) {
  ExprType t;
  t.type = type;
  t.nullable = nullable;
  return t;
}

class ExprCompiler {
 public:
  ExprCompiler(sqlite3* db, const SessionVars& vars, int* alias_counter)
      : db_(db), vars_(vars), alias_counter_(alias_counter) {}

  // ---- conversion ----------------------------------------------------------

  // Converts `e` to `to`. `assign`: the value goes into a column.
  Typed Convert(const Typed& e, const ColumnType& to, bool assign = false, int style = -1);

  static bool NeedsConversion(const ColumnType& from, const ColumnType& to, bool assign);

  static void CheckConvertible(const ColumnType& from, const ColumnType& to);

  // Adds the collation a comparison of this type needs.
  static std::string Collated(const std::string& sql, const ColumnType& t);

  // ---- expressions -----------------------------------------------------------

  // Expression trees deeper than this, or whose compilation would use more
  // stack than this, are refused as SQL Server refuses them: the recursion
  // below must stay within the connection thread's stack (whose frames are
  // far larger in a sanitizer build). A chain of binary operators is parsed
  // without recursion but compiled with it, so its length counts here.
  static constexpr int kMaxExpressionDepth = 1000;
  static constexpr uintptr_t kMaxStackBytes = 3u << 20;
  int depth_ = 0;
  uintptr_t stack_start_ = 0;

  struct DepthGuard {
    ExprCompiler* c;
    explicit DepthGuard(ExprCompiler* compiler) : c(compiler) {
      char marker = 0;
      const auto here = reinterpret_cast<uintptr_t>(&marker);
      if (c->depth_++ == 0) c->stack_start_ = here;
      const uintptr_t used = c->stack_start_ > here ? c->stack_start_ - here : 0;
      if (c->depth_ > kMaxExpressionDepth || used > kMaxStackBytes) {
        --c->depth_;
        Throw(191, 1, 15,
              "Some part of your SQL statement is nested too deeply. Rewrite the query or "
              "break it up into smaller queries.");
      }
    }
    ~DepthGuard() { --c->depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
  };

  Typed Compile(const Expr& e, const Scope* scope, bool allow_aggregate);

  // A value (not a predicate).
  Typed Value(const Expr& e, const Scope* scope, bool allow_aggregate);

  // A condition (where, having, on, when).
  Typed Condition(const Expr& e, const Scope* scope, bool allow_aggregate);

  std::optional<int64_t> ConstantInteger(const Expr& e);

  struct CoreSelectSql {
    std::string sql;
    std::vector<ExprType> columns;
    std::vector<ColumnDesc> descs;
    std::vector<int> rowid_columns;  // per column: hidden rowid column, or -1
    std::vector<std::string> source_columns;
    std::vector<bool> streamed;
  };

  // Compiles a full select (with unions and order by); `parent` gives
  // correlated subqueries their outer columns.
  CoreSelectSql Subquery(const Select& s, const Scope* parent);
  static bool AtMostOneRow(const Select& s);
  // A subquery that must give one column: a scalar subquery, IN (subquery).
  CoreSelectSql OneColumnSubquery(const Select& s, const Scope* parent);

  static void NoOrderBy(const Select& s);

  // Set for the outermost select of a query whose rows go to a client: only
  // there may image values be left in their rows to be read in pieces.
  bool stream_images_ = false;

  CoreSelectSql SelectSql(const Select& s, const Scope* parent, int64_t extra_limit);

  std::string OrderTerm(const OrderItem& item, const CoreResult& core,
                        const std::vector<ExprType>& types, bool is_union);

  std::string OrderTermSql(const OrderItem& item, const CoreResult& core,
                           const std::vector<ExprType>& types, bool is_union);

  void CheckGrouped(const Typed& t, const std::vector<std::string>& groups, int number,
                    const char* where);

  // One select without union/order by.
  CoreResult Core(const Select& s, const Scope* parent);

  void ExpandStar(const Expr& star, CoreResult& r);

  std::string NextAlias() { return "t" + std::to_string((*alias_counter_)++); }

  void AddSource(Scope* scope, Source src);

  // Emits a FROM item and adds its sources to the scope.
  std::string TableRefSql(const TableRef& ref, Scope* scope);

  std::string CatalogViewSql(const TableRef& ref, const CatalogView& view, Scope* scope);

  // object_id(), type_name() and the other functions that read the catalog.
  Typed CatalogFunction(const Expr& e, const Builtin& b, const Scope* scope, bool allow_aggregate);

  Typed ResolveColumn(const Expr& e, const Scope* scope);

  Typed IntegerLiteral(const std::string& digits);

  Typed DecimalLiteral(const std::string& text);

  static Typed Constant(std::string sql, ColumnType type, bool nullable);

  Typed Variable(const Expr& e);

  // dbo.name(args): a scalar function of the database (compile_user_functions.cc).
  Typed UserFunction(const Expr& e, const Scope* scope, bool allow_aggregate);

  Typed Identity();

  // The union of several typed values' flags.
  static Typed Combine(std::initializer_list<const Typed*> parts);
  // `out` takes on the aggregates and bare columns of `part`.
  static void TakeFlags(Typed* out, const Typed& part);
  // The call's arguments compiled in order; `out` takes on their flags
  // (TakeFlags), its type is left alone.
  std::vector<Typed> Arguments(const Expr& e, const Scope* scope, bool allow_aggregate, Typed* out);

  static ColumnType Unify(const Typed& a, const Typed& b);

  // Converts a non-string value to varchar for string functions.
  Typed AsString(const Typed& a);

  Typed Unary(const Expr& e, const Scope* scope, bool allow_aggregate);

  Typed Comparison(const std::string& op, const Typed& a, const Typed& b);

  static std::string OperatorName(const std::string& op);

  Typed BinaryOp(const Expr& e, const Scope* scope, bool allow_aggregate);

  Typed Arithmetic(const std::string& op, Typed a, Typed b);
  // left op right in type t, as a step of a tds_ops chain; sets out's sql.
  static void ArithmeticStep(const Typed& left, const std::string& op, const std::string& right_sql,
                             const ColumnType& t, Typed* out);

  Typed Case(const Expr& e, const Scope* scope, bool allow_aggregate);

  Typed In(const Expr& e, const Scope* scope, bool allow_aggregate);

  // Refuses a call whose argument count is outside the function's range.
  void ArgCount(const Expr& e, const Builtin& b);

  Typed Function(const Expr& e, const Scope* scope, bool allow_aggregate);

  Typed Aggregate(const Expr& e, const Scope* scope, bool allow_aggregate);

  // ---- windows, paging, FOR XML (compile_window.cc) -------------------------

  Typed Window(const Expr& e, const Scope* scope, bool allow_aggregate);

  // " OVER (PARTITION BY ... ORDER BY ... frame)"; the flags of its
  // expressions go to *acc.
  std::string OverSql(const WindowSpec& w, const Scope* scope, bool allow_aggregate, Typed* acc);

  int64_t EvaluateInteger(const Expr& e);
  double EvaluateNumber(const Expr& e);

  // FOR XML PATH('') answers in an nvarchar column of this length.
  static constexpr int kXmlPathLength = 4000;
  std::string ForXmlPath(const std::string& sql, const CoreResult& first,
                         const std::vector<ExprType>& types);

  bool windows_allowed_ = false;  // compiling a select list or its ORDER BY
  bool in_window_ = false;        // compiling a window function's arguments
  std::string over_sql_;          // the window of the aggregate being compiled

  // ---- functions of compile_misc.cc -----------------------------------------

  // try_cast / try_convert: the conversion, NULL where it fails.
  Typed TryConversion(const Expr& e, const Scope* scope, bool allow_aggregate);
  bool trying_ = false;

  // isnumeric, patindex, soundex, translate, checksum, ident_current, string_agg
  Typed Misc(const Expr& e, const Scope* scope, bool allow_aggregate);
  Typed IdentCurrent(const Expr& e);
  Typed Format(const Expr& e, const std::vector<Typed>& args);
  Typed StringAgg(const Expr& e, const Scope* scope, bool allow_aggregate);

  // ---- common table expressions, derived tables (compile_cte.cc) -------------

  // A derived table's source, its columns named by `aliases` when given.
  std::string DerivedTable(const CoreSelectSql& sub, const std::string& exposed,
                           const std::vector<std::string>& aliases, Scope* scope);

  // A FROM name that is a common table expression: its SQL in *sql, true.
  bool CommonTableRef(const TableRef& ref, Scope* scope, std::string* sql);

  std::string RecursiveTable(const CommonTable& cte, const std::string& exposed, Scope* scope);

  std::string SplitTable(const TableRef& ref, Scope* scope);

  // A FROM name that is a view: its SQL in *sql, true.
  bool ViewRef(const TableRef& ref, Scope* scope, std::string* sql);
  // Refuses a change through a view (an unknown table otherwise).
  void NoViewTarget(const std::string& name);
  static constexpr int kMaxViewDepth = 32;
  int view_depth_ = 0;

  // MAXRECURSION 0 still stops here: every loop has a bound.
  static constexpr int64_t kMaxRecursionLevels = 32767;

  // The recursive member being compiled reads the rows made so far.
  struct RecursiveRef {
    std::string name;
    std::string sql_name;
    std::vector<std::string> names;
    std::vector<ExprType> types;
    bool used = false;
    std::string level_sql;
  };
  std::vector<const CommonTable*> ctes_;  // in scope, innermost last
  std::vector<RecursiveRef> recursive_;
  int64_t maxrecursion_ = 100;

  // The date functions, newid() and the clocks (compile_dates.cc).
  static bool IsDateRule(BuiltinRule rule);
  Typed DateFunction(const Expr& e, const Builtin& b, const Scope* scope, bool allow_aggregate);
  // A date or time argument: strings and numbers converted to `as`.
  Typed DateArgument(const Typed& a, const ColumnType& as, const std::string& function,
                     int position);

  sqlite3* db_;
  const SessionVars& vars_;
  int* alias_counter_;
  bool order_type_is_lob_ = false;  // set by OrderTermSql for the term it made
};

// What every Compiler::Compile* does: runs body(c) with a fresh expression
// compiler; a Failure thrown on the way becomes *error and false.
template <class Body>
bool CompileWith(sqlite3* db, const SessionVars& vars, CompileError* error, Body&& body) {
  int counter = 0;
  ExprCompiler c(db, vars, &counter);
  try {
    return body(c);
  } catch (const Failure& f) {
    *error = f.error;
    return false;
  }
}

// What create table declares a column as in SQLite, and the name it gives
// an unnamed constraint (compile_create_table.cc).
std::string ColumnDeclaration(const ColumnType& t);
std::string ConstraintName(const char* prefix, std::string_view table,
                           const std::vector<std::string>& columns);

// Names an unnamed constraint: CK or FK, and its columns.
using ConstraintNamer =
    std::function<std::string(const char* prefix, const std::vector<std::string>& columns)>;

// The check and foreign key constraints of `stmt` as SQLite table
// constraints (", CONSTRAINT ..."), recorded in table->constraints.
std::string ConstraintsSql(ExprCompiler& c, sqlite3* db, const Stmt& stmt, CatalogTable* table,
                           const ConstraintNamer& namer);

}  // namespace tdslite::sql::compiler_detail
