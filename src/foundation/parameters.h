// Names and numbers of the configuration parameters.
#pragma once

#include <cstdint>

namespace ulm3 {

// Numbers the parameters; two pairs of names share a number.
enum ParameterType : int32_t {
    eMaxLockSize = 0,
    eMipmapMaxLevel = 1,
    eMipmapMinLevel = 2,
    eMipmapMinVolumeSize = 3,
    eMipmapMinDimension = 4,
    eMipmapShrinkFactor = 5,
    eMipmapNumberLevels = 6,
    eMultiboardForceNumberOfVolumes = 7,
    eMultiboardRenderEnable = 8,
    eMultiboardEnable = 8,
    eMultiboardRenderMode = 9,
    eMultiboardOverlap = 10,
    eMultiboardMinVolumeSize = 11,
    eMultiboard2ForceRender = 12,
    eMipmapMultiboard = 13,
    eRenderHangMaxZSlices = 14,
    eMaxZSupersample = 15,
    eMinZSupersample = 16,
    eFixedXYSupersampleFactor = 17,
    eFixedZSupersampleFactor = 18,
    eResizeImage = 19,
    eRenderArea = 20,
    eLightMode = 21,
    eSpecularColorOpacityWeighting = 22,
    eBoardMinorVersion = 23,
    eBoardVersion = 23,
    ePerspectiveEnabled = 24,
    ePerspectiveDoubleBuffer = 25,
    ePerspectiveSynchronousBlend = 26,
    eRenderToVolumeEnable = 27,
    eRenderToVolumeZSlices = 28,
    eSimulateMap = 29,
    eSpaceLeapingMode = 30,
    eUpdateMethodMemory = 31,
    eMaxUpdateSizeMemory = 32,
    eUpdateMethodSource = 33,
    eMaxUpdateSizeSource = 34,
    eUpdateMethodFile = 35,
    eMaxUpdateSizeFile = 36,
    eForceSynchronousRender = 37,
    eForceSynchronousUpdate = 38,
    eForceSynchronousUnload = 39,
    eReleaseTemporaryImageBuffers = 40,
    eForceEpsilon = 41,
    eEpsilon = 42,
    eTraceErrors = 43,
    eDebugFileName = 44,
};

// How voxels travel from the host to a board; chosen per kind of voxel data.
enum UpdateMethod : int32_t {
    eMethodMap = 0,
    eMethodCopy = 1,
    eMethodMapCopy = 2,
    eMethodKernel = 3,
    eMethodOneMap = 4,
    eMethodOneCopy = 5,
    eMethodMin = 0,
    eMethodMax = 5,
};

}  // namespace ulm3
