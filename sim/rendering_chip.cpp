// The simulated boards' rendering chip: a render decodes the registers once
// (chip_setup), then runs the kernels (chip_kernels) over the frustum's
// tiles on the shared thread pool, or element by element as the reference.
#include "tulx7sim/rendering_chip.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "chip_gradient_slab.h"
#include "chip_kernels.h"
#include "chip_shading.h"
#include "chip_thread_pool.h"
#include "chip_setup.h"
#include "tulx7/driver_requests.h"

namespace tulx7sim {

namespace {

std::atomic<bool> gReferencePath{false};

class RenderingChip final : public ChipModel {
public:
    int32_t Render(const RenderJob& job, const RegisterFile& registers, ChipDiagnostics& counts,
                   std::string& diagnostic) override {
        chip::Setup setup;
        diagnostic = chip::Decode(job, registers, setup, counts);
        if (!diagnostic.empty()) return TULX7_DR_STATUS_HW_ERROR;
        const bool lit = chip::LitRows::Suits(setup);
        const chip::TileGrid grid = chip::Tiles(setup, lit ? chip::kLitTileRows : chip::kTileRows);
        if (gReferencePath.load()) {
            // The reference takes none of the shortcuts either.
            setup.routed = false;
            setup.voxels = chip::DirectBox{};
            setup.gradientCache = false;
            chip::Kernel(setup, counts).RunElements();
            return TULX7_DR_STATUS_SUCCESS;
        }
        if (!chip::TilesAreIndependent(setup) || grid.Count() == 0) {
            chip::Kernel(setup, counts).RunElements();
            return TULX7_DR_STATUS_SUCCESS;
        }
        // A kernel and its tables, caches and buffers serve one tile after
        // another, taken by whichever thread runs a tile next: each counts
        // on its own, and the sums do not depend on which ran which tile.
        chip::ChipThreadPool& pool = chip::ChipThreadPool::Instance();
        Kernels kernels(setup);
        pool.Run(grid.Count(), pool.RenderThreads(), [&](size_t tile) {
            std::unique_ptr<Worker> worker = kernels.Take();
            worker->kernel.RunTile(grid, tile);
            kernels.Give(std::move(worker));
        });
        kernels.AddCounts(counts);
        return TULX7_DR_STATUS_SUCCESS;
    }

private:
    // A kernel and what it counts, apart from the others' cache lines: a
    // shaded tile counts every sample.
    struct alignas(64) Worker {
        explicit Worker(const chip::Setup& setup) : kernel(setup, counts) {}
        ChipDiagnostics counts;
        chip::Kernel kernel;
    };

    // The kernels of one render not running a tile; one more is built
    // whenever every one is.
    class Kernels {
    public:
        explicit Kernels(const chip::Setup& setup) : m_setup(setup) {}
        std::unique_ptr<Worker> Take() {
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_idle.empty()) {
                    std::unique_ptr<Worker> worker = std::move(m_idle.back());
                    m_idle.pop_back();
                    return worker;
                }
            }
            return std::make_unique<Worker>(m_setup);
        }
        void Give(std::unique_ptr<Worker> worker) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_idle.push_back(std::move(worker));
        }
        // Once every tile has run.
        void AddCounts(ChipDiagnostics& counts) const {
            for (const auto& worker : m_idle) counts += worker->counts;
        }

    private:
        const chip::Setup& m_setup;
        std::mutex m_mutex;
        std::vector<std::unique_ptr<Worker>> m_idle;
    };
};

}  // namespace

void SetChipThreads(int threads) { chip::ChipThreadPool::Instance().Override(threads); }

void UseChipReferencePath(bool reference) { gReferencePath.store(reference); }

void SetChipInstructionSet(ChipInstructionSet set) {
    switch (set) {
        case ChipInstructionSet::kScalar: chip::ForceIsa(chip::ChipIsa::kScalar); break;
        case ChipInstructionSet::kAvx2: chip::ForceIsa(chip::ChipIsa::kAvx2); break;
        default: chip::RestoreIsa(); break;
    }
}

const char* ChipInstructionSetName() { return chip::ActiveIsa() == chip::ChipIsa::kAvx2 ? "avx2" : "scalar"; }

SlabPlane SlabFootprint(const std::vector<SlabSlice>& slices, uint32_t columns, uint32_t rows, const bool (&mirror)[2],
                        const int64_t (&low)[2], const int64_t (&high)[2]) {
    const bool negate[3] = {mirror[0], mirror[1], false};
    chip::PlaneRect bounds;
    for (int k = 0; k < 2; ++k) {
        bounds.low[k] = low[k];
        bounds.high[k] = high[k];
    }
    chip::PlaneFootprint plane;
    for (const SlabSlice& at : slices) {
        chip::Slice slice;
        slice.x0 = at.origin[0];
        slice.xx = at.step[0][0];
        slice.xy = at.step[1][0];
        slice.y0 = at.origin[1];
        slice.yx = at.step[0][1];
        slice.yy = at.step[1][1];
        plane.Add(chip::TileFootprint(chip::TileCorners(slice, chip::TileRect{0, 0, columns, rows}), negate, bounds));
    }
    SlabPlane out;
    out.firstRow = plane.rect.low[1];
    for (const chip::PlaneFootprint::Run& run : plane.rows) out.runs.push_back(SlabRun{run.low, run.high});
    return out;
}

std::vector<std::array<float, 3>> SlabGradients(const SlabVolume& volume, int64_t w) {
    chip::Setup s;
    chip::DirectBox& box = s.voxels;
    box.valid = true;
    box.data = volume.voxels.data();
    int64_t stride = 1;
    for (int a = 0; a < 3; ++a) {
        box.high[a] = volume.size[a] - 1;
        box.stride[a] = stride;
        stride *= volume.size[a];
        s.select[a] = a;
        s.extend[a] = volume.extend[a];
        s.gradientField[a] = 0;
    }
    chip::FieldCode& code = s.voxelFields.code[0];
    code.present = true;
    code.bits = static_cast<uint8_t>(volume.fieldBits);
    code.shift = static_cast<uint8_t>(volume.fieldShift);
    s.forward = volume.forward;
    s.voxelBorder = volume.border;
    s.quietReads = true;
    ChipDiagnostics counts;
    chip::Shader shader(s, counts);
    chip::GradientSlab slab(s, shader);
    chip::PlaneRect plane;
    plane.low[0] = plane.low[1] = 0;
    plane.high[0] = box.high[0];
    plane.high[1] = box.high[1];
    // The plane above it planned empty: nothing of it is computed.
    if (!slab.Plan(w, {plane, chip::PlaneRect{}}, INT64_MAX)) return {};
    if (!volume.runs.empty()) {
        chip::PlaneFootprint cut;
        cut.rect = plane;
        for (const SlabRun& run : volume.runs) cut.rows.push_back(chip::PlaneFootprint::Run{run.low, run.high});
        slab.Cut(w, std::move(cut));
    }
    slab.Ready(w);
    std::vector<std::array<float, 3>> gradients;
    for (int64_t b = 0; b <= box.high[1]; ++b)
        for (int64_t a = 0; a <= box.high[0]; ++a) {
            const chip::Float4 entry = *slab.Entry(a, b);
            gradients.push_back({entry[0], entry[1], entry[2]});
        }
    return gradients;
}

std::vector<uint64_t> MakeReflectanceMap(const std::function<double(const double (&)[3])>& value) {
    std::vector<uint64_t> map(384);
    for (int face = 0; face < 6; ++face)
        for (int t = 0; t < 8; ++t)
            for (int s = 0; s < 8; ++s) {
                double d[3];
                const int axis = face / 2;
                d[axis] = face % 2 ? -1 : 1;
                d[axis == 0 ? 1 : 0] = (s + 0.5) / 4 - 1;
                d[axis == 2 ? 1 : 2] = (t + 0.5) / 4 - 1;
                const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                for (double& component : d) component /= length;
                const auto grey = static_cast<uint64_t>(std::lround(std::clamp(value(d), 0.0, 1.0) * 4095));
                map[static_cast<size_t>(face * 64 + t * 8 + s)] = grey << 4 | grey << 20 | grey << 36;
            }
    return map;
}

std::shared_ptr<ChipModel> MakeRenderingChip() { return std::make_shared<RenderingChip>(); }

}  // namespace tulx7sim
