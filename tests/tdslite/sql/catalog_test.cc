#include "tdslite/sql/catalog.h"

#include <gtest/gtest.h>

#include "tdslite/sql/types.h"

namespace tdslite::sql {
namespace {

TEST(CatalogTest, TablesRoundTrip) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  std::string error;
  ASSERT_TRUE(EnsureCatalog(db, &error)) << error;
  ASSERT_TRUE(EnsureCatalog(db, &error)) << "a second call must be harmless";
  CatalogTable t;
  t.name = "Orders";
  CatalogColumn id;
  id.name = "Id";
  id.type = IntType(TypeId::kInt);
  id.nullable = false;
  id.identity = true;
  CatalogColumn amount;
  amount.name = "Amount";
  amount.type = DecimalType(38, 10);
  amount.default_sql = "'0.0000000000'";
  t.columns = {id, amount};
  t.identity_column = 0;
  t.identity_seed = 100;
  CatalogKey pk;
  pk.name = "PK_Orders";
  pk.columns = {"Id"};
  t.keys = {pk};
  ASSERT_TRUE(AddTable(db, t, &error)) << error;
  EXPECT_FALSE(AddTable(db, t, &error)) << "the same name twice";

  auto found = LookupTable(db, "ORDERS");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->name, "Orders");
  ASSERT_EQ(found->columns.size(), 2u);
  EXPECT_EQ(found->columns[1].type.precision, 38);
  EXPECT_EQ(found->columns[1].type.scale, 10);
  EXPECT_EQ(found->columns[1].default_sql, "'0.0000000000'");
  EXPECT_FALSE(found->columns[0].nullable);
  EXPECT_EQ(found->identity_column, 0);
  EXPECT_EQ(found->identity_seed, 100);
  EXPECT_EQ(found->FindColumn("amount"), 1);
  EXPECT_EQ(found->FindColumn("nope"), -1);
  ASSERT_EQ(found->keys.size(), 1u);
  EXPECT_EQ(found->keys[0].kind, 'P');
  EXPECT_EQ(found->keys[0].columns, std::vector<std::string>{"Id"});
  EXPECT_TRUE(KeyExists(db, "orders", "pk_orders"));
  EXPECT_FALSE(KeyExists(db, "orders", "other"));

  ASSERT_TRUE(RemoveTable(db, "orders", &error));
  EXPECT_FALSE(LookupTable(db, "Orders"));
  EXPECT_FALSE(KeyExists(db, "orders", "pk_orders"));
  sqlite3_close(db);
}

// Key column names come back whole whatever bytes they hold, the key
// separator included.
TEST(CatalogTest, KeyColumnNamesRoundTripWhole) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  std::string error;
  ASSERT_TRUE(EnsureCatalog(db, &error)) << error;
  const std::vector<std::vector<std::string>> keys = {
      {"a\x1f"
       "b"},
      {"a", "b\x1f", "\x1f"},
      {"\x1e", "x\x1e\x1fy", ""},
      {"plain", "two words"},
  };
  CatalogTable t;
  t.name = "t";
  for (const auto& names : keys) {
    for (const std::string& n : names) {
      CatalogColumn c;
      c.name = n;
      c.type = IntType(TypeId::kInt);
      t.columns.push_back(c);
    }
    CatalogKey k;
    k.name = "k" + std::to_string(t.keys.size());
    k.kind = 'U';
    k.columns = names;
    t.keys.push_back(k);
  }
  ASSERT_TRUE(AddTable(db, t, &error)) << error;
  auto found = LookupTable(db, "t");
  ASSERT_TRUE(found);
  ASSERT_EQ(found->keys.size(), keys.size());
  for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(found->keys[i].columns, keys[i]) << i;
  sqlite3_close(db);
}

TEST(CatalogTest, Quoting) {
  EXPECT_EQ(QuoteIdent("a\"b"), "\"a\"\"b\"");
  EXPECT_TRUE(EqualsIgnoreCase("AbC", "aBc"));
  EXPECT_FALSE(EqualsIgnoreCase("abc", "abcd"));
}

}  // namespace
}  // namespace tdslite::sql
