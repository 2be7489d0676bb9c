// The inner loops of loads and unloads: rows of whole elements, and one
// field of each element, moved between board storage and host memory.
// Pure functions over raw pointers; the instruction set is the chip's.
#pragma once

#include <cstdint>
#include <memory>

namespace tulx7sim {

// What moves between the two sides: `fieldBytes` bytes at byte `alignment`
// of each `elementBytes`-byte board element, packed on the host. A field as
// wide as its element moves whole elements.
struct FieldLayout {
    int64_t elementBytes = 1;
    int64_t fieldBytes = 1;
    int64_t alignment = 0;

    bool Whole() const { return fieldBytes == elementBytes; }
};

// A plane of `rows` rows of `count` elements, each side stepping by its own
// row stride in bytes. `board` points at the first element (not its field).
struct RowsOfElements {
    uint8_t* board = nullptr;
    int64_t boardStride = 0;
    uint8_t* host = nullptr;
    int64_t hostStride = 0;
    int64_t count = 0;
    int64_t rows = 1;
};

class FieldShuffle;

// The loops for one field layout on the chip's instruction set, chosen once
// per transfer.
class RowKernel {
public:
    explicit RowKernel(const FieldLayout& field);
    ~RowKernel();
    RowKernel(const RowKernel&) = delete;
    RowKernel& operator=(const RowKernel&) = delete;

    // Moves the plane's fields host to board (the elements' other bytes
    // stay) or board to host. The rows of one side must not overlap those
    // of the other.
    void Move(const RowsOfElements& plane, bool toBoard) const;

private:
    FieldLayout m_field;
    bool m_vector;
    std::unique_ptr<const FieldShuffle> m_shuffle;  // when the field fits one
};

}  // namespace tulx7sim
