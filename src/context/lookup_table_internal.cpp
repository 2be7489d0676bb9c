// Lookup-table entries: fractions packed into the channels' fields.
#include "context/lookup_table_internal.h"

#include <cmath>
#include <new>

#include "context/context_upper_layers.h"
#include "context/state_checks.h"
#include "foundation/field_conversions.h"
#include "foundation/shareable.h"

namespace ulm3 {

namespace {

constexpr int kEntryBits = 64;
constexpr int kMaxChannelBits = 16;

bool ValidSize(unsigned n) { return n == 0 || n == 256 || n == 4096; }

const ULMFieldDescriptor kDefaultChannels[4] = {
    {4, 12, kULMUnsignedFraction},
    {20, 12, kULMUnsignedFraction},
    {36, 12, kULMUnsignedFraction},
    {52, 12, kULMUnsignedFraction},
};

uint64_t FieldMask(const ULMFieldDescriptor& fd) {
    if (fd.m_size <= 0) return 0;
    return ((uint64_t{1} << fd.m_size) - 1) << fd.m_position;
}

}  // namespace

ULMLookupTable::~ULMLookupTable() { ULMTellTableGone(GetObjectID()); }
ULMStatus ULMLookupTable::Reserved00() { return kULMErrUnimplemented; }
ULMStatus ULMLookupTable::Reserved01() { return kULMErrUnimplemented; }
ULMStatus ULMLookupTable::Reserved02() { return kULMErrUnimplemented; }
ULMStatus ULMLookupTable::Reserved03() { return kULMErrUnimplemented; }

ULMLookupTable* ULMLookupTable::Create(unsigned inEntries, const ULMFieldDescriptor* inChannels) {
    ULMLookupTable* table = ULMLookupTableInternal::Make(inEntries, inChannels);
    if (table) table->AddRef();
    return table;
}

const ULMFieldDescriptor& ULMLookupTableInternal::BypassDescriptor() {
    static const ULMFieldDescriptor sBypass(0, 12, kULMUnsignedFraction);
    return sBypass;
}

ULMLookupTableInternal* ULMLookupTableInternal::Make(unsigned inEntries,
                                                     const ULMFieldDescriptor* inChannels) {
    if (!ValidSize(inEntries)) return nullptr;
    if (inChannels)
        for (int i = 0; i < 4; ++i)
            if (!IsValidFieldDescriptor(inChannels[i], kEntryBits, kMaxChannelBits)) return nullptr;
    return new (std::nothrow) ULMLookupTableInternal(inEntries, inChannels);
}

ULMLookupTableInternal::ULMLookupTableInternal(unsigned inEntries, const ULMFieldDescriptor* inChannels)
    : m_entries(inEntries) {
    SetObjectType(this, kObjectTypeULMLookupTableInternal);
    for (int i = 0; i < 4; ++i)
        m_channels[i] = inChannels       ? inChannels[i]
                        : inEntries == 0 ? BypassDescriptor()
                                         : kDefaultChannels[i];
    for (unsigned e = 0; e < inEntries; ++e)
        for (int c = 0; c < 4; ++c) SetChannel(m_entries[e], c, static_cast<double>(e) / (inEntries - 1));
}

ULMFieldDescriptor ULMLookupTableInternal::GetFieldDescriptor(ULMChannel inChannel) const {
    if (inChannel < kULMChannelRed || inChannel > kULMChannelAlpha) return ULMFieldDescriptor();
    return m_channels[inChannel];
}

// Rounded to the nearest step of the field, so that a value read back and
// stored again keeps its word.
void ULMLookupTableInternal::SetChannel(uint64_t& ioEntry, int inChannel, double inValue) const {
    const ULMFieldDescriptor& fd = m_channels[inChannel];
    if (fd.m_format == kULMUnknownFormat) return;
    const double max = static_cast<double>((uint64_t{1} << fd.m_size) - 1);
    const double step = 0.5 / max;
    const double v = std::isnan(inValue) ? 0.0 : inValue < 0.0 ? 0.0 : inValue > 1.0 ? 1.0 : inValue;
    ioEntry =
        (ioEntry & ~FieldMask(fd)) | ConvertDoubleToField(v + step > 1.0 ? 1.0 : v + step, fd, kEntryBits);
}

double ULMLookupTableInternal::GetChannel(uint64_t inEntry, int inChannel) const {
    const ULMFieldDescriptor& fd = m_channels[inChannel];
    if (fd.m_format == kULMUnknownFormat) return 0.0;
    const uint64_t max = (uint64_t{1} << fd.m_size) - 1;
    return static_cast<double>((inEntry >> fd.m_position) & max) / static_cast<double>(max);
}

ULMStatus ULMLookupTableInternal::SetEntry(unsigned inIndex, const ULMRGBAFloat& inColor) {
    return SetEntries(inIndex, 1, &inColor);
}

ULMStatus ULMLookupTableInternal::GetEntry(unsigned inIndex, ULMRGBAFloat& outColor) const {
    if (!InTable(inIndex, 1)) return kULMErrArgument;
    ULMScopedLock hold(m_entriesLock);
    const uint64_t e = m_entries[inIndex];
    outColor = ULMRGBAFloat(static_cast<float>(GetChannel(e, 0)), static_cast<float>(GetChannel(e, 1)),
                            static_cast<float>(GetChannel(e, 2)), static_cast<float>(GetChannel(e, 3)));
    return kULMOK;
}

ULMStatus ULMLookupTableInternal::SetEntries(unsigned inFirst, unsigned inCount,
                                             const ULMRGBAFloat* inColors) {
    if (!inColors || !InTable(inFirst, inCount)) return kULMErrArgument;
    ULMScopedLock hold(m_entriesLock);
    for (unsigned i = 0; i < inCount; ++i) {
        const ULMRGBAFloat& c = inColors[i];
        uint64_t& e = m_entries[inFirst + i];
        SetChannel(e, 0, c.m_red);
        SetChannel(e, 1, c.m_green);
        SetChannel(e, 2, c.m_blue);
        SetChannel(e, 3, c.m_alpha);
    }
    IncSerial();
    return kULMOK;
}

ULMStatus ULMLookupTableInternal::SetRamp(ULMChannel inChannel, unsigned inFirst, unsigned inLast,
                                          double inFrom, double inTo) {
    if (inChannel < kULMChannelRed || inChannel > kULMChannelAlpha || inLast < inFirst ||
        !InTable(inFirst, inLast - inFirst + 1) || !AllFinite({inFrom, inTo}))
        return kULMErrArgument;
    const unsigned steps = inLast - inFirst;
    ULMScopedLock hold(m_entriesLock);
    for (unsigned i = 0; i <= steps; ++i) {
        const double t = steps == 0 ? 0.0 : static_cast<double>(i) / steps;
        SetChannel(m_entries[inFirst + i], inChannel, inFrom + (inTo - inFrom) * t);
    }
    IncSerial();
    return kULMOK;
}

ULMStatus ULMLookupTableInternal::Update(unsigned inFirst, unsigned inCount, const uint64_t* inEntries) {
    if (!inEntries || !InTable(inFirst, inCount)) return kULMErrArgument;
    ULMScopedLock hold(m_entriesLock);
    for (unsigned i = 0; i < inCount; ++i) m_entries[inFirst + i] = inEntries[i];
    IncSerial();
    return kULMOK;
}

ULMStatus ULMLookupTableInternal::Unload(unsigned inFirst, unsigned inCount, uint64_t* outEntries) const {
    if (!outEntries || !InTable(inFirst, inCount)) return kULMErrArgument;
    ULMScopedLock hold(m_entriesLock);
    for (unsigned i = 0; i < inCount; ++i) outEntries[i] = m_entries[inFirst + i];
    return kULMOK;
}

ULMLinearLookupTable* ULMLinearLookupTable::Make(unsigned inEntries) {
    if (!ValidSize(inEntries) || inEntries == 0) return nullptr;
    return new (std::nothrow) ULMLinearLookupTable(inEntries);
}

ULMLinearLookupTable::ULMLinearLookupTable(unsigned inEntries) : ULMLookupTableInternal(inEntries, nullptr) {
    SetObjectType(this, kObjectTypeULMLinearLookupTable);
}

}  // namespace ulm3
