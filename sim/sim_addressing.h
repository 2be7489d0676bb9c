// Where the elements of a request's board box live in a buffer's storage,
// and the element moves of loads, unloads, board-to-board copies and mapping
// copies. Pure functions over checked boxes: no locks, no driver state.
#pragma once

#include <cstdint>

#include "tulx7/driver_requests.h"

namespace tulx7sim {

// The geometry of one buffer's storage. Absent axes have size 1.
struct StorageShape {
    int dimension = 0;  // axes - 1
    int elementBytes = 1;
    int32_t size[3] = {1, 1, 1};

    bool HasAxis(int axis) const { return axis <= dimension; }
    uint64_t ElementCount() const {
        return static_cast<uint64_t>(size[0]) * static_cast<uint64_t>(size[1]) *
               static_cast<uint64_t>(size[2]);
    }
};

// A request's board box, read against a buffer. Absent axes are 0..0 with
// offset 0.
struct BoardBox {
    int32_t min[3] = {};
    int32_t max[3] = {};
    int32_t offsetModulus[3] = {};
    bool wrap = false;

    int64_t Extent(int axis) const { return int64_t{max[axis]} - min[axis] + 1; }
    // Saturates at 2^56, far above anything a request may move, so that
    // callers can multiply by an element size without overflow.
    uint64_t ElementCount() const;
};

// Reads a record's addressing for a buffer of `shape`: each present axis
// needs min <= max, an absent axis 0..0; a wrap modulus must be a power of
// two (or 0, stored as -1, which leaves the axis unwrapped). Returns a driver
// status.
int32_t ReadBoardBox(const Tulx7_dr_array_addressing& addressing, const StorageShape& shape,
                     BoardBox& box);

// True when every element of the box lies in storage.
bool BoxInsideStorage(const BoardBox& box, const StorageShape& shape);

// The storage coordinate of board coordinate p on one axis; outside
// 0..size-1 when the box runs past the storage.
int64_t StorageCoordinate(const BoardBox& box, const StorageShape& shape, int axis, int64_t p);

// How many elements from p on along U (at most n) have consecutive storage
// coordinates: the run ends at a wrap boundary.
int64_t ContiguousRun(const BoardBox& box, int64_t p, int64_t n);

// A host array as a transfer sees it: rows of `row` elements of
// `elementBytes`, `slice` rows per slice, the box's first element at host
// element `first`.
struct HostLayout {
    uint8_t* base = nullptr;
    int32_t elementBytes = 1;
    int64_t row = 0;
    int64_t slice = 0;
    int64_t first[3] = {};
};

enum class MoveDirection { kHostToBoard, kBoardToHost };

// Moves the box's field (elementBytes of the host layout at byte
// `alignment` of each board element) between host and storage; returns the
// host bytes moved. With `clip`, elements outside storage are skipped on the
// way in and read as 0 on the way out; without it the box must lie inside.
uint64_t MoveElements(const BoardBox& box, const StorageShape& shape, uint8_t* storage,
                      int32_t alignment, const HostLayout& host, MoveDirection direction,
                      bool clip);

// Copies an extent of whole elements from the source box's first corner to
// the destination box's first corner; both boxes lie inside their storage.
uint64_t CopyBetweenBoxes(const BoardBox& source, const StorageShape& sourceShape,
                          const uint8_t* sourceData, const BoardBox& destination,
                          const StorageShape& destinationShape, uint8_t* destinationData,
                          const int64_t extent[3]);

// Host byte span [first, end) that a transfer of the box touches, relative
// to the layout's base; false when it does not fit 47 bits.
bool HostSpan(const BoardBox& box, const HostLayout& host, uint64_t& first, uint64_t& end);

}  // namespace tulx7sim
