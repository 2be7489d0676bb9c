// Bricks of a volume built from its host data, the box of those its tables
// can show, and the trims and skip that keep a render inside that box.
#include "render/space_leaping.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "board/kwb_render_submission.h"
#include "board/ulm_all_render_registers.h"
#include "foundation/control.h"
#include "foundation/field_conversions.h"
#include "foundation/transform_register.h"
#include "render/render_programme.h"
#include "render/ulm_sample_space.h"
#include "render/volume_render_state.h"
#include "tulx7/chip_codes.h"
#include "ulm3/context.h"
#include "ulm3/lookup_table.h"
#include "volume/volume_internal.h"

namespace ulm3 {
namespace {

constexpr int32_t kFull = 65535;
// Sums and differences are bounded in double while the chip adds in float:
// a bound is widened by this much so that rounding never crosses it.
constexpr double kSlack = 1e-6;

bool IsSignedCode(uint32_t inCode) {
    inCode &= NKW7_FieldCodeMask;
    return inCode != NKW7_NoFieldCode &&
           NKW7_FieldCodeControl(inCode) == NKW7_Code(NKW7_FieldControl::SignedFraction);
}

// The chip's channel value of a field (by its field code) of a voxel or
// table word.
int32_t ChannelValue(uint32_t inCode, uint64_t inWord) {
    inCode &= NKW7_FieldCodeMask;
    if (inCode == NKW7_NoFieldCode) return 0;
    const int bits = static_cast<int>(NKW7_FieldCodeSizeBits(inCode));
    const uint64_t raw = (inWord >> NKW7_FieldCodeShift(inCode)) & ((uint64_t{1} << bits) - 1);
    if (!IsSignedCode(inCode)) {
        switch (bits) {
            case 4:
                return static_cast<int32_t>(raw * 4369);
            case 8:
                return static_cast<int32_t>(raw * 257);
            case 12:
                return static_cast<int32_t>((2 * raw * kFull + 4095) / 8190);
            default:
                return static_cast<int32_t>(raw);
        }
    }
    int64_t s = static_cast<int64_t>(raw);
    if (raw >> (bits - 1)) s -= int64_t{1} << bits;
    const int64_t top = (int64_t{1} << (bits - 1)) - 1;
    const int64_t magnitude = std::min<int64_t>((2 * std::llabs(s) * kFull + top) / (2 * top), kFull);
    return static_cast<int32_t>(s < 0 ? -magnitude : magnitude);
}

// Bounds of one alpha on its way through the classifier.
struct Span {
    double lo, hi;
};

Span Clamp01(Span a) { return {std::clamp(a.lo, 0.0, 1.0), std::clamp(a.hi, 0.0, 1.0)}; }
Span Not(Span a) { return {1.0 - a.hi, 1.0 - a.lo}; }
Span Add(Span a, Span b) { return {a.lo + b.lo - kSlack, a.hi + b.hi + kSlack}; }
Span Sub(Span a, Span b) { return Add(a, {-b.hi, -b.lo}); }
Span Min(Span a, Span b) { return {std::min(a.lo, b.lo), std::min(a.hi, b.hi)}; }
Span Max(Span a, Span b) { return {std::max(a.lo, b.lo), std::max(a.hi, b.hi)}; }
// A product's sign survives float rounding, so no slack: an exact zero stays one.
Span Mul(Span a, Span b) {
    const double p[4] = {a.lo * b.lo, a.lo * b.hi, a.hi * b.lo, a.hi * b.hi};
    return {*std::min_element(p, p + 4), *std::max_element(p, p + 4)};
}

// The alpha operator of one ALU over bounds, as the chip defines each code;
// the bitwise codes are bounded by [0, 1].
Span AluSpan(uint32_t inOp, Span a, Span b) {
    if (inOp == 0 || inOp >= 64) return {0, 0};
    if (inOp == 15) return {1, 1};
    if (inOp == 3) return a;
    if (inOp == 5) return b;
    if (inOp < 16) return {0, 1};
    const Span na = Not(a), nb = Not(b);
    switch (inOp) {
        case 16:
            return Clamp01(Add(a, b));
        case 17:
            return Clamp01(Add(a, nb));
        case 18:
            return Clamp01(Add(na, b));
        case 19:
            return Clamp01(Add(na, nb));
        case 20:
            return Clamp01(Sub(na, b));
        case 21:
            return Clamp01(Sub(b, a));
        case 22:
            return Clamp01(Sub(a, b));
        case 23:
            return Clamp01(Sub(Add(a, b), {1, 1}));
        case 24:
            return Clamp01(Min(a, b));
        case 25:
            return Clamp01(Min(a, nb));
        case 26:
            return Clamp01(Min(na, b));
        case 27:
            return Clamp01(Min(na, nb));
        case 28:
            return Clamp01(Max(na, nb));
        case 29:
            return Clamp01(Max(na, b));
        case 30:
            return Clamp01(Max(a, nb));
        case 31:
            return Clamp01(Max(a, b));
        default:
            break;
    }
    const Span x = (inOp & 2) ? na : a, y = (inOp & 1) ? nb : b;
    const double scale = static_cast<double>(1u << (((inOp - 32) >> 2) & 3));
    const Span scaled = Mul(Mul(x, y), {scale, scale});
    return Clamp01(inOp < 48 ? scaled : Sub({1, 1}, scaled));
}

// The alphas the chip reads from one table slot, indexed as it indexes
// them (slot 3 by 12 bits, a 256-entry table there repeated 16 times);
// entries past the table read 0. At a sample distance other than 1 the
// classified alpha comes from one table corrected for it, stored back into
// its field: bounded here by the correction plus one step of the field.
std::vector<double> SlotAlphas(const ULMLookupTable& inTable, int inSlot, uint32_t inFormat, double inSampleDistance) {
    const unsigned n = inTable.GetSize();
    std::vector<uint64_t> words(n);
    if (inTable.Unload(0, n, words.data()) != kULMOK) words.assign(n, ~uint64_t{0});
    const unsigned capacity = inSlot == 3 ? 4096 : 256;
    std::vector<double> alphas(capacity, 0.0);
    for (unsigned e = 0; e < capacity; ++e) {
        const unsigned source = inSlot == 3 && n == 256 ? e >> 4 : e;
        if (source < n) alphas[e] = ChannelValue(NKW7_FieldCodeOf(inFormat, 3), words[source]) / double{kFull};
    }
    if (inSampleDistance != 1.0) {
        const double step = 1.0 / double((1u << NKW7_FieldCodeSizeBits(NKW7_FieldCodeOf(inFormat, 3))) - 1);
        for (double& a : alphas)
            if (a > 0.0) a = std::min(1.0, 1.0 - std::pow(1.0 - std::min(a, 1.0), inSampleDistance) + step);
    }
    return alphas;
}

unsigned TableIndex(int inSlot, bool inSigned, int32_t inValue) {
    const auto u = static_cast<uint32_t>(inSigned ? (inValue + 65536) >> 1 : inValue);
    return u >> (inSlot == 3 ? 4 : 8);
}

void ToArray(const ULMVolumeRange& inRange, int32_t out[6]) {
    for (int a = 0; a < 3; ++a) out[a] = inRange.m_origin[a], out[3 + a] = inRange.m_size[a];
}

// Per axis, the bricks whose footprint (the brick and one voxel either side)
// holds each coordinate of the mapped box: one or two.
struct AxisBricks {
    std::vector<int> first, last;
};

AxisBricks BricksOfAxis(int inMapOrigin, int inMapSize, int inBrickOrigin, int inBrickSize, int inSide, int inCount) {
    AxisBricks axis;
    for (int i = 0; i < inMapSize; ++i) {
        const int rel = inMapOrigin + i - inBrickOrigin;
        // Brick b holds voxels [b s - 1, b s + s] of its footprint, clipped to the bricked range's ends.
        int lo = (rel - 1 + inSide * 4) / inSide - 4, hi = (rel + 1 + inSide * 4) / inSide - 4;
        lo = std::max(lo, 0), hi = std::min(hi, inCount - 1);
        if (rel < -1 || rel > inBrickSize) lo = 1, hi = 0;
        axis.first.push_back(lo);
        axis.last.push_back(hi);
    }
    return axis;
}

// Builds every brick's values from the host data; false when the data
// cannot be read.
bool BuildBricks(const ULMVolumeInternal& inVolume, uint64_t inVoxelFormat, ULMSpaceLeaping& ioState) {
    const int32_t* r = ioState.m_bricked;
    const int side = ioState.m_brickSize;
    size_t count = 1;
    for (int a = 0; a < 3; ++a) count *= static_cast<size_t>(ioState.m_brickCounts[a] = (r[3 + a] + side - 1) / side);
    ioState.m_bricks.assign(count, ULMBrickValues{});
    for (ULMBrickValues& b : ioState.m_bricks)
        for (int i = 0; i < 4; ++i) b.lo[i] = kFull + 1, b.hi[i] = -kFull - 1;

    ULMVolumeRange map(r[3] + 2, r[4] + 2, r[5] + 2, r[0] - 1, r[1] - 1, r[2] - 1);
    map.Intersect(inVolume.GetRange());
    ULMVolumeSource* source = inVolume.GetSource();
    void* base = nullptr;
    unsigned yStride = 0, zStride = 0;
    if (source->MapVoxels(map, 0, &base, &yStride, &zStride) != kULMOK || base == nullptr) return false;
    AxisBricks axes[3];
    for (int a = 0; a < 3; ++a)
        axes[a] = BricksOfAxis(map.m_origin[a], map.m_size[a], r[a], r[3 + a], side, ioState.m_brickCounts[a]);
    const size_t bytes = static_cast<size_t>(inVolume.GetVoxelSize() / 8);
    const auto* voxels = static_cast<const unsigned char*>(base);
    int32_t value[4] = {};
    for (int z = 0; z < map.ZSize(); ++z) {
        for (int y = 0; y < map.YSize(); ++y) {
            const unsigned char* row =
                voxels + (static_cast<size_t>(z) * zStride + static_cast<size_t>(y)) * yStride * bytes;
            for (int x = 0; x < map.XSize(); ++x) {
                uint64_t word = 0;
                std::memcpy(&word, row + size_t(x) * bytes, bytes);
                for (int i = 0; i < 4; ++i)
                    value[i] = ChannelValue(NKW7_FieldCodeOf(inVoxelFormat, i), word);
                for (int bz = axes[2].first[z]; bz <= axes[2].last[z]; ++bz)
                    for (int by = axes[1].first[y]; by <= axes[1].last[y]; ++by)
                        for (int bx = axes[0].first[x]; bx <= axes[0].last[x]; ++bx) {
                            ULMBrickValues& b =
                                ioState
                                    .m_bricks[(size_t(bz) * ioState.m_brickCounts[1] + by) * ioState.m_brickCounts[0] +
                                              bx];
                            for (int i = 0; i < 4; ++i)
                                b.lo[i] = std::min(b.lo[i], value[i]), b.hi[i] = std::max(b.hi[i], value[i]);
                        }
            }
        }
    }
    source->ReleaseVoxels(base);
    return true;
}

// The largest alpha any sample of a brick can classify to, before the
// threshold: the tables' alphas over the brick's values, through the ALUs.
// Magnitude modulation only scales alpha down and the light stages leave it
// alone.
double BrickAlpha(const ULMBrickValues& inBrick, const ULMRenderInputs& inInputs,
                  const std::vector<double> (&inAlphas)[4]) {
    const ULMClassifierRegisters& c = inInputs.classifier;
    Span looked[4];
    for (int i = 0; i < 4; ++i) {
        const int32_t lo = inBrick.lo[i], hi = inBrick.hi[i];
        if (!inInputs.tableLoaded[i]) {
            looked[i] = {lo / double{kFull}, hi / double{kFull}};
            continue;
        }
        const bool isSigned = IsSignedCode(NKW7_FieldCodeOf(c.voxelFormat, i));
        const std::vector<double>& alphas = inAlphas[i];
        const unsigned first = TableIndex(i, isSigned, lo), last = TableIndex(i, isSigned, hi);
        looked[i] = alphas.empty() ? Span{0.0, 1.0} : Span{1.0, 0.0};
        for (unsigned e = first; e <= last && e < alphas.size(); ++e)
            looked[i] = {std::min(looked[i].lo, alphas[e]), std::max(looked[i].hi, alphas[e])};
    }
    auto op = [&](int k) { return (c.alu[k] >> 24) & 0xFF; };
    const Span alu0 = AluSpan(op(0), looked[0], looked[1]);
    const Span alu1 = AluSpan(op(1), looked[2], looked[3]);
    return AluSpan(op(2), alu0, alu1).hi;
}

// Finds the voxels that hold every brick the tables can show, and every
// voxel of the sub-volume outside the bricked range, which no brick speaks for.
void ComputeBox(const ULMVolumeInternal& inVolume, const ULMRenderInputs& inInputs, double inSampleDistance,
                ULMSpaceLeaping& ioState) {
    const ULMVolumeRange& sub = inVolume.BoardCopy().CurrentSubVolume();
    const ULMClassifierRegisters& c = inInputs.classifier;
    std::vector<double> alphas[4];
    for (int i = 0; i < 4; ++i)
        if (inInputs.tableLoaded[i] && c.lut[i] != nullptr)
            alphas[i] = SlotAlphas(*c.lut[i], i, c.lutFormat[i], inSampleDistance);
    int32_t border[4];
    for (int i = 0; i < 4; ++i)
        border[i] = ChannelValue(NKW7_FieldCodeOf(c.voxelFormat, i), inVolume.GetBorderValue());
    const double threshold = ioState.m_thresholds12[3] / 4095.0;

    int32_t box[6] = {INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};
    auto include = [&](const int32_t lo[3], const int32_t hi[3]) {
        for (int a = 0; a < 3; ++a) {
            const int32_t l = std::max(lo[a], sub.m_origin[a]),
                          h = std::min(hi[a], sub.m_origin[a] + sub.m_size[a] - 1);
            if (h < l) return;
        }
        for (int a = 0; a < 3; ++a) {
            box[2 * a] = std::min(box[2 * a], std::max(lo[a], sub.m_origin[a]));
            box[2 * a + 1] = std::max(box[2 * a + 1], std::min(hi[a], sub.m_origin[a] + sub.m_size[a] - 1));
        }
    };
    // The six slabs of the sub-volume around the bricked range.
    const int32_t* r = ioState.m_bricked;
    for (int a = 0; a < 3; ++a) {
        int32_t lo[3], hi[3];
        for (int b = 0; b < 3; ++b) lo[b] = sub.m_origin[b], hi[b] = sub.m_origin[b] + sub.m_size[b] - 1;
        const int32_t below = r[a] - 1, above = r[a] + r[3 + a];
        hi[a] = below;
        include(lo, hi);
        lo[a] = above, hi[a] = sub.m_origin[a] + sub.m_size[a] - 1;
        include(lo, hi);
    }
    const int side = ioState.m_brickSize;
    const int* n = ioState.m_brickCounts;
    for (int bz = 0, index = 0; bz < n[2]; ++bz)
        for (int by = 0; by < n[1]; ++by)
            for (int bx = 0; bx < n[0]; ++bx, ++index) {
                const int b[3] = {bx, by, bz};
                int32_t lo[3], hi[3];
                bool crossesEdge = false;
                for (int a = 0; a < 3; ++a) {
                    lo[a] = r[a] + b[a] * side;
                    hi[a] = std::min(lo[a] + side, r[a] + r[3 + a]) - 1;
                    // The chip reads the border word outside the sampled range.
                    crossesEdge =
                        crossesEdge || lo[a] - 1 < sub.m_origin[a] || hi[a] + 1 >= sub.m_origin[a] + sub.m_size[a];
                }
                ULMBrickValues values = ioState.m_bricks[static_cast<size_t>(index)];
                for (int i = 0; i < 4 && crossesEdge; ++i)
                    values.lo[i] = std::min(values.lo[i], border[i]), values.hi[i] = std::max(values.hi[i], border[i]);
                const double alpha = BrickAlpha(values, inInputs, alphas);
                const bool empty = alpha <= 0.0 || alpha <= threshold - 1.0 / 4095;
                if (!empty) include(lo, hi);
            }
    ioState.m_boxEmpty = box[0] > box[1];
    std::copy(box, box + 6, ioState.m_box);
}

// Shrinks the trims, which lie on the chip's permuted axes at 1/256 voxel,
// to the box; each voxel owns the cell around its centre.
void TrimToBox(const ULMSpaceLeaping& inState, ULMAllRenderRegisters& ioRegisters) {
    uint32_t* trims[6] = {&ioRegisters.m_TrimRangeXmin, &ioRegisters.m_TrimRangeXmax, &ioRegisters.m_TrimRangeYmin,
                          &ioRegisters.m_TrimRangeYmax, &ioRegisters.m_TrimRangeZmin, &ioRegisters.m_TrimRangeZmax};
    if (inState.m_boxEmpty) {
        *trims[0] = 256, *trims[1] = 0;
        return;
    }
    const ULMTransformFields transform = ULMReadTransformWord(ioRegisters.m_Transform);
    for (int i = 0; i < 3; ++i) {
        const int axis = transform.select[i];
        int32_t lo = inState.m_box[2 * axis] * 256 - 128, hi = inState.m_box[2 * axis + 1] * 256 + 127;
        if (transform.negate[i] != 0) {
            const int32_t mirroredLo = -hi - 256;
            hi = -lo - 256;
            lo = mirroredLo;
        }
        *trims[2 * i] = static_cast<uint32_t>(std::max(static_cast<int32_t>(*trims[2 * i]), lo));
        *trims[2 * i + 1] = static_cast<uint32_t>(std::min(static_cast<int32_t>(*trims[2 * i + 1]), hi));
    }
}

}  // namespace

ULMStatus ULMSetSpaceLeapingParameters(ULMSpaceLeaping& ioState, ULMVolume::SpaceLeapingMode inMode,
                                       const double inThresholds[4]) {
    if (inMode != ULMVolume::kSpaceLeapingNone && inMode != ULMVolume::kSpaceLeapingOn) return kULMErrArgument;
    for (int i = 0; i < 4; ++i)
        if (!(inThresholds[i] <= 1.0)) return kULMErrArgument;
    ioState.m_modeSet = true;
    ioState.m_mode = inMode;
    for (int i = 0; i < 4; ++i) {
        ioState.m_thresholds[i] = inThresholds[i];
        ioState.m_thresholds12[i] = ULMConvertFloatTo12(inThresholds[i]);
    }
    return kULMOK;
}

void ULMApplySpaceLeaping(const ULMVolumeInternal& inVolume, ULMSpaceLeaping& ioState, const ULMRenderInputs& inInputs,
                          ULMAllRenderRegisters& ioRegisters) {
    ioRegisters.m_EmptyThreshold = 0;
    const ULMContext* context = inInputs.context;
    const auto mode = ioState.m_modeSet ? ioState.m_mode : gULMControl.m_spaceLeapingMode;
    const ULMBlendMode blend = context->GetBlendMode();
    // A render into a volume owes every target voxel its sample, so it never leaps; nor does a
    // mini-frustum, whose rays the brick box was not worked out for.
    if (mode != ULMVolume::kSpaceLeapingOn || (blend != kULMBlendBTF && blend != kULMBlendFTB) ||
        inInputs.outputVolume != nullptr || inInputs.sampleSpace->IsMiniFrustum() ||
        (inInputs.writeMask & (kKWBWritesDepth0 | kKWBWritesDepth1)) != 0 ||
        !inVolume.HostDataMatchesBuffer())
        return;

    ULMVolumeRange bricked = inVolume.GetSpaceLeapingRange();
    if (bricked.IsEmpty()) bricked = inVolume.GetRange();
    ULMSpaceLeapingCache::Bricks brickSource;
    brickSource.volume = inVolume.GetObjectID();
    brickSource.serial = inVolume.GetSerial();
    brickSource.voxelFormat = inInputs.classifier.voxelFormat;
    ToArray(bricked, brickSource.range);
    ULMSpaceLeapingCache& cache = ioState.m_cache;
    if (!cache.bricksValid || cache.bricks != brickSource) {
        cache.bricksValid = cache.boxValid = false;
        std::copy(brickSource.range, brickSource.range + 6, ioState.m_bricked);
        if (!BuildBricks(inVolume, brickSource.voxelFormat, ioState)) {
            ioState.m_bricks.clear();
            return;
        }
        cache.bricks = brickSource;
        cache.bricksValid = true;
    }

    const ULMClassifierRegisters& c = inInputs.classifier;
    ULMSpaceLeapingCache::Box boxSource;
    for (int i = 0; i < 4; ++i) {
        if (inInputs.tableLoaded[i] && c.lut[i] != nullptr)
            boxSource.tables[i] = c.lut[i]->GetObjectID(), boxSource.serials[i] = c.lut[i]->GetSerial();
        boxSource.formats[i] = c.lutFormat[i];
    }
    std::copy(c.alu, c.alu + 3, boxSource.alu);
    boxSource.threshold = ioState.m_thresholds12[3];
    boxSource.sampleDistance = inInputs.sampleSpace->GetSampleDistance();
    boxSource.border = inVolume.GetBorderValue();
    ToArray(inVolume.BoardCopy().CurrentSubVolume(), boxSource.subVolume);
    if (!cache.boxValid || cache.box != boxSource) {
        ComputeBox(inVolume, inInputs, boxSource.sampleDistance, ioState);
        cache.box = boxSource;
        cache.boxValid = true;
    }

    TrimToBox(ioState, ioRegisters);
    ioRegisters.m_EmptyThreshold = NKW7_FIELD(EmptyThreshold, alpha, ioState.m_thresholds12[3]);
    ioRegisters.m_RenderOperation |= NKW7_FIELD(RenderOperation, spaceLeaping, 1);
}

}  // namespace ulm3
