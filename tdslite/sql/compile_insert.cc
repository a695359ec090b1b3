// insert ... values and insert ... select.
#include "compile_internal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

namespace tdslite::sql {

using namespace compiler_detail;

bool Compiler::CompileInsert(const Stmt& stmt, CompiledDml* out, CompileError* error) {
  return CompileWith(db_, vars_, error, [&](ExprCompiler& c) {
    auto table = LookupTable(db_, stmt.table);
    if (!table) c.NoViewTarget(stmt.table);
    if (!table) Throw(208, 1, 16, "Invalid object name '" + stmt.table + "'.");
    out->table = *table;
    out->has_identity = table->identity_column >= 0;
    std::vector<int> targets;
    if (!stmt.columns.empty()) {
      for (const std::string& name : stmt.columns) {
        int idx = table->FindColumn(name);
        if (idx < 0) Throw(207, 1, 16, "Invalid column name '" + name + "'.");
        if (std::find(targets.begin(), targets.end(), idx) != targets.end()) {
          Throw(264, 1, 16,
                "The column name '" + table->columns[static_cast<size_t>(idx)].name +
                    "' is specified more than once in the SET clause or column list of an "
                    "INSERT. A column cannot be assigned more than one value in the same clause.");
        }
        targets.push_back(idx);
      }
      const bool explicit_identity = EqualsIgnoreCase(vars_.identity_insert, table->name);
      bool identity_given = false;
      for (int idx : targets) {
        identity_given = identity_given || table->columns[static_cast<size_t>(idx)].identity;
      }
      if (explicit_identity && !identity_given) {
        Throw(545, 1, 16,
              "Explicit value must be specified for identity column in table '" + table->name +
                  "' either when IDENTITY_INSERT is set to ON or when a replication user is "
                  "inserting into a NOT FOR REPLICATION identity column.",
              false);
      }
      for (int idx : targets) {
        if (table->columns[static_cast<size_t>(idx)].identity && !explicit_identity) {
          Throw(544, 1, 16,
                "Cannot insert explicit value for identity column in table '" + table->name +
                    "' when IDENTITY_INSERT is set to OFF.",
                false);
        }
      }
    } else if (!stmt.default_values) {
      if (table->identity_column >= 0 && EqualsIgnoreCase(vars_.identity_insert, table->name)) {
        Throw(8101, 1, 16,
              "An explicit value for the identity column in table '" + table->name +
                  "' can only be specified when a column list is used and IDENTITY_INSERT is ON.",
              false);
      }
      for (size_t i = 0; i < table->columns.size(); ++i) {
        if (!table->columns[i].identity) targets.push_back(static_cast<int>(i));
      }
    }
    // Columns not given take their default (or NULL); identity is assigned by SQLite.
    std::vector<int> defaulted;
    for (size_t i = 0; i < table->columns.size(); ++i) {
      if (table->columns[i].identity) continue;
      if (std::find(targets.begin(), targets.end(), static_cast<int>(i)) == targets.end()) {
        defaulted.push_back(static_cast<int>(i));
      }
    }
    std::string head = "INSERT INTO " + QuoteIdent(table->name) + "(";
    bool first = true;
    for (int idx : targets) {
      head += (first ? "" : ",") + QuoteIdent(table->columns[static_cast<size_t>(idx)].name);
      first = false;
    }
    for (int idx : defaulted) {
      head += (first ? "" : ",") + QuoteIdent(table->columns[static_cast<size_t>(idx)].name);
      first = false;
    }
    head += ")";
    auto default_sql = [&](int idx) {
      const CatalogColumn& col = table->columns[static_cast<size_t>(idx)];
      return col.default_sql.empty() ? std::string("NULL") : col.default_sql;
    };
    // The key columns of the primary key, for the duplicate-key message.
    std::vector<int> key_columns;
    for (const CatalogKey& k : table->keys) {
      if (k.kind != 'P') continue;
      for (const std::string& n : k.columns) key_columns.push_back(table->FindColumn(n));
    }
    if (first && table->identity_column >= 0 && targets.empty() && defaulted.empty()) {
      // Only an identity column: DEFAULT VALUES.
      out->statements.push_back("INSERT INTO " + QuoteIdent(table->name) + " DEFAULT VALUES");
      out->key_probes.emplace_back();
      return true;
    }
    if (stmt.default_values) {
      std::string sql = head + " VALUES (";
      for (size_t i = 0; i < defaulted.size(); ++i)
        sql += (i ? "," : "") + default_sql(defaulted[i]);
      out->statements.push_back(sql + ")");
      out->key_probes.emplace_back();
      return true;
    }
    if (stmt.select) {
      auto sub = c.SelectSql(*stmt.select, nullptr, -1);
      if (sub.columns.size() != targets.size()) {
        if (stmt.columns.empty()) {
          Throw(213, 1, 16,
                "Column name or number of supplied values does not match table definition.");
        }
        if (sub.columns.size() < targets.size()) {
          Throw(120, 1, 15,
                "The select list for the INSERT statement contains fewer items than the insert "
                "list. The number of SELECT values must match the number of INSERT columns.");
        }
        Throw(121, 1, 15,
              "The select list for the INSERT statement contains more items than the insert "
              "list. The number of SELECT values must match the number of INSERT columns.");
      }
      std::string sql = head + " SELECT ";
      // The same rows with each value named after its column's position, so
      // that a duplicate key can be found and shown.
      std::string source = "SELECT ";
      for (size_t i = 0; i < targets.size(); ++i) {
        Typed v;
        v.sql = "s.\"_c" + std::to_string(i + 1) + "\"";
        v.t = sub.columns[i];
        std::string value =
            c.Convert(v, table->columns[static_cast<size_t>(targets[i])].type, true).sql;
        sql += (i ? "," : "") + value;
        source += (i ? "," : "") + value + " AS \"_v" + std::to_string(targets[i]) + "\"";
      }
      for (size_t i = 0; i < defaulted.size(); ++i) {
        const bool first_value = targets.empty() && i == 0;
        sql += (first_value ? "" : ",") + default_sql(defaulted[i]);
        source += (first_value ? "" : ",") + default_sql(defaulted[i]) + " AS \"_v" +
                  std::to_string(defaulted[i]) + "\"";
      }
      sql += " FROM (" + sub.sql + ") AS s WHERE 1";  // WHERE keeps SQLite's upsert parse away
      out->insert_source = source + " FROM (" + sub.sql + ") AS s";
      out->statements.push_back(sql);
      out->key_probes.emplace_back();
      return true;
    }
    Scope empty;
    for (const auto& row : stmt.rows) {
      if (row.size() != targets.size()) {
        if (stmt.columns.empty()) {
          Throw(213, 1, 16,
                "Column name or number of supplied values does not match table definition.");
        }
        if (row.size() < targets.size()) {
          Throw(109, 1, 15,
                "There are more columns in the INSERT statement than values specified in the "
                "VALUES clause. The number of values in the VALUES clause must match the number "
                "of columns specified in the INSERT statement.");
        }
        Throw(110, 1, 15,
              "There are fewer columns in the INSERT statement than values specified in the "
              "VALUES clause. The number of values in the VALUES clause must match the number "
              "of columns specified in the INSERT statement.");
      }
      std::vector<std::string> values(table->columns.size(), "NULL");
      std::string sql = head + " VALUES (";
      for (size_t i = 0; i < row.size(); ++i) {
        Typed v = c.Value(*row[i], &empty, false);
        if (v.aggregate) {
          Throw(147, 1, 15, "An aggregate may not appear in the VALUES list.");
        }
        std::string conv =
            c.Convert(v, table->columns[static_cast<size_t>(targets[i])].type, true).sql;
        values[static_cast<size_t>(targets[i])] = conv;
        sql += (i ? "," : "") + conv;
      }
      for (size_t i = 0; i < defaulted.size(); ++i) {
        std::string d = default_sql(defaulted[i]);
        values[static_cast<size_t>(defaulted[i])] = d;
        sql += (row.empty() && i == 0 ? "" : ",") + d;
      }
      out->statements.push_back(sql + ")");
      std::string probe;
      if (!key_columns.empty()) {
        probe = "SELECT ";
        for (size_t k = 0; k < key_columns.size(); ++k) {
          probe +=
              (k ? "," : "") + (key_columns[k] >= 0 ? values[static_cast<size_t>(key_columns[k])]
                                                    : std::string("NULL"));
        }
      }
      out->key_probes.push_back(probe);
      out->row_values.push_back(values);
    }
    return true;
  });
}

}  // namespace tdslite::sql
