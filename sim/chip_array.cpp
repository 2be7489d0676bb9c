#include "chip_array.h"

#include "tulx7/chip_codes.h"

// Every slot's dimensions word has the volume's layout.
static_assert(NKW7_Image0ArrayDimensions_dimension_LoBit == NKW7_VolumeArrayDimensions_dimension_LoBit &&
              NKW7_Depth0ArrayDimensions_elementSize_LoBit == NKW7_VolumeArrayDimensions_elementSize_LoBit &&
              NKW7_Image1ArrayDimensions_wrap_LoBit == NKW7_VolumeArrayDimensions_wrap_LoBit);

namespace tulx7sim::chip {

namespace {

int32_t SignedAxis(uint64_t word, int axis) {
    return static_cast<int16_t>(static_cast<uint16_t>(word >> (16 * axis)));
}

}  // namespace

bool ChipArray::Load(const RegisterFile& registers, const ArrayRegisterAddresses& addresses,
                     const BoundArray& array) {
    *this = ChipArray();
    m_source = &array;
    // Data comes only from a bound buffer; writing a slot's registers from
    // a block does not bind it.
    if (!array.bound || array.data == nullptr) return true;
    uint32_t dimensions = 0;
    registers.Read32(addresses.dimensions, dimensions);
    const auto elementSize = static_cast<uint32_t>(NKW7_ExtractField(
        dimensions, NKW7_VolumeArrayDimensions_elementSize_LoBit, NKW7_VolumeArrayDimensions_elementSize_Size));
    if (elementSize != 0 && elementSize != 1 && elementSize != 3 && elementSize != 7) return false;
    const auto dimension = static_cast<uint32_t>(NKW7_ExtractField(
        dimensions, NKW7_VolumeArrayDimensions_dimension_LoBit, NKW7_VolumeArrayDimensions_dimension_Size));
    m_reservedDimension = dimension == NKW7_Code(NKW7_ArrayDimension::Reserved);
    m_axes = m_reservedDimension ? 3 : static_cast<int>(dimension) + 1;
    m_wrap = NKW7_ExtractField(dimensions, NKW7_VolumeArrayDimensions_wrap_LoBit, 1) != 0;
    m_elementBytes = static_cast<int>(elementSize) + 1;
    const uint64_t size = Reg64(registers, addresses.size);
    const uint64_t offsetModulus = Reg64(registers, addresses.offsetModulus);
    const uint64_t rangeMin = Reg64(registers, addresses.rangeMin);
    const uint64_t rangeMax = Reg64(registers, addresses.rangeMax);
    for (int a = 0; a < 3; ++a) {
        m_size[a] = a < m_axes ? static_cast<int64_t>((size >> (16 * a)) & 0xFFFF) + 1 : 1;
        m_offsetModulus[a] = SignedAxis(offsetModulus, a);
        m_rangeMin[a] = SignedAxis(rangeMin, a);
        m_rangeMax[a] = SignedAxis(rangeMax, a);
    }
    m_bound = true;
    m_read = array.data;
    m_write = array.data;
    m_byteCount = array.byteCount;
    return true;
}

}  // namespace tulx7sim::chip
