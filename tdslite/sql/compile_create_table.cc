// create table: columns, defaults, identity, keys and constraints.
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

// SQL Server names an unnamed constraint PK__<table>__<16 hex digits>, the
// digits unique in the database. Here they are a hash of the table and the
// key's columns: the same from run to run, and different for each key of a
// table.
std::string GeneratedName(const char* prefix, std::string_view table,
                          const std::vector<std::string>& columns) {
  uint64_t h = 1469598103934665603ull;
  auto add = [&](std::string_view part) {
    for (char c : part) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    h = (h ^ 0xFFu) * 1099511628211ull;  // ends the part: ("ab","c") differs from ("a","bc")
  };
  add(prefix);
  add(AsciiLower(table));
  for (const std::string& c : columns) add(AsciiLower(c));
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(h));
  return std::string(prefix) + "__" + std::string(table.substr(0, 8)) + "__" + hex;
}

std::string SqliteDeclaration(const ColumnType& t) {
  switch (StorageOf(t.id)) {
    case Storage::kInteger:
    case Storage::kMoney:
    case Storage::kDateTicks:
    case Storage::kWideTime:
      // "INT", not "INTEGER": an INTEGER PRIMARY KEY would become SQLite's
      // rowid, which turns an inserted NULL into a new key instead of an error.
      return "INT";
    case Storage::kReal:
      return "REAL";
    case Storage::kDecimalText:
      return "TEXT COLLATE TDSDEC";
    case Storage::kText:
      return "TEXT COLLATE TDSCI";
    case Storage::kBlob:
    case Storage::kGuid:
      return "BLOB";
    case Storage::kOffsetText:
      return "TEXT COLLATE TDSDTO";
  }
  return "";
}

}  // namespace

namespace compiler_detail {

std::string ColumnDeclaration(const ColumnType& t) {
  return SqliteDeclaration(t);
}

std::string ConstraintName(const char* prefix, std::string_view table,
                           const std::vector<std::string>& columns) {
  return GeneratedName(prefix, table, columns);
}

}  // namespace compiler_detail

bool Compiler::CompileCreateTable(const Stmt& stmt, std::string* ddl, CatalogTable* table,
                                  CompileError* error) {
  return CompileWith(db_, vars_, error, [&](ExprCompiler& c) {
    if (LookupTable(db_, stmt.table)) {
      Throw(2714, 6, 16, "There is already an object named '" + stmt.table + "' in the database.",
            false);
    }
    table->name = stmt.table;
    std::vector<std::string> pk = stmt.primary_key;
    std::string pk_name = stmt.pk_name;
    for (const ColumnDef& def : stmt.column_defs) {
      for (const CatalogColumn& existing : table->columns) {
        if (EqualsIgnoreCase(existing.name, def.name)) {
          Throw(2705, 3, 16,
                "Column names in each table must be unique. Column name '" + def.name +
                    "' in table '" + stmt.table + "' is specified more than once.",
                false);
        }
      }
      CatalogColumn col;
      col.name = def.name;
      col.type = def.type;
      col.nullable = def.nullable;
      col.identity = def.identity;
      if (def.primary_key) {
        if (!pk.empty()) {
          Throw(8110, 0, 16,
                "Cannot add multiple PRIMARY KEY constraints to table '" + stmt.table + "'.",
                false);
        }
        pk.push_back(def.name);
        pk_name = def.constraint_name;
      }
      if (def.identity) {
        if (table->identity_column >= 0) {
          Throw(2744, 2, 16,
                "Multiple identity columns specified for table '" + stmt.table +
                    "'. Only one identity column per table is allowed.",
                false);
        }
        bool integral = IsIntegerType(def.type.id) && def.type.id != TypeId::kBit;
        if (IsDecimalType(def.type.id) && def.type.scale == 0) integral = true;
        if (!integral || (def.null_specified && def.nullable)) {
          Throw(2749, 2, 16,
                "Identity column '" + def.name +
                    "' must be of data type int, bigint, smallint, tinyint, or decimal or numeric "
                    "with a scale of 0, and constrained to be nonnullable.",
                false);
        }
        if (def.identity_increment != 1) NotSupported("An IDENTITY increment other than 1");
        if (def.default_value) {
          Throw(1754, 0, 16,
                "Defaults cannot be created on columns with an IDENTITY attribute. Table '" +
                    stmt.table + "', column '" + def.name + "'.",
                false);
        }
        col.nullable = false;
        table->identity_column = static_cast<int>(table->columns.size());
        table->identity_seed = def.identity_seed;
        if (IsDecimalType(def.type.id))
          NotSupported("An IDENTITY column of type decimal or numeric");
      }
      if (def.default_value) {
        Scope empty;
        Typed v = c.Value(*def.default_value, &empty, false);
        col.default_sql = c.Convert(v, def.type, true).sql;
      }
      table->columns.push_back(std::move(col));
    }
    for (const std::string& k : pk) {
      int idx = table->FindColumn(k);
      if (idx < 0) {
        Throw(1911, 1, 16, "Column name '" + k + "' does not exist in the target table or view.",
              false);
      }
      CatalogColumn& col = table->columns[static_cast<size_t>(idx)];
      const ColumnDef& def = stmt.column_defs[static_cast<size_t>(idx)];
      if (def.null_specified && def.nullable) {
        Throw(8111, 1, 16,
              "Cannot define PRIMARY KEY constraint on nullable column in table '" + stmt.table +
                  "'.",
              false);
      }
      if (IsLobType(col.type.id)) {
        Throw(1919, 1, 16,
              "Column '" + col.name + "' in table '" + stmt.table +
                  "' is of a type that is invalid for use as a key column in an index.",
              false);
      }
      col.nullable = false;
    }
    std::string sql =
        std::string("CREATE TABLE ") + SchemaOf(stmt.table) + "." + QuoteIdent(stmt.table) + " (";
    for (size_t i = 0; i < table->columns.size(); ++i) {
      const CatalogColumn& col = table->columns[i];
      if (i > 0) sql += ", ";
      sql += QuoteIdent(col.name) + " ";
      if (col.identity) {
        sql += "INTEGER PRIMARY KEY AUTOINCREMENT";
        continue;
      }
      sql += SqliteDeclaration(col.type);
      if (!col.nullable) sql += " NOT NULL";
    }
    auto column_list = [&](const std::vector<std::string>& cols) {
      std::string s = "(";
      for (size_t i = 0; i < cols.size(); ++i) {
        int idx = table->FindColumn(cols[i]);
        if (idx < 0) {
          Throw(1911, 1, 16,
                "Column name '" + cols[i] + "' does not exist in the target table or view.", false);
        }
        s += (i ? "," : "") + QuoteIdent(table->columns[static_cast<size_t>(idx)].name);
      }
      return s + ")";
    };
    if (!pk.empty()) {
      CatalogKey key;
      key.kind = 'P';
      for (const std::string& k : pk) {
        key.columns.push_back(table->columns[static_cast<size_t>(table->FindColumn(k))].name);
      }
      key.name = pk_name.empty() ? GeneratedName("PK", stmt.table, key.columns) : pk_name;
      bool identity_pk = pk.size() == 1 && table->identity_column >= 0 &&
                         table->FindColumn(pk[0]) == table->identity_column;
      if (!identity_pk) {
        sql += std::string(table->identity_column >= 0 ? ", UNIQUE " : ", PRIMARY KEY ") +
               column_list(pk);
      }
      table->keys.push_back(key);
    }
    for (const ColumnDef& def : stmt.column_defs) {
      if (!def.unique) continue;
      CatalogKey key;
      key.kind = 'U';
      key.columns.push_back(def.name);
      key.name = def.constraint_name.empty() ? GeneratedName("UQ", stmt.table, key.columns)
                                             : def.constraint_name;
      sql += ", UNIQUE " + column_list(key.columns);
      table->keys.push_back(key);
    }
    for (size_t n = 0; n < stmt.uniques.size(); ++n) {
      const auto& u = stmt.uniques[n];
      CatalogKey key;
      key.kind = 'U';
      key.columns = u;
      const bool named = n < stmt.unique_names.size() && !stmt.unique_names[n].empty();
      key.name = named ? stmt.unique_names[n] : GeneratedName("UQ", stmt.table, key.columns);
      sql += ", UNIQUE " + column_list(u);
      table->keys.push_back(key);
    }
    sql += ConstraintsSql(c, db_, stmt, table,
                          [&](const char* prefix, const std::vector<std::string>& columns) {
                            return GeneratedName(prefix, stmt.table, columns);
                          });
    sql += ")";
    *ddl = sql;
    return true;
  });
}

}  // namespace tdslite::sql
