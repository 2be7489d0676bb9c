#include "sim_addressing.h"

#include <algorithm>
#include <cstring>

#include "sim_transfer_kernels.h"

namespace tulx7sim {

namespace {

int32_t Component(const Tulx7_dr_buffer_element& e, int axis) {
    return axis == 0 ? e.x : axis == 1 ? e.y : e.z;
}

bool IsWrapModulusMask(int32_t mask) {
    return mask >= 0 && (int64_t{mask} & (int64_t{mask} + 1)) == 0;
}

uint64_t StorageByteIndex(const StorageShape& shape, int64_t qx, int64_t qy, int64_t qz) {
    return ((static_cast<uint64_t>(qz) * static_cast<uint64_t>(shape.size[1]) +
             static_cast<uint64_t>(qy)) *
                static_cast<uint64_t>(shape.size[0]) +
            static_cast<uint64_t>(qx)) *
           static_cast<uint64_t>(shape.elementBytes);
}

bool InStorage(const StorageShape& shape, int axis, int64_t q) {
    return q >= 0 && q < shape.size[axis];
}

}  // namespace

uint64_t BoardBox::ElementCount() const {
    constexpr unsigned __int128 kLimit = static_cast<unsigned __int128>(1) << 56;
    const unsigned __int128 count = static_cast<unsigned __int128>(Extent(0)) *
                                    static_cast<unsigned __int128>(Extent(1)) *
                                    static_cast<unsigned __int128>(Extent(2));
    return static_cast<uint64_t>(count < kLimit ? count : kLimit);
}

int32_t ReadBoardBox(const Tulx7_dr_array_addressing& addressing, const StorageShape& shape,
                     BoardBox& box) {
    if (addressing.wrap != 0 && addressing.wrap != 1) return TULX7_DR_STATUS_ARG_BAD;
    box = BoardBox{};
    box.wrap = addressing.wrap == 1;
    for (int axis = 0; axis < 3; ++axis) {
        const int32_t lo = Component(addressing.subbuffer_min, axis);
        const int32_t hi = Component(addressing.subbuffer_max, axis);
        if (!shape.HasAxis(axis)) {
            if (lo != 0 || hi != 0) return TULX7_DR_STATUS_HW_RANGE_BAD;
            continue;
        }
        if (lo > hi) return TULX7_DR_STATUS_HW_RANGE_BAD;
        const int32_t om = Component(addressing.offset_modulus, axis);
        if (box.wrap && om != -1 && !IsWrapModulusMask(om)) return TULX7_DR_STATUS_ARG_BAD;
        box.min[axis] = lo;
        box.max[axis] = hi;
        box.offsetModulus[axis] = om;
    }
    return TULX7_DR_STATUS_SUCCESS;
}

int64_t StorageCoordinate(const BoardBox& box, const StorageShape& shape, int axis, int64_t p) {
    if (!shape.HasAxis(axis)) return 0;
    const int32_t om = box.offsetModulus[axis];
    if (!box.wrap) return p - om;
    if (om == -1) return p;
    return p & om;
}

bool BoxInsideStorage(const BoardBox& box, const StorageShape& shape) {
    for (int axis = 0; axis <= shape.dimension; ++axis) {
        const int32_t om = box.offsetModulus[axis];
        int64_t lowest = 0;
        int64_t highest = 0;
        if (!box.wrap || om == -1) {
            lowest = StorageCoordinate(box, shape, axis, box.min[axis]);
            highest = StorageCoordinate(box, shape, axis, box.max[axis]);
        } else {
            // Coordinates modulo om+1: the box reaches om unless it stays
            // inside one period.
            const int64_t start = box.min[axis] & om;
            const bool staysInPeriod =
                box.Extent(axis) <= int64_t{om} + 1 && start + box.Extent(axis) - 1 <= om;
            lowest = staysInPeriod ? start : 0;
            highest = staysInPeriod ? start + box.Extent(axis) - 1 : om;
        }
        if (!InStorage(shape, axis, lowest) || !InStorage(shape, axis, highest)) return false;
    }
    return true;
}

int64_t ContiguousRun(const BoardBox& box, int64_t p, int64_t n) {
    const int32_t om = box.offsetModulus[0];
    if (!box.wrap || om == -1) return n;
    return std::min<int64_t>(n, int64_t{om} + 1 - (p & om));
}

namespace {

// A run of whole elements, or of one field of each, between board and
// host: pieces of contiguous bytes on both sides are gathered into one copy.
class RunMover {
public:
    RunMover(const RowKernel& kernel, const FieldLayout& field, bool toBoard)
        : m_kernel(kernel), m_element(field.elementBytes), m_bytes(field.fieldBytes),
          m_alignment(field.alignment), m_toBoard(toBoard) {}
    ~RunMover() { Flush(); }

    // `board` is the field of the run's first element.
    void Move(uint8_t* board, uint8_t* host, int64_t count) {
        if (m_count > 0 && board == m_board + m_count * m_element && host == m_host + m_count * m_bytes) {
            m_count += count;
            return;
        }
        Flush();
        m_board = board;
        m_host = host;
        m_count = count;
    }

    void Flush() {
        if (m_count == 0) return;
        RowsOfElements run;
        run.board = m_board - m_alignment;
        run.host = m_host;
        run.count = m_count;
        m_count = 0;
        m_kernel.Move(run, m_toBoard);
    }

private:
    const RowKernel& m_kernel;
    int64_t m_element, m_bytes, m_alignment;
    bool m_toBoard;
    // The pending run.
    uint8_t* m_board = nullptr;
    uint8_t* m_host = nullptr;
    int64_t m_count = 0;
};

// An unwrapped box inside storage: every side steps by fixed strides, so
// rows (and planes) that follow each other on both sides merge into one,
// and each plane's rows go to the kernel in one call.
uint64_t MovePlanes(const BoardBox& box, const StorageShape& shape, uint8_t* storage,
                    const RowKernel& kernel, const HostLayout& host, bool toBoard) {
    const int64_t h = host.elementBytes;
    const int64_t eb = shape.elementBytes;
    RowsOfElements plane;
    plane.count = box.Extent(0);
    plane.rows = box.Extent(1);
    int64_t planes = box.Extent(2);
    plane.boardStride = static_cast<int64_t>(StorageByteIndex(shape, 0, 1, 0));
    plane.hostStride = host.row * h;
    int64_t boardSlice = static_cast<int64_t>(StorageByteIndex(shape, 0, 0, 1));
    int64_t hostSlice = host.slice * host.row * h;
    const uint64_t moved = static_cast<uint64_t>(planes * plane.rows * plane.count * h);
    if (plane.boardStride == plane.count * eb && plane.hostStride == plane.count * h) {
        plane.count *= plane.rows;
        plane.rows = 1;
        if (boardSlice == plane.count * eb && hostSlice == plane.count * h) {
            plane.count *= planes;
            planes = 1;
        }
    }
    if (plane.rows == 1) {
        // Planes of one row: step over the planes as rows.
        plane.rows = planes;
        plane.boardStride = boardSlice;
        plane.hostStride = hostSlice;
        planes = 1;
        boardSlice = hostSlice = 0;
    }
    uint8_t* const boardFirst =
        storage + StorageByteIndex(shape, StorageCoordinate(box, shape, 0, box.min[0]),
                                   StorageCoordinate(box, shape, 1, box.min[1]),
                                   StorageCoordinate(box, shape, 2, box.min[2]));
    uint8_t* const hostFirst =
        host.base + ((host.first[2] * host.slice + host.first[1]) * host.row + host.first[0]) * h;
    for (int64_t k = 0; k < planes; ++k) {
        plane.board = boardFirst + k * boardSlice;
        plane.host = hostFirst + k * hostSlice;
        kernel.Move(plane, toBoard);
    }
    return moved;
}

}  // namespace

uint64_t MoveElements(const BoardBox& box, const StorageShape& shape, uint8_t* storage,
                      int32_t alignment, const HostLayout& host, MoveDirection direction,
                      bool clip) {
    const int64_t h = host.elementBytes;
    const int64_t eb = shape.elementBytes;
    const bool toBoard = direction == MoveDirection::kHostToBoard;
    const FieldLayout field{eb, h, alignment};
    const RowKernel kernel(field);
    if (!box.wrap && !clip) return MovePlanes(box, shape, storage, kernel, host, toBoard);
    RunMover mover(kernel, field, toBoard);
    uint64_t moved = 0;
    for (int64_t z = box.min[2]; z <= box.max[2]; ++z) {
        const int64_t qz = StorageCoordinate(box, shape, 2, z);
        const int64_t hz = host.first[2] + (z - box.min[2]);
        for (int64_t y = box.min[1]; y <= box.max[1]; ++y) {
            const int64_t qy = StorageCoordinate(box, shape, 1, y);
            const int64_t hy = host.first[1] + (y - box.min[1]);
            uint8_t* hostRow = host.base + ((hz * host.slice + hy) * host.row + host.first[0]) * h;
            const bool rowInStorage = InStorage(shape, 1, qy) && InStorage(shape, 2, qz);
            if (!rowInStorage) {
                // Only a clipped move gets here.
                mover.Flush();
                if (!toBoard) std::memset(hostRow, 0, static_cast<size_t>(box.Extent(0) * h));
                continue;
            }
            int64_t x = box.min[0];
            while (x <= box.max[0]) {
                const int64_t n = ContiguousRun(box, x, box.max[0] - x + 1);
                const int64_t qx = StorageCoordinate(box, shape, 0, x);
                uint8_t* hostRun = hostRow + (x - box.min[0]) * h;
                if (clip && (!InStorage(shape, 0, qx) || !InStorage(shape, 0, qx + n - 1))) {
                    mover.Flush();  // in order, should the box alias itself
                    for (int64_t i = 0; i < n; ++i) {
                        uint8_t* hostElement = hostRun + i * h;
                        if (!InStorage(shape, 0, qx + i)) {
                            if (!toBoard) std::memset(hostElement, 0, static_cast<size_t>(h));
                            continue;
                        }
                        uint8_t* boardElement =
                            storage + StorageByteIndex(shape, qx + i, qy, qz) + alignment;
                        if (toBoard)
                            std::memcpy(boardElement, hostElement, static_cast<size_t>(h));
                        else
                            std::memcpy(hostElement, boardElement, static_cast<size_t>(h));
                    }
                } else {
                    mover.Move(storage + StorageByteIndex(shape, qx, qy, qz) + alignment, hostRun, n);
                }
                moved += static_cast<uint64_t>(n * h);
                x += n;
            }
        }
    }
    mover.Flush();
    return moved;
}

uint64_t CopyBetweenBoxes(const BoardBox& source, const StorageShape& sourceShape,
                          const uint8_t* sourceData, const BoardBox& destination,
                          const StorageShape& destinationShape, uint8_t* destinationData,
                          const int64_t extent[3]) {
    const int64_t eb = sourceShape.elementBytes;
    uint64_t moved = 0;
    for (int64_t k = 0; k < extent[2]; ++k) {
        const int64_t sz = StorageCoordinate(source, sourceShape, 2, source.min[2] + k);
        const int64_t dz = StorageCoordinate(destination, destinationShape, 2, destination.min[2] + k);
        for (int64_t j = 0; j < extent[1]; ++j) {
            const int64_t sy = StorageCoordinate(source, sourceShape, 1, source.min[1] + j);
            const int64_t dy =
                StorageCoordinate(destination, destinationShape, 1, destination.min[1] + j);
            int64_t i = 0;
            while (i < extent[0]) {
                const int64_t sp = source.min[0] + i;
                const int64_t dp = destination.min[0] + i;
                const int64_t n =
                    ContiguousRun(destination, dp, ContiguousRun(source, sp, extent[0] - i));
                const int64_t sx = StorageCoordinate(source, sourceShape, 0, sp);
                const int64_t dx = StorageCoordinate(destination, destinationShape, 0, dp);
                std::memcpy(destinationData + StorageByteIndex(destinationShape, dx, dy, dz),
                            sourceData + StorageByteIndex(sourceShape, sx, sy, sz),
                            static_cast<size_t>(n * eb));
                moved += static_cast<uint64_t>(n * eb);
                i += n;
            }
        }
    }
    return moved;
}

bool HostSpan(const BoardBox& box, const HostLayout& host, uint64_t& first, uint64_t& end) {
    using Wide = unsigned __int128;
    const Wide h = static_cast<Wide>(host.elementBytes);
    const Wide row = static_cast<Wide>(host.row);
    const Wide slice = static_cast<Wide>(host.slice);
    const Wide lastX = static_cast<Wide>(host.first[0] + box.Extent(0) - 1);
    const Wide lastY = static_cast<Wide>(host.first[1] + box.Extent(1) - 1);
    const Wide lastZ = static_cast<Wide>(host.first[2] + box.Extent(2) - 1);
    const Wide lo = ((static_cast<Wide>(host.first[2]) * slice + static_cast<Wide>(host.first[1])) *
                         row +
                     static_cast<Wide>(host.first[0])) *
                    h;
    const Wide hi = ((lastZ * slice + lastY) * row + lastX + 1) * h;
    constexpr Wide kLimit = Wide{1} << 47;
    if (hi > kLimit) return false;
    first = static_cast<uint64_t>(lo);
    end = static_cast<uint64_t>(hi);
    return true;
}

}  // namespace tulx7sim
