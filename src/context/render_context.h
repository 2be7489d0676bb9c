// The context a render works from: one state of the application's context,
// taken when the render starts, that no other thread changes or frees while
// the render reads it.
#pragma once

#include "ulm3/context.h"
#include "ulm3/status.h"

namespace ulm3 {

// A new render copy of inContext (ULMContextInternal::MakeRenderCopy) for a
// render that changes its context before it renders: one reference for the
// caller; null for a null context, one the library did not make, or when it
// cannot be made.
ULMContext* ULMCopyContextForRender(const ULMContext* inContext);

// Held for the length of a render: a render copy of the caller's context,
// or the caller's own when it is a render copy already (the render that made
// it owns it) or a context the library did not make (which it cannot lock).
class ULMRenderContext {
public:
    explicit ULMRenderContext(const ULMContext* inContext);
    ~ULMRenderContext();
    ULMRenderContext(const ULMRenderContext&) = delete;
    ULMRenderContext& operator=(const ULMRenderContext&) = delete;

    // Null when Status() is not kULMOK: kULMErrArgument for no context,
    // kULMErrAlloc for a copy that could not be made.
    const ULMContext* Get() const { return m_context; }
    ULMStatus Status() const { return m_status; }

private:
    const ULMContext* m_context = nullptr;
    ULMContext* m_copy = nullptr;
    ULMStatus m_status = kULMOK;
};

}  // namespace ulm3
