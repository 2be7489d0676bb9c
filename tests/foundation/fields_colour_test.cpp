#include <gtest/gtest.h>

#include "ulm3.h"

using namespace ulm3;

TEST(ColourWords, PackedRGBAKeepsRedOnTopAndDoesNotMask) {
    const uint32_t w = ULMPackRGBA(1, 2, 3, 4);
    EXPECT_EQ(w, 0x01020304u);
    EXPECT_EQ(ULMGetRed(w), 1u);
    EXPECT_EQ(ULMGetGreen(w), 2u);
    EXPECT_EQ(ULMGetBlue(w), 3u);
    EXPECT_EQ(ULMGetAlpha(w), 4u);
    EXPECT_EQ(ULMPackRGBA(0, 0, 0x1FF, 0), 0x0001FF00u);
    EXPECT_EQ(ULMPackRGBA(0x1FF, 0, 0, 0), 0xFF000000u);
    EXPECT_EQ(ULMGetRed(0xFFFFFFFFu), 255u);
}

TEST(ColourWords, OperationKeepsRedInTheLowByte) {
    EXPECT_EQ(ULMOperation().m_opcodes, 0u);
    EXPECT_EQ(ULMOperation(kULM_A_Plus_B).m_opcodes, 0x10101010u);
    EXPECT_EQ(ULMOperation(kULM_One_Minus_8X_OneMinusA_Times_OneMinusB).m_opcodes, 0x3F3F3F3Fu);

    const ULMOperation op(kULM_A, kULM_B, kULM_Zero, kULM_One);
    EXPECT_EQ(op.m_opcodes, 0x0F000503u);
    EXPECT_EQ(op.GetRed(), kULM_A);
    EXPECT_EQ(op.GetGreen(), kULM_B);
    EXPECT_EQ(op.GetBlue(), kULM_Zero);
    EXPECT_EQ(op.GetAlpha(), kULM_One);

    EXPECT_EQ(ULMOperation(kULM_A_Min_B), ULMOperation(kULM_A_Min_B, kULM_A_Min_B, kULM_A_Min_B,
                                                       kULM_A_Min_B));
    EXPECT_FALSE(op == ULMOperation(kULM_One, kULM_Zero, kULM_B, kULM_A));
    // Out-of-range opcodes stay inside their own byte.
    const ULMOperation wide(static_cast<ULMOpcode>(0x1FF), kULM_Zero, kULM_Zero, kULM_Zero);
    EXPECT_EQ(wide.m_opcodes, 0xFFu);
}
