// Which image a render writes, and when the depth tests pass or reject
// everything, read from a context.
#include "support/context_fixture.h"
#include "foundation/context_readers.h"

namespace ulm3::testing {
namespace {

class ContextReaders : public ContextTest {};

TEST_F(ContextReaders, DepthSummariesByCombineFunction) {
    using C = ULMContext;
    const C::DepthTest P = C::kDepthTestPass, F = C::kDepthTestFail, L = C::kDepthTestLess;
    struct Row {
        C::DepthCombineFunction combine;
        C::DepthTest t0, t1;
        bool pass, fail;
    };
    const Row rows[] = {
        {C::kDepthCombineAll, F, F, true, false},  {C::kDepthCombineAnd, P, P, true, false},
        {C::kDepthCombineAnd, P, L, false, false}, {C::kDepthCombineAnd, L, F, false, true},
        {C::kDepthCombineOr, L, P, true, false},   {C::kDepthCombineOr, F, F, false, true},
        {C::kDepthCombineOr, F, L, false, false},  {C::kDepthCombineXor, F, P, true, false},
        {C::kDepthCombineXor, P, P, false, true},  {C::kDepthCombineXor, F, F, false, true},
        {C::kDepthCombineXor, P, L, false, false},
    };
    ULMContext* c = ULMContext::Create();
    ASSERT_NE(c, nullptr);
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.combine << " " << r.t0 << " " << r.t1);
        ASSERT_EQ(c->SetDepthCombineFunction(r.combine), kULMOK);
        ASSERT_EQ(c->SetDepthTest(C::kDepthBuffer0, r.t0), kULMOK);
        ASSERT_EQ(c->SetDepthTest(C::kDepthBuffer1, r.t1), kULMOK);
        EXPECT_EQ(IsDepthTestPass(c), r.pass);
        EXPECT_EQ(IsDepthTestFail(c), r.fail);
    }
    c->Release();
}

}  // namespace
}  // namespace ulm3::testing
