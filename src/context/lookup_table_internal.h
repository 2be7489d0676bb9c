// The lookup tables behind ULMLookupTable: entries kept as the board's
// 64-bit words.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/locks.h"
#include "ulm3/lookup_table.h"

namespace ulm3 {

class ULMLookupTableInternal : public ULMLookupTable {
public:
    // Null for a size other than 0, 256 or 4096 or a bad channel.
    static ULMLookupTableInternal* Make(unsigned inEntries, const ULMFieldDescriptor* inChannels);

    unsigned GetSize() const override { return static_cast<unsigned>(m_entries.size()); }
    ULMFieldDescriptor GetFieldDescriptor(ULMChannel inChannel) const override;
    ULMStatus SetEntry(unsigned inIndex, const ULMRGBAFloat& inColor) override;
    ULMStatus GetEntry(unsigned inIndex, ULMRGBAFloat& outColor) const override;
    ULMStatus SetEntries(unsigned inFirst, unsigned inCount, const ULMRGBAFloat* inColors) override;
    ULMStatus SetRamp(ULMChannel inChannel, unsigned inFirst, unsigned inLast, double inFrom,
                      double inTo) override;
    ULMStatus Update(unsigned inFirst, unsigned inCount, const uint64_t* inEntries) override;
    ULMStatus Unload(unsigned inFirst, unsigned inCount, uint64_t* outEntries) const override;

    // The table's channels are the 12-bit bypass field (a table of 0 entries
    // passes its field through, and the chip reads this as its format).
    static const ULMFieldDescriptor& BypassDescriptor();

protected:
    ULMLookupTableInternal(unsigned inEntries, const ULMFieldDescriptor* inChannels);
    ~ULMLookupTableInternal() override = default;

private:
    bool InTable(unsigned inFirst, unsigned inCount) const {
        return inFirst <= m_entries.size() && inCount <= m_entries.size() - inFirst;
    }
    void SetChannel(uint64_t& ioEntry, int inChannel, double inValue) const;
    double GetChannel(uint64_t inEntry, int inChannel) const;

    ULMFieldDescriptor m_channels[4];
    // Contexts share a table, and their renders read it while another thread may change it: the entries are read
    // and written whole under the lock.
    mutable ULMMutex m_entriesLock;
    std::vector<uint64_t> m_entries;
};

// The ramp a context makes for itself when it is given no table; it differs
// from a plain table only in its object type.
class ULMLinearLookupTable : public ULMLookupTableInternal {
public:
    static ULMLinearLookupTable* Make(unsigned inEntries);

private:
    explicit ULMLinearLookupTable(unsigned inEntries);
};

}  // namespace ulm3
