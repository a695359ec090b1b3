// The syntax tree of a T-SQL batch.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tdslite/common/result_sink.h"
#include "tdslite/common/types.h"

namespace tdslite::sql {

struct Select;
struct WindowSpec;

enum class ExprKind {
  kNull,
  kInteger,  // text: digits
  kDecimal,  // text: digits with a point
  kFloat,    // text: with exponent
  kString,   // text: value
  kNString,
  kBinary,    // text: hex digits
  kMoney,     // text: the amount
  kColumn,    // names: [qualifier..., column]
  kStar,      // names: [] or [qualifier]
  kVariable,  // text: @@name lower-cased
  kUnary,     // text: "-", "+", "~", "not"; args[0]
  kBinaryOp,  // text: operator ("+", "=", "and", ...); args[0], args[1]
  kFunction,  // text: name lower-cased; args; star (count(*)), distinct
  kCast,      // cast_type; args[0] expression, args[1] optional style
  kCase,      // args: [operand?] then when/then pairs then [else]; see case_* fields
  kIn,        // args[0] tested, args[1..] the list, or subquery; negated
  kBetween,   // args[0] between args[1] and args[2]; negated
  kLike,      // args[0] like args[1] [escape args[2]]; negated
  kIsNull,    // args[0]; negated
  kExists,    // subquery; negated
  kSubquery,  // scalar subquery
};

struct Expr {
  Expr() = default;
  Expr(Expr&&) = default;
  Expr& operator=(Expr&&) = default;
  // Frees the operands without recursing: a chain of a hundred thousand
  // operators (a+b+c+...) is as deep as it is long.
  ~Expr();

  ExprKind kind = ExprKind::kNull;
  std::string text;
  std::vector<std::string> names;
  std::vector<std::unique_ptr<Expr>> args;
  std::unique_ptr<Select> subquery;
  ColumnType cast_type;
  bool negated = false;
  bool star = false;
  bool distinct = false;
  bool case_has_operand = false;
  bool case_has_else = false;
  int line = 1;
  std::string raw;  // the source text of a leaf, for messages
  // fn(...) over (...): the window; string_agg(...) within group (order by
  // ...): `within` holds the order only.
  std::unique_ptr<WindowSpec> over;
  std::unique_ptr<WindowSpec> within;
  bool try_conversion = false;  // kCast: try_cast / try_convert
};
using ExprPtr = std::unique_ptr<Expr>;

struct SelectItem {
  ExprPtr expr;
  std::string alias;
  bool has_alias = false;
  // select @v = expr: the variable (lower-cased, with its @), else empty.
  std::string assign;
};

enum class JoinKind { kNone, kInner, kLeft, kRight, kFull, kCross };

struct TableRef {
  // A base table (name) or a derived table (subquery), or a join of two refs.
  std::string name;  // last part of the (possibly qualified) name
  std::string alias;
  std::unique_ptr<Select> subquery;
  JoinKind join = JoinKind::kNone;
  std::unique_ptr<TableRef> left, right;
  ExprPtr on;
  // (select ...) as t (a, b), (values ...) as v (a, b): the column names.
  std::vector<std::string> column_aliases;
  // A table-valued function in FROM (string_split(...)): the call.
  ExprPtr function;
  int line = 1;
};

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct WindowSpec {
  std::vector<ExprPtr> partition;
  std::vector<OrderItem> order;
  std::string frame;  // "ROWS BETWEEN ... AND ...", as SQLite reads it; empty: the default
};

// with name [(columns)] as (select ...)
struct CommonTable {
  std::string name;
  std::vector<std::string> columns;
  std::unique_ptr<Select> select;
  int line = 1;
};

// How a select of a union chain joins the ones before it.
enum class SetOp { kUnion, kExcept, kIntersect };

struct Select {
  bool distinct = false;
  ExprPtr top;
  bool top_percent = false;
  std::vector<SelectItem> items;
  std::vector<std::unique_ptr<TableRef>> from;  // comma-separated refs
  ExprPtr where;
  std::vector<ExprPtr> group_by;
  ExprPtr having;
  // union [all] chain: each following select with its `all` flag.
  std::vector<std::pair<bool, std::unique_ptr<Select>>> unions;
  std::vector<OrderItem> order_by;  // on the whole union
  std::string into;                 // select ... into: the table it creates
  int line = 1;
  SetOp set_op = SetOp::kUnion;   // in a chain: how it joins the selects before it
  bool top_ties = false;          // top n with ties
  ExprPtr offset, fetch;          // order by ... offset n rows [fetch next m rows only]
  std::vector<CommonTable> with;  // the statement's common table expressions
  int64_t maxrecursion = -1;      // option (maxrecursion n); -1: not given
  bool for_xml_path = false;      // for xml path(''): the rows' values as one string
};

struct ColumnDef {
  std::string name;
  ColumnType type;
  bool nullable = true;
  bool null_specified = false;
  bool primary_key = false;
  bool unique = false;
  bool identity = false;
  int64_t identity_seed = 1;
  int64_t identity_increment = 1;
  ExprPtr default_value;
  std::string constraint_name;
  bool output = false;  // a procedure parameter declared OUTPUT
};

// check (expr): on a column (`column`) or on the table.
struct CheckDef {
  std::string name;  // empty: generated
  ExprPtr expr;
  std::string column;
};

// [foreign key] (columns) references table [(columns)] [on delete/update ...]
struct ForeignKeyDef {
  std::string name;  // empty: generated
  std::vector<std::string> columns;
  std::string ref_table;
  std::vector<std::string> ref_columns;  // empty: the referenced table's primary key
  std::string on_delete = "NO ACTION", on_update = "NO ACTION";
};

enum class StmtKind {
  kSelect,
  kInsert,
  kUpdate,
  kDelete,
  kTruncate,
  kCreateTable,
  kDropTable,
  kCreateIndex,
  kBeginTran,
  kCommit,
  kRollback,
  kSaveTran,
  kSet,
  kPrint,
  kRaiserror,
  kUse,
  kExec,
  kIf,           // where: the condition; body: then-statements; else_body
  kBlock,        // BEGIN ... END: body
  kDeclare,      // column_defs: one per variable (name, type, default_value = initial value);
                 // declare @t table (...): table = @t and the create table fields
  kSetVariable,  // name: the variable; args[0]: the value (set @v += x: @v + x)
  kWhile,        // where: the condition; body: the statement run while it holds
  kBreak,
  kContinue,
  kReturn,      // args: the return status (procedures) or value (functions), if given
  kTry,         // body: the try block; else_body: the catch block
  kThrow,       // args: number, message, state; none: rethrow in a catch block
  kCreateView,  // name, columns, select, view_text; if_exists: create or alter
  kAlterView,
  kDropView,    // names, if_exists
  kAlterTable,  // table; name: "add" (column_defs and constraints), "drop column" (names),
                // "alter column" (column_defs[0])
  // create [or alter] procedure / function: name, column_defs (the parameters),
  // body, definition (the batch's text); a function's type in `returns`.
  kCreateModule,
  kDropModule,  // drop procedure/function [if exists] names
  kExecString,  // exec (expr): args[0] the text to run
  kEmpty,
  // args[0]: the time string or variable; on: TIME (a time of day), else DELAY
  kWaitFor,
};

// One column of an OUTPUT clause: inserted.column or deleted.column ("*":
// every column of the table).
struct OutputItem {
  bool deleted = false;
  std::string column;
  std::string alias;
};

struct Stmt {
  StmtKind kind = StmtKind::kEmpty;
  int line = 1;
  std::unique_ptr<Select> select;  // select; insert ... select
  std::string table;               // insert/update/delete/truncate/create/index target
  std::string alias;
  std::vector<std::string> columns;        // insert column list; index columns
  std::vector<std::vector<ExprPtr>> rows;  // insert values
  bool default_values = false;
  std::vector<std::pair<std::string, ExprPtr>> assignments;  // update set
  std::vector<std::unique_ptr<TableRef>> from;               // update/delete ... from
  ExprPtr where;
  ExprPtr top;                     // update/delete top (n)
  std::vector<OutputItem> output;  // insert/update/delete ... output
  std::vector<ColumnDef> column_defs;
  std::vector<std::string> primary_key;  // table-level primary key
  std::string pk_name;
  std::vector<std::vector<std::string>> uniques;
  std::vector<std::string> unique_names;  // per entry of `uniques`: its name, or empty
  std::vector<std::string> names;         // drop table list
  std::string name;                       // index name, set option, use database, proc name
  bool unique = false;
  bool if_exists = false;
  std::vector<ExprPtr> args;  // print (1), raiserror, exec, set value
  // exec: per argument its @name (lower-cased) when passed as @name = value.
  std::vector<std::string> arg_names;
  std::vector<Stmt> body;       // if: the statement(s) run when true; block: its statements
  std::vector<Stmt> else_body;  // if: the statement(s) run otherwise
  bool on = false;              // set option on/off; raiserror WITH LOG
  // with ... insert/update/delete: the common table expressions.
  std::vector<CommonTable> with;
  std::vector<CheckDef> checks;             // create table, alter table add
  std::vector<ForeignKeyDef> foreign_keys;  // create table, alter table add
  std::string view_text;                    // create view: the select's text
  // exec: per argument, passed as OUTPUT; a null args[i] is DEFAULT.
  std::vector<bool> arg_output;
  std::string return_variable;  // exec @rc = procedure
  // create/drop module: 'P' procedure, 'F' scalar function; create: how.
  char module_type = 0;
  enum class CreateMode : uint8_t {
    kCreate,
    kAlter,
    kCreateOrAlter
  } create_mode = CreateMode::kCreate;
  std::string definition;
  ColumnType returns;
  // insert ... exec: the procedure call whose rows are inserted.
  std::unique_ptr<Stmt> exec;
};

}  // namespace tdslite::sql
