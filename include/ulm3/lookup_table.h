// The tables a classifier maps voxel fields through.
#pragma once

#include <cstdint>

#include "ulm3/fields.h"
#include "ulm3/shareable.h"
#include "ulm3/status.h"

namespace ulm3 {

// A table of 0, 256 or 4096 entries, each a 64-bit word holding the four
// channels red, green, blue and alpha at the table's field descriptors. A
// table of 0 entries stands for "pass the field through". A new table holds
// a ramp, entry i = i / (n - 1) in every channel. Every change advances the
// serial. Index ranges past the end give kULMErrArgument and change nothing.
// A table may be read and changed from several threads, and shared between
// contexts: a render reads all its entries as one state of the table.
class ULMLookupTable : public ULMShareable {
public:
    // The channels default to 12 bits at bits 4, 20, 36 and 52 (12 bits at
    // bit 0 for a table of 0 entries); given channels must be valid fields
    // of the 64-bit entry, at most 16 bits wide. Null on any other size or
    // descriptor; otherwise one reference for the caller.
    static ULMLookupTable* Create(unsigned inEntries, const ULMFieldDescriptor* inChannels = nullptr);

    virtual unsigned GetSize() const = 0;
    virtual ULMFieldDescriptor GetFieldDescriptor(ULMChannel inChannel) const = 0;

    // Channel values are fractions, clamped to 0..1 as they are stored.
    virtual ULMStatus SetEntry(unsigned inIndex, const ULMRGBAFloat& inColor) = 0;
    virtual ULMStatus GetEntry(unsigned inIndex, ULMRGBAFloat& outColor) const = 0;
    virtual ULMStatus SetEntries(unsigned inFirst, unsigned inCount, const ULMRGBAFloat* inColors) = 0;
    // One channel of entries inFirst..inLast (inclusive) runs linearly from
    // inFrom to inTo.
    virtual ULMStatus SetRamp(ULMChannel inChannel, unsigned inFirst, unsigned inLast, double inFrom,
                              double inTo) = 0;
    // Raw entry words, as the board reads them.
    virtual ULMStatus Update(unsigned inFirst, unsigned inCount, const uint64_t* inEntries) = 0;
    virtual ULMStatus Unload(unsigned inFirst, unsigned inCount, uint64_t* outEntries) const = 0;

    virtual ULMStatus Reserved00();
    virtual ULMStatus Reserved01();
    virtual ULMStatus Reserved02();
    virtual ULMStatus Reserved03();

protected:
    ~ULMLookupTable() override;
};

}  // namespace ulm3
