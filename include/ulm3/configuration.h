// Read-only queries of the opened hardware and the library's fixed limits.
#pragma once

#include <cstdint>

#include "ulm3/location.h"
#include "ulm3/status.h"

namespace ulm3 {

class ULMConfiguration {
public:
    enum VersionType : int32_t {
        kULMVersion = 0,    // this library
        kDriverWanted = 1,  // the driver interface the library was built for
        kDriverFound = 2,   // the driver of board 0
    };

    virtual ~ULMConfiguration() = default;

    // 0 while the library is not open.
    static int GetNumberOfBoards();
    // Versions of opened board n (board 0 without an argument); -1 for a
    // board that is not open.
    static int GetBoardMajorVersion(int n);
    static int GetBoardMinorVersion(int n);
    static int GetBoardMajorVersion();
    static int GetBoardMinorVersion();
    static int GetULMMajorVersion();
    static int GetULMMinorVersion();
    // Bytes of memory of opened board n, at most 0xFFFFFFFF; 0 for a board
    // that is not open.
    static unsigned int GetAvailableMemory(int n);

    static int GetGradientTableLength();
    static int GetMaxCutPlanes();
    static int GetMaxVolumeFields();
    static int GetMaxTables();
    static int GetMaxChannels();
    // Bits.
    static int GetMinVoxelSize();
    static int GetMaxVoxelSize();
    static int GetMinFieldSize();
    static int GetMaxFieldSize();
    static int GetMaxMipmapLevels();

    // The largest extents a volume of the given voxel size may have when
    // locked on a board or mapped into host memory; zeros for a voxel size
    // other than 1, 2, 3, 8, 16 or 32.
    static void GetMaxLockedSize(unsigned voxelSize, unsigned& nx, unsigned& ny, unsigned& nz);
    static void GetMaxMappedSize(unsigned voxelSize, unsigned& nx, unsigned& ny, unsigned& nz);

    // Null for an unknown type; kDriverFound reads "None" while no board is
    // open. The texts stay valid for the life of the process (kDriverFound
    // until the library closes).
    static const char* GetVersionString(VersionType type);

    // Memory of one opened board, or the sum over every opened board for
    // kULMAnyBoard, in bytes. kULMErrArgument (results untouched) for any
    // other location.
    static ULMStatus GetMemoryUsage(ULMLocation location, uint64_t& total, uint64_t& locked,
                                    uint64_t& unlocked, uint64_t& free);
};

}  // namespace ulm3
