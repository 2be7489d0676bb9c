// Depth buffers through the public interface: a mapped range reads the
// words last written and what is written into it reaches the buffer at the
// unmap, wherever the buffer lives; and depths moved between host memory,
// boards, bands and a copy per board arrive whole.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "omni_test_fixture.h"

namespace ulm3 {
namespace {

using test_support::Held;
using test_support::OmniTest;

constexpr auto kLow = ULMDepthBuffer::kDepth24Low;
constexpr unsigned kW = 24, kH = 18;

class DepthMapTest : public OmniTest {
protected:
    DepthMapTest() : OmniTest(test_support::SimBoards(3)) {}

    static std::vector<uint32_t> Depths(uint32_t inSeed) {
        std::vector<uint32_t> out(size_t(kW) * kH);
        for (size_t i = 0; i < out.size(); ++i) out[i] = uint32_t(i * 40503u + inSeed * 7919u) & 0xFFFFFF;
        return out;
    }
};

// The map of a box inside the buffer, through both forms of Map: each word
// read is the one updated; each word written through it is read back after
// the unmap, and the words around the box stay.
TEST_F(DepthMapTest, MappedRangesReadAndWriteTheBuffersWords) {
    const ULMLocation places[] = {kULMSystem, kULMBoard0, kULMBoard2, kULMMultiBoardMode1, kULMMultiBoardMode2};
    const ULMImageRange box(9, 7, 5, 6);
    for (const ULMLocation at : places) {
        for (const bool typed : {true, false}) {
            SCOPED_TRACE(::testing::Message() << "location " << at << (typed ? ", words" : ", bytes"));
            Held<ULMDepthBuffer> depth(ULMDepthBuffer::Create(at, kW, kH));
            ASSERT_NE(depth.GetPointer(), nullptr);
            std::vector<uint32_t> want = Depths(uint32_t(at) + 3);
            ASSERT_EQ(depth->Update(want.data(), ULMImageRange(kW, kH, 0, 0), 0, kLow), kULMOK);
            unsigned width = 0;
            uint32_t* words = nullptr;
            void* bytes = nullptr;
            if (typed) {
                ASSERT_EQ(depth->Map(words, box, width, kLow), kULMOK);
            } else {
                ASSERT_EQ(depth->Map(bytes, box, width, kLow), kULMOK);
                words = static_cast<uint32_t*>(bytes);
            }
            ASSERT_NE(words, nullptr);
            ASSERT_GE(width, unsigned(box.XSize()));
            for (int y = 0; y < box.YSize(); ++y)
                for (int x = 0; x < box.XSize(); ++x) {
                    const size_t i = size_t(box.YOrigin() + y) * kW + box.XOrigin() + x;
                    ASSERT_EQ(words[size_t(y) * width + x] & 0xFFFFFF, want[i]) << x << "," << y;
                    words[size_t(y) * width + x] = uint32_t(0x100000 + x * 256 + y);
                    want[i] = uint32_t(0x100000 + x * 256 + y);
                }
            ASSERT_EQ(depth->Unmap(typed ? static_cast<void*>(words) : bytes), kULMOK);
            std::vector<uint32_t> got(want.size(), 0xDEADBEEF);
            ASSERT_EQ(depth->Unload(got.data(), ULMImageRange(kW, kH, 0, 0), 0, kLow), kULMOK);
            for (uint32_t& g : got) g &= 0xFFFFFF;
            EXPECT_EQ(got, want);
        }
    }
}

// A full copy carried from every place to every other keeps every word; a
// buffer that may not move stays, and one that keeps nothing arrives.
TEST_F(DepthMapTest, DepthsMovedBetweenEveryTwoPlacesArriveWhole) {
    const ULMLocation places[] = {kULMSystem, kULMBoard0, kULMBoard1, kULMBoard2, kULMMultiBoardMode1,
                                  kULMMultiBoardMode2};
    uint32_t seed = 1;
    for (const ULMLocation from : places)
        for (const ULMLocation to : places) {
            if (from == to) continue;
            SCOPED_TRACE(::testing::Message() << from << " to " << to);
            Held<ULMDepthBuffer> depth(ULMDepthBuffer::Create(from, kW, kH));
            ASSERT_NE(depth.GetPointer(), nullptr);
            const std::vector<uint32_t> want = Depths(++seed);
            ASSERT_EQ(depth->Update(want.data(), ULMImageRange(kW, kH, 0, 0), 0, kLow), kULMOK);
            ASSERT_EQ(depth->SetMigrationMode(kULMMigrationFullCopy), kULMOK);
            ASSERT_EQ(depth->StartMigrate(to).Wait(-1), kULMOK);
            EXPECT_EQ(depth->GetLocation(), to);
            EXPECT_EQ(Words(depth), want);

            Held<ULMDepthBuffer> fixed(ULMDepthBuffer::Create(from, kW, kH));
            ASSERT_EQ(fixed->SetMigrationMode(kULMMigrationNone), kULMOK);
            EXPECT_EQ(fixed->Migrate(to), kULMErrUnimplemented);
            EXPECT_EQ(fixed->GetLocation(), from);
            ASSERT_EQ(fixed->SetMigrationMode(kULMMigrationNoCopy), kULMOK);
            ASSERT_EQ(fixed->Migrate(to), kULMOK);
            EXPECT_EQ(fixed->GetLocation(), to);
        }
}

}  // namespace
}  // namespace ulm3
