// The tiled, threaded render against the element-by-element reference:
// seeded random programmes with every stage in play, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "chip_fixture.h"

namespace tulx7sim::test {
namespace {

class ChipEquivalenceTest : public ChipTest {
protected:
    void TearDown() override {
        SetChipThreads(0);
        UseChipReferencePath(false);
        SetChipInstructionSet(ChipInstructionSet::kDefault);
    }

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }
    bool Coin() { return Pick(0, 1) == 1; }
    uint64_t Bits() { return m_random(); }
    // A field code: mostly a field within 16 bits, now and then none.
    uint64_t Field() {
        if (Pick(0, 5) == 0) return 0x0F;
        const uint64_t control = Pick(0, 2) == 2 ? 3 : uint64_t(Pick(0, 1));
        return control << 6 | uint64_t(Pick(0, 3)) << 4 | uint64_t(Pick(0, 3) == 0 ? Pick(0, 15) : Pick(0, 3));
    }
    uint64_t Fields() { return Field() | Field() << 8 | Field() << 16 | Field() << 24; }
    double Voxels(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(m_random) * kOne;
    }

    // An array of random bytes, with elements of `bytes` bytes or any size.
    std::unique_ptr<HostArray> Array(int axes, int su, int sv, int sw, uint32_t id, int bytes = 0) {
        static constexpr int kBytes[] = {1, 2, 4, 8, 8};
        auto array = std::make_unique<HostArray>(axes, su, sv, sw, bytes != 0 ? bytes : kBytes[Pick(0, 4)], id);
        for (uint8_t& byte : array->data) byte = static_cast<uint8_t>(Bits());
        if (Pick(0, 7) == 0) {  // wrapped, and then rendered element by element
            array->bound.wrap = true;
            for (int a = 0; a < axes; ++a) array->bound.offsetModulus[a] = Pick(0, 3) == 0 ? 7 : 63;
        } else {
            for (int a = 0; a < axes; ++a) array->bound.offsetModulus[a] = Pick(-2, 2);
        }
        return array;
    }

    // The registers of a position along each permuted axis.
    static constexpr uint32_t kOrigins[3] = {NKW7_OriginXv8_Addr, NKW7_OriginYv8_Addr, NKW7_OriginZv8_Addr};
    static constexpr uint32_t kSteps[3] = {NKW7_dXv8_dXs_Addr, NKW7_dYv8_dYs_Addr, NKW7_dZv8_dZs_Addr};

    // What the parts of a random programme share.
    struct Shape {
        int plainBlend = 0;
        bool plain = false, tabled = false, shaded = false, rows = false, volumeOutput = false, routed = false;
        bool alongU = false;  // Xv along u, where a voxel row's bytes are consecutive
        int n[3] = {}, frustum[3] = {};
    };

    // A programme with every stage switched on or off at random, or, with
    // a `plainBlend` mode, a plain one of that mode, often over one-byte
    // voxels; `tabled` makes it one field looked up into image 0 over 1-,
    // 2- or 4-byte voxels, as the vector rows take them; `shaded` makes it
    // lit from gradients of one-byte voxels (and with `tabled`, coloured
    // from one field's table); `rows` makes a shaded one take the shaded
    // rows: nothing tests a sample on its own besides the trims. `alongU`
    // puts Xv along u and the volume in its storage.
    void RandomProgramme(int plainBlend, bool tabled = false, bool shaded = false, bool rows = false,
                         bool alongU = false) {
        Shape p;
        p.alongU = alongU;
        p.plainBlend = plainBlend;
        p.plain = plainBlend != 0;
        p.tabled = tabled;
        p.shaded = shaded;
        p.rows = rows;
        RandomArrays(p);
        RandomGeometry(p);
        RandomStages(p);
        if (shaded) {
            // Central or forward differences, corrected or not, interpolated
            // or nearest, feeding diffuse and specular light.
            Set(NKW7_GradientControl_Addr, uint64_t(Pick(1, 2)) << 9 | (Coin() ? 1u << 22 : 0) | (Bits() & 0x1FF));
            Set(NKW7_InterpolateControl_Addr, Get(NKW7_InterpolateControl_Addr) | (Coin() ? 0x10000 : 0));
            // Each coefficient zero now and then, so that every lighting
            // configuration comes up.
            uint64_t coefficients = Bits() & 0xFFFFFF00;
            for (int k = 1; k < 4; ++k)
                if (Pick(0, 2) == 0) coefficients &= ~(uint64_t{0xFF} << (8 * k));
            Set(NKW7_LightingCoefficient_Addr, coefficients);
        }
        if (p.plain || (!rows && p.routed && Coin())) PlainStages(p);
        if (shaded && rows) RowStages();
        if (shaded && tabled) TabledStages();
        if (shaded && (alongU || Coin())) VolumeInItsStorage();
    }

    // The volume's range exactly its storage, as the library loads a
    // volume: no voxel read counts, at the edges neither, so the gradients
    // of the edge voxels (their neighbours border or edge words) are kept
    // and go into the slab with the others.
    void VolumeInItsStorage() {
        HostArray& volume = *m_arrays[0];
        if (volume.bound.wrap) return;
        for (int32_t& offset : volume.bound.offsetModulus) offset = 0;
        m_job.volume = volume.Bind();
    }

    void RandomArrays(Shape& p) {
        const int least = p.rows ? 3 : p.shaded ? 8 : 2;
        p.n[0] = Pick(least, 32);
        p.n[1] = Pick(least, 32);
        p.n[2] = Pick(p.rows ? 3 : p.shaded ? 8 : 1, 32);
        p.volumeOutput = !p.rows && Pick(0, 3) == 0;
        p.frustum[0] = Pick(1, m_reach);
        p.frustum[1] = Pick(1, m_reach);
        p.frustum[2] = Pick(1, p.volumeOutput ? 12 : 24);
        const int(&frustum)[3] = p.frustum;
        m_arrays.clear();
        const int voxelBytes = p.shaded ? 1 : p.tabled ? 1 << Pick(0, 2) : p.plain && Coin() ? 1 : 0;
        m_arrays.push_back(Array(3, p.n[0], p.n[1], p.n[2], 1, voxelBytes));
        for (uint32_t id = 2; id <= 3; ++id)
            m_arrays.push_back(Array(p.volumeOutput ? 3 : 2, std::max(1, frustum[0] + Pick(-4, 2)),
                                     std::max(1, frustum[1] + Pick(-4, 2)), p.volumeOutput ? frustum[2] : 1, id));
        for (uint32_t id = 4; id <= 5; ++id) m_arrays.push_back(Array(2, frustum[0], frustum[1], 1, id));
        BoundArray* slots[] = {&m_job.volume, &m_job.image0, &m_job.image1, &m_job.depth0, &m_job.depth1};
        for (size_t i = 0; i < 5; ++i)
            *slots[i] = Pick(0, 5) == 0 && i > (p.tabled ? 1 : 0) ? BoundArray{} : m_arrays[i]->Bind();
        m_tables.assign(8, std::vector<uint64_t>(4096));
        for (size_t t = 0; t < 8; ++t) {
            for (uint64_t& entry : m_tables[t]) entry = Bits();
            m_job.tables[t] = BoundTable{Pick(0, 4) != 0, uint32_t(10 + t), 0, uint16_t(Pick(0, 4096)),
                                         reinterpret_cast<const uint8_t*>(m_tables[t].data()), 4096 * 8};
        }
    }

    // Each permuted axis crosses its volume axis (mirrored when negated) in
    // one or the other direction, with small cross terms on top.
    void RandomGeometry(const Shape& p) {
        int select[3] = {0, 1, 2};
        std::shuffle(select + (p.alongU ? 1 : 0), select + 3, m_random);
        const uint64_t negate = Bits() % 8;
        Set(NKW7_Transform_Addr, uint64_t(select[0]) << 4 | uint64_t(select[1]) << 6 | uint64_t(select[2]) << 8 | negate);
        Frustum(0, 0, 0, uint32_t(p.frustum[0] - 1), uint32_t(p.frustum[1] - 1), uint32_t(p.frustum[2] - 1));
        for (int a = 0; a < 3; ++a) {
            const double size = p.n[select[a]], low = (negate >> a) & 1 ? -size : 0.0;
            // Plain rows start a quarter in and span at most half the
            // volume, so that many lie wholly inside it; tabled and shaded
            // ones along Yv too, so that whole tiles do.
            const bool inside = (p.plain || p.rows) && (a == 0 || (a == 1 && (p.tabled || p.rows)));
            const double step = (Coin() ? 1 : -1) * Voxels(0.3, inside ? 0.5 : 1.5) * size / p.frustum[a];  // raw
            const double start = step > 0 ? low + (inside ? size / 4 : 0) : low + size - (inside ? size / 4 : 0);
            Set(kSteps[a], static_cast<uint64_t>(static_cast<int64_t>(step)));
            Set(kOrigins[a], static_cast<uint64_t>(static_cast<int64_t>(Voxels(-1.5, 1.5) + start * kOne)));
            const auto trimMin = static_cast<int32_t>(256 * (low + Pick(-1, p.n[select[a]] / 3)));
            const auto trimMax = static_cast<int32_t>(256 * (low + size)) - Pick(-256, 512);
            Set(NKW7_TrimRangeXmin_Addr + 8 * uint32_t(a), static_cast<uint32_t>(trimMin));
            Set(NKW7_TrimRangeXmax_Addr + 8 * uint32_t(a), static_cast<uint32_t>(trimMax));
        }
        for (uint32_t a : {NKW7_dXv8_dZs_Addr, NKW7_dYv8_dZs_Addr, NKW7_dYv8_dZv_Addr, NKW7_dXv8_dZv_Addr,
                           NKW7_dYv8_dXs_Addr, NKW7_dXv8_dYs_Addr})
            Set(a, static_cast<uint64_t>(static_cast<int64_t>(Voxels(-0.2, 0.2))));
        for (uint32_t a = NKW7_ddXv8_dXs_dZs_Addr; a <= NKW7_ddYv8_dYs_dZv_Addr; a += 8) Set(a, Coin() ? static_cast<uint64_t>(static_cast<int64_t>(Voxels(-0.01, 0.01))) : 0);
    }

    // Every other stage at random: crop, cut planes, depth, fields, tables,
    // ALUs and the lighting and filter registers.
    void RandomStages(Shape& p) {
        for (uint32_t a = NKW7_CropRangeXmin_Addr; a <= NKW7_CropRangeZmax_Addr; a += 4) Set(a, uint32_t(Pick(-512, 8192)));
        Set(NKW7_CropControl_Addr, Pick(0, 2) == 0 ? Bits() & 0x3FFF : 0);
        for (uint32_t a = NKW7_CutPlane0_dCut_dXs_Addr; a < NKW7_CutPlaneControl_Addr; a += 24) {
            for (uint32_t k = 0; k < 4; ++k) Set(a + 4 * k, uint32_t(Pick(-1 << 17, 1 << 17)));
            Set(a + 16, uint32_t(Pick(-1 << 22, 0)));
            Set(a + 20, uint32_t(Pick(0, 1 << 22)));
        }
        Set(NKW7_CutPlaneControl_Addr, Pick(0, 2) == 0 ? Bits() & 0xFFFF0000 : 0);
        Set(NKW7_OriginDepth_Addr, uint64_t(Pick(0, 64)) << 32);
        for (uint32_t a : {NKW7_dD_dXs_Addr, NKW7_dD_dYs_Addr, NKW7_dD_dZs_Addr, NKW7_dD_dZv_Addr})
            Set(a, uint64_t(int64_t{Pick(-1024, 1024)} << 24));  // up to 4 depth units a step
        Set(NKW7_VoxelFormat_Addr, Fields());
        Set(NKW7_VoxelBorder_Addr, Bits());
        for (uint32_t a : {NKW7_LookupTableFormat0_Addr, NKW7_LookupTableFormat1_Addr, NKW7_LookupTableFormat2_Addr,
                           NKW7_LookupTableFormat3_Addr, NKW7_Image0FieldSel_Addr, NKW7_Image1FieldSel_Addr})
            Set(a, Fields());
        // Half the programmes only route fields to channels, as the passes do.
        static constexpr uint64_t kRoutes[] = {0, 3, 5, 15};
        p.routed = p.plain || Coin();
        for (uint32_t a : {NKW7_Alu0_Addr, NKW7_Alu1_Addr, NKW7_Alu2_Addr})
            Set(a, !p.routed ? Bits() & 0x3F3F3F3F
                             : kRoutes[Bits() % 4] | kRoutes[Bits() % 4] << 8 | kRoutes[Bits() % 4] << 16 | kRoutes[Bits() % 4] << 24);
        for (uint32_t a : {NKW7_GradientCorrection0_Addr, NKW7_GradientCorrection1_Addr, NKW7_GradientCorrection2_Addr,
                           NKW7_LightingCoefficient_Addr, NKW7_GradientMagnitudeModulation_Addr, NKW7_SampleAlphaRange_Addr,
                           NKW7_AccumAlphaRange_Addr, NKW7_DepthInitValue0_Addr, NKW7_DepthInitValue1_Addr,
                           NKW7_ErtThreshold_Addr, NKW7_EmptyThreshold_Addr, NKW7_GradientControl_Addr,
                           NKW7_DepthControl_Addr})
            Set(a, Bits() & 0xFFFFFFFF);
        Set(NKW7_GradientMagnitudeRange_Addr, (uint64_t(Pick(0, 1 << 19)) << 44) | uint64_t(Pick(0, 1 << 12)) << 12);
        for (uint32_t a : {NKW7_EyeVector_Addr, NKW7_SpecularColor_Addr, NKW7_ImageAccumValue_Addr, NKW7_ImageLastValue_Addr})
            Set(a, Bits());
        Set(NKW7_InterpolateControl_Addr, Bits() & (p.routed ? 0x33F11111 : 0x33F13333));
        if (Pick(0, 2) != 0) Set(NKW7_DepthControl_Addr, Get(NKW7_DepthControl_Addr) & ~uint64_t{0x03000000});  // no test
        if (Coin()) Set(NKW7_SampleAlphaRange_Addr, 0xFFF00000);
        Set(NKW7_ImageControl_Addr, (Bits() & (Pick(0, 2) == 0 ? 0xF003F31F : 0xF003F300)) |
                                        uint64_t(p.volumeOutput) << 27 | uint64_t(Pick(0, 17)) << 18);
        Set(NKW7_RenderOperation_Addr, 0x10000000 | (Bits() & (Pick(0, 2) == 0 ? 0x00FFC000 : 0x00FF8000)));
    }

    // Plain: trilinear fields routed to channels, no optional stage.
    void PlainStages(const Shape& p) {
        Set(NKW7_InterpolateControl_Addr, (Bits() & 0x33F00000) | 0x1111);
        for (uint32_t a : {NKW7_CropControl_Addr, NKW7_CutPlaneControl_Addr, NKW7_DepthControl_Addr,
                           NKW7_GradientMagnitudeModulation_Addr, NKW7_GradientControl_Addr})
            Set(a, 0);
        Set(NKW7_LightingCoefficient_Addr, Bits() & 0xFF000000);
        Set(NKW7_ImageControl_Addr, (Get(NKW7_ImageControl_Addr) & ~uint64_t{0x00FC011F}) | 1u << 28 |
                                        uint64_t(p.plain ? p.plainBlend : Pick(1, 5)) << 18);
        Set(NKW7_Image0FieldSel_Addr, 0x3C383430);
        Set(NKW7_RenderOperation_Addr, Get(NKW7_RenderOperation_Addr) & ~uint64_t{0x4000});
        if (p.plain && (Coin() || p.tabled)) {
            // One unsigned field looked up in table 0, the others
            // bypassed; channels from it or constant.
            static constexpr uint64_t kChannel[] = {0, 3, 3, 15};
            Set(NKW7_VoxelFormat_Addr, Get(NKW7_VoxelFormat_Addr) & ~uint64_t{0xC0});
            Set(NKW7_RenderOperation_Addr, (Get(NKW7_RenderOperation_Addr) & ~uint64_t{0xFF0000}) | 0x540000);
            Set(NKW7_Alu0_Addr, 0x03030303);
            Set(NKW7_Alu2_Addr, kChannel[Bits() % 4] | kChannel[Bits() % 4] << 8 | kChannel[Bits() % 4] << 16 |
                                    (p.tabled ? 3 : kChannel[Bits() % 4]) << 24);
        }
    }

    // Shaded rows: nothing that tests a sample on its own besides the trims.
    void RowStages() {
        for (uint32_t a : {NKW7_CropControl_Addr, NKW7_CutPlaneControl_Addr, NKW7_DepthControl_Addr}) Set(a, 0);
        // Mostly a plain blend into image 0's 8-bit channels, where a small
        // change of a sample shows; three in four lit from the maps alone,
        // as the vector rows take them.
        const bool mapsAlone = Pick(0, 3) != 0;
        const uint64_t blend = uint64_t(!mapsAlone && Pick(0, 5) == 0 ? Pick(0, 17) : Pick(2, 5));
        Set(NKW7_ImageControl_Addr, (Get(NKW7_ImageControl_Addr) & ~uint64_t{0x00FC001F}) | 1u << 28 | blend << 18);
        if (Coin()) Set(NKW7_Image0FieldSel_Addr, 0x3C383430);
        // Lit from either map or both.
        const uint64_t lit[3] = {0x00FF0000, 0x0000FF00, 0x00FFFF00};
        Set(NKW7_LightingCoefficient_Addr, (Bits() & 0xFF000000) | ((Bits() | 0x00010100) & lit[Pick(0, 2)]));
        if (mapsAlone) {
            Set(NKW7_GradientMagnitudeModulation_Addr, 0);
            Set(NKW7_ImageControl_Addr, Get(NKW7_ImageControl_Addr) & ~uint64_t{0x100});
            if (Pick(0, 2) != 0) Set(NKW7_LookupTableFormat0_Addr, 0x29262320);  // 12-bit RGBA
        }
        // Space leaping now and then at a threshold of 0, which the
        // transparent samples meet; tables and maps short by a little.
        Set(NKW7_RenderOperation_Addr, (Get(NKW7_RenderOperation_Addr) & ~uint64_t{0x4000}) | (Coin() ? 0x4000 : 0));
        if (Pick(0, 3) == 0) {
            Set(NKW7_EmptyThreshold_Addr, 0);
            for (uint64_t& entry : m_tables[0]) entry = Pick(0, 3) == 0 ? 0 : entry;
        }
        if (Pick(0, 3) == 0) m_job.tables[0].validEntries = uint16_t(Pick(0, 255));
        for (size_t map = 4; map <= 5; ++map)
            if (Pick(0, 2) == 0) m_job.tables[map].validEntries = uint16_t(Coin() ? Pick(376, 383) : Pick(256, 383));
        if (Coin()) TwoValuedHalfGrid();
        // Gradients mostly of a field that fills the byte or half of it, so
        // that they are steep; now and then the gradient or its magnitude as
        // the colour, where every bit of it shows.
        static constexpr uint64_t kSteep[] = {0x10, 0x50, 0x00, 0x01};
        Set(NKW7_VoxelFormat_Addr, (Get(NKW7_VoxelFormat_Addr) & ~uint64_t{0xFF00}) | kSteep[Bits() % 4] << 8);
        uint64_t gradient = Get(NKW7_GradientControl_Addr) & ~uint64_t{0x1FF};
        for (int a = 0; a < 3; ++a) gradient |= uint64_t(Pick(0, 5) == 0 ? Pick(0, 7) : 1) << (3 * a);
        Set(NKW7_GradientControl_Addr, gradient | uint64_t(mapsAlone ? 0 : Pick(0, 5) == 0 ? 2 : Pick(0, 1)) << 30);
    }

    // A two-valued volume sampled on a grid of half voxels, whose blended
    // gradients fall on ties of the rounding; maps of black and white
    // cells, where a normal a step of the rounding off shows; now and then
    // the eye down an axis, across which the normals of the faces look,
    // and the specular light on the faces towards it only.
    void TwoValuedHalfGrid() {
        for (uint8_t& voxel : m_arrays[0]->data) voxel = voxel & 1 ? 255 : 0;
        // From anywhere in the volume, half a voxel a step either way.
        const uint64_t transform = Get(NKW7_Transform_Addr);
        for (int a = 0; a < 3; ++a) {
            const int size = m_arrays[0]->bound.size[(transform >> (4 + 2 * a)) & 3];
            const int64_t low = (transform >> a) & 1 ? -size : 0;
            Set(kSteps[a], static_cast<uint64_t>(Coin() ? kOne / 2 : -kOne / 2));
            Set(kOrigins[a], static_cast<uint64_t>((2 * low + Pick(0, 2 * size - 1)) * (kOne / 2)));
        }
        for (uint32_t a : {NKW7_dXv8_dZs_Addr, NKW7_dYv8_dZs_Addr, NKW7_dYv8_dZv_Addr, NKW7_dXv8_dZv_Addr,
                           NKW7_dYv8_dXs_Addr, NKW7_dXv8_dYs_Addr})
            Set(a, 0);
        for (uint32_t a = NKW7_ddXv8_dXs_dZs_Addr; a <= NKW7_ddYv8_dYs_dZv_Addr; a += 8) Set(a, 0);
        for (size_t map = 4; map <= 5; ++map)
            for (uint64_t& entry : m_tables[map]) entry = Coin() ? ~uint64_t{0} : 0;
        if (Coin())
            Set(NKW7_EyeVector_Addr, (Get(NKW7_EyeVector_Addr) & 1) | 2 | uint64_t{0x1FF} << (22 + 16 * Pick(0, 2)));
    }

    // One unsigned field of 4 to 16 bits, trilinear, looked up in table 0
    // and routed to the channels or constant.
    void TabledStages() {
        static constexpr uint64_t kChannel[] = {0, 3, 3, 15};
        const uint64_t field = uint64_t(Pick(0, 3)) << 4 | uint64_t(Pick(0, 3));
        Set(NKW7_VoxelFormat_Addr, (Get(NKW7_VoxelFormat_Addr) & ~uint64_t{0xFF}) | field);
        const uint64_t interpolation = Get(NKW7_InterpolateControl_Addr) & ~uint64_t{0xFFFF};
        Set(NKW7_InterpolateControl_Addr, interpolation | (Bits() & 0x1110) | 1);
        Set(NKW7_RenderOperation_Addr, (Get(NKW7_RenderOperation_Addr) & ~uint64_t{0xFF0000}) | 0x540000);
        Set(NKW7_Alu0_Addr, 0x03030303);
        Set(NKW7_Alu1_Addr, 0x05050505);
        uint64_t routes = 0;
        for (int c = 0; c < 4; ++c) routes |= kChannel[Bits() % 4] << (8 * c);
        Set(NKW7_Alu2_Addr, routes);
    }

    // The bytes of every array and the counts, after a render.
    std::pair<std::vector<std::vector<uint8_t>>, ChipDiagnostics> Outcome(int threads, bool reference) {
        std::vector<std::vector<uint8_t>> before;
        for (const auto& array : m_arrays) before.push_back(array->data);
        SetChipThreads(threads);
        UseChipReferencePath(reference);
        ClearChipDiagnostics();
        EXPECT_EQ(Render(), TULX7_DR_STATUS_SUCCESS) << m_diagnostic;
        std::vector<std::vector<uint8_t>> after;
        for (size_t i = 0; i < m_arrays.size(); ++i) {
            after.push_back(m_arrays[i]->data);
            m_arrays[i]->data = before[i];
        }
        return {after, Diagnostics()};
    }

    // The programme of `seed` on the reference path, then tiled on 1, 3 and
    // 8 threads with each instruction set: the same bytes and counts.
    void ExpectTheReferenceBytes(uint64_t seed, int plainBlend, bool tabled, bool shaded = false, bool rows = false,
                                 bool alongU = false) {
        SCOPED_TRACE(seed);
        SeededProgramme(seed, plainBlend, tabled, shaded, rows, alongU);
        ExpectTheReferenceBytes();
    }

    // The random programme of `seed`, for a test to change before it renders.
    void SeededProgramme(uint64_t seed, int plainBlend, bool tabled, bool shaded = false, bool rows = false,
                         bool alongU = false) {
        m_random.seed(seed);
        m_writes.clear();
        PassProgramme();
        RandomProgramme(plainBlend, tabled, shaded, rows, alongU);
    }

    void ExpectTheReferenceBytes() {
        const auto [bytes, counts] = Outcome(1, true);
        for (const ChipInstructionSet set : {ChipInstructionSet::kScalar, ChipInstructionSet::kAvx2}) {
            SetChipInstructionSet(set);
            for (const int threads : {1, 3, 8}) {
                const auto [tiled, tiledCounts] = Outcome(threads, false);
                for (size_t i = 0; i < bytes.size(); ++i)
                    ASSERT_TRUE(tiled[i] == bytes[i])
                        << "array " << i << ", " << threads << " threads, " << ChipInstructionSetName();
                EXPECT_EQ(tiledCounts.samples, counts.samples);
                EXPECT_EQ(tiledCounts.Describe(), counts.Describe());
            }
        }
    }

    // The volume's bytes counting up through storage, so that its
    // gradients are the same but where the count wraps, white and opaque
    // and lit by the maps alone, where their light shows whole, and both
    // maps of every entry, in colours of any bits.
    void FewGradientsLitByFullMaps() {
        std::vector<uint8_t>& data = m_arrays[0]->data;
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
        for (uint64_t& entry : m_tables[0]) entry = ~uint64_t{0};
        Set(NKW7_LightingCoefficient_Addr, Get(NKW7_LightingCoefficient_Addr) & 0x00FFFFFF);
        Set(NKW7_SpecularColor_Addr, uint64_t{4095} << 4 | uint64_t{4095} << 20 | uint64_t{4095} << 36);
        Set(NKW7_Image0FieldSel_Addr, 0x3C383430);
        for (const size_t map : {4, 5}) {
            m_job.tables[map].validEntries = 384;
            for (uint64_t& entry : m_tables[map]) entry = Bits() << 32 | (Bits() & 0xFFFFFFFF);
        }
    }

    // The most rays a random frustum spans along Xs and Ys.
    int m_reach = 40;

    // Tabled or shaded rows whose positions leave 64 bits past their first
    // rays.
    void RowsLeaving64Bits(bool shaded);

    // Tabled or shaded rows a 1/256 voxel apart across the volume's edges;
    // `besideTheEnds` puts a shaded one's slices between the volume's first
    // plane along Zv and the one before it, or its last and the one past it;
    // `mostlyClear` makes a shaded one's voxels mostly clear.
    void RowsAcrossTheVolumesEdges(uint64_t seed, bool shaded, bool besideTheEnds = false, bool mostlyClear = false);

    // The only volume: 8^3 one-byte voxels, all 0.
    HostArray& EightCubed() {
        m_arrays.clear();
        m_arrays.push_back(std::make_unique<HostArray>(3, 8, 8, 8, 1, 1));
        return *m_arrays[0];
    }

    // An 8^3 volume of 0 but for six voxels of 255 on plane w = 3, which,
    // sampled half-way between voxels, put gradients on ties of the 9-bit
    // rounding.
    void TwoValuedOnTies() {
        HostArray& volume = EightCubed();
        for (const auto& [u, v] : {std::pair{4, 2}, {5, 2}, {3, 3}, {2, 5}, {3, 5}, {3, 6}}) volume.Set(u, v, 3, 255);
    }

    // The one-byte volume in m_arrays[0] white and opaque where its voxels
    // reach 100, sampled every half voxel along u and every three along v,
    // lit by both maps (table 4 white, table 5 black and white cells) with
    // the eye down w and the specular light on the faces towards it only.
    void WhiteAndOpaqueLitByTheMaps() {
        m_arrays.push_back(std::make_unique<HostArray>(2, 8, 2, 1, 4, 2));
        m_job.volume = m_arrays[0]->Bind();
        m_job.image0 = m_arrays[1]->Bind();
        m_job.image1 = m_job.depth0 = m_job.depth1 = BoundArray{};
        m_tables.assign(8, std::vector<uint64_t>(4096, 0));
        for (size_t e = 100; e < 256; ++e) m_tables[0][e] = ~uint64_t{0};
        for (size_t e = 0; e < 384; ++e) {
            m_tables[4][e] = ~uint64_t{0};
            m_tables[5][e] = e % 2 == 1 ? ~uint64_t{0} : 0;
        }
        for (size_t t = 0; t < 8; ++t)
            m_job.tables[t] = BoundTable{t == 0 || t == 4 || t == 5, uint32_t(10 + t), 0, uint16_t(t == 0 ? 256 : 384),
                                         reinterpret_cast<const uint8_t*>(m_tables[t].data()), 4096 * 8};
        Frustum(0, 0, 0, 7, 1, 7);
        Trims(-4096, 4096, -4096, 4096, -4096, 4096);
        Set(NKW7_OriginXv8_Addr, 2 * kOne);
        Set(NKW7_dXv8_dXs_Addr, kOne / 2);
        Set(NKW7_OriginYv8_Addr, 2 * kOne);
        Set(NKW7_dYv8_dYs_Addr, 3 * kOne);
        Set(NKW7_VoxelFormat_Addr, 0x0F0F0F10);
        Set(NKW7_LookupTableFormat0_Addr, 0x29262320);
        Set(NKW7_Image0FieldSel_Addr, 0x3C383430);
        Set(NKW7_Alu0_Addr, 0x03030303);
        Set(NKW7_Alu2_Addr, 0x03030303);
        Set(NKW7_RenderOperation_Addr, (Get(NKW7_RenderOperation_Addr) & ~uint64_t{0xFF0000}) | 0x540000);
        Set(NKW7_InterpolateControl_Addr, 0x10001);
        Set(NKW7_LightingCoefficient_Addr, NKW7_FIELD(LightingCoefficient, kDiffuse, 255) |
                                               NKW7_FIELD(LightingCoefficient, kSpecular, 255));
        Set(NKW7_EyeVector_Addr, NKW7_FIELD(EyeVector, w, 511) | NKW7_FIELD(EyeVector, specFrontFacingOnly, 1));
        Set(NKW7_SpecularColor_Addr, uint64_t{0xFFF} << 4 | uint64_t{0xFFF} << 20 | uint64_t{0xFFF} << 36);
        ImageControl(NKW7_ImageWrite::Image0, NKW7_BlendMode::FrontToBack);
    }

    std::mt19937_64 m_random;
    std::vector<std::unique_ptr<HostArray>> m_arrays;
    std::vector<std::vector<uint64_t>> m_tables;
};

TEST_F(ChipEquivalenceTest, TilesOnAnyNumberOfThreadsGiveTheReferenceBytes) {
    for (uint64_t seed = 1; seed <= 60; ++seed)
        ExpectTheReferenceBytes(seed, seed % 2 == 0 ? static_cast<int>(seed / 2 % 5) + 1 : 0, false);
}

// Rows of any length from 1 to 40 rays, so that they start and end mid-vector,
// over volumes from 2 voxels wide.
TEST_F(ChipEquivalenceTest, TabledRowsGiveTheReferenceBytesOnEveryInstructionSet) {
    for (uint64_t seed = 1; seed <= 40; ++seed) ExpectTheReferenceBytes(seed, static_cast<int>(seed % 4) + 2, true);
}

// Tabled rows whose rays lie a 1/256 voxel apart along Xv and whose rows
// do along Yv, around a voxel plane near either end of the volume along
// each (mirrored or not, stepping either way): every floor of a window
// across the volume's edges is sampled, so that the first and last
// interior samples of a row and of a tile are those of the element walk.
TEST_F(ChipEquivalenceTest, RowsAcrossTheVolumesEdgesAFloorAtATimeGiveTheReferenceBytes) {
    for (uint64_t seed = 1; seed <= 40; ++seed) RowsAcrossTheVolumesEdges(seed, false);
}

// The same of shaded rows: the samples the trims reject, those at the edge
// whose voxels or gradients leave storage, and the interior ones between.
TEST_F(ChipEquivalenceTest, ShadedRowsAcrossTheVolumesEdgesAFloorAtATimeGiveTheReferenceBytes) {
    for (uint64_t seed = 1; seed <= 160; ++seed) RowsAcrossTheVolumesEdges(seed, true);
}

// Shaded rows whose slices lie between the volume's first plane along Zv
// and the one before it, or its last and the one past it, their range their
// storage: every sample blends gradients of voxels a step outside the
// volume, and reads neighbours there as border or edge words.
TEST_F(ChipEquivalenceTest, ShadedRowsBesideTheVolumesEndsAlongZvGiveTheReferenceBytes) {
    for (uint64_t seed = 1; seed <= 80; ++seed) RowsAcrossTheVolumesEdges(seed, true, true);
}

// Shaded rows across the volume's edges over mostly clear voxels, mostly
// lit in proportion to their opacity, blended in any plain mode: clear
// samples at the sides and inside, whose light may show or not, whose
// gradients past storage count their reads and whose alpha a correction
// may raise.
TEST_F(ChipEquivalenceTest, ShadedRowsAcrossTheVolumesEdgesOverClearVoxelsGiveTheReferenceBytes) {
    for (uint64_t seed = 1; seed <= 120; ++seed) RowsAcrossTheVolumesEdges(seed, true, false, true);
}

void ChipEquivalenceTest::RowsAcrossTheVolumesEdges(uint64_t seed, bool shaded, bool besideTheEnds, bool mostlyClear) {
    SCOPED_TRACE(seed);
    if (shaded)
        SeededProgramme(seed, 0, seed % 3 != 0, true, true);
    else
        SeededProgramme(seed, static_cast<int>(seed % 4) + 2, true);
    // Every other volume's range its storage, where the samples at its
    // edge read the border or the edge voxels without a general read.
    if (seed % 2 == 0 || besideTheEnds) VolumeInItsStorage();
    // The slices on the last plane of storage step along each volume axis,
    // the outermost (whose plane past the last lies past storage's end) too.
    if (shaded && seed % 8 == 0) {
        uint64_t t = Get(NKW7_Transform_Addr);
        uint64_t select[3] = {(t >> 4) & 3, (t >> 6) & 3, (t >> 8) & 3};
        for (uint64_t& axis : select)
            if (axis == 2) axis = select[2];
        select[2] = 2;
        t = (t & ~uint64_t{0x3F0}) | select[0] << 4 | select[1] << 6 | select[2] << 8;
        Set(NKW7_Transform_Addr, t);
    }
    const uint64_t transform = Get(NKW7_Transform_Addr);
    for (int a = 0; a < 2; ++a) {
        // The voxels read straight from storage along the volume axis:
        // its range and its storage overlap.
        const BoundArray& volume = m_arrays[0]->bound;
        const auto axis = (transform >> (4 + 2 * a)) & 3;
        const int origin = volume.offsetModulus[axis];
        const int low = std::max(origin, 0), high = std::min(origin, 0) + volume.size[axis] - 1;
        // The first voxel plane a sample can start from, or the last
        // it can reach: samples between read from storage. Shaded rows
        // now and then run across the middle of the volume along Yv, so
        // that whole rows hold interior samples beside those at the edge.
        const int plane =
            shaded && a == 1 && Coin() ? (low + high) / 2 : (Coin() ? low : high) + Pick(-1, 1);
        const int64_t at = (transform >> a) & 1 ? -256 * int64_t{plane} - 256 : 256 * int64_t{plane};
        const int64_t step = Coin() ? 1 : -1;
        Set(kSteps[a], static_cast<uint64_t>(step << 32));
        const int extent = static_cast<int>((Get(NKW7_ViewFrustumRangeMax_Addr) >> (16 * a)) & 0xFFFF) + 1;
        Set(kOrigins[a], static_cast<uint64_t>((at - step * Pick(0, extent - 1) + Pick(-2, 2)) << 32));
        // The trims wide, or one of them across the window too.
        const int trim = Pick(0, 2);
        Set(NKW7_TrimRangeXmin_Addr + 8 * uint32_t(a), static_cast<uint32_t>(trim == 1 ? at + Pick(-3, 3) : -16384));
        Set(NKW7_TrimRangeXmax_Addr + 8 * uint32_t(a), static_cast<uint32_t>(trim == 2 ? at + Pick(-3, 3) : 16384));
    }
    Set(NKW7_TrimRangeZmin_Addr, static_cast<uint32_t>(-16384));
    Set(NKW7_TrimRangeZmax_Addr, 16384);
    // Rays along Zv, rows along Xv.
    for (uint32_t a : {NKW7_dXv8_dZs_Addr, NKW7_dYv8_dZs_Addr, NKW7_dYv8_dZv_Addr, NKW7_dXv8_dZv_Addr,
                       NKW7_dYv8_dXs_Addr, NKW7_dXv8_dYs_Addr})
        Set(a, 0);
    for (uint32_t a = NKW7_ddXv8_dXs_dZs_Addr; a <= NKW7_ddYv8_dYs_dZv_Addr; a += 8) Set(a, 0);
    // A slice or two inside the volume, so that no ray is opaque
    // before the edge's samples.
    const uint64_t last = Get(NKW7_ViewFrustumRangeMax_Addr) & 0xFFFFFFFF;
    const int slices = Pick(1, 2);
    Set(NKW7_ViewFrustumRangeMax_Addr, last | uint64_t(slices - 1) << 32);
    const int depth = m_arrays[0]->bound.size[(transform >> 8) & 3];
    Set(kOrigins[2], static_cast<uint64_t>(static_cast<int64_t>(((transform >> 2) & 1 ? -depth : depth) / 2 * kOne)));
    if (shaded && (seed % 4 == 0 || besideTheEnds)) {
        // Or a slice on the volume's last plane along Zv (its range its
        // storage), or a floor or two either side, the slices a voxel apart
        // stepping either way, the other slice inside the volume or past it.
        // Beside the ends: anywhere between the first plane and the one
        // before it, or the last and the one past it.
        const int plane = besideTheEnds && Coin() ? -1 : depth - 1;
        const int64_t along = besideTheEnds ? Pick(0, 255) : Coin() ? 0 : Pick(-2, 2);
        const int64_t at = (transform >> 2) & 1 ? -256 * int64_t{plane} - 256 - along : 256 * int64_t{plane} + along;
        const int64_t step = Coin() ? kOne : -kOne;
        Set(kSteps[2], static_cast<uint64_t>(step));
        Set(kOrigins[2], static_cast<uint64_t>((at << 32) - step * Pick(0, slices - 1)));
    }
    // Every entry of the table there, so that a sample's value shows.
    m_job.tables[0].bound = true;
    m_job.tables[0].validEntries = 4096;
    // In one-byte voxels, often the field the byte is, or its low half.
    if (m_arrays[0]->bound.elementBytes == 1 && Pick(0, 3) != 0)
        Set(NKW7_VoxelFormat_Addr, (Get(NKW7_VoxelFormat_Addr) & ~uint64_t{0xFF}) | (Coin() ? 0x10 : 0x00));
    if (mostlyClear) {
        // Table 0 clear but for one entry in eight, the light mostly
        // weighted by opacity (specular too, or not), neither modulated nor
        // read past the maps, now and then corrected, and the range past
        // storage in every other programme, where the reads past it count.
        for (size_t e = 0; e < m_tables[0].size(); ++e)
            if (e % 8 != seed % 8) m_tables[0][e] = 0;
        if (Pick(0, 3) != 0) Set(NKW7_RenderOperation_Addr, Get(NKW7_RenderOperation_Addr) | 0x8000);
        if (Coin()) Set(NKW7_SpecularColor_Addr, Get(NKW7_SpecularColor_Addr) | uint64_t{1} << 63);
        Set(NKW7_GradientMagnitudeModulation_Addr, 0);
        for (const size_t map : {4, 5}) m_job.tables[map].validEntries = 384;
        if (Coin()) {
            Set(NKW7_ImageControl_Addr, Get(NKW7_ImageControl_Addr) | 0x100);
            m_job.tables[7].bound = true;
            m_job.tables[7].validEntries = 56;
        }
    }
    ExpectTheReferenceBytes();
}

// Tabled rows front to back with early termination, each ray starting
// from its image element's alpha, a 4-bit field: the threshold equals
// alpha b / 15 exactly (273 b / 4095), so that some rays start on it,
// which stops them, others just below or above it, in groups of eight
// that mix them.
TEST_F(ChipEquivalenceTest, RaysStartingOnTheTerminationThresholdStopAsTheReferenceDoes) {
    for (uint64_t seed = 1; seed <= 24; ++seed) {
        SCOPED_TRACE(seed);
        SeededProgramme(seed, seed % 2 == 0 ? 4 : 5, true);
        const uint64_t last = Get(NKW7_ViewFrustumRangeMax_Addr);
        const int width = static_cast<int>(last & 0xFFFF) + 1, height = static_cast<int>((last >> 16) & 0xFFFF) + 1;
        m_arrays[1] = std::make_unique<HostArray>(2, width, height, 1, 8, 2);
        const int onThreshold = Pick(1, 15);
        int stopped = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int alpha = std::clamp(onThreshold + Pick(-1, 1), 0, 15);
                stopped += alpha >= onThreshold ? 1 : 0;
                m_arrays[1]->Set(x, y, 0, (Bits() & 0x0000FFFFFFFFFFFF) | uint64_t(alpha) << 48);
            }
        m_job.image0 = m_arrays[1]->Bind();
        // Red, green and blue 16 bits wide, alpha the 4 bits at bit 48.
        const uint32_t sixteen = NKW7_Code(NKW7_FieldControl::UnsignedFraction);
        Set(NKW7_Image0FieldSel_Addr,
            NKW7_FieldCodeAt(NKW7_FieldCode(sixteen, 16, 0), 0) | NKW7_FieldCodeAt(NKW7_FieldCode(sixteen, 16, 16), 1) |
                NKW7_FieldCodeAt(NKW7_FieldCode(sixteen, 16, 32), 2) |
                NKW7_FieldCodeAt(NKW7_FieldCode(sixteen, 4, 48), 3));
        Set(NKW7_ImageControl_Addr, Get(NKW7_ImageControl_Addr) | NKW7_FIELD(ImageControl, initAccum, 1) |
                                        NKW7_FIELD(ImageControl, earlyRayTermination, 1));
        Set(NKW7_ErtThreshold_Addr, NKW7_FIELD(ErtThreshold, alpha, 273 * onThreshold));
        EXPECT_GT(stopped, 0);
        ExpectTheReferenceBytes();
    }
}

// Tabled rows over voxels mostly of all ones, whose samples take the
// table's last entry, from a table of 256 entries or one to three short:
// the reads past the valid ones counted as the element walk counts them.
TEST_F(ChipEquivalenceTest, TabledRowsReadingPastAShortTableCountAsTheReferenceDoes) {
    int readPast = 0;
    for (uint64_t seed = 1; seed <= 16; ++seed) {
        SCOPED_TRACE(seed);
        SeededProgramme(seed, static_cast<int>(seed % 4) + 2, true);
        for (uint8_t& byte : m_arrays[0]->data) byte = Pick(0, 7) == 0 ? byte : 0xFF;
        m_job.tables[0].bound = true;
        m_job.tables[0].validEntries = static_cast<uint16_t>(256 - seed % 4);
        ExpectTheReferenceBytes();
        readPast += Outcome(1, true).second.unboundTableReads > 0 ? 1 : 0;
    }
    EXPECT_GE(readPast, 6);  // of the 12 short tables
}

// Tabled rows whose rays lie 2^22 voxels apart, so that past the second
// or third ray their positions leave 64 bits: the rows take the general
// step sample by sample, and the first ray of each row stays in the
// volume: most programmes sample it (some trim or place it away, and which
// ones depends on the order the compiler draws a programme's numbers in).
TEST_F(ChipEquivalenceTest, RowsLeaving64BitsGiveTheReferenceBytes) { RowsLeaving64Bits(false); }

// The same of shaded rows, whose tiles' slabs, bounded by the volume, are
// planned all the same.
TEST_F(ChipEquivalenceTest, ShadedRowsLeaving64BitsGiveTheReferenceBytes) { RowsLeaving64Bits(true); }

void ChipEquivalenceTest::RowsLeaving64Bits(bool shaded) {
    int sampled = 0;
    for (uint64_t seed = 1; seed <= 16; ++seed) {
        SCOPED_TRACE(seed);
        if (shaded)
            SeededProgramme(seed, 0, seed % 3 != 0, true, true);
        else
            SeededProgramme(seed, static_cast<int>(seed % 4) + 2, true);
        const int64_t step = (kOne << 22) * (seed % 3 == 0 ? -1 : 1);
        Set(NKW7_dXv8_dXs_Addr, static_cast<uint64_t>(step));
        // Rays along Zv: the first ray of each row stays in the volume.
        for (uint32_t a : {NKW7_dXv8_dZs_Addr, NKW7_dXv8_dZv_Addr}) Set(a, 0);
        for (uint32_t a = NKW7_ddXv8_dXs_dZs_Addr; a <= NKW7_ddYv8_dYs_dZv_Addr; a += 8) Set(a, 0);
        Set(NKW7_TrimRangeXmin_Addr, static_cast<uint32_t>(INT32_MIN));
        Set(NKW7_TrimRangeXmax_Addr, static_cast<uint32_t>(INT32_MAX));
        const uint64_t last = Get(NKW7_ViewFrustumRangeMax_Addr);
        Set(NKW7_ViewFrustumRangeMax_Addr, (last & ~uint64_t{0xFFFF}) | uint64_t(Pick(2, 40)));
        ExpectTheReferenceBytes();
        sampled += Diagnostics().samples > 0 ? 1 : 0;
    }
    EXPECT_GE(sampled, 8);
}

TEST_F(ChipEquivalenceTest, ShadedProgrammesOverOneByteVoxelsGiveTheReferenceBytes) {
    for (uint64_t seed = 1; seed <= 30; ++seed) ExpectTheReferenceBytes(seed, 0, false, true);
    for (uint64_t seed = 31; seed <= 50; ++seed) ExpectTheReferenceBytes(seed, 0, true, true);
}

// Shaded rows of 1 to 40 rays over volumes from 3 voxels wide, their
// gradients from a slab: classified through any ALUs or one field's table.
TEST_F(ChipEquivalenceTest, ShadedRowsGiveTheReferenceBytesOnEveryInstructionSet) {
    for (uint64_t seed = 1; seed <= 60; ++seed) ExpectTheReferenceBytes(seed, 0, seed % 3 != 0, true, true);
}

// Shaded frames of up to 5 x 9 tiles, which one kernel takes one after
// another on one thread: tiles inside the volume, across its edges and
// beside it, each planning its slab afresh and finding its own rows.
TEST_F(ChipEquivalenceTest, ShadedTilesOneAfterAnotherGiveTheReferenceBytes) {
    m_reach = 140;
    for (uint64_t seed = 1; seed <= 12; ++seed) ExpectTheReferenceBytes(seed, 0, seed % 3 != 0, true, true);
}

// Shaded rows along u over a volume that fills its storage: runs of the
// gradient slab from one voxel to a few vectors long, starting and ending
// mid-vector, and its edge voxels, whose neighbours past the volume's edge
// are the edge voxel itself or the border word.
TEST_F(ChipEquivalenceTest, ShadedRowsAlongUOverAVolumeInItsStorageGiveTheReferenceBytes) {
    for (uint64_t seed = 1; seed <= 40; ++seed) ExpectTheReferenceBytes(seed, 0, seed % 3 != 0, true, true, true);
}

// Shaded rows over mostly clear voxels (table 0 clear but for one entry in
// eight), whole groups of eight samples of alpha 0 among them, with maps
// of every entry, which no sample reads past, and maps short.
TEST_F(ChipEquivalenceTest, ShadedRowsOverMostlyClearVoxelsGiveTheReferenceBytes) {
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        m_random.seed(seed);
        m_writes.clear();
        PassProgramme();
        RandomProgramme(0, seed % 3 != 0, true, true);
        for (size_t e = 0; e < m_tables[0].size(); ++e)
            if (e % 8 != seed % 8) m_tables[0][e] = 0;
        for (const size_t map : {4, 5}) m_job.tables[map].validEntries = uint16_t(seed % 4 == 0 ? 300 : 384);
        ExpectTheReferenceBytes();
    }
}

// A render's light comes from its own maps and eye: the same volume lit
// again with every map entry's bits inverted, then from another eye, then
// with the specular map read the other way, each render against its
// reference, so that no light a render worked out for a gradient serves
// another lighting. The volume's bytes count up through storage, so that
// most of its samples share a few gradients.
TEST_F(ChipEquivalenceTest, ShadedRendersOneAfterAnotherLightFromTheirOwnMapsAndEye) {
    m_reach = 140;
    for (uint64_t seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE(seed);
        SeededProgramme(seed, 0, seed % 3 != 0, true, true);
        FewGradientsLitByFullMaps();
        ExpectTheReferenceBytes();
        for (const size_t map : {4, 5})
            for (uint64_t& entry : m_tables[map]) entry = ~entry;
        ExpectTheReferenceBytes();
        // The eye's components are 10-bit fields: one of them moved.
        Set(NKW7_EyeVector_Addr, Get(NKW7_EyeVector_Addr) ^ uint64_t{0x40} << (22 + 16 * Pick(0, 2)));
        ExpectTheReferenceBytes();
        Set(NKW7_EyeVector_Addr, Get(NKW7_EyeVector_Addr) ^ 3);
        ExpectTheReferenceBytes();
    }
}

// The same: a volume whose gradients fall on ties of the rounding, white
// and opaque, where the diffuse map's black and white cells show each
// normal, lit again with the cells swapped; the second picture differs
// from the first.
TEST_F(ChipEquivalenceTest, ARenderLitAgainWithOtherCellsLightsFromThem) {
    TwoValuedOnTies();
    WhiteAndOpaqueLitByTheMaps();
    ExpectTheReferenceBytes();
    const auto first = Outcome(1, true).first;
    for (uint64_t& entry : m_tables[5]) entry = ~entry;
    ExpectTheReferenceBytes();
    EXPECT_NE(Outcome(1, true).first, first);
}

// Maps whose entries are grey (red, green and blue the same), nearly so
// (two of the three the same), or grey in one map and coloured in the
// other: the light of each channel as the reference gives it, over a
// volume whose samples share a few gradients.
TEST_F(ChipEquivalenceTest, GreyAndNearlyGreyMapsLightAsTheReferenceDoes) {
    // Which channel green and blue copy, per map; -1 keeps their own.
    struct Copies {
        int green, blue;
    };
    static constexpr Copies kMaps[][2] = {{{0, 0}, {0, 0}},    // both grey
                                          {{-1, 0}, {-1, 0}},  // green differs
                                          {{0, -1}, {0, -1}},  // blue differs
                                          {{0, 0}, {-1, -1}},  // diffuse coloured
                                          {{-1, -1}, {0, 0}}}; // specular coloured
    m_reach = 140;
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        SeededProgramme(seed, 0, true, true, true);
        FewGradientsLitByFullMaps();
        const Copies(&copies)[2] = kMaps[seed % 5];
        for (const size_t map : {4, 5}) {
            const Copies c = copies[map - 4];
            for (uint64_t& entry : m_tables[map]) {
                const uint64_t channel[3] = {entry & 0xFFFF, entry >> 16 & 0xFFFF, entry >> 32 & 0xFFFF};
                const uint64_t green = c.green < 0 ? channel[1] : channel[c.green];
                const uint64_t blue = c.blue < 0 ? channel[2] : channel[c.blue];
                entry = (entry & 0xFFFF000000000000) | blue << 32 | green << 16 | channel[0];
            }
        }
        ExpectTheReferenceBytes();
    }
}

// Samples whose gradient is zero have no normal and read no map: white and
// opaque samples of a volume of one value, lit by both maps in colours and
// a white specular light, rays starting inside it, where each pixel shows
// its first sample.
TEST_F(ChipEquivalenceTest, SamplesOfNoNormalTakeNoLightFromTheMaps) {
    HostArray& volume = EightCubed();
    for (int w = 0; w < 8; ++w)
        for (int v = 0; v < 8; ++v)
            for (int u = 0; u < 8; ++u) volume.Set(u, v, w, 200);
    WhiteAndOpaqueLitByTheMaps();
    Frustum(0, 0, 2, 7, 1, 5);
    Set(NKW7_SpecularColor_Addr, uint64_t{4095} << 4 | uint64_t{4095} << 20 | uint64_t{4095} << 36);
    for (const size_t map : {4, 5})
        for (size_t e = 0; e < 384; ++e) m_tables[map][e] = Bits() | uint64_t{0xFFFF} << 48;
    ExpectTheReferenceBytes();
    EXPECT_GT(Diagnostics().samples, 0u);
}

// Gradients with one component on a tie of the 9-bit rounding beside one
// that is not: two-valued voxels sampled half-way between two, white and
// opaque, lit by a diffuse map of black and white cells, where a step of
// the rounding moves the colour by two 8-bit units; the eye down w, across
// which the normals look, with the specular light (white) on the faces
// towards the eye only. Row v = 2 rounds up, row v = 5 down.
TEST_F(ChipEquivalenceTest, GradientsOnATieOfTheRoundingLightAsTheReferenceDoes) {
    TwoValuedOnTies();
    WhiteAndOpaqueLitByTheMaps();
    ExpectTheReferenceBytes();
    EXPECT_GT(Diagnostics().samples, 0u);
}

// A gradient whose product by 511 rounds onto a tie in float arithmetic
// though it lies just short of it: along u, the central differences
// (253 - 0) / 2 and (254 - 0) / 2 of a full byte blended a 256th of the way
// scale to 253.4999924, which quantises to 253; beside it a component of
// 200 along v, so that a step of the rounding turns the normal across the
// diffuse map's black and white cells. Every sample is white and opaque and
// the rays start inside the volume, so that each pixel shows its ray's
// first sample, taken from the rows.
TEST_F(ChipEquivalenceTest, GradientsJustShortOfATieLightAsTheReferenceDoes) {
    HostArray& volume = EightCubed();
    for (int w = 0; w < 8; ++w)
        for (int v = 3; v < 8; ++v)
            for (int u = 0; u < 8; ++u) volume.Set(u, v, w, v > 3 ? 200 : u < 3 ? 0 : u == 3 ? 253 : 254);
    WhiteAndOpaqueLitByTheMaps();
    for (size_t e = 0; e < 256; ++e) m_tables[0][e] = ~uint64_t{0};
    m_tables[4] = m_tables[5];
    Frustum(0, 0, 0, 7, 1, 3);
    Set(NKW7_OriginXv8_Addr, kOne / 256);
    Set(NKW7_dXv8_dXs_Addr, kOne);
    Set(NKW7_OriginYv8_Addr, 3 * kOne);
    Set(NKW7_OriginZv8_Addr, 3 * kOne);
    ExpectTheReferenceBytes();
    EXPECT_GT(Diagnostics().samples, 0u);
}

// Corrected gradients past the 9 bits: forward differences of voxels of 0
// and 255 (up to 1 a component) through rows (1 1 0), (1 0 0), (0 0 1), so
// that the first component reaches 2 and is clamped while the others are
// not, which turns the normal; maps of cells of any colour, where it shows.
TEST_F(ChipEquivalenceTest, CorrectedGradientsPastTheNineBitsClampAsTheReferenceDoes) {
    std::mt19937_64 random(41);
    for (uint8_t& voxel : EightCubed().data) voxel = random() % 2 == 0 ? 255 : 0;
    WhiteAndOpaqueLitByTheMaps();
    for (const size_t map : {4, 5})
        for (size_t e = 0; e < 384; ++e) m_tables[map][e] = random();
    Set(NKW7_GradientControl_Addr,
        NKW7_FIELD(GradientControl, estimationFunction, NKW7_Code(NKW7_GradientEstimation::Forward)) |
            NKW7_FIELD(GradientControl, gradientCorrection, 1));
    Set(NKW7_GradientCorrection0_Addr, NKW7_FIELD(GradientCorrection0, g11, 0xFFF) |
                                           NKW7_FIELD(GradientCorrection0, g12, 0xFFF));
    Set(NKW7_GradientCorrection1_Addr, 0);
    Set(NKW7_GradientCorrection2_Addr, NKW7_FIELD(GradientCorrection2, g33, 0xFFF));
    ExpectTheReferenceBytes();
    EXPECT_GT(Diagnostics().samples, 0u);
}


// Every plain row kernel the chip compiles: voxels of 1, 2, 4 and 8 bytes,
// each blend mode that has a kernel of its own and one that takes the
// general one, one field looked up in its table or several routed, rows
// inside the volume and across its edges; each against the reference.
TEST_F(ChipEquivalenceTest, EveryPlainRowKernelGivesTheReferenceBytes) {
    uint64_t seed = 500;
    for (const int bytes : {1, 2, 4, 8})
        for (const int blend : {1, 2, 3, 4, 5})
            for (const bool tabled : {false, true})
                for (int take = 0; take < 2; ++take) {
                    SCOPED_TRACE(::testing::Message() << bytes << " bytes, blend " << blend
                                                      << (tabled ? ", tabled" : ", routed") << ", take " << take);
                    SeededProgramme(++seed, blend, tabled);
                    // The same geometry over voxels of the width asked for.
                    const BoundArray old = m_arrays[0]->bound;
                    auto volume = std::make_unique<HostArray>(3, old.size[0], old.size[1], old.size[2], bytes, 1);
                    for (uint8_t& byte : volume->data) byte = static_cast<uint8_t>(Bits());
                    volume->bound.wrap = old.wrap;
                    for (int a = 0; a < 3; ++a) volume->bound.offsetModulus[a] = old.offsetModulus[a];
                    m_arrays[0] = std::move(volume);
                    m_job.volume = m_arrays[0]->Bind();
                    ExpectTheReferenceBytes();
                }
}


// Every lighting kernel the chip compiles, one for each configuration a
// programme can select: magnitude modulation or hi-pass, a diffuse and a
// specular coefficient, each on or off, lit in proportion to opacity or
// not; without any of the three, the gradients on for the gradient or its
// magnitude as the colour, or off. Each sample by sample (a cut plane that
// passes everything keeps them from the shaded rows) and, where there are
// gradients, in the shaded rows; against the element walk. Random voxels
// coloured and made more or less opaque by table 0, lit by maps, a specular
// colour and a magnitude table of any entries.
TEST_F(ChipEquivalenceTest, EveryLightingKernelGivesTheReferenceBytes) {
    const uint64_t kGradientOut = NKW7_FIELD(GradientControl, outputGrad, 1);
    const uint64_t kMagnitudeOut = NKW7_FIELD(GradientControl, outputMag, 1);
    m_random.seed(47);
    for (int reads = 0; reads < 8; ++reads)
        for (const bool weighted : {false, true})
            for (const uint64_t output : {uint64_t{0}, kGradientOut, kMagnitudeOut})
                for (const bool rows : {false, true}) {
                    const bool magnitude = (reads & 1) != 0, diffuse = (reads & 2) != 0, specular = (reads & 4) != 0;
                    // A stage that reads gradients has them whatever shows.
                    if (reads != 0 && output != 0) continue;
                    if (rows && reads == 0 && output == 0) continue;
                    SCOPED_TRACE(::testing::Message()
                                 << (magnitude ? "magnitude " : "") << (diffuse ? "diffuse " : "")
                                 << (specular ? "specular " : "") << (weighted ? "weighted " : "")
                                 << (output == kGradientOut ? "gradient out " : "")
                                 << (output == kMagnitudeOut ? "magnitude out " : "")
                                 << (rows ? "rows" : "sample by sample"));
                    for (uint8_t& voxel : EightCubed().data) voxel = static_cast<uint8_t>(Bits());
                    WhiteAndOpaqueLitByTheMaps();
                    for (const size_t table : {0, 4, 5, 6})
                        for (uint64_t& entry : m_tables[table]) entry = Bits();
                    m_job.tables[6] = BoundTable{true, 16, 0, 64, reinterpret_cast<const uint8_t*>(m_tables[6].data()),
                                                 4096 * 8};
                    Set(NKW7_SpecularColor_Addr, Bits());
                    Set(NKW7_LightingCoefficient_Addr,
                        NKW7_FIELD(LightingCoefficient, kEmissive, Bits() % 256) |
                            NKW7_FIELD(LightingCoefficient, kDiffuse, diffuse ? Bits() % 255 + 1 : 0) |
                            NKW7_FIELD(LightingCoefficient, kSpecular, specular ? Bits() % 255 + 1 : 0));
                    // Any of alpha and the coefficients modulated, or either
                    // hi-passed, over the whole range of magnitudes.
                    Set(NKW7_GradientMagnitudeModulation_Addr,
                        magnitude ? (Bits() & 0x1FFFFFC0) | (Bits() % 63 + 1) : 0);
                    Set(NKW7_GradientMagnitudeRange_Addr, NKW7_FIELD(GradientMagnitudeRange, max, 0xFFFFF));
                    const uint64_t operation = Get(NKW7_RenderOperation_Addr) & ~uint64_t{0x8000};
                    Set(NKW7_RenderOperation_Addr, operation | NKW7_FIELD(RenderOperation, opacityWeight, weighted));
                    // Central or forward differences of field 0.
                    Set(NKW7_GradientControl_Addr,
                        NKW7_FIELD(GradientControl, estimationFunction, Bits() % 2 + 1) | output);
                    if (!rows) {
                        const uint32_t plane = NKW7_CutPlane0_dCut_dXs_Addr;
                        for (uint32_t k = 0; k < 4; ++k) Set(plane + 4 * k, 0);
                        Set(plane + 16, static_cast<uint32_t>(INT32_MIN));
                        Set(plane + 20, static_cast<uint32_t>(INT32_MAX));
                        Set(NKW7_CutPlaneControl_Addr, NKW7_FIELD(CutPlaneControl, enable0, 1) |
                                                           NKW7_FIELD(CutPlaneControl, visibility0, 1));
                    }
                    ExpectTheReferenceBytes();
                    EXPECT_GT(Diagnostics().samples, 0u);
                }
}


// Rows lit from grey maps (every entry's red, green and blue the same),
// whose light the memo keeps in its grey layout, of one to five groups of
// eight rays, so that a row ends with each count of groups left over, in
// each blend the vector rows take: random voxels of 0 and 255, sampled
// across the volume, each row against the reference, and again once the
// memo holds their light.
TEST_F(ChipEquivalenceTest, RowsOfAnyGroupsLitFromGreyMapsLightAsTheReferenceDoes) {
    std::mt19937_64 random(43);
    for (const NKW7_BlendMode mode : {NKW7_BlendMode::BackToFront, NKW7_BlendMode::BackToFrontPreWeighted,
                                      NKW7_BlendMode::FrontToBack, NKW7_BlendMode::FrontToBackPreWeighted})
        for (const int width : {8, 16, 24, 32, 40}) {
            SCOPED_TRACE(::testing::Message() << "blend " << NKW7_Code(mode) << ", " << width << " rays");
            for (uint8_t& voxel : EightCubed().data) voxel = random() % 3 == 0 ? 255 : 0;
            WhiteAndOpaqueLitByTheMaps();
            ImageControl(NKW7_ImageWrite::Image0, mode);
            m_arrays[1] = std::make_unique<HostArray>(2, width, 2, 1, 4, 2);
            m_job.image0 = m_arrays[1]->Bind();
            Frustum(0, 0, 0, uint32_t(width - 1), 1, 7);
            Set(NKW7_OriginXv8_Addr, kOne);
            Set(NKW7_dXv8_dXs_Addr, static_cast<uint64_t>(5 * kOne / width));
            ExpectTheReferenceBytes();
            EXPECT_GT(Diagnostics().samples, 0u);
            ExpectTheReferenceBytes();
        }
}

}  // namespace
}  // namespace tulx7sim::test
