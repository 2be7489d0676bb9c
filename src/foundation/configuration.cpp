// Queries of the opened hardware and the library's fixed limits.
#include "ulm3/configuration.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "foundation/control.h"
#include "foundation/diagnostics.h"
#include "foundation/upper_layers.h"

namespace ulm3 {

namespace {

constexpr int kULMMajorVersion = 3;
constexpr int kULMMinorVersion = 3;
constexpr unsigned kMaxAvailableMemory = 0xFFFFFFFFu;

#define ULM_VERSION_FORMAT "ulm3 3.3.1.2 release (%d-bit) built " __DATE__ " " __TIME__
constexpr char sULMVersionStringFormat[] = ULM_VERSION_FORMAT;
char sULMVersionString[500];
std::once_flag sULMVersionOnce;

// The bitness the version text has always reported.
constexpr int kReportedBits = 32;

bool IsOpenBoard(int n) {
    return n >= 0 && static_cast<unsigned>(n) < gULMControl.m_KWBBoardCount;
}

bool IsExtentVoxelSize(unsigned voxelSize) {
    switch (voxelSize) {
        case 1:
        case 2:
        case 3:
        case 8:
        case 16:
        case 32:
            return true;
        default:
            return false;
    }
}

void ExtentsFor(unsigned voxelSize, const unsigned (&extents)[3], unsigned& nx, unsigned& ny,
                unsigned& nz) {
    const bool known = IsExtentVoxelSize(voxelSize);
    nx = known ? extents[0] : 0;
    ny = known ? extents[1] : 0;
    nz = known ? extents[2] : 0;
}

}  // namespace

int ULMConfiguration::GetNumberOfBoards() { return static_cast<int>(gULMControl.m_KWBBoardCount); }

int ULMConfiguration::GetBoardMajorVersion(int n) {
    return IsOpenBoard(n) ? gULMControl.m_board[n].m_major : -1;
}

int ULMConfiguration::GetBoardMinorVersion(int n) {
    return IsOpenBoard(n) ? gULMControl.m_board[n].m_minor : -1;
}

int ULMConfiguration::GetBoardMajorVersion() { return GetBoardMajorVersion(0); }
int ULMConfiguration::GetBoardMinorVersion() { return GetBoardMinorVersion(0); }
int ULMConfiguration::GetULMMajorVersion() { return kULMMajorVersion; }
int ULMConfiguration::GetULMMinorVersion() { return kULMMinorVersion; }

unsigned int ULMConfiguration::GetAvailableMemory(int n) {
    if (!IsOpenBoard(n)) return 0;
    const uint64_t bytes = gULMControl.m_board[n].m_memorySize;
    return bytes > kMaxAvailableMemory ? kMaxAvailableMemory : static_cast<unsigned>(bytes);
}

int ULMConfiguration::GetGradientTableLength() { return gULMControl.m_KWBGradientLength; }
int ULMConfiguration::GetMaxCutPlanes() { return static_cast<int>(gULMControl.m_KWBCutPlaneCount); }
int ULMConfiguration::GetMaxVolumeFields() { return 4; }
int ULMConfiguration::GetMaxTables() { return 4; }
int ULMConfiguration::GetMaxChannels() { return 4; }
int ULMConfiguration::GetMinVoxelSize() { return 4; }
int ULMConfiguration::GetMaxVoxelSize() { return 32; }
int ULMConfiguration::GetMinFieldSize() { return 4; }
int ULMConfiguration::GetMaxFieldSize() { return 16; }
int ULMConfiguration::GetMaxMipmapLevels() { return 65; }

void ULMConfiguration::GetMaxLockedSize(unsigned voxelSize, unsigned& nx, unsigned& ny,
                                        unsigned& nz) {
    ExtentsFor(voxelSize, gULMControl.m_KWBMaxLock, nx, ny, nz);
}

void ULMConfiguration::GetMaxMappedSize(unsigned voxelSize, unsigned& nx, unsigned& ny,
                                        unsigned& nz) {
    ExtentsFor(voxelSize, gULMControl.m_KWBMaxMap, nx, ny, nz);
}

const char* ULMConfiguration::GetVersionString(VersionType type) {
    switch (type) {
        case kULMVersion:
            // Formatted once, whichever thread asks first.
            std::call_once(sULMVersionOnce, [] {
                ULM_ASSERT(strlen (sULMVersionStringFormat) < sizeof (sULMVersionString) - 1);
                snprintf(sULMVersionString, sizeof sULMVersionString, ULM_VERSION_FORMAT,
                         kReportedBits);
            });
            return sULMVersionString;
        case kDriverWanted:
            return ULMGetBoardServices().GetCompiledDriverVersion();
        case kDriverFound:
            if (gULMControl.m_KWBBoardCount > 0 && gULMControl.m_KWBBoard[0] != nullptr) {
                if (const char* found = ULMGetBoardServices().GetConnectedDriverVersion(0)) {
                    return found;
                }
            }
            return "None";
    }
    return nullptr;
}

ULMStatus ULMConfiguration::GetMemoryUsage(ULMLocation location, uint64_t& total, uint64_t& locked,
                                           uint64_t& unlocked, uint64_t& free) {
    ULMBoardServices& boards = ULMGetBoardServices();
    if (location == kULMAnyBoard) {
        total = locked = unlocked = free = 0;
        for (unsigned i = 0; i < gULMControl.m_KWBBoardCount; ++i) {
            if (gULMControl.m_KWBBoard[i] == nullptr) continue;
            const ULMBoardMemory memory = boards.GetMemory(static_cast<int>(i));
            total += memory.total;
            locked += memory.locked;
            unlocked += memory.unlocked;
            free += memory.free;
        }
        return kULMOK;
    }
    const int n = static_cast<int>(location);
    if (!IsOpenBoard(n) || gULMControl.m_KWBBoard[n] == nullptr) return kULMErrArgument;
    const ULMBoardMemory memory = boards.GetMemory(n);
    total = memory.total;
    locked = memory.locked;
    unlocked = memory.unlocked;
    free = memory.free;
    return kULMOK;
}

}  // namespace ulm3
