// Render copies of contexts, made as renders start.
#include "context/render_context.h"

#include "context/context_internal.h"
#include "foundation/shareable.h"

namespace ulm3 {

ULMContext* ULMCopyContextForRender(const ULMContext* inContext) {
    if (!IsObjectType(inContext, kObjectTypeULMContextInternal)) return nullptr;
    return ULMContextInternal::MakeRenderCopy(*static_cast<const ULMContextInternal*>(inContext));
}

ULMRenderContext::ULMRenderContext(const ULMContext* inContext) {
    if (inContext == nullptr) {
        m_status = kULMErrArgument;
        return;
    }
    const bool own = IsObjectType(inContext, kObjectTypeULMContextInternal);
    if (!own || static_cast<const ULMContextInternal*>(inContext)->IsRenderCopy()) {
        m_context = inContext;
        return;
    }
    m_copy = ULMCopyContextForRender(inContext);
    m_context = m_copy;
    if (m_copy == nullptr) m_status = kULMErrAlloc;
}

ULMRenderContext::~ULMRenderContext() {
    if (m_copy != nullptr) m_copy->Release();
}

}  // namespace ulm3
