// Delivery of light-map events after the render that built the maps.
#include "render/light_map_events.h"

#include "context/context_internal.h"
#include "render/light_map.h"

namespace ulm3 {

ULMLightMapNotices::~ULMLightMapNotices() { Drop(); }

void ULMLightMapNotices::Add(const ULMContext* inContext, ULMLightMap* inMap, bool inChanged) {
    if (!IsObjectType(inContext, kObjectTypeULMContextInternal)) return;
    // The listeners may change the context; the render only read it.
    auto* context = const_cast<ULMContext*>(inContext);
    context->AddRef();
    inMap->AddRef();
    m_notices.push_back({context, inMap, inChanged});
}

void ULMLightMapNotices::TakeFrom(ULMLightMapNotices& ioOther) {
    if (m_notices.empty()) {
        m_notices.swap(ioOther.m_notices);
        return;
    }
    m_notices.insert(m_notices.end(), ioOther.m_notices.begin(), ioOther.m_notices.end());
    ioOther.m_notices.clear();
}

void ULMLightMapNotices::Deliver() {
    for (const Notice& n : m_notices) {
        auto* context = static_cast<ULMContextInternal*>(n.context);
        context->GenerateEventLightMap(n.changed, context->BasePlaneSlotInRender(), kULMLightMapType1, 8,
                                       kLightMapEntries, n.map->m_diffuseWords.data(), n.map->m_specularWords.data());
    }
    Drop();
}

void ULMLightMapNotices::Drop() {
    for (const Notice& n : m_notices) {
        n.map->Release();
        n.context->Release();
    }
    m_notices.clear();
}

}  // namespace ulm3
