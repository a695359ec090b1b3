// alter table: add columns and keys, drop columns, change a column's type.
#include "compile_internal.h"

namespace tdslite::sql {

using namespace compiler_detail;

namespace {

bool HasRows(sqlite3* db, const std::string& table) {
  sqlite3_stmt* st = nullptr;
  const std::string sql =
      "SELECT 1 FROM " + std::string(SchemaOf(table)) + "." + QuoteIdent(table) + " LIMIT 1";
  bool rows = false;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    rows = sqlite3_step(st) == SQLITE_ROW;
  }
  sqlite3_finalize(st);
  return rows;
}

bool InKey(const CatalogTable& t, const std::vector<CatalogConstraint>& constraints,
           const std::string& column, std::string* by) {
  for (const CatalogKey& k : t.keys) {
    for (const std::string& c : k.columns) {
      if (EqualsIgnoreCase(c, column)) {
        *by = k.name;
        return true;
      }
    }
  }
  for (const CatalogConstraint& k : constraints) {
    for (const std::string& c : k.columns) {
      if (EqualsIgnoreCase(c, column)) {
        *by = k.name;
        return true;
      }
    }
  }
  return false;
}

}  // namespace

bool Compiler::CompileAlterTable(const Stmt& stmt, AlterPlan* plan, CompileError* error) {
  return CompileWith(db_, vars_, error, [&](ExprCompiler& c) {
    auto found = LookupTable(db_, stmt.table);
    if (!found) {
      c.NoViewTarget(stmt.table);
      Throw(4902, 1, 16,
            "Cannot find the object \"" + stmt.table +
                "\" because it does not exist or you do not have permissions.");
    }
    CatalogTable& t = plan->table;
    t = *found;
    const std::string target = std::string(SchemaOf(t.name)) + "." + QuoteIdent(t.name);
    const std::string plain = QuoteIdent(t.name);
    if (stmt.name == "add") {
      if (!stmt.checks.empty() || !stmt.foreign_keys.empty()) {
        NotSupported("ALTER TABLE ... ADD of a CHECK or FOREIGN KEY constraint");
      }
      const bool rows = HasRows(db_, t.name);
      for (const ColumnDef& def : stmt.column_defs) {
        if (t.FindColumn(def.name) >= 0) {
          Throw(2705, 4, 16,
                "Column names in each table must be unique. Column name '" + def.name +
                    "' in table '" + t.name + "' is specified more than once.");
        }
        if (def.identity || def.primary_key || def.unique) {
          NotSupported("ALTER TABLE ... ADD of an identity or key column");
        }
        CatalogColumn col;
        col.name = def.name;
        col.type = def.type;
        col.nullable = def.nullable;
        std::string value;
        if (def.default_value) {
          Scope empty;
          Typed v = c.Value(*def.default_value, &empty, false);
          col.default_sql = c.Convert(v, def.type, true).sql;
        }
        if (!col.nullable && col.default_sql.empty() && rows) {
          Throw(4901, 1, 16,
                "ALTER TABLE only allows columns to be added that can contain nulls, or have a "
                "DEFAULT definition specified, or the column being added is an identity or "
                "timestamp column, or alternatively if none of the previous conditions are "
                "satisfied the table must be empty to allow addition of this column. Column '" +
                    def.name + "' cannot be added to non-empty table '" + t.name +
                    "' because it does not satisfy these conditions.");
        }
        // Inserts give every column its value, so SQLite's own default only
        // lets a NOT NULL column be added; the rows there get the column's
        // default (a nullable column stays NULL in them, as on SQL Server).
        plan->statements.push_back("ALTER TABLE " + target + " ADD COLUMN " + QuoteIdent(col.name) +
                                   " " + ColumnDeclaration(col.type) +
                                   (col.nullable ? "" : " NOT NULL DEFAULT 0"));
        if (!col.nullable && !col.default_sql.empty()) {
          plan->statements.push_back("UPDATE " + target + " SET " + QuoteIdent(col.name) + " = " +
                                     col.default_sql);
        }
        t.columns.push_back(std::move(col));
        plan->columns_changed = true;
      }
      // add [constraint name] primary key (...) / unique (...)
      auto add_key = [&](char kind, const std::vector<std::string>& cols, const std::string& name) {
        CatalogKey key;
        key.kind = kind;
        std::string list;
        for (const std::string& k : cols) {
          const int idx = t.FindColumn(k);
          if (idx < 0) {
            Throw(1911, 1, 16,
                  "Column name '" + k + "' does not exist in the target table or view.");
          }
          const CatalogColumn& col = t.columns[static_cast<size_t>(idx)];
          if (kind == 'P' && col.nullable) {
            Throw(8111, 1, 16,
                  "Cannot define PRIMARY KEY constraint on nullable column in table '" + t.name +
                      "'.");
          }
          if (IsLobType(col.type.id)) {
            Throw(1919, 1, 16,
                  "Column '" + col.name + "' in table '" + t.name +
                      "' is of a type that is invalid for use as a key column in an index.");
          }
          key.columns.push_back(col.name);
          list += (list.empty() ? "" : ",") + QuoteIdent(col.name);
        }
        key.name =
            name.empty() ? ConstraintName(kind == 'P' ? "PK" : "UQ", t.name, key.columns) : name;
        if (kind == 'P') {
          for (const CatalogKey& k : t.keys) {
            if (k.kind == 'P') {
              Throw(1779, 0, 16, "Table '" + t.name + "' already has a primary key defined on it.");
            }
          }
        }
        if (KeyExists(db_, t.name, key.name)) {
          Throw(2714, 5, 16,
                "There is already an object named '" + key.name + "' in the database.");
        }
        plan->statements.push_back("CREATE UNIQUE INDEX " + std::string(SchemaOf(t.name)) + "." +
                                   QuoteIdent(SqliteIndexName(t.name, key.name)) + " ON " + plain +
                                   "(" + list + ")");
        plan->index_name = key.name;
        plan->new_keys.push_back(key);
        t.keys.push_back(key);
      };
      if (!stmt.primary_key.empty()) add_key('P', stmt.primary_key, stmt.pk_name);
      for (size_t n = 0; n < stmt.uniques.size(); ++n) {
        add_key('U', stmt.uniques[n], n < stmt.unique_names.size() ? stmt.unique_names[n] : "");
      }
      return true;
    }
    if (stmt.name == "drop column") {
      const std::vector<CatalogConstraint> constraints = TableConstraints(db_, t.name);
      for (const std::string& name : stmt.names) {
        const int idx = t.FindColumn(name);
        if (idx < 0) {
          Throw(4924, 1, 16,
                "ALTER TABLE DROP COLUMN failed because column '" + name +
                    "' does not exist in table '" + t.name + "'.");
        }
        std::string by;
        if (t.columns[static_cast<size_t>(idx)].identity || InKey(t, constraints, name, &by)) {
          Throw(4922, 9, 16,
                "ALTER TABLE DROP COLUMN " + name +
                    " failed because one or more objects access this column.");
        }
        if (t.columns.size() == 1) {
          Throw(4923, 1, 16,
                "ALTER TABLE DROP COLUMN failed because '" + name +
                    "' is the only data column in table '" + t.name +
                    "'. A table must have at least one data column.");
        }
        plan->statements.push_back("ALTER TABLE " + target + " DROP COLUMN " +
                                   QuoteIdent(t.columns[static_cast<size_t>(idx)].name));
        t.columns.erase(t.columns.begin() + idx);
        if (t.identity_column > idx) --t.identity_column;
      }
      plan->columns_changed = true;
      return true;
    }
    // alter column: a new type of the same kind (the values converted);
    // NULL or NOT NULL as it was.
    const ColumnDef& def = stmt.column_defs.at(0);
    const int idx = t.FindColumn(def.name);
    if (idx < 0) {
      Throw(4924, 1, 16,
            "ALTER TABLE ALTER COLUMN failed because column '" + def.name +
                "' does not exist in table '" + t.name + "'.");
    }
    CatalogColumn& col = t.columns[static_cast<size_t>(idx)];
    if (col.identity) NotSupported("ALTER COLUMN of an identity column");
    if (StorageOf(col.type.id) != StorageOf(def.type.id) || IsLobType(def.type.id) ||
        IsLobType(col.type.id)) {
      NotSupported("ALTER COLUMN to a type stored otherwise");
    }
    const bool nullable = def.null_specified ? def.nullable : true;
    if (nullable != col.nullable) NotSupported("ALTER COLUMN that changes NULL or NOT NULL");
    Typed v;
    v.sql = QuoteIdent(col.name);
    v.t = Make(col.type, col.nullable);
    if (ExprCompiler::NeedsConversion(col.type, def.type, true)) {
      plan->statements.push_back("UPDATE " + target + " SET " + QuoteIdent(col.name) + " = " +
                                 c.Convert(v, def.type, true).sql);
    }
    col.type = def.type;
    plan->columns_changed = true;
    return true;
  });
}

}  // namespace tdslite::sql
