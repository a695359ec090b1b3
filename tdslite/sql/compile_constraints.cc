// Check and foreign key constraints of create table and alter table.
#include "compile_internal.h"

namespace tdslite::sql::compiler_detail {

std::string ConstraintsSql(ExprCompiler& c, sqlite3* db, const Stmt& stmt, CatalogTable* table,
                           const ConstraintNamer& namer) {
  std::string sql;
  for (const CheckDef& check : stmt.checks) {
    // The condition reads the row's columns by their names.
    Scope scope;
    Source src;
    src.exposed = stmt.table;
    for (const CatalogColumn& col : table->columns) {
      SourceColumn sc;
      sc.name = col.name;
      sc.type = Make(col.type, col.nullable);
      sc.sql = QuoteIdent(col.name);
      src.columns.push_back(sc);
    }
    scope.sources.push_back(std::move(src));
    if (!check.column.empty() && table->FindColumn(check.column) < 0) {
      Throw(1911, 1, 16,
            "Column name '" + check.column + "' does not exist in the target table or view.",
            false);
    }
    Typed t = c.Condition(*check.expr, &scope, false);
    CatalogConstraint k;
    k.kind = 'C';
    k.table = table->name;
    if (!check.column.empty()) k.columns.push_back(check.column);
    k.name = check.name.empty() ? namer("CK", k.columns) : check.name;
    sql += ", CONSTRAINT " + QuoteIdent(k.name) + " CHECK (" + t.sql + ")";
    table->constraints.push_back(std::move(k));
  }
  for (const ForeignKeyDef& fk : stmt.foreign_keys) {
    if (IsTemporaryName(stmt.table)) NotSupported("A FOREIGN KEY constraint on a temporary table");
    CatalogConstraint k;
    k.kind = 'F';
    k.table = table->name;
    for (const std::string& col : fk.columns) {
      const int idx = table->FindColumn(col);
      if (idx < 0) {
        Throw(1769, 1, 16,
              "Foreign key '" + (fk.name.empty() ? std::string("FK") : fk.name) +
                  "' references invalid column '" + col + "' in referencing table '" + table->name +
                  "'.",
              false);
      }
      k.columns.push_back(table->columns[static_cast<size_t>(idx)].name);
    }
    k.name = fk.name.empty() ? namer("FK", k.columns) : fk.name;
    const bool self = EqualsIgnoreCase(fk.ref_table, stmt.table);
    std::optional<CatalogTable> parent =
        self ? std::optional<CatalogTable>(*table) : LookupTable(db, fk.ref_table);
    if (!parent || IsTemporaryName(fk.ref_table)) {
      Throw(1767, 0, 16,
            "Foreign key '" + k.name + "' references invalid table '" + fk.ref_table + "'.", false);
    }
    std::vector<std::string> refs = fk.ref_columns;
    if (refs.empty()) {
      for (const CatalogKey& key : parent->keys) {
        if (key.kind == 'P') refs = key.columns;
      }
      if (refs.empty()) {
        Throw(1773, 0, 16,
              "Foreign key '" + k.name + "' has implicit reference to object '" + parent->name +
                  "' which does not have a primary key defined on it.",
              false);
      }
    }
    if (refs.size() != k.columns.size()) {
      Throw(8139, 0, 16,
            "Number of referencing columns in foreign key differs from number of referenced "
            "columns, table '" +
                table->name + "'.",
            false);
    }
    for (std::string& r : refs) {
      const int idx = parent->FindColumn(r);
      if (idx < 0) {
        Throw(1770, 0, 16,
              "Foreign key '" + k.name + "' references invalid column '" + r +
                  "' in referenced table '" + parent->name + "'.",
              false);
      }
      r = parent->columns[static_cast<size_t>(idx)].name;
    }
    // The referenced columns must be a primary key or a unique key.
    bool keyed = false;
    for (const CatalogKey& key : parent->keys) {
      if (key.kind == 'X' || key.columns.size() != refs.size()) continue;
      bool same = true;
      for (const std::string& r : refs) {
        bool found = false;
        for (const std::string& kc : key.columns) found = found || EqualsIgnoreCase(kc, r);
        same = same && found;
      }
      keyed = keyed || same;
    }
    if (!keyed) {
      Throw(1776, 0, 16,
            "There are no primary or candidate keys in the referenced table '" + parent->name +
                "' that match the referencing column list in the foreign key '" + k.name + "'.",
            false);
    }
    std::string cols, ref_cols;
    for (size_t i = 0; i < refs.size(); ++i) {
      cols += (i ? "," : "") + QuoteIdent(k.columns[i]);
      ref_cols += (i ? "," : "") + QuoteIdent(refs[i]);
    }
    sql += ", CONSTRAINT " + QuoteIdent(k.name) + " FOREIGN KEY (" + cols + ") REFERENCES " +
           QuoteIdent(parent->name) + "(" + ref_cols + ") ON DELETE " + fk.on_delete +
           " ON UPDATE " + fk.on_update;
    k.ref_table = parent->name;
    k.ref_columns = refs;
    table->constraints.push_back(std::move(k));
  }
  return sql;
}

}  // namespace tdslite::sql::compiler_detail
