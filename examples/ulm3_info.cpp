// Opens the library and prints what it reports of the boards, the versions,
// the memory, the fixed limits and the configuration parameters.
#include <cinttypes>
#include <cstdio>

#include "ulm3.h"

using namespace ulm3;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

void PrintMemory(const char* label, ULMLocation location) {
    uint64_t total = 0, locked = 0, unlocked = 0, free = 0;
    if (ULMFailed(ULMConfiguration::GetMemoryUsage(location, total, locked, unlocked, free))) {
        std::printf("  %-10s (not available)\n", label);
        return;
    }
    std::printf("  %-10s total %8.1f MiB  locked %8.1f MiB  unlocked %8.1f MiB  free %8.1f MiB\n",
                label, total / kMiB, locked / kMiB, unlocked / kMiB, free / kMiB);
}

void PrintBoards() {
    const int boards = ULMConfiguration::GetNumberOfBoards();
    std::printf("Boards: %d\n", boards);
    for (int n = 0; n < boards; ++n) {
        std::printf("  board %d: version %d.%d, %u bytes of memory\n", n,
                    ULMConfiguration::GetBoardMajorVersion(n),
                    ULMConfiguration::GetBoardMinorVersion(n),
                    ULMConfiguration::GetAvailableMemory(n));
    }
}

void PrintVersions() {
    std::printf("Versions:\n");
    std::printf("  interface      %d.%d\n", ULMConfiguration::GetULMMajorVersion(),
                ULMConfiguration::GetULMMinorVersion());
    std::printf("  library        %s\n",
                ULMConfiguration::GetVersionString(ULMConfiguration::kULMVersion));
    std::printf("  driver wanted  %s\n",
                ULMConfiguration::GetVersionString(ULMConfiguration::kDriverWanted));
    std::printf("  driver found   %s\n",
                ULMConfiguration::GetVersionString(ULMConfiguration::kDriverFound));
}

void PrintMemoryUsage() {
    std::printf("Memory:\n");
    const int boards = ULMConfiguration::GetNumberOfBoards();
    for (int n = 0; n < boards; ++n) {
        char label[32];
        std::snprintf(label, sizeof label, "board %d", n);
        PrintMemory(label, static_cast<ULMLocation>(n));
    }
    PrintMemory("all boards", kULMAnyBoard);
}

void PrintLimits() {
    unsigned lx = 0, ly = 0, lz = 0, mx = 0, my = 0, mz = 0;
    ULMConfiguration::GetMaxLockedSize(16, lx, ly, lz);
    ULMConfiguration::GetMaxMappedSize(16, mx, my, mz);
    std::printf("Limits:\n");
    std::printf("  gradient table length  %d\n", ULMConfiguration::GetGradientTableLength());
    std::printf("  cut planes             %d\n", ULMConfiguration::GetMaxCutPlanes());
    std::printf("  volume fields          %d\n", ULMConfiguration::GetMaxVolumeFields());
    std::printf("  lookup tables          %d\n", ULMConfiguration::GetMaxTables());
    std::printf("  channels               %d\n", ULMConfiguration::GetMaxChannels());
    std::printf("  voxel size (bits)      %d..%d\n", ULMConfiguration::GetMinVoxelSize(),
                ULMConfiguration::GetMaxVoxelSize());
    std::printf("  field size (bits)      %d..%d\n", ULMConfiguration::GetMinFieldSize(),
                ULMConfiguration::GetMaxFieldSize());
    std::printf("  mipmap levels          %d\n", ULMConfiguration::GetMaxMipmapLevels());
    std::printf("  locked extent (16-bit) %u x %u x %u\n", lx, ly, lz);
    std::printf("  mapped extent (16-bit) %u x %u x %u\n", mx, my, mz);
}

// The parameters an application is most likely to tune, by name.
constexpr const char* kParameterNames[] = {
    "MaxLockSize",          "MipmapNumberLevels",     "MipmapMinLevel",
    "MipmapMaxLevel",       "MipmapMinVolumeSize",    "MipmapMinDimension",
    "MipmapShrinkFactor",   "MipmapMultiboard",       "MultiboardEnable",
    "MultiboardRenderMode", "MultiboardForceNumberOfVolumes", "MultiboardOverlap",
    "MultiboardMinVolumeSize", "Multiboard2ForceRender", "RenderHangMaxZSlices",
    "MinZSupersample",      "MaxZSupersample",        "FixedXYSupersampleFactor",
    "FixedZSupersampleFactor", "ResizeImage",         "RenderArea",
    "LightMode",            "SpecularColorOpacityWeighting", "BoardVersion",
    "PerspectiveEnabled",   "PerspectiveDoubleBuffer", "PerspectiveSynchronousBlend",
    "RenderToVolumeEnable", "RenderToVolumeZSlices",  "SimulateMap",
    "SpaceLeapingMode",     "UpdateMethodMemory",     "MaxUpdateSizeMemory",
    "UpdateMethodSource",   "MaxUpdateSizeSource",    "UpdateMethodFile",
    "MaxUpdateSizeFile",    "ForceSynchronousRender", "ForceSynchronousUpdate",
    "ForceSynchronousUnload", "ReleaseTemporaryImageBuffers", "TraceErrors",
};

void PrintParameters() {
    std::printf("Parameters:\n");
    for (const char* name : kParameterNames) {
        const uint64_t value = ULMGetParameter(name);
        std::printf("  %-31s %" PRId64 "\n", name, static_cast<int64_t>(value));
    }
    std::printf("  %-31s %g\n", "Epsilon", ULMGetEpsilon());
}

}  // namespace

int main() {
    const ULMStatus status = ULMOpen();
    if (ULMFailed(status)) {
        if (status == kULMErrVersion) {
            std::fprintf(stderr, "ulm3_info: the library does not accept interface %d.%d\n",
                         kULMInterfaceMajorVersion, kULMInterfaceMinorVersion);
        } else {
            std::fprintf(stderr, "ulm3_info: no rendering board could be opened: %s (%d)\n",
                         UlmGetStatusString(status), static_cast<int>(status));
        }
        return 1;
    }
    PrintBoards();
    PrintVersions();
    PrintMemoryUsage();
    PrintLimits();
    PrintParameters();
    ULMClose();
    return 0;
}
