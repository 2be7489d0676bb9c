// Light-map builds waiting to be told to their contexts' listeners, which
// hear of them only once the render that built them holds no lock.
#pragma once

#include <vector>

namespace ulm3 {

class ULMContext;
class ULMLightMap;

class ULMLightMapNotices {
public:
    ULMLightMapNotices() = default;
    // Lets go of what was never delivered.
    ~ULMLightMapNotices();
    ULMLightMapNotices(const ULMLightMapNotices&) = delete;
    ULMLightMapNotices& operator=(const ULMLightMapNotices&) = delete;

    // Remembers that inContext's render built inMap (a rebuild when
    // inChanged), holding both until the notice is delivered.
    void Add(const ULMContext* inContext, ULMLightMap* inMap, bool inChanged);
    // Moves ioOther's notices behind these.
    void TakeFrom(ULMLightMapNotices& ioOther);
    // Hands each notice to its context's light-map callback or queue, then
    // lets go of it. The maps stay held while their callbacks run.
    void Deliver();

private:
    struct Notice {
        ULMContext* context;
        ULMLightMap* map;
        bool changed;
    };
    void Drop();
    std::vector<Notice> m_notices;
};

}  // namespace ulm3
