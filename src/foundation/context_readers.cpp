#include "foundation/context_readers.h"

namespace ulm3 {

namespace {

struct Tests {
    bool pass0, pass1, fail0, fail1;
};

Tests ReadTests(const ULMContext* c) {
    const ULMContext::DepthTest t0 = c->GetDepthTest(ULMContext::kDepthBuffer0);
    const ULMContext::DepthTest t1 = c->GetDepthTest(ULMContext::kDepthBuffer1);
    return {t0 == ULMContext::kDepthTestPass, t1 == ULMContext::kDepthTestPass,
            t0 == ULMContext::kDepthTestFail, t1 == ULMContext::kDepthTestFail};
}

}  // namespace

bool IsDepthTestPass(const ULMContext* inContext) {
    const Tests t = ReadTests(inContext);
    switch (inContext->GetDepthCombineFunction()) {
        case ULMContext::kDepthCombineAll: return true;
        case ULMContext::kDepthCombineAnd: return t.pass0 && t.pass1;
        case ULMContext::kDepthCombineOr: return t.pass0 || t.pass1;
        case ULMContext::kDepthCombineXor: return (t.pass0 && t.fail1) || (t.fail0 && t.pass1);
        default: return false;
    }
}

bool IsDepthTestFail(const ULMContext* inContext) {
    const Tests t = ReadTests(inContext);
    switch (inContext->GetDepthCombineFunction()) {
        case ULMContext::kDepthCombineAll: return false;
        case ULMContext::kDepthCombineAnd: return t.fail0 || t.fail1;
        case ULMContext::kDepthCombineOr: return t.fail0 && t.fail1;
        case ULMContext::kDepthCombineXor: return (t.pass0 && t.pass1) || (t.fail0 && t.fail1);
        default: return false;
    }
}

}  // namespace ulm3
