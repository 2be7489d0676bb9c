// Creation of volumes: what each creator refuses, what a volume reports, its
// setters' refusals and change serial, and the wrapping by configuration.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "multiboard/multiboard_volume_factory.h"
#include "multiboard/multiboard_volume_phase2.h"
#include "resample/mipmap_volume.h"
#include "resample/mipmap_volume_factory.h"
#include "volume_fixture.h"

namespace ulm3::testing {
namespace {

using VolumeCreationTest = VolumeTest;

// Shareable objects alive now.
int LiveObjects() { return gULMControl.m_shareableObjectsCreated - gULMControl.m_shareableObjectsDestroyed; }

TEST_F(VolumeCreationTest, LegacyFormatsGiveTheirVoxelSizeAndField) {
    std::vector<uint16_t> voxels(4 * 3 * 2);
    const struct {
        unsigned format;
        int bits;
        ULMFieldDescriptor field;
    } cases[] = {{1, 8, {0, 8, kULMUnsignedFraction}},
                 {2, 16, {0, 12, kULMUnsignedFraction}},
                 {3, 16, {4, 12, kULMUnsignedFraction}}};
    for (const auto& c : cases) {
        Held<ULMVolume> v(ULMVolume::Create(c.format, voxels.data(), 4, 3, 2, ULMVolume::kBlocked));
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->GetVoxelSize(), c.bits);
        EXPECT_EQ(v->GetFormat(), c.format);
        EXPECT_EQ(v->GetFieldDescriptor(kULMField0), c.field);
        EXPECT_EQ(v->GetLayout(), ULMVolume::kSliced);
        EXPECT_EQ(v->GetRange(), ULMVolumeRange(4, 3, 2, 0, 0, 0));
    }
    // Two fields make the other-layout format even at 8 bits.
    const ULMFieldDescriptor two[2] = {{0, 4, kULMUnsignedFraction}, {4, 4, kULMUnsignedFraction}};
    Held<ULMVolume> v(ULMVolume::Create(8, 4, 3, 2, 2, two, voxels.data()));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->GetFormat(), unsigned(kULMVoxelFormatOther));
}

TEST_F(VolumeCreationTest, CreatorsRefuseBadInputAndLeaveNothing) {
    std::vector<uint32_t> voxels(64);
    const ULMFieldDescriptor f8(0, 8, kULMUnsignedFraction);
    const ULMFieldDescriptor fields[5] = {f8, f8, f8, f8, f8};
    const ULMFieldDescriptor misplaced(8, 12, kULMUnsignedFraction);
    PitchedSource* odd = new PitchedSource(8, ULMVolumeRange(4, 4, 4, 0, 0, 0), std::vector<uint8_t>(64));
    odd->AddRef();
    Held<PitchedSource> holdOdd(odd);
    const int before = LiveObjects();
    const int holders = gULMControl.m_objectCount;
    const std::function<ULMVolume*()> refused[] = {
        [&] { return ULMVolume::Create(0u, voxels.data(), 4, 4, 4, ULMVolume::kSliced); },
        [&] { return ULMVolume::Create(4u, voxels.data(), 4, 4, 4, ULMVolume::kSliced); },
        [&] { return ULMVolume::Create(1u, voxels.data(), 0, 4, 4, ULMVolume::kSliced); },
        [&] { return ULMVolume::Create(24, 4, 4, 4, 0, nullptr, voxels.data()); },
        [&] { return ULMVolume::Create(8, 4, 4, 4, 5, fields, voxels.data()); },
        [&] { return ULMVolume::Create(8, 4, 4, 4, 1, nullptr, voxels.data()); },
        [&] { return ULMVolume::Create(8, 4, 4, 4, 1, &misplaced, voxels.data()); },
        [&] { return ULMVolume::Create(8, ULMVolumeRange(-4, 4, 4, 0, 0, 0), 0, nullptr, voxels.data()); },
        [&] { return ULMVolume::CreateFromFile("/nonexistent/volume.vox", 0, ULMVolume::kReadOnly, 0); },
        [&] { return ULMVolume::CreateFromSource(nullptr); },
        [&] {
            ULMClose();
            return ULMVolume::CreateFromSource(odd);
        },
    };
    for (size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(refused[i](), nullptr) << "case " << i;
    EXPECT_EQ(LiveObjects(), before);
    EXPECT_EQ(gULMControl.m_objectCount + 1, holders) << "only the application's hold went";
}

TEST_F(VolumeCreationTest, SettersAdvanceTheSerialOnlyOnAChange) {
    Held<ULMVolumeInternal> v(ULMVolumeInternal::CreateSimpleVolume(8, ULMVolumeRange(64, 64, 64, 0, 0, 0), 0,
                                                                    nullptr, nullptr));
    ASSERT_NE(v, nullptr);
    const ULMFieldDescriptor f8(0, 8, kULMUnsignedFraction);
    const auto leap = [&](int mode, double red, double alpha) {
        return v->SetSpaceLeapingParameters(ULMVolume::SpaceLeapingMode(mode), red, 0, 0, alpha);
    };
    const struct {
        std::function<ULMStatus()> set;
        ULMStatus status;
        bool advances;
    } steps[] = {
        {[&] { return v->SetBorderValue(5); }, kULMOK, true},
        {[&] { return v->SetBorderValue(5); }, kULMOK, false},
        {[&] { return v->SetFieldDescriptor(ULMFieldNumber(4), f8); }, kULMErrArgument, false},
        {[&] { return v->SetFieldDescriptor(kULMField0, {8, 12, kULMUnsignedFraction}); }, kULMErrFormat, false},
        {[&] { return v->SetFieldDescriptor(kULMField0, f8); }, kULMOK, true},
        {[&] { return v->SetFieldDescriptor(kULMField0, f8); }, kULMOK, false},
        {[&] { return v->SetExtendMode(ULMVolume::ExtendMode(2)); }, kULMErrArgument, false},
        {[&] { return v->SetExtendMode(ULMVolume::kExtendWithEdge); }, kULMOK, true},
        {[&] { return v->SetExtendModes(ULMVolume::kExtendWithEdge, ULMVolume::kExtendWithEdge,
                                        ULMVolume::kExtendWithEdge); }, kULMOK, false},
        {[&] { return v->SetCorrectionMatrix(ULMMatrix::Scale(2, 2, 2)); }, kULMOK, true},
        {[&] { return v->SetModelMatrix(ULMMatrix::Scale(2, 2, 2)); }, kULMOK, false},
        {[&] { return v->SetModelMatrix(ULMMatrix::Scale(1e-4, 1e-4, 1e-3)); }, kULMErrArgument, false},
        {[&] { return v->SetModelMatrix(ULMMatrix::Translate(HUGE_VAL, 0, std::nan(""))); }, kULMErrArgument, false},
        {[&] { return v->SetActiveSubVolume(ULMVolumeRange(8, 8, 8, 60, 0, 0)); }, kULMErrArgument, false},
        {[&] { return v->SetActiveSubVolumeSize(0, 5, 5); }, kULMErrArgument, false},
        {[&] { return v->SetActiveSubVolumeSize(16, 16, 65); }, kULMErrArgument, false},
        {[&] { return v->SetActiveSubVolumeSize(16, 16, 16); }, kULMOK, true},
        {[&] { return v->SetActiveSubVolumeOrigin(20, 0, 0); }, kULMErrArgument, false},
        {[&] { return v->SetActiveSubVolumeOrigin(8, 8, 8); }, kULMOK, true},
        {[&] { return v->SetActiveSubVolumeSize(0, 0, 0); }, kULMOK, true},
        {[&] { return v->SetTarget(ULMTarget(3)); }, kULMErrArgument, false},
        {[&] { return v->SetTarget(kULMBuffer); }, kULMOK, false},
        {[&] { return v->SetBufferPermission(ULMPermission(16)); }, kULMErrArgument, false},
        {[&] { return leap(1, 0.25, 0.5); }, kULMOK, false},
        {[&] { return leap(2, -1, -1); }, kULMErrArgument, false},
        {[&] { return leap(-1, -1, -1); }, kULMErrArgument, false},
        {[&] { return leap(1, 1.5, 0); }, kULMErrArgument, false},
        {[&] { return leap(1, 0, 1.0001); }, kULMErrArgument, false},
        {[&] { return leap(1, 0, std::nan("")); }, kULMErrArgument, false},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const uint64_t serial = v->GetSerial();
        EXPECT_EQ(steps[i].set(), steps[i].status) << "step " << i;
        EXPECT_EQ(v->GetSerial() != serial, steps[i].advances) << "step " << i;
    }
    EXPECT_EQ(v->GetActiveSubVolume(), ULMVolumeRange()) << "a reset sub-volume keeps no origin";
    EXPECT_EQ(v->GetCorrectionMatrix(), ULMMatrix::Scale(2, 2, 2));
    ULMVolume::SpaceLeapingMode mode;
    double t[4];
    v->GetSpaceLeapingParameters(mode, t[0], t[1], t[2], t[3]);
    EXPECT_TRUE(mode == ULMVolume::kSpaceLeapingOn && t[0] == 0.25 && t[3] == 0.5) << "a refusal changes nothing";
}

// A stand-in wrapper: a plain volume over the wrapped volume's source that
// holds a reference on the wrapped volume, as the real wrappers do.
class FakeWrapper : public ULMVolumeInternal {
public:
    FakeWrapper(ULMVolume* inInner, char inKind)
        : ULMVolumeInternal(dynamic_cast<ULMVolumeInternal*>(inInner)->GetSource()), inner(inInner), kind(inKind) {
        inner->AddRef();
        AddRef();
    }
    ~FakeWrapper() override { inner->Release(); }
    ULMVolume* inner;
    char kind;
};

// The wrappers from the outside in, 'p' for the plain volume.
std::string Nesting(ULMVolume* v) {
    std::string kinds;
    for (auto* w = dynamic_cast<FakeWrapper*>(v); w != nullptr; w = dynamic_cast<FakeWrapper*>(v = w->inner))
        kinds += w->kind;
    return kinds + 'p';
}

TEST_F(VolumeCreationTest, ConfigurationWrapsVolumesInMipmapAndMultiboardVolumes) {
    SetMipmapVolumeFactory([](ULMVolume* v, ULMVolumeSource*) -> ULMVolume* { return new FakeWrapper(v, 'm'); });
    SetMultiboardVolumeFactory([](int mode, ULMVolume* v, ULMVolumeSource*, int, const ULMVolumeRange&) -> ULMVolume* {
        return new FakeWrapper(v, mode == 1 ? '1' : '2');
    });
    gULMControl.m_multiboardRenderEnable = true;
    const int before = LiveObjects();
    const struct {
        bool multiboardInside;
        int mode;
        ULMVolumeRange range;
        const char* nesting;
    } cases[] = {
        {true, 1, ULMVolumeRange(256, 1, 1, 0, 0, 0), "m1p"}, {false, 2, ULMVolumeRange(256, 1, 1, 0, 0, 0), "2mp"},
        {true, 1, ULMVolumeRange(255, 255, 255, 0, 0, 0), "p"}, {true, 3, ULMVolumeRange(1, 1, 300, 0, 0, 0), "mp"},
    };
    for (const auto& c : cases) {
        gULMControl.m_MipmapMultiboard = c.multiboardInside;
        gULMControl.m_multiboardRenderMode = c.mode;
        Held<ULMVolume> v(ULMVolume::Create(8, c.range, 0, nullptr, nullptr));
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->RefCount(), 1);
        EXPECT_EQ(Nesting(v), c.nesting);
    }
    SetMipmapVolumeFactory(nullptr);
    SetMultiboardVolumeFactory(nullptr);
    Held<ULMVolume> plain(ULMVolume::Create(8, ULMVolumeRange(256, 256, 1, 0, 0, 0), 0, nullptr, nullptr));
    EXPECT_EQ(Nesting(plain), "p");
    plain.Assign(nullptr);
    EXPECT_EQ(LiveObjects(), before);
}

// With the library's own wrapper: a volume with a side of 256 or more comes
// as a mipmap volume whose level 0 is the plain volume, held by the wrapper
// alone, in either nesting order while no multiboard volume is made; every
// object goes with the application's release.
TEST_F(VolumeCreationTest, LargeVolumesComeAsMipmapVolumesOverThePlainVolume) {
    std::vector<uint8_t> voxels(size_t(256) * 3 * 2);
    const ULMFieldDescriptor f8(0, 8, kULMUnsignedFraction);
    PitchedSource* source = new PitchedSource(8, ULMVolumeRange(3, 256, 2, 0, 0, 0), voxels);
    source->AddRef();
    Held<PitchedSource> holdSource(source);
    const int before = LiveObjects();
    const struct {
        std::function<ULMVolume*()> create;
        bool wrapped;
    } cases[] = {
        {[&] { return ULMVolume::Create(1u, voxels.data(), 256, 3, 2, ULMVolume::kSliced); }, true},
        {[&] { return ULMVolume::Create(8, 255, 255, 255, 1, &f8, nullptr); }, false},
        {[&] { return ULMVolume::Create(8, ULMVolumeRange(2, 3, 256, 0, 0, -100), 1, &f8, nullptr); }, true},
        {[&] { return ULMVolume::CreateFromSource(source); }, true},
    };
    for (bool multiboardInside : {true, false}) {
        gULMControl.m_MipmapMultiboard = multiboardInside;
        for (const auto& c : cases) {
            Held<ULMVolume> v(c.create());
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(v->RefCount(), 1);
            EXPECT_EQ(IsObjectType(v, kObjectTypeULMMipmapVolume), c.wrapped) << &c - cases;
            ULMVolume* level0 = v->GetMipmapLevel(0);
            EXPECT_EQ(level0 != nullptr, c.wrapped);
            if (level0 == nullptr) continue;
            EXPECT_TRUE(IsObjectType(level0, kObjectTypeULMVolumeInternal));
            EXPECT_EQ(level0->RefCount(), 1) << "the wrapper holds level 0 alone";
            EXPECT_EQ(v->GetRange(), level0->GetRange());
            EXPECT_EQ(v->GetFormat(), level0->GetFormat());
            EXPECT_EQ(v->GetFieldDescriptor(kULMField0), level0->GetFieldDescriptor(kULMField0));
            EXPECT_EQ(static_cast<ULMMipmapVolume*>(v.GetPointer())->GetMultiboardMode(), 0);
        }
    }
    EXPECT_EQ(LiveObjects(), before);
}

}  // namespace
}  // namespace ulm3::testing

namespace ulm3::testing {
namespace {

// With the library's own factory and multiboard rendering in mode 2, a
// volume with a side at the threshold comes cut into one brick per board (or
// as many as forced), each a plain volume over its part; a smaller one comes
// plain; every object goes with the application's release.
TEST_F(VolumeCreationTest, ModeTwoCutsLargeVolumesIntoBricks) {
    ULMSetParameter("MultiboardRenderMode", 2);
    ULMSetParameter("MultiboardMinVolumeSize", 40);
    ULMSetParameter("MultiboardRenderEnable", 1);
    const int before = LiveObjects();
    const ULMFieldDescriptor f8(0, 8, kULMUnsignedFraction);
    for (const int forced : {0, 3}) {
        ULMSetParameter("MultiboardForceNumberOfVolumes", static_cast<uint64_t>(forced));
        Held<ULMVolume> v(ULMVolume::Create(8, ULMVolumeRange(40, 30, 20, 0, 0, 0), 1, &f8, nullptr));
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->RefCount(), 1);
        ASSERT_TRUE(IsObjectType(v, kObjectTypeULMMultiboardVolumePhase2));
        const auto* bricked = static_cast<ULMMultiboardVolumePhase2*>(v.GetPointer());
        EXPECT_EQ(bricked->GetNumberOfVolumes(), forced == 0 ? 2 : forced);
        EXPECT_EQ(v->GetRange(), ULMVolumeRange(40, 30, 20, 0, 0, 0));
        for (int i = 0; i < bricked->GetNumberOfVolumes(); ++i) {
            EXPECT_TRUE(IsObjectType(bricked->Brick(i).GetVolume(), kObjectTypeULMVolumeInternal));
            EXPECT_EQ(bricked->Brick(i)->GetRange(), bricked->Brick(i).m_loadRange);
        }
        Held<ULMVolume> small(ULMVolume::Create(8, ULMVolumeRange(39, 39, 39, 0, 0, 0), 1, &f8, nullptr));
        EXPECT_TRUE(IsObjectType(small, kObjectTypeULMVolumeInternal));
    }
    // Both wrappers: the mipmap volume outside with the bricks as its level 0,
    // or the bricks outside, each brick a mipmap volume as the base is.
    ULMSetParameter("MultiboardForceNumberOfVolumes", 0);
    ULMSetParameter("MipmapMinVolumeSize", 40);
    for (const bool multiboardInside : {true, false}) {
        ULMSetParameter("MipmapMultiboard", multiboardInside ? 1 : 0);
        Held<ULMVolume> v(ULMVolume::Create(8, ULMVolumeRange(40, 30, 20, 0, 0, 0), 1, &f8, nullptr));
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->RefCount(), 1);
        if (multiboardInside) {
            ASSERT_TRUE(IsObjectType(v, kObjectTypeULMMipmapVolume));
            EXPECT_TRUE(IsObjectType(v->GetMipmapLevel(0), kObjectTypeULMMultiboardVolumePhase2));
            EXPECT_EQ(static_cast<ULMMipmapVolume*>(v.GetPointer())->GetMultiboardMode(), 2);
            continue;
        }
        ASSERT_TRUE(IsObjectType(v, kObjectTypeULMMultiboardVolumePhase2));
        const auto* bricked = static_cast<ULMMultiboardVolumePhase2*>(v.GetPointer());
        for (int i = 0; i < bricked->GetNumberOfVolumes(); ++i)
            EXPECT_TRUE(IsObjectType(bricked->Brick(i).GetVolume(), kObjectTypeULMMipmapVolume)) << i;
    }
    EXPECT_EQ(LiveObjects(), before);
}

}  // namespace
}  // namespace ulm3::testing
