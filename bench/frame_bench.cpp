// Frames as users render them: the 256^3 head phantom of ulm3_voxmake,
// locked on board 0 and rendered through the public interface into a
// 512 x 512 picture, unshaded and lit from the viewer (ulm3_render's
// classifier and reflection properties), from an oblique far view, looking
// down each volume axis, and close up (4 pixels per voxel). Per row: the
// median frame time, the chip's samples per frame, samples/s, their ratio to
// the oblique unshaded row of the same run, and a shaded row's frame time
// over its view's unshaded one; `load` is the one-minute load average.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "shapes/test_shapes.h"
#include "tulx7sim/chip_model.h"
#include "ulm3.h"

namespace {

using namespace ulm3;
using Clock = std::chrono::steady_clock;

constexpr int kSide = 256;
constexpr int kPicture = 512;

// A camera's turn about x, then about y, in degrees, and the voxels the
// picture spans (0: the whole volume with a twentieth to spare each side).
struct View {
    const char* name;
    double turnX, turnY;
    double span;
};

constexpr View kViews[] = {
    {"oblique", 30, 40, 0},
    {"down z", 0, 0, 0},
    {"down x", 0, 90, 0},
    {"down y", 90, 0, 0},
    {"close up", 30, 40, kPicture / 4.0},
};

// The phantom's voxels, made once: host memory only, no state of the
// library or the platform.
std::vector<uint8_t>& PhantomVoxels() {
    static std::vector<uint8_t> voxels = [] {
        std::vector<uint8_t> v(size_t{kSide} * kSide * kSide);
        size_t i = 0;
        for (int z = 0; z < kSide; ++z)
            for (int y = 0; y < kSide; ++y)
                for (int x = 0; x < kSide; ++x, ++i)
                    v[i] = static_cast<uint8_t>(
                        std::lround(ulm3tools::ShapeValue("phantom", x, y, z, kSide, kSide, kSide) * 255));
        return v;
    }();
    return voxels;
}

// The phantom locked on board 0 of a library session of its own, with the
// context and picture ulm3_render would use; everything given back when it
// goes.
class PhantomScene {
public:
    explicit PhantomScene(benchmark::State& ioState);
    ~PhantomScene();
    PhantomScene(const PhantomScene&) = delete;
    PhantomScene& operator=(const PhantomScene&) = delete;

    bool Ready() const { return m_image != nullptr; }

    // One frame of the view; the status of the render.
    ULMStatus Frame(const View& view, bool shaded) {
        Aim(view);
        if (shaded != m_lit) {
            const ULMStatus status = shaded ? m_context->AddLight(m_light) : m_context->RemoveLight(m_light);
            if (status != kULMOK) return status;
            m_lit = shaded;
        }
        ULMStatus status = Render();
        if (status == kULMErrCantSubsample) {
            // As ulm3_render does: render larger on the board and shrink.
            ULMSetParameter("ResizeImage", 1);
            status = Render();
        }
        return status;
    }

private:
    ULMStatus Render() { return m_volume->StartRender(m_context, m_image, nullptr, nullptr, nullptr).Wait(-1); }

    // The camera of ulm3_render's framing: turned about the volume's centre,
    // an orthographic window of the view's span, or of the box's projection.
    void Aim(const View& view);

    bench::LibrarySession m_session;
    ULMVolume* m_volume = nullptr;
    ULMLookupTable* m_table = nullptr;
    ULMContext* m_context = nullptr;
    ULMLight* m_light = nullptr;
    ULMImageBuffer* m_image = nullptr;
    bool m_lit = false;
};

PhantomScene::PhantomScene(benchmark::State& ioState) : m_session(ioState) {
    if (!m_session.Open()) return;
    m_volume = ULMVolume::Create(1u, PhantomVoxels().data(), kSide, kSide, kSide, ULMVolume::kSliced);
    m_table = ULMLookupTable::Create(256);
    if (m_volume == nullptr || m_table == nullptr || m_volume->LockVolume(kULMBoard0) != kULMOK) return;
    // ulm3_render's window for this volume: grey and opacity rise over
    // 0..255, opacity to 0.25.
    std::vector<ULMRGBAFloat> colours(256);
    for (int e = 0; e < 256; ++e) {
        const float t = static_cast<float>(e) / 255.0f;
        colours[static_cast<size_t>(e)] = ULMRGBAFloat(t, t, t, 0.25f * t);
    }
    m_context = ULMContext::Create(m_table);
    m_light = ULMLight::Create(ULMVector3D(0, 0, 1));
    if (m_context == nullptr || m_light == nullptr || m_table->SetEntries(0, 256, colours.data()) != kULMOK ||
        m_context->SetReflectionProperties(0.6, 0.1, 0.4, 12.0) != kULMOK)
        return;
    const ULMFieldDescriptor rgba8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                         {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
    m_image = ULMImageBuffer::Create(kULMBoard0, kPicture, kPicture, 32, 4, rgba8);
}

PhantomScene::~PhantomScene() {
    if (m_image != nullptr) m_image->Release();
    if (m_light != nullptr) m_light->Release();
    if (m_context != nullptr) m_context->Release();
    if (m_table != nullptr) m_table->Release();
    if (m_volume != nullptr) m_volume->Release();
}

void PhantomScene::Aim(const View& view) {
    const double centre = (kSide - 1) / 2.0;
    const ULMMatrix model = ULMMatrix::Rotate(view.turnX, ULMVector3D(1, 0, 0)) *
                            ULMMatrix::Rotate(view.turnY, ULMVector3D(0, 1, 0)) *
                            ULMMatrix::Translate(-centre, -centre, -centre);
    double half = view.span / 2;
    double depth = 0;
    for (int corner = 0; corner < 8; ++corner) {
        const auto end = [&](int bit) { return corner & bit ? kSide - 0.5 : -0.5; };
        ULMVector3D q;
        model.TransformPoint(ULMVector3D(end(1), end(2), end(4)), q);
        if (view.span == 0) half = std::max({half, std::fabs(q[0]) / 0.9, std::fabs(q[1]) / 0.9});
        depth = std::max(depth, std::fabs(q[2]));
    }
    ULMCamera camera;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-half, half, -half, half, -depth * 1.1 - 1, depth * 1.1 + 1));
    camera.SetModelMatrix(model);
    camera.SetViewport(0, 0, kPicture, kPicture);
    m_context->SetCamera(camera);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Samples/s of the oblique unshaded row, and each view's unshaded frame
// time, measured earlier in the same run.
double gObliqueRate = 0;
std::map<std::string, double> gUnshadedSeconds;

void BM_PhantomFrame(benchmark::State& state) {
    PhantomScene scene(state);
    if (!scene.Ready()) return state.SkipWithError("no board, or the scene was refused");
    const View& view = kViews[state.range(0)];
    const bool shaded = state.range(1) != 0;
    if (scene.Frame(view, shaded) != kULMOK) return state.SkipWithError("render refused");  // warm-up
    std::vector<double> seconds;
    uint64_t samples = 0;
    for (auto _ : state) {
        tulx7sim::ClearChipDiagnostics();
        const auto start = Clock::now();
        const ULMStatus status = scene.Frame(view, shaded);
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        samples = tulx7sim::GetChipDiagnostics(0).samples;
        if (status != kULMOK) return state.SkipWithError("render failed");
    }
    const double median = Median(seconds);
    const double rate = median > 0 ? static_cast<double>(samples) / median : 0;
    if (state.range(0) == 0 && !shaded) gObliqueRate = rate;
    if (!shaded) gUnshadedSeconds[view.name] = median;
    double load[1] = {0};
    getloadavg(load, 1);
    state.counters["frame ms"] = median * 1e3;
    state.counters["samples"] = static_cast<double>(samples);
    state.counters["samples/s"] = rate;
    // The ratios only where their baseline ran earlier in this run.
    if (gObliqueRate > 0) state.counters["x oblique unshaded"] = rate / gObliqueRate;
    const double unshaded = gUnshadedSeconds[view.name];
    if (!shaded) state.counters["x unshaded frame"] = 1;
    else if (unshaded > 0) state.counters["x unshaded frame"] = median / unshaded;
    state.counters["load"] = load[0];
    state.SetLabel(std::string(view.name) + (shaded ? " shaded" : " unshaded"));
}

const bench::Family kPhantomFrame([] {
    benchmark::RegisterBenchmark("BM_PhantomFrame", BM_PhantomFrame)
        ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1}})
        ->ArgNames({"view", "shaded"})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(bench::Repeats(5));
});

}  // namespace
