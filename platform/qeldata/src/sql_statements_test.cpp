#include "sql_statements.h"

#include <gtest/gtest.h>

#include <string>

#include "qeldata/error.h"

namespace qeldata::detail {
namespace {

bool Refused(const std::string& sql) {
  try {
    SingleStatement(sql);
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrInvalidArgument);
    return true;
  }
  return false;
}

TEST(SingleStatement, OneStatementComesBackWithoutItsClosingSemicolon) {
  EXPECT_EQ(SingleStatement("select a from t"), "select a from t");
  EXPECT_EQ(SingleStatement("select a from t ;  "), "select a from t");
  EXPECT_EQ(SingleStatement("select a from t; -- done\n/* really */"), "select a from t");
  EXPECT_EQ(SingleStatement("select 'a;b', \"c;d\", $$e;f$$, $x$g;$y$;h$x$, E'\\';' -- ;\n from t /* ; */"),
            "select 'a;b', \"c;d\", $$e;f$$, $x$g;$y$;h$x$, E'\\';' -- ;\n from t /* ; */");
  EXPECT_EQ(SingleStatement("select $1, a$b$c from t where x = 'it''s;'"),
            "select $1, a$b$c from t where x = 'it''s;'");
}

TEST(SingleStatement, SecondStatementsAreRefusedHoweverTheyHide) {
  EXPECT_TRUE(Refused("select a from t; delete from t"));
  EXPECT_TRUE(Refused("select 1 as a;drop table t"));
  EXPECT_TRUE(Refused("(select a from t); truncate t"));
  EXPECT_TRUE(Refused("select 1;;"));
  EXPECT_TRUE(Refused(";select 1"));
  EXPECT_TRUE(Refused("select 1 -- x\n; delete from t"));
  // E'\'' is one quote in PostgreSQL: the ';' after it separates.
  EXPECT_TRUE(Refused("select E'\\''; delete from t; --'"));
  // With backslash escapes in plain strings the ';' is outside the string.
  EXPECT_TRUE(Refused("select '\\'; delete from t; --'"));
  EXPECT_TRUE(Refused("select 'x\\''; delete from t; --'"));
  // "a$x$" is one name: no dollar quote opens inside it.
  EXPECT_TRUE(Refused("select 1 as a$x$; delete from t; select $x$"));
  // Comments nest in PostgreSQL, not elsewhere: either reading is tried.
  EXPECT_TRUE(Refused("select 1 /* /* */ ; delete from t; /* */"));
  EXPECT_TRUE(Refused("select 1 /* /* */ */; delete from t"));
  EXPECT_TRUE(Refused("select $a$ x $a$; delete from t"));
}

}  // namespace
}  // namespace qeldata::detail
