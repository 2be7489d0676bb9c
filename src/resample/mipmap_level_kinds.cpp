// The multiboard kinds of mipmap levels, as registered.
#include "resample/mipmap_level_kinds.h"

namespace ulm3 {

namespace {

// Answers as a library without multiboard volumes would.
class NoMultiboardLevels final : public ULMMipmapLevelKinds {
public:
    int MultiboardMode(const ULMVolume&, int& outCount) override {
        outCount = 0;
        return 0;
    }
    ULMVolume* MakeLevel(ULMLocation, ULMVolume*, int, const ULMVolumeRange&, const double (&)[3],
                         ULMStatus& outStatus) override {
        outStatus = kULMErrUnimplemented;
        return nullptr;
    }
};

constinit NoMultiboardLevels gNoMultiboardLevels;
// Written only while the library loads; read freely afterwards.
constinit ULMMipmapLevelKinds* gKinds = nullptr;

}  // namespace

ULMMipmapLevelKinds& ULMGetMipmapLevelKinds() { return gKinds != nullptr ? *gKinds : gNoMultiboardLevels; }

void ULMRegisterMipmapLevelKinds(ULMMipmapLevelKinds& inKinds) { gKinds = &inKinds; }

}  // namespace ulm3
