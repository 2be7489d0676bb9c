// The lookup stage and the three ALUs that turn voxel fields into a
// classified sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "chip_fixture.h"

namespace tulx7sim::test {
namespace {

// The ALU operators in double, from their definitions.
double ReferenceAlu(uint32_t op, double a, double b) {
    auto clamp = [](double v) { return std::clamp(v, 0.0, 1.0); };
    if (op == 0) return 0;
    if (op == 15) return 1;
    if (op == 3) return a;
    if (op == 5) return b;
    if (op < 16) {
        const uint32_t qa = static_cast<uint32_t>(std::floor(clamp(a) * 65535 + 0.5));
        const uint32_t qb = static_cast<uint32_t>(std::floor(clamp(b) * 65535 + 0.5));
        uint32_t r = 0;
        for (int bit = 0; bit < 16; ++bit) {
            const uint32_t x = qa >> bit & 1, y = qb >> bit & 1;
            r |= (op >> ((1 - x) * 2 + (1 - y)) & 1) << bit;  // bit 0 is a & b, bit 3 is ~a & ~b
        }
        return r / 65535.0;
    }
    const double sums[8] = {a + b, a + 1 - b, 1 - a + b, 2 - a - b, 1 - a - b, b - a, a - b, a + b - 1};
    if (op < 24) return clamp(sums[op - 16]);
    const double extremes[8] = {std::min(a, b),         std::min(a, 1 - b), std::min(1 - a, b),
                                std::min(1 - a, 1 - b), std::max(1 - a, 1 - b), std::max(1 - a, b),
                                std::max(a, 1 - b),     std::max(a, b)};
    if (op < 32) return clamp(extremes[op - 24]);
    if (op < 64) {
        const double products[4] = {a * b, a * (1 - b), (1 - a) * b, (1 - a) * (1 - b)};
        const double scaled = std::ldexp(products[op & 3], static_cast<int>(((op - 32) >> 2) & 3));
        return clamp(op < 48 ? scaled : 1 - scaled);
    }
    return 0;
}

// A 9 x 9 grid of (A, B) pairs, A from 16-bit field 0 along x, B from
// 16-bit field 1 along y, both bypassing their tables; Alu0 applies one
// operator to all four channels and Alu2 passes it on.
TEST_F(ChipTest, EveryAluOperatorMatchesTheReferenceOnAGridOfOperands) {
    const uint32_t values[9] = {0, 1, 0x3FFF, 0x8000, 0xC000, 0xFFFE, 0xFFFF, 12345, 54321};
    HostArray volume(2, 9, 9, 1, 4, 1), image(2, 9, 9, 1, 8, 2);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x) volume.Set(x, y, 0, values[x] | uint64_t{values[y]} << 16);
    m_job.volume = volume.Bind();
    m_job.image0 = image.Bind();
    Frustum(0, 0, 0, 8, 8, 0);
    Trims(-(1 << 20), 1 << 20, -(1 << 20), 1 << 20, 0, 0);
    Set(NKW7_VoxelFormat_Addr, 0x0F0F3430);
    Set(NKW7_Image0FieldSel_Addr, 0x3C383430);
    Set(NKW7_InterpolateControl_Addr, 0);
    Set(NKW7_Alu2_Addr, 0x03030303);
    for (uint32_t op = 0; op < 66; ++op) {
        SCOPED_TRACE(op);
        Set(NKW7_Alu0_Addr, op * 0x01010101u);
        ClearChipDiagnostics();
        RenderOk();
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x) {
                const double expected = ReferenceAlu(op, values[x] / 65535.0, values[y] / 65535.0) * 65535;
                for (int channel = 0; channel < 4; ++channel) {
                    const double actual = static_cast<double>(image.Get(x, y) >> (16 * channel) & 0xFFFF);
                    // Pass-through and bitwise operators are exact; float32
                    // arithmetic may differ from double by one step.
                    const bool exact = op < 16;
                    ASSERT_NEAR(actual, expected, exact ? 0.0 : 1.0) << x << "," << y << " channel " << channel;
                }
            }
        EXPECT_EQ(Diagnostics().reservedCodes, op >= 64 ? 4u : 0u);
    }
}

// Field 0 looked up in table 0 (256 entries) and field 3 in table 3 (4096
// entries); entry e holds e in its 12-bit channels, so the image shows the
// index the chip used.
class LookupTest : public ChipTest {
protected:
    void SetUp() override {
        ChipTest::SetUp();
        m_job.volume = m_volume.Bind();
        m_job.image0 = m_image.Bind();
        Frustum(0, 0, 0, 7, 0, 0);
        Trims(-(1 << 20), 1 << 20, 0, 0, 0, 0);
        Set(NKW7_InterpolateControl_Addr, 0);
        Set(NKW7_Image0FieldSel_Addr, 0x2C0F0F20);  // red 12 bits at 0, alpha 12 bits at 48
        Set(NKW7_RenderOperation_Addr, 0x1F140000);  // tables 0 and 3 looked up, 1 and 2 bypassed
        for (uint64_t e = 0; e < 256; ++e) m_table0.push_back(e | e << 16 | e << 32 | e << 48);
        for (uint64_t e = 0; e < 4096; ++e) m_table3.push_back(e | e << 16 | e << 32 | e << 48);
        BindTable(0, m_table0, 256);
        BindTable(3, m_table3, 4096);
    }
    void BindTable(int slot, std::vector<uint64_t>& entries, uint16_t valid) {
        BoundTable& table = m_job.tables[static_cast<size_t>(slot)];
        table.bound = true;
        table.bufferId = 10u + static_cast<uint32_t>(slot);
        table.validEntries = valid;
        table.data = reinterpret_cast<const uint8_t*>(entries.data());
        table.byteCount = entries.size() * 8;
    }
    // Renders voxels with field 0 in the low 16 bits and field 3 in the
    // high 16; answers the indices seen in tables 0 and 3.
    std::vector<std::pair<int, int>> Indices(const std::vector<uint32_t>& voxels, uint32_t format) {
        for (int x = 0; x < 8; ++x) m_volume.Set(x, 0, 0, x < static_cast<int>(voxels.size()) ? voxels[x] : 0);
        Set(NKW7_VoxelFormat_Addr, format);
        Render();
        std::vector<std::pair<int, int>> seen;
        for (size_t x = 0; x < voxels.size(); ++x)
            seen.push_back({static_cast<int>(m_image.Get(static_cast<int>(x)) & 0xFFF),
                            static_cast<int>(m_image.Get(static_cast<int>(x)) >> 48 & 0xFFF)});
        return seen;
    }

    HostArray m_volume{2, 8, 1, 1, 4, 1};
    HostArray m_image{2, 8, 1, 1, 8, 2};
    std::vector<uint64_t> m_table0, m_table3;
};

TEST_F(LookupTest, TablesAreIndexedByTheTopBitsOfTheField) {
    using Seen = std::vector<std::pair<int, int>>;
    // 8-bit fields: the value itself in table 0, its 12-bit extension in table 3.
    EXPECT_EQ(Indices({0, 200, 255, 0x80 | 0x80u << 16}, 0x140F0F10),
              (Seen{{0, 0}, {200, 0}, {255, 0}, {128, 0x808}}));
    // 12-bit fields: the top 8 bits, and all 12 in table 3.
    EXPECT_EQ(Indices({0xABC | 0xABCu << 16, 0xFFF | 0x001u << 16}, 0x240F0F20),
              (Seen{{0xAB, 0xABC}, {0xFF, 0x001}}));
    // 4-bit fields replicate their bits; 16-bit fields keep their top bits.
    EXPECT_EQ(Indices({0x7 | 0x7u << 16, 0xF}, 0x040F0F00), (Seen{{0x77, 0x777}, {0xFF, 0}}));
    EXPECT_EQ(Indices({0x1234 | 0xFEDCu << 16}, 0x340F0F30), (Seen{{0x12, 0xFED}}));
    // Signed 8-bit fields: -128 and -127 at the bottom, 0 in the middle.
    EXPECT_EQ(Indices({0x80, 0x81, 0xFF, 0x00, 0x7F}, 0x0F0F0F50),
              (Seen{{0, 0}, {0, 0}, {126, 0}, {128, 0}, {255, 0}}));
    EXPECT_EQ(Diagnostics().Total(), 0u);
}

TEST_F(LookupTest, MissingEntriesReadZeroAndAreCountedOnlyWhenLookedUp) {
    BindTable(0, m_table0, 100);
    EXPECT_EQ(Indices({99, 100, 200}, 0x140F0F10), (std::vector<std::pair<int, int>>{{99, 0}, {0, 0}, {0, 0}}));
    EXPECT_EQ(Diagnostics().unboundTableReads, 2u);

    // An unbound table reads 0 for every sample that looks it up...
    ClearChipDiagnostics();
    m_job.tables[3] = BoundTable{};
    Indices({5}, 0x140F0F10);
    EXPECT_EQ(m_image.Get(0) >> 48 & 0xFFF, 0u);
    EXPECT_EQ(Diagnostics().unboundTableReads, 8u);  // the whole row of 8 pixels

    // ...and is never read when bypassed.
    ClearChipDiagnostics();
    Set(NKW7_RenderOperation_Addr, 0x1F540000);
    EXPECT_EQ(Indices({5}, 0x140F0F10), (std::vector<std::pair<int, int>>{{5, 0}}));
    EXPECT_EQ(Diagnostics().Total(), 0u);
}

}  // namespace
}  // namespace tulx7sim::test
