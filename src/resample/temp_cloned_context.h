// A clone of a context held for one call: the call changes the clone where
// the application's context must stay as it was. It is a render copy of the
// context it is made from, as it stands then, which renders take as it is.
#pragma once

#include "context/render_context.h"
#include "foundation/shareable.h"
#include "ulm3/context.h"

namespace ulm3 {

class TempClonedContext {
public:
    // Clones inContext unless it is null.
    explicit TempClonedContext(const ULMContext* inContext) { CloneFromContext(inContext); }
    TempClonedContext(const TempClonedContext&) = delete;
    TempClonedContext& operator=(const TempClonedContext&) = delete;

    // Gives back the clone held and clones inContext unless it is null; the
    // clone, or null when none could be made.
    ULMContext* CloneFromContext(const ULMContext* inContext) {
        m_clone.Assign(inContext != nullptr ? ULMCopyContextForRender(inContext) : nullptr);
        return m_clone.GetPointer();
    }
    ULMContext* Get() const { return m_clone.GetPointer(); }
    ULMContext* operator->() const { return m_clone.GetPointer(); }

private:
    ReleasablePointer<ULMContext> m_clone;
};

}  // namespace ulm3
