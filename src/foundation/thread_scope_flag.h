// A flag of the calling thread's, raised while a scope that holds it lives:
// work deep in a call sees what a caller further up asked of it without the
// request travelling through every signature between them. Scopes nest; the
// flag falls when the outermost ends. Tag tells one flag from another.
#pragma once

namespace ulm3 {

template <typename Tag>
class ULMThreadScopeFlag {
public:
    ULMThreadScopeFlag() : m_was(s_raised) { s_raised = true; }
    ~ULMThreadScopeFlag() { s_raised = m_was; }
    ULMThreadScopeFlag(const ULMThreadScopeFlag&) = delete;
    ULMThreadScopeFlag& operator=(const ULMThreadScopeFlag&) = delete;
    static bool Active() { return s_raised; }

private:
    static inline thread_local bool s_raised = false;
    bool m_was;
};

}  // namespace ulm3
