// update and delete, with or without a FROM list.
#include "compile_internal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

namespace tdslite::sql {

using namespace compiler_detail;

namespace {

// The part update and delete share: the target table as a scope source and
// the FROM list, with the row filter.
struct TargetPlan {
  CatalogTable table;
  Scope scope;
  std::string target_alias;  // SQL alias the target's columns are written with
  std::string from_sql;      // the FROM list when given
  bool target_in_from = false;
  std::string where_sql;
  int64_t limit = -1;  // the rows TOP or SET ROWCOUNT allow; -1: all
};

int64_t TopLimit(ExprCompiler& c, const Stmt& stmt, int64_t rowcount_limit) {
  int64_t limit = rowcount_limit > 0 ? rowcount_limit : -1;
  if (stmt.top) {
    auto v = c.ConstantInteger(*stmt.top);
    if (!v) NotSupported("TOP with an expression");
    if (limit < 0 || *v < limit) limit = *v;
  }
  return limit;
}

TargetPlan PlanTarget(ExprCompiler& c, sqlite3* db, const Stmt& stmt, int64_t rowcount_limit) {
  TargetPlan p;
  // with ... update/delete: the common table expressions serve the FROM
  // list and the subqueries; changing rows through one is not built.
  for (const CommonTable& cte : stmt.with) {
    if (EqualsIgnoreCase(cte.name, stmt.table)) {
      NotSupported("UPDATE or DELETE through a common table expression");
    }
    c.ctes_.push_back(&cte);
  }
  std::string target = stmt.table;
  if (!stmt.from.empty()) {
    for (size_t i = 0; i < stmt.from.size(); ++i) {
      if (i > 0) p.from_sql += ", ";
      p.from_sql += c.TableRefSql(*stmt.from[i], &p.scope);
    }
    // `update t set ... from t join u` names the target inside the FROM
    // list, by its name or by its alias (`update e ... from emp e`).
    for (const Source& s : p.scope.sources) {
      if (EqualsIgnoreCase(s.exposed, stmt.table) && !s.table.empty()) {
        p.target_in_from = true;
        p.target_alias = s.sql_alias;
        target = s.table;
      }
    }
  }
  auto table = LookupTable(db, target);
  if (!table) c.NoViewTarget(target);
  if (!table) Throw(208, 1, 16, "Invalid object name '" + stmt.table + "'.");
  p.table = *table;
  if (!p.target_in_from) {
    Source src;
    src.sql_alias = c.NextAlias();
    src.exposed = stmt.table;
    src.table = table->name;
    for (const CatalogColumn& col : table->columns) {
      SourceColumn sc;
      sc.name = col.name;
      sc.type.type = col.type;
      sc.type.nullable = col.nullable;
      sc.sql = src.sql_alias + "." + QuoteIdent(col.name);
      sc.identity = col.identity;
      sc.table = table->name;
      // textptr(col) in the condition names the row by its rowid.
      sc.rowid_sql = src.sql_alias + ".rowid";
      src.columns.push_back(sc);
    }
    p.target_alias = src.sql_alias;
    c.AddSource(&p.scope, std::move(src));
  }
  if (stmt.where) p.where_sql = c.Condition(*stmt.where, &p.scope, false).sql;
  p.limit = TopLimit(c, stmt, rowcount_limit);
  return p;
}

// "rowid IN (SELECT ...)": the rows of the target the statement touches.
std::string RowFilter(const TargetPlan& p) {
  std::string sel = "SELECT " + p.target_alias + ".rowid FROM ";
  if (p.target_in_from) {
    sel += p.from_sql;
  } else {
    sel += QuoteIdent(p.table.name) + " AS " + p.target_alias;
    if (!p.from_sql.empty()) sel += ", " + p.from_sql;
  }
  if (!p.where_sql.empty()) sel += " WHERE " + p.where_sql;
  if (p.limit >= 0) sel += " LIMIT " + std::to_string(p.limit);
  return "rowid IN (" + sel + ")";
}

}  // namespace

bool Compiler::CompileUpdate(const Stmt& stmt, int64_t rowcount_limit, CompiledDml* out,
                             CompileError* error) {
  return CompileWith(db_, vars_, error, [&](ExprCompiler& c) {
    TargetPlan p = PlanTarget(c, db_, stmt, rowcount_limit);
    out->table = p.table;
    std::string sets, columns, values;
    std::vector<int> seen;
    std::vector<std::string> new_values(p.table.columns.size());
    for (const auto& [name, expr] : stmt.assignments) {
      int idx = p.table.FindColumn(name);
      if (idx < 0) Throw(207, 1, 16, "Invalid column name '" + name + "'.");
      const CatalogColumn& col = p.table.columns[static_cast<size_t>(idx)];
      if (col.identity)
        Throw(8102, 1, 16, "Cannot update identity column '" + col.name + "'.", false);
      if (std::find(seen.begin(), seen.end(), idx) != seen.end()) {
        Throw(264, 1, 16,
              "The column name '" + col.name +
                  "' is specified more than once in the SET clause or column list of an UPDATE. "
                  "A column cannot be assigned more than one value in the same clause.");
      }
      seen.push_back(idx);
      Typed v = c.Value(*expr, &p.scope, false);
      std::string value = c.Convert(v, col.type, true).sql;
      new_values[static_cast<size_t>(idx)] = value;
      if (!sets.empty()) {
        sets += ", ";
        columns += ", ";
        values += ", ";
      }
      sets += QuoteIdent(col.name) + " = " + value;
      columns += QuoteIdent(col.name);
      values += value;
    }
    std::string sql;
    if (p.from_sql.empty() && p.limit < 0) {
      sql = "UPDATE " + QuoteIdent(p.table.name) + " AS " + p.target_alias + " SET " + sets;
      if (!p.where_sql.empty()) sql += " WHERE " + p.where_sql;
      // The rows as the update would leave them, to find a duplicate key.
      std::string source = "SELECT " + p.target_alias + ".rowid AS \"_rowid\"";
      for (size_t i = 0; i < p.table.columns.size(); ++i) {
        std::string v = new_values[i].empty()
                            ? p.target_alias + "." + QuoteIdent(p.table.columns[i].name)
                            : new_values[i];
        source += ", " + v + " AS \"_v" + std::to_string(i) + "\"";
      }
      source += " FROM " + QuoteIdent(p.table.name) + " AS " + p.target_alias;
      if (!p.where_sql.empty()) source += " WHERE " + p.where_sql;
      out->insert_source = source;
      out->updated_rows = true;
    } else if (p.from_sql.empty()) {
      sql = "UPDATE " + QuoteIdent(p.table.name) + " AS " + p.target_alias + " SET " + sets +
            " WHERE " + RowFilter(p);
    } else {
      // UPDATE ... FROM: each target row takes its new values from its first
      // matching row of the FROM list (SQL Server leaves the choice open too).
      const std::string target = "__tdslite_target";
      std::string from =
          p.target_in_from ? p.from_sql
                           : QuoteIdent(p.table.name) + " AS " + p.target_alias + ", " + p.from_sql;
      std::string match = p.target_alias + ".rowid = " + target + ".rowid";
      if (!p.where_sql.empty()) match += " AND " + p.where_sql;
      sql = "UPDATE " + QuoteIdent(p.table.name) + " AS " + target + " SET (" + columns +
            ") = (SELECT " + values + " FROM " + from + " WHERE " + match + " LIMIT 1) WHERE " +
            target + "." + RowFilter(p);
    }
    out->statements.push_back(sql);
    out->key_probes.emplace_back();
    return true;
  });
}

bool Compiler::CompileDelete(const Stmt& stmt, int64_t rowcount_limit, CompiledDml* out,
                             CompileError* error) {
  return CompileWith(db_, vars_, error, [&](ExprCompiler& c) {
    TargetPlan p = PlanTarget(c, db_, stmt, rowcount_limit);
    out->table = p.table;
    std::string sql;
    if (p.from_sql.empty() && p.limit < 0) {
      sql = "DELETE FROM " + QuoteIdent(p.table.name) + " AS " + p.target_alias;
      if (!p.where_sql.empty()) sql += " WHERE " + p.where_sql;
    } else {
      sql = "DELETE FROM " + QuoteIdent(p.table.name) + " WHERE " + RowFilter(p);
    }
    out->statements.push_back(sql);
    out->key_probes.emplace_back();
    return true;
  });
}

}  // namespace tdslite::sql
