// The frustum planner against a recording fake of the frame's stages, over a
// grid of eye positions: outside each face, near an edge, inside the volume.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "foundation/control.h"
#include "foundation/log_capture.h"
#include "geometry/ormik_persp.h"
#include "random_camera.h"
#include "support/control_snapshot.h"

using namespace ulm3;
using test_support::EyeAt;
using test_support::RandomCamera;

namespace {

struct Mini {
    Polygon3D nearPoly, farPoly;
    Point3D eye;
    int dims[3] = {}, sections[2] = {}, reg = 0;
    PolygonST3H clip, nearHom, farHom;
};

class RecordingStages : public PerspectiveStages {
public:
    int PrepareRender(const Polygon3D& nearPoly, const Polygon3D& farPoly, const Point3D& eye,
                      const Point3D&, int dimXs, int dimYs, int dimZs, int sectionX, int sectionY,
                      int transformReg, const DualHyper&, const Point2D (&)[4]) override {
        calls += "P";
        minis.push_back({nearPoly, farPoly, eye, {dimXs, dimYs, dimZs}, {sectionX, sectionY},
                         transformReg, {}, {}, {}});
        return int(minis.size()) == failPrepare ? 1 : 0;
    }
    int PreResample(const PolygonST3H&) override { return calls += "p", 0; }
    void DistortDepthIn(const PolygonST3H& n, const PolygonST3H& f) override {
        calls += "i";
        minis.back().nearHom = n;
        minis.back().farHom = f;
    }
    int LoadBuffers() override { return calls += "L", 0; }
    int RenderMiniFrustum() override { return calls += "R", 0; }
    int UnloadBuffers() override { return calls += "U", 0; }
    int DistortDepthOut(const PolygonST3H&, const PolygonST3H&) override { return calls += "o", 0; }
    int PostResample(const PolygonST3H& clip) override {
        minis.back().clip = clip;
        return calls += "W", 0;
    }
    void SetStatus(ULMStatus s) override { status = s; }

    std::vector<Mini> minis;
    std::string calls;
    ULMStatus status = kULMOK;
    int failPrepare = 0;  // 1-based mini-frustum whose PrepareRender fails
};

int Plan(const RandomCamera& c, RecordingStages& stages) {
    OrmikPersp planner;
    planner.SetViewport(0, 0, c.viewW - 1, c.viewH - 1);
    planner.SetWriteport(c.wpMinX, c.wpMinY, c.wpMaxX, c.wpMaxY);
    planner.SetVolDim(c.volMin, c.volMax);
    planner.SetCorrMatrix(c.corr);
    planner.SetModelMatrix(c.model);
    planner.SetViewMatrix(c.view);
    planner.SetProjMatrix(c.proj);
    planner.SetSampMultLimits(1.0, 3.0, 1.0, 3.0);
    planner.SetSamplingFactor(1.0);
    planner.SetMinVoxDist(5.0);
    return planner.RendPerspFrustum(&stages);
}

bool Finite(const PolygonST3H& p) {
    for (int i = 0; i < p.GetNumbVerts(); ++i)
        for (double v : {p[i].x, p[i].y, p[i].z, p[i].w, p[i].s, p[i].t})
            if (!std::isfinite(v)) return false;
    return true;
}

bool InsideConvex(const PolygonST3H& p, double x, double y) {
    int pos = 0, neg = 0;
    for (int i = 0, n = p.GetNumbVerts(); i < n; ++i) {
        const PointST3H a = p[i], b = p[(i + 1) % n];
        const double c = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
        pos += c > 0, neg += c < 0;
    }
    return pos == 0 || neg == 0;
}

// Each mini-frustum's permutation puts the near side's axis on sample z,
// growing away from the eye, and its near corner, far corner and the eye
// are collinear in voxel space (when the rays start at the eye).
void CheckMini(const Mini& m, bool raysFromEye = true) {
    EXPECT_GT(m.dims[0], 1);
    EXPECT_GT(m.dims[1], 1);
    EXPECT_GT(m.dims[2], 0);
    for (int s : m.sections) EXPECT_TRUE(s >= 0 && s <= 32 && s % 4 == 0) << s;
    EXPECT_TRUE(Finite(m.clip) && Finite(m.nearHom) && Finite(m.farHom));
    EXPECT_LE(m.clip.GetNumbVerts(), PerspectiveStages::kMaxStageCorners);
    OrmikPermute perm;
    ASSERT_TRUE(perm.SetTransformReg(m.reg));
    const int axis = perm.GetSelect(2);
    auto at = [](const Point3D& p, int a) { return a == 0 ? p.x : (a == 1 ? p.y : p.z); };
    for (int i = 0; i < 4; ++i) {
        Point3D n = m.nearPoly[i], f = m.farPoly[i];
        EXPECT_LT(n.z, f.z);
        perm.PermuteToUVW(n);
        perm.PermuteToUVW(f);
        EXPECT_NEAR(at(n, axis), at(m.nearPoly[0], 2) * (perm.GetNeg(2) ? -1 : 1) - perm.GetNeg(2),
                    1e-9);
        // Even sides look down the axis from beyond the near face.
        EXPECT_EQ(at(m.eye, axis) > at(n, axis), perm.GetNeg(2) == 1);
        const double a[3] = {n.x - m.eye.x, n.y - m.eye.y, n.z - m.eye.z};
        const double b[3] = {f.x - m.eye.x, f.y - m.eye.y, f.z - m.eye.z};
        const double cross = std::hypot(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                                        a[0] * b[1] - a[1] * b[0]);
        const double scale = std::hypot(a[0], a[1], a[2]) * std::hypot(b[0], b[1], b[2]);
        EXPECT_TRUE(!raysFromEye || cross <= 1e-7 * scale) << cross;
    }
}

// The clip polygons cover every write-port pixel whose ray from the eye meets
// the volume box, and overlap nowhere (both within 1% of that area).
void CheckCoverage(const RandomCamera& c, const RecordingStages& stages) {
    ULMMatrix inv;
    ASSERT_TRUE(InvertHomogeneous(Mat44ToULMMat(c.Pmv()), inv));
    const Mat44 invPmv = ULMMatToMat44(inv);
    int hits = 0, missed = 0, overlaps = 0;
    for (int py = c.wpMinY; py <= c.wpMaxY; ++py)
        for (int px = c.wpMinX; px <= c.wpMaxX; ++px) {
            const double x = -1 + (px + 0.5) * 2.0 / c.viewW, y = -1 + (py + 0.5) * 2.0 / c.viewH;
            PointST3H q(x, y, 0.0);
            q.Transform(invPmv);
            q.DivideW();
            const double o[3] = {c.eye.x, c.eye.y, c.eye.z};
            const double d[3] = {q.x - o[0], q.y - o[1], q.z - o[2]};
            const double lo[3] = {c.volMin.x, c.volMin.y, c.volMin.z};
            const double hi[3] = {c.volMax.x, c.volMax.y, c.volMax.z};
            double t0 = 0, t1 = 1e30;
            for (int a = 0; a < 3; ++a) {
                const double ta = (lo[a] - o[a]) / d[a], tb = (hi[a] - o[a]) / d[a];
                t0 = std::fmax(t0, std::fmin(ta, tb));
                t1 = std::fmin(t1, std::fmax(ta, tb));
            }
            int count = 0;
            for (const Mini& m : stages.minis) count += InsideConvex(m.clip, x, y);
            hits += t1 > t0;
            missed += t1 > t0 && count == 0;
            overlaps += count > 1;
        }
    EXPECT_GT(hits, 0);
    EXPECT_LE(missed, 0.01 * hits);
    EXPECT_LE(overlaps, 0.01 * hits);
}

TEST(OrmikPersp, PlansCoveringNonOverlappingMiniFrustumsForEveryEyePosition) {
    std::mt19937 rng(2024);
    const struct {
        EyeAt where;
        int faces;
    } grid[] = {{EyeAt::kOutsideFace, 6}, {EyeAt::kNearEdge, 6}, {EyeAt::kInside, 3}};
    for (const auto& g : grid)
        for (int face = 0; face < g.faces; ++face) {
            SCOPED_TRACE(testing::Message() << int(g.where) << " face " << face);
            const RandomCamera c = test_support::MakeCamera(rng, g.where, face);
            RecordingStages stages;
            ASSERT_EQ(Plan(c, stages), 0);
            EXPECT_EQ(stages.status, kULMOK);
            ASSERT_GE(stages.minis.size(), 1u);
            EXPECT_LE(stages.minis.size(), 24u);
            std::string expected;
            for (size_t i = 0; i < stages.minis.size(); ++i) expected += "PpiLRUoW";
            EXPECT_EQ(stages.calls, expected);
            for (const Mini& m : stages.minis) CheckMini(m);
            CheckCoverage(c, stages);
        }
}

TEST(OrmikPersp, AFailedStageDropsOnlyItsMiniFrustum) {
    std::mt19937 rng(1);
    const RandomCamera c = test_support::MakeCamera(rng, EyeAt::kNearEdge, 0);
    RecordingStages all, failing;
    failing.failPrepare = 1;
    Plan(c, all);
    EXPECT_EQ(Plan(c, failing), 0);
    ASSERT_GE(all.minis.size(), 2u);
    EXPECT_EQ(failing.calls, "P" + all.calls.substr(8));
}

TEST(OrmikPersp, ScaledHomogeneousCameraPlansTheSameWithoutAFault) {
    test_support::ControlSnapshot snapshot;
    struct Faults : ULMErrorHandler {
        void ErrorNotify(int, const char*, int) override { ++count; }
        int count = 0;
    } faults;
    gULMControl.m_errorHandler = &faults;
    std::mt19937 rng(4);
    RandomCamera c = test_support::MakeCamera(rng, EyeAt::kOutsideFace, 3);
    RecordingStages plain, scaled;
    Plan(c, plain);
    c.proj *= 1e-4;  // the same map; its determinant drops by 1e-16
    ASSERT_EQ(Plan(c, scaled), 0);
    EXPECT_EQ(faults.count, 0);
    ASSERT_EQ(scaled.minis.size(), plain.minis.size());
    for (size_t i = 0; i < plain.minis.size(); ++i) {
        EXPECT_EQ(scaled.minis[i].reg, plain.minis[i].reg);
        EXPECT_NEAR(scaled.minis[i].clip[0].x, plain.minis[i].clip[0].x, 1e-9);
    }
}

TEST(OrmikPersp, RefusesBadCorrectionAndSingularCameraWithoutCallingAStage) {
    test_support::ControlSnapshot snapshot;
    struct Faults : ULMErrorHandler {
        void ErrorNotify(int, const char*, int) override { ++count; }
        int count = 0;
    } faults;
    gULMControl.m_errorHandler = &faults;
    std::mt19937 rng(8);
    for (int bad = 0; bad < 2; ++bad) {
        RandomCamera c = test_support::MakeCamera(rng, EyeAt::kOutsideFace, 1);
        if (bad == 0) {
            for (int r = 0; r < 3; ++r) c.corr[r][1] = 0.0;
        } else {
            for (int q = 0; q < 4; ++q) c.proj[3][q] = c.proj[2][q];
        }
        testing_support::LogToFile log;
        RecordingStages stages;
        EXPECT_EQ(Plan(c, stages), 1);
        EXPECT_EQ(stages.status, kULMErrArgument);
        EXPECT_TRUE(stages.calls.empty());
        EXPECT_NE(log.Contents().find(bad == 0 ? "RendPerspFrustum: Bad correction matrix\n"
                                                : "RendPerspFrustum: Singular camera matrix\n"),
                  std::string::npos);
    }
    EXPECT_EQ(faults.count, 0);
}

TEST(OrmikPersp, DegenerateInputsLeaveNoNaNAndRenderWhatIsLeft) {
    std::mt19937 rng(6);
    RandomCamera flat = test_support::MakeCamera(rng, EyeAt::kOutsideFace, 4);
    flat.volMax.z = flat.volMin.z;
    RandomCamera noView = test_support::MakeCamera(rng, EyeAt::kOutsideFace, 2);
    noView.viewW = 0;
    for (const RandomCamera& c : {flat, noView}) {
        RecordingStages stages;
        EXPECT_EQ(Plan(c, stages), 0);
        EXPECT_TRUE(stages.calls.empty());
    }
    // Parallel rays: the tiler's rays all lean alike.
    RandomCamera ortho = test_support::MakeCamera(rng, EyeAt::kOutsideFace, 5);
    ortho.proj = ULMMatrix::Ortho(-80, 80, -80, 80, 1, 1000);
    RecordingStages stages;
    EXPECT_EQ(Plan(ortho, stages), 0);
    EXPECT_FALSE(stages.minis.empty());
    for (const Mini& m : stages.minis) CheckMini(m, false);
}

TEST(OrmikPersp, SupersamplingAndSectionRules) {
    const Point3D fixedXY = OrmikPersp::AnisoScale(0.3, 0.7, 1.0, 1.5, 1, 1.1, 1, 3, 2, 0);
    EXPECT_EQ(fixedXY.x, 3.0);
    EXPECT_EQ(fixedXY.y, 3.0);
    EXPECT_EQ(OrmikPersp::AnisoScale(0.3, 0.7, 1.0, 1.5, 1, 3, 1, 3, 0, 4).z, 4.0);
    EXPECT_EQ(OrmikPersp::AnisoScale(0.3, 0.7, 1.0, 20, 1, 3, 1, 3, 16, 0).x, 256.0);
    // A gradient of 0 takes the scale 1.
    EXPECT_EQ(OrmikPersp::AnisoScale(0.0, 0.5, 1.0, 1.0, 0.1, 5, 0.1, 5, 0, 0).x, 1.0);
    EXPECT_EQ(OrmikPersp::SectionSize(37.9 / 32, 1.0), 32);
    EXPECT_EQ(OrmikPersp::SectionSize(15.9 / 32 * 2, 2.0), 12);
    EXPECT_EQ(OrmikPersp::SectionSize(3.9 / 32, 1.0), 0);
}

}  // namespace
