// What a host sees of a result table, through the one umbrella header: where
// the table is positioned when handed out, the recordset behind the object,
// and ComPtr::out() filling typed and untyped out-parameters alike.
#include <type_traits>

#include <gtest/gtest.h>

#include "qelStatsLib/QelStatsLib.h"
#include "com_test_support.h"

namespace {

using namespace qelcom;
using namespace QelStatsLib;

const std::string kTextConnection = "Text;DBQ=" QEL_SOURCE_DIR "/VesquinDemo/datasets";

// out() hands out this pointer's own slot or the untyped one, never a slot of
// another interface type that a call could fill with the wrong pointer.
static_assert(std::is_convertible_v<ComPtr<IDispatch>::OutSlot, IDispatch**>);
static_assert(std::is_convertible_v<ComPtr<IDispatch>::OutSlot, void**>);
static_assert(std::is_convertible_v<ComPtr<_QelOutlier>::OutSlot, void**>);
static_assert(!std::is_convertible_v<ComPtr<_QelOutlier>::OutSlot, IDispatch**>);
static_assert(!std::is_convertible_v<ComPtr<IDispatch>::OutSlot, IUnknown**>);

const auto* const kRegistryEnvironment =
    ::testing::AddGlobalTestEnvironment(new com_test::ScratchRegistry("qelcom-rs-test-"));

TEST(ResultSetPosition, OutlierTableComesBackAfterItsLastRow) {
  ComPtr<_QelOutlier> o = com_test::Create<_QelOutlier>(CLSID_QelOutlier, IID__QelOutlier);
  o->put_ConnectionString(kTextConnection.c_str());
  o->put_Source("BaseBall.csv");
  o->put_OutlierField("Salary");
  o->put_FindType(outSTD);
  o->put_TypeParm(2.0);
  o->put_showStatus(VARIANT_FALSE);
  Variant ran;
  ASSERT_EQ(o->Run(&ran), S_OK);
  ASSERT_EQ(ran.boolean(), VARIANT_TRUE);

  ComPtr<IDispatch> table;
  ASSERT_EQ(o->get_ResultSet(table.out()), S_OK);  // the typed slot, through out()
  std::shared_ptr<qeldata::Recordset> rs = UnwrapRecordset(table.get());
  ASSERT_TRUE(rs);
  EXPECT_TRUE(rs->IsEOF()) << "handed out after its last row";
  EXPECT_FALSE(rs->IsBOF());
  EXPECT_TRUE(GetProperty(table.get(), "EOF").AsBool()) << "the object and the recordset share one cursor";

  double cardinality = 0;
  o->get_Cardinality(&cardinality);
  rs->MoveFirst();
  ASSERT_FALSE(rs->IsEOF());
  EXPECT_EQ(rs->AbsolutePosition(), 0);  // 0-based
  double previous = rs->Collect("Value").AsNumber();
  int rows = 1;
  for (rs->MoveNext(); !rs->IsEOF(); rs->MoveNext(), ++rows) {
    const double value = rs->Collect("Value").AsNumber();
    EXPECT_LT(previous, value) << "one row per distinct value, in ascending order";
    previous = value;
  }
  EXPECT_EQ(rows, static_cast<int>(cardinality));

  // A second out() into the same pointer releases the table it held first.
  ASSERT_EQ(o->get_ResultSet(table.out()), S_OK);
  EXPECT_EQ(UnwrapRecordset(table.get()), rs) << "the stored table, not a copy";
}

TEST(ResultSetPosition, BivariateTableComesBackAtItsFirstRow) {
  ComPtr<_QelBivariate> b = com_test::Create<_QelBivariate>(CLSID_QelBivariate, IID__QelBivariate);
  b->put_ConnectionString(kTextConnection.c_str());
  b->put_Source("BaseBall.csv");
  b->put_PredictorField("HR");
  b->put_TargetField("Salary");
  b->put_BinCount(5);
  b->put_showStatus(VARIANT_FALSE);
  Variant ran;
  ASSERT_EQ(b->Run(&ran), S_OK);
  ASSERT_EQ(ran.boolean(), VARIANT_TRUE);

  ComPtr<IDispatch> bins;
  ASSERT_EQ(b->get_ResultSet(bins.out()), S_OK);
  std::shared_ptr<qeldata::Recordset> rs = UnwrapRecordset(bins.get());
  ASSERT_TRUE(rs);
  EXPECT_FALSE(rs->IsEOF());
  EXPECT_EQ(rs->AbsolutePosition(), 0) << "a fresh clone, at its first row";

  // Each read is a clone of its own: reading one to its end leaves the next at its start.
  while (!rs->IsEOF()) rs->MoveNext();
  ComPtr<IDispatch> again;
  ASSERT_EQ(b->get_ResultSet(again.out()), S_OK);
  EXPECT_EQ(UnwrapRecordset(again.get())->AbsolutePosition(), 0);
}

}  // namespace
