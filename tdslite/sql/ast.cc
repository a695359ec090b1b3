// What the syntax tree's nodes do beyond holding data.
#include "ast.h"

namespace tdslite::sql {

Expr::~Expr() {
  std::vector<std::unique_ptr<Expr>> pending;
  for (auto& a : args) {
    if (a) pending.push_back(std::move(a));
  }
  while (!pending.empty()) {
    std::unique_ptr<Expr> e = std::move(pending.back());
    pending.pop_back();
    for (auto& a : e->args) {
      if (a) pending.push_back(std::move(a));
    }
  }  // each node goes here, its operands already taken
}

}  // namespace tdslite::sql
