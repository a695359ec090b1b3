// Calls of the database's scalar functions: each argument converted to its
// parameter's type, the call made through tdslite_udf(name, args...), which
// the session answers by running the function's body.
#include "compile_internal.h"
#include "modules.h"

namespace tdslite::sql::compiler_detail {

Typed ExprCompiler::UserFunction(const Expr& e, const Scope* scope, bool allow_aggregate) {
  // dbo.f, db.dbo.f or db..f, db being the server's own database.
  const std::vector<std::string>& q = e.names;
  bool known_schema =
      q.size() <= 2 && (EqualsIgnoreCase(q.back(), "dbo") || (q.size() == 2 && q.back().empty()));
  if (q.size() == 2 && !EqualsIgnoreCase(q[0], vars_.database)) known_schema = false;
  std::shared_ptr<const LoadedModule> m;
  if (known_schema) m = LoadModule(db_, e.text, vars_.database);
  if (!m || m->info.type != "FN") {
    Throw(4121, 1, 16,
          "Cannot find either column \"" + q[0] +
              "\" or the user-defined function or aggregate \"" + e.raw +
              "\", or the name is ambiguous.");
  }
  const Stmt* def = m->definition();
  if (def == nullptr) NotSupported("A function whose stored definition no longer parses");
  if (e.args.size() < def->column_defs.size()) {
    Throw(313, 3, 16,
          "An insufficient number of arguments were supplied for the procedure or function " +
              e.raw + ".");
  }
  if (e.args.size() > def->column_defs.size()) {
    Throw(8144, 2, 16, "Procedure or function " + e.raw + " has too many arguments specified.");
  }
  Typed out;
  out.sql = "tdslite_udf(" + QuoteText(m->info.name);
  for (size_t i = 0; i < e.args.size(); ++i) {
    Typed a = Convert(Value(*e.args[i], scope, allow_aggregate), def->column_defs[i].type);
    out.sql += ", " + a.sql;
    TakeFlags(&out, a);
  }
  out.sql += ")";
  out.t = Make(def->returns, true);
  return out;
}

}  // namespace tdslite::sql::compiler_detail
