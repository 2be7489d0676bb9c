#include "foundation/field_conversions.h"

#include <algorithm>
#include <cmath>

#include "foundation/chip_code_tables.h"
#include "foundation/fixed_point.h"
#include "foundation/numeric.h"

namespace ulm3 {

namespace {

constexpr double kInverse4095 = 0.0002442002442002442;
constexpr double kInverse255 = 0.00392156862745098;

uint64_t LowMask(int bits) { return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1; }

bool IsNoField(const ULMFieldDescriptor& fd) {
    return fd.m_position == 0 && fd.m_size == 0 && fd.m_format == kULMUnknownFormat;
}

// Position and size are summed in 64 bits so that extreme arguments cannot
// overflow into an accepted field.
bool FitsInElement(const ULMFieldDescriptor& fd, int elementBits) {
    return fd.m_position >= 0 && fd.m_position <= elementBits &&
           int64_t{fd.m_position} + fd.m_size <= elementBits;
}

}  // namespace

bool IsValidFieldFormat(ULMFieldFormat inFormat) {
    return inFormat == kULMUnsignedFraction || inFormat == kULMSignedFraction ||
           inFormat == kULMUnsignedInteger;
}

bool IsValidFieldDescriptor(const ULMFieldDescriptor& inFD, int inMaxSizeBits, int inMaxSizeField) {
    if (IsNoField(inFD)) return true;
    if (!IsValidFieldFormat(inFD.m_format)) return false;
    if (inFD.m_position % 4 != 0 || inFD.m_size % 4 != 0) return false;
    if (inFD.m_size < 4 || inFD.m_size > inMaxSizeField) return false;
    return FitsInElement(inFD, inMaxSizeBits);
}

bool IsValidFieldDescriptorDMA(const ULMFieldDescriptor& inFD, int inElementSizeBits) {
    if (!IsValidFieldFormat(inFD.m_format) || inFD.m_position % 8 != 0) return false;
    const int32_t size = inFD.m_size;
    if (size != 8 && size != 16 && size != 32 && size != 64) return false;
    return FitsInElement(inFD, inElementSizeBits);
}

unsigned HWFieldFormat(const ULMFieldDescriptor& inFD) {
    // A field of no bits is no field; without the check its size code would
    // run into the neighbouring field codes of the register.
    if (inFD.m_format == kULMUnknownFormat || inFD.m_size <= 0) return sIgnoredField;
    return NKW7_FieldCode(NKW7_Code(ULMChipFieldControl(inFD.m_format)), static_cast<uint32_t>(inFD.m_size),
                          inFD.m_position) & 0xFFu;
}

// The same rounding as the unsigned-fraction packer, except that NaN, which
// the packer takes for "above 1", is no meaningful colour and gives 0.
unsigned short ULMConvertFloatTo12(double x) {
    if (x != x) return 0;
    return ULMRationalPackClampedUnsignedRF<unsigned short>(x, 12, kULMRound, 0);
}

unsigned char ULMConvertFloatTo8(double x) {
    if (x != x) return 0;
    return ULMRationalPackClampedUnsignedRF<unsigned char>(x, 8, kULMRound, 0);
}

double ULMConvert12ToFloat(unsigned short x) { return x >= 4095 ? 1.0 : x * kInverse4095; }

double ULMConvert8ToFloat(unsigned char x) { return x >= 255 ? 1.0 : x * kInverse255; }

uint64_t ConvertDoubleToField(double inValue, const ULMFieldDescriptor& inFD, int inMaxSize) {
    if (!IsValidFieldDescriptor(inFD, inMaxSize, 16)) return 0;
    // An element wider than 64 bits can validate a field the word cannot hold.
    if (inFD.m_position >= 64) return 0;
    const uint32_t max = ULMLowBitMask32(static_cast<unsigned>(inFD.m_size));
    const uint32_t value = ULMClampTo(ULMSaturatingTruncate<uint32_t>(inValue * max), max);
    return uint64_t{value} << inFD.m_position;
}

uint64_t ULMStoreElementField(uint64_t inWord, double inValue, const ULMFieldDescriptor& inFD) {
    if (inFD.m_format == kULMUnknownFormat) return inWord;
    if (inValue != inValue) inValue = 0.0;
    uint64_t code = 0;
    if (inFD.m_format == kULMSignedFraction) {
        const double m = static_cast<double>(LowMask(inFD.m_size - 1));
        const double k = std::clamp(std::floor(inValue * m + 0.5), -m, m);
        code = static_cast<uint64_t>(static_cast<int64_t>(k)) & LowMask(inFD.m_size);
    } else {
        const double max = static_cast<double>(LowMask(inFD.m_size));
        code = static_cast<uint64_t>(std::clamp(std::floor(inValue * max + 0.5), 0.0, max));
    }
    return (inWord & ~(LowMask(inFD.m_size) << inFD.m_position)) | code << inFD.m_position;
}

double ULMDecodeElementField(uint64_t inWord, const ULMFieldDescriptor& inFD) {
    if (inFD.m_format == kULMUnknownFormat) return 0.0;
    const uint64_t raw = inWord >> inFD.m_position & LowMask(inFD.m_size);
    if (inFD.m_format != kULMSignedFraction) return static_cast<double>(raw) / LowMask(inFD.m_size);
    const int64_t half = int64_t{1} << (inFD.m_size - 1);
    const int64_t value = static_cast<int64_t>(raw) - (static_cast<int64_t>(raw) >= half ? 2 * half : 0);
    return std::max(-1.0, static_cast<double>(value) / static_cast<double>(half - 1));
}

}  // namespace ulm3
