// The OUTPUT clause of insert, update and delete: the rows the statement
// wrote (inserted.*) or removed (deleted.*), sent as a result set. SQLite's
// RETURNING yields exactly these: the new row for insert and update, the
// removed row for delete.
#include "session_impl.h"

namespace tdslite::session_detail {

bool SessionImpl::PlanOutput(const Stmt& stmt, const sql::CompiledDml& dml, OutputPlan* plan,
                             CompileError* error) {
  auto fail = [&](Message m) {
    error->message = std::move(m);
    error->abort_batch = true;
    return false;
  };
  for (const sql::OutputItem& item : stmt.output) {
    const char* prefix = item.deleted ? "deleted" : "inserted";
    const bool has_prefix =
        item.deleted ? stmt.kind != StmtKind::kInsert : stmt.kind != StmtKind::kDelete;
    if (!has_prefix) {
      return fail(MakeMessage(4104, 1, 16,
                              std::string("The multi-part identifier \"") + prefix + "." +
                                  item.column + "\" could not be bound."));
    }
    if (item.deleted && stmt.kind == StmtKind::kUpdate) {
      return fail(MakeMessage(sql::kNotSupportedNumber, 1, 16,
                              "deleted.* in the OUTPUT clause of UPDATE is not supported by "
                              "tdslite."));
    }
    std::vector<size_t> columns;
    if (item.column == "*") {
      for (size_t i = 0; i < dml.table.columns.size(); ++i) columns.push_back(i);
    } else {
      const int i = dml.table.FindColumn(item.column);
      if (i < 0) return fail(MakeMessage(207, 1, 16, "Invalid column name '" + item.column + "'."));
      columns.push_back(static_cast<size_t>(i));
    }
    for (size_t i : columns) {
      const sql::CatalogColumn& c = dml.table.columns[i];
      if (sql::IsLobType(c.type.id)) {
        return fail(MakeMessage(sql::kNotSupportedNumber, 1, 16,
                                "A text, ntext or image column in the OUTPUT clause is not "
                                "supported by tdslite."));
      }
      ColumnDesc d;
      d.name = item.alias.empty() || item.column == "*" ? c.name : item.alias;
      d.type = c.type;
      d.nullable = c.nullable;
      d.identity = c.identity;
      plan->columns.push_back(std::move(d));
      plan->returning += (plan->returning.empty() ? " RETURNING " : ", ") + sql::QuoteIdent(c.name);
    }
  }
  return true;
}

bool SessionImpl::SendOutputRow(sqlite3_stmt* st, const OutputPlan& plan, ResultSink& sink) {
  std::vector<Value> values(plan.columns.size());
  for (size_t i = 0; i < plan.columns.size(); ++i) {
    FillValue(st, static_cast<int>(i), plan.columns[i], &values[i], 0, kNoSource, false, false);
  }
  return sink.Row(values);
}

}  // namespace tdslite::session_detail
