// Validity rules and chip codes of field descriptors, and conversions
// between doubles and field values.
#pragma once

#include <cstdint>

#include "tulx7/chip_codes.h"
#include "ulm3/fields.h"

namespace ulm3 {

// The chip's field code for "no field".
inline constexpr unsigned sIgnoredField = NKW7_NoFieldCode;

// Only the two fractions and the unsigned integer can be handed to a board.
bool IsValidFieldFormat(ULMFieldFormat inFormat);

// A field inside an element of inMaxSizeBits bits, at most inMaxSizeField
// bits wide, on 4-bit boundaries. The no-field descriptor is valid.
bool IsValidFieldDescriptor(const ULMFieldDescriptor& inFD, int inMaxSizeBits, int inMaxSizeField);

// A field that a host transfer moves by whole bytes: 8, 16, 32 or 64 bits at
// a byte boundary. The no-field descriptor is not valid here.
bool IsValidFieldDescriptorDMA(const ULMFieldDescriptor& inFD, int inElementSizeBits);

// The chip's 8-bit field code: format in bits 7..6, size/4 - 1 in bits 5..4,
// position/4 in bits 3..0; sIgnoredField for a descriptor of unknown format
// or of no bits. Always 8 bits; other descriptors are validated first.
unsigned HWFieldFormat(const ULMFieldDescriptor& inFD);

// Fractions 0..1 to 12 or 8 bits, rounding half up; values at or below 0
// (and NaN) give 0, values at or above 1 the maximum.
unsigned short ULMConvertFloatTo12(double x);
unsigned char ULMConvertFloatTo8(double x);

// Back to fractions; the maximum and anything larger give exactly 1.0.
double ULMConvert12ToFloat(unsigned short x);
double ULMConvert8ToFloat(unsigned char x);

// A fraction placed into its field of a 64-bit element word, truncated (not
// rounded) and clamped to the field. An invalid descriptor, or a field that
// starts beyond bit 63, gives 0.
uint64_t ConvertDoubleToField(double inValue, const ULMFieldDescriptor& inFD, int inMaxSize);

// inWord with one field replaced by a channel as the chip writes an
// element's field: rounded half up and clamped (signed fields to -1..1),
// NaN giving 0. A missing field leaves the word as it is.
uint64_t ULMStoreElementField(uint64_t inWord, double inValue, const ULMFieldDescriptor& inFD);
// The field's fraction read back from an element word; a missing field gives 0.
double ULMDecodeElementField(uint64_t inWord, const ULMFieldDescriptor& inFD);

}  // namespace ulm3
