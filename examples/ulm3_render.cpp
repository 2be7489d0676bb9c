// Renders the first volume of a volume file to a PNG that shows it on the
// first try: an orthographic camera fitted to the box of the voxels the
// window shows, grey and opacity ramps over a window read from the voxels'
// histogram, about two samples a voxel along every ray, one render
// into an on-board image, unloaded and written with libpng. --shade lights it
// from the viewer; --base-plane renders a base plane and warps it into the
// picture through a graphics context, as a drawing program would. A view the
// chip cannot subsample is rendered larger and shrunk on the board
// (ResizeImage). --multiboard bands puts the volume on every board and
// renders the picture in horizontal bands, one per board; --multiboard
// bricks cuts the volume into one brick per board, renders each on its
// board and composites the partial pictures.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "render/picture_graphics.h"
#include "render/png_output.h"
#include "render/view_framing.h"
#include "cli/command_line.h"
#include "render/voxel_window.h"
#include "ulm3.h"

using namespace ulm3;
using namespace ulm3_render;

namespace {

const char* const kProgram = "ulm3_render";

const char* const kUsage =
    "usage: ulm3_render IN.vox OUT.png [--size N] [--turn X Y] [--shade] [--base-plane]\n"
    "                   [--window LO HI] [--opacity A] [--frame data|box] [--repeat N]\n"
    "                   [--perspective DEGREES] [--multiboard bands|bricks]\n"
    "  --size: picture width and height, 16..4096 pixels (256)\n"
    "  --turn: degrees about x, after those about y (30 40)\n"
    "  --window: voxel values where the grey and opacity ramps start and end (default: from the data)\n"
    "  --opacity: the opacity the ramp reaches, above 0 and at most 1 (0.25)\n"
    "  --frame: fit the frame to the data the window shows, not the air's noise (data, the default),\n"
    "           or to the volume's box\n"
    "  --repeat: render N more frames and print their median time, N 1..100000\n"
    "  --perspective: a perspective camera of that vertical field of view, 1..120 degrees\n"
    "  --multiboard: bands: the volume on every board, the picture in one band per board;\n"
    "                bricks: the volume cut into one brick per board, each rendered on its board\n";

struct Options {
    const char* input = nullptr;
    const char* output = nullptr;
    unsigned size = 256;
    double turnX = 30.0, turnY = 40.0;
    bool shade = false;
    bool basePlane = false;
    bool window = false;
    VoxelWindow windowValues;
    double opacity = 0.25;
    bool frameBox = false;
    int repeat = 0;
    double perspective = 0.0;  // field of view; 0 for the orthographic camera
    bool bands = false;        // the volume on every board, the picture in bands
    bool bricks = false;       // one brick of the volume on every board
};

// Nothing when the options can be run; else the exit status, after the
// usage or one line that names the argument at fault.
std::optional<int> ParseOptions(int argc, char** argv, Options& out) {
    using namespace ulm3cli;
    const std::vector<Option> options = {
        {"--size", 1, "the picture's width and height, a whole number of pixels from 16 to 4096",
         [&](char* const* v) {
             long n = 0;
             return ParseWhole(v[0], 16, 4096, n) && (out.size = static_cast<unsigned>(n), true);
         }},
        {"--turn", 2, "two numbers of degrees, about x and about y",
         [&](char* const* v) { return ParseReal(v[0], out.turnX) && ParseReal(v[1], out.turnY); }},
        {"--window", 2, "two whole voxel values LO and HI, 0 <= LO < HI <= 65535",
         [&](char* const* v) {
             long lo = 0, hi = 0;
             if (!ParseWhole(v[0], 0, 65534, lo) || !ParseWhole(v[1], lo + 1, 65535, hi)) return false;
             out.window = true;
             out.windowValues = VoxelWindow{static_cast<unsigned>(lo), static_cast<unsigned>(hi)};
             return true;
         }},
        {"--opacity", 1, "a number above 0 and at most 1",
         [&](char* const* v) { return ParseReal(v[0], out.opacity) && out.opacity > 0.0 && out.opacity <= 1.0; }},
        {"--frame", 1, "data or box",
         [&](char* const* v) {
             const std::string frame = v[0];
             out.frameBox = frame == "box";
             return frame == "box" || frame == "data";
         }},
        {"--repeat", 1, "a whole number of frames from 1 to 100000",
         [&](char* const* v) {
             long n = 0;
             return ParseWhole(v[0], 1, 100000, n) && (out.repeat = static_cast<int>(n), true);
         }},
        {"--perspective", 1, "a field of view from 1 to 120 degrees",
         [&](char* const* v) {
             return ParseReal(v[0], out.perspective) && out.perspective >= 1.0 && out.perspective <= 120.0;
         }},
        {"--multiboard", 1, "bands or bricks",
         [&](char* const* v) {
             out.bands = std::string(v[0]) == "bands";
             out.bricks = std::string(v[0]) == "bricks";
             return out.bands || out.bricks;
         }},
        {"--shade", 0, "", [&](char* const*) { return out.shade = true; }},
        {"--base-plane", 0, "", [&](char* const*) { return out.basePlane = true; }},
    };
    std::vector<const char*> files;
    const std::optional<int> stop = ReadCommandLine(kProgram, kUsage, argc, argv, options, 2, "IN.vox OUT.png", files);
    if (stop) return stop;
    out.input = files[0];
    out.output = files[1];
    return std::nullopt;
}

// Samples along each ray per voxel it crosses, about. The render slices the
// volume along the axis nearest the view; at one slice a voxel an oblique
// ray takes a sample every 1 to 1.7 voxels, too few for a shell one or two
// voxels thick (a skull, a scalp): its opacity and shading then change from
// pixel to pixel with where the samples fall, a regular lattice of dark
// pixels and a cross-hatch that a finer step removes. Two or three slices a
// voxel cost two or three times the samples.
constexpr double kSamplesPerVoxel = 2.0;

// The slices per voxel, 2 to 4, that give each ray about kSamplesPerVoxel.
ULMStatus SetSampling(const ULMMatrix& inModel, const ULMVolume& inVolume, ULMContext& ioContext) {
    const ULMMatrix toEye = inModel * inVolume.GetCorrectionMatrix();
    if (toEye.IsSingular()) return kULMErrTransform;
    const ULMVector4D view = toEye.Inverse() * ULMVector4D(0, 0, 1, 0);
    const double along = std::max({std::fabs(view[0]), std::fabs(view[1]), std::fabs(view[2])});
    const double length = std::sqrt(view[0] * view[0] + view[1] * view[1] + view[2] * view[2]);
    const double slices = std::clamp(std::round(kSamplesPerVoxel * length / along), 2.0, 4.0);
    double minXY = 1, maxXY = 3, minZ = 1, maxZ = 3;
    ioContext.GetSamplingLimits(minXY, maxXY, minZ, maxZ);
    return ioContext.SetSamplingLimits(minXY, maxXY, slices, std::max(slices, maxZ));
}

// The camera fitted to inBox, and with --shade one light at the viewer.
ULMStatus SetUpContext(const Options& inOptions, const ULMVolume& inVolume, const ULMVolumeRange& inBox,
                       ULMContext& ioContext) {
    ULMCamera camera;
    ULMMatrix model;
    ULMMatrix projection;
    if (inOptions.perspective > 0.0)
        FrameVolumePerspective(inVolume, inBox, inOptions.turnX, inOptions.turnY, inOptions.perspective, model,
                               projection);
    else
        FrameVolume(inVolume, inBox, inOptions.turnX, inOptions.turnY, model, projection);
    camera.SetProjectionMatrix(projection);
    camera.SetModelMatrix(model);
    camera.SetViewport(0, 0, static_cast<int>(inOptions.size), static_cast<int>(inOptions.size));
    ULMStatus status = ioContext.SetCamera(camera);
    if (status == kULMOK) status = SetSampling(model, inVolume, ioContext);
    if (status != kULMOK || !inOptions.shade) return status;
    // The eye looks down -z: the viewer lies towards +z.
    ULMLight* light = ULMLight::Create(ULMVector3D(0, 0, 1));
    if (light == nullptr) return kULMErrAlloc;
    status = ioContext.AddLight(light);
    light->Release();
    if (status == kULMOK) status = ioContext.SetReflectionProperties(0.6, 0.1, 0.4, 12.0);
    return status;
}

// What a run holds from the library; released in reverse order of creation.
struct Scene {
    ULMVolume* volume = nullptr;
    ULMLookupTable* table = nullptr;
    ULMContext* context = nullptr;
    ULMImageBuffer* image = nullptr;  // the direct road's on-board picture
    // Board 0; in bands over the boards; or for bricks the one image that
    // each render composites on the board of the brick nearest the viewer.
    ULMLocation imageAt = kULMBoard0;
    bool basePlane = false;

    Scene() = default;
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
    ~Scene() {
        if (image != nullptr) image->Release();
        if (context != nullptr) context->Release();
        if (table != nullptr) table->Release();
        if (volume != nullptr) volume->Release();
    }
};

// One frame into the picture: straight into an image on the board and
// unloaded, or through a base plane. The first view the chip cannot
// subsample turns ResizeImage on for the rest of the run.
ULMStatus RenderFrame(unsigned inSize, Scene& ioScene, std::vector<uint32_t>& outPixels) {
    const ULMImageRange whole(static_cast<int>(inSize), static_cast<int>(inSize), 0, 0);
    if (!ioScene.basePlane) {
        if (ioScene.image == nullptr) {
            const ULMFieldDescriptor rgba8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                                 {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
            ioScene.image = ULMImageBuffer::Create(ioScene.imageAt, inSize, inSize, 32, 4, rgba8);
            if (ioScene.image == nullptr) return kULMErrAlloc;
        }
        ULMStatus status = kULMErrCantSubsample;
        for (int attempt = 0; attempt < 2 && status == kULMErrCantSubsample; ++attempt) {
            if (attempt == 1) ULMSetParameter("ResizeImage", 1);
            status = ioScene.image->Clear(whole, 0);
            if (status == kULMOK)
                status = ioScene.volume->Render(ioScene.context, ioScene.image, nullptr, nullptr, nullptr);
        }
        if (status == kULMOK) status = ioScene.image->StartUnload(outPixels.data(), whole, 0).Wait(-1);
        return status;
    }
    std::fill(outPixels.begin(), outPixels.end(), 0u);
    PictureGraphics picture(outPixels, inSize);
    return ioScene.context->RenderToGraphicsContext(ioScene.volume, &picture, 0);
}

// One line on stderr naming the cause; the exit status of a failed run.
int Fail(const std::string& inCause) {
    std::fprintf(stderr, "%s: %s\n", kProgram, inCause.c_str());
    return 1;
}

// A status in words, with its number for a search of the documentation.
std::string Describe(ULMStatus inStatus) {
    return std::string(UlmGetStatusString(inStatus)) + " (" + std::to_string(static_cast<int>(inStatus)) + ")";
}

// Opens the input as a volume that a board can hold; 0, or the exit status
// after its message.
int OpenVolume(const Options& inOptions, Scene& outScene) {
    FILE* probe = std::fopen(inOptions.input, "rb");
    const std::string input = inOptions.input;
    if (probe == nullptr) return Fail("cannot read " + input + ": " + std::strerror(errno));
    std::fclose(probe);
    outScene.volume = ULMVolume::CreateFromFile(inOptions.input, 0, ULMVolume::kReadOnly, 0);
    if (outScene.volume == nullptr) return Fail(input + " is not a volume file, or holds no volume");
    const ULMVolumeRange range = outScene.volume->GetRange();
    const uint64_t bytes = static_cast<uint64_t>(range.XSize()) * range.YSize() * range.ZSize() *
                           static_cast<uint64_t>(outScene.volume->GetVoxelSize() / 8);
    unsigned nx = 0;
    unsigned ny = 0;
    unsigned nz = 0;
    ULMConfiguration::GetMaxLockedSize(static_cast<unsigned>(outScene.volume->GetVoxelSize()), nx, ny, nz);
    // The volume goes onto board 0, where the picture is made, or in bands
    // onto every board; bricks are only parts of it, which the lock checks.
    const int boards = inOptions.bricks ? 0 : inOptions.bands ? ULMConfiguration::GetNumberOfBoards() : 1;
    const auto sx = static_cast<unsigned>(range.XSize());
    const auto sy = static_cast<unsigned>(range.YSize());
    const auto sz = static_cast<unsigned>(range.ZSize());
    for (int board = 0; board < boards; ++board) {
        const uint64_t memory = ULMConfiguration::GetAvailableMemory(board);
        if (bytes <= memory && sx <= nx && sy <= ny && sz <= nz) continue;
        const std::string size = std::to_string(sx) + " x " + std::to_string(sy) + " x " + std::to_string(sz);
        const std::string limit = std::to_string(nx) + " x " + std::to_string(ny) + " x " + std::to_string(nz);
        return Fail(input + ": " + size + " voxels of " + std::to_string(outScene.volume->GetVoxelSize()) +
                    " bits (" + std::to_string(bytes >> 20) + " MiB) do not fit board " + std::to_string(board) +
                    " (" + std::to_string(memory >> 20) + " MiB, at most " + limit + ")");
    }
    // Locked where the picture is: a volume loaded for each render could
    // move to another board between frames, away from the picture.
    const ULMStatus status = outScene.volume->LockVolume(kULMBoard0);
    const std::string where = inOptions.bands || inOptions.bricks ? "the boards" : "board 0";
    if (status == kULMErrRead) return Fail(input + ": the file ends before its voxels do: " + Describe(status));
    if (status != kULMOK) return Fail(input + ": the volume cannot be loaded onto " + where + ": " + Describe(status));
    if (!inOptions.bands && !inOptions.bricks) return 0;
    const ULMLocation at = outScene.volume->GetBufferLocation();
    if (at == kULMMultiBoardMode1 || at == kULMMultiBoardMode2) {
        outScene.imageAt = at;
        std::printf("the picture in %d %s, one per board\n", ULMConfiguration::GetNumberOfBoards(),
                    at == kULMMultiBoardMode1 ? "bands" : "bricks");
    } else {
        std::printf("one board: the picture in one piece\n");
    }
    return 0;
}

// Every volume made from here on lies on every board, and its pictures in
// one band per board (mode 1), or is cut into one brick per board (mode 2).
void SpreadEveryVolume(int inMode) {
    ULMSetParameter("MultiboardRenderMode", static_cast<uint64_t>(inMode));
    ULMSetParameter("MultiboardMinVolumeSize", 2);
    ULMSetParameter("MultiboardForceNumberOfVolumes", 0);
    ULMSetParameter("MultiboardRenderEnable", 1);
}

// The classifier's table and context for the reading: a 256-entry table in
// the context's own place, or a 4096-entry one as table 3, routed through
// the classifier's operations to the colour.
ULMStatus MakeContext(const FieldReading& inReading, Scene& ioScene) {
    ioScene.table = ULMLookupTable::Create(inReading.entries);
    if (ioScene.table == nullptr) return kULMErrAlloc;
    if (inReading.entries == 256) {
        ioScene.context = ULMContext::Create(ioScene.table);
        return ioScene.context != nullptr ? kULMOK : kULMErrAlloc;
    }
    ioScene.context = ULMContext::Create();
    if (ioScene.context == nullptr) return kULMErrAlloc;
    ULMClassifier classifier;
    ULMStatus status = classifier.SetLookupTable(3, ioScene.table, kULMField0);
    // Table 3 enters the second operation as B, and that one the last as B.
    if (status == kULMOK) status = classifier.SetOperation(0, ULMOperation(kULM_Zero));
    if (status == kULMOK) status = classifier.SetOperation(1, ULMOperation(kULM_B));
    if (status == kULMOK) status = classifier.SetOperation(2, ULMOperation(kULM_B));
    if (status == kULMOK) status = ioScene.context->SetClassifier(classifier);
    return status;
}

// The box the frame holds, and the words that say so.
ULMStatus ChooseFrame(const Options& inOptions, const ULMVolume& inVolume, const FieldHistogram& inHistogram,
                      ULMVolumeRange& outBox, std::string& outWords) {
    const ULMVolumeRange& whole = inHistogram.box;
    const auto describe = [](const ULMVolumeRange& r) {
        return std::to_string(r.XSize()) + " x " + std::to_string(r.YSize()) + " x " + std::to_string(r.ZSize()) +
               " from (" + std::to_string(r.XOrigin()) + ", " + std::to_string(r.YOrigin()) + ", " +
               std::to_string(r.ZOrigin()) + ")";
    };
    outBox = whole;
    if (inOptions.frameBox) {
        outWords = "framed on the volume's box, " + describe(whole);
        return kULMOK;
    }
    const unsigned level = inOptions.windowValues.lo;
    const unsigned noiseTop = NoiseTop(inHistogram, inOptions.windowValues);
    ULMVolumeRange data;
    const ULMStatus status = FrameBox(inVolume, inHistogram, level, noiseTop, data);
    if (status != kULMOK) return status;
    if (data.XSize() <= 0) {
        outWords = "framed on the volume's box: no voxel lies above " + std::to_string(level);
        return kULMOK;
    }
    outWords = "framed on the voxels above " + std::to_string(level);
    if (noiseTop > level)
        outWords += " within " + std::to_string(kEdgeVoxels) + " of those above " + std::to_string(noiseTop);
    outWords += ", " + describe(data);
    outBox = data;
    return kULMOK;
}

// Reads the window from the data unless it was given, makes the classifier
// read field 0 through a width the boards take and a table that spans the
// values present, and frames the voxels the window shows. 0, or the exit
// status.
int Classify(Options& ioOptions, Scene& ioScene) {
    FieldHistogram histogram;
    const std::string input = ioOptions.input;
    ULMStatus status = CountField0(*ioScene.volume, histogram);
    if (status == kULMErrFormat)
        return Fail(input + ": field 0 is signed, a float or wider than 16 bits; only unsigned values are windowed");
    if (status != kULMOK) return Fail(input + ": cannot read the voxels' values: " + Describe(status));
    ULMFieldDescriptor field = ioScene.volume->GetFieldDescriptor(kULMField0);
    const FieldReading reading = ChooseReading(histogram, field.m_size);
    if (reading.bits < field.m_size) {
        // Every value present fits the narrower field, which reads it the same.
        field.m_size = reading.bits;
        status = ioScene.volume->SetFieldDescriptor(kULMField0, field);
        if (status != kULMOK) return Fail(input + ": cannot narrow field 0: " + Describe(status));
    }
    if (!ioOptions.window) ioOptions.windowValues = ChooseWindow(histogram);
    std::string framing;
    ULMVolumeRange box;
    status = ChooseFrame(ioOptions, *ioScene.volume, histogram, box, framing);
    if (status != kULMOK) return Fail(input + ": cannot read the voxels' values: " + Describe(status));
    std::printf("window %u %u opacity %g, %s\n", ioOptions.windowValues.lo, ioOptions.windowValues.hi,
                ioOptions.opacity, framing.c_str());
    std::fflush(stdout);
    status = MakeContext(reading, ioScene);
    if (status == kULMOK) status = FillTable(ioOptions.windowValues, field.m_size, ioOptions.opacity, *ioScene.table);
    if (status == kULMOK) status = SetUpContext(ioOptions, *ioScene.volume, box, *ioScene.context);
    if (status != kULMOK) return Fail(input + ": cannot set up the render: " + Describe(status));
    return 0;
}

// The median time of inRepeat more frames, and the voxels they show each second.
ULMStatus TimeFrames(const Options& inOptions, Scene& ioScene, std::vector<uint32_t>& ioPixels) {
    std::vector<double> seconds;
    for (int i = 0; i < inOptions.repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const ULMStatus status = RenderFrame(inOptions.size, ioScene, ioPixels);
        if (status != kULMOK) return status;
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    const size_t n = seconds.size();
    const double median = n % 2 == 1 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
    ULMVolumeRange range = ioScene.volume->GetActiveSubVolume();
    if (range.XSize() <= 0 || range.YSize() <= 0 || range.ZSize() <= 0) range = ioScene.volume->GetRange();
    const double voxels = static_cast<double>(range.XSize()) * range.YSize() * range.ZSize();
    std::printf("%d frames%s: median %.3f ms, %.3g voxels per second\n", inOptions.repeat,
                ioScene.basePlane ? " through a base plane" : "", median * 1e3, median > 0.0 ? voxels / median : 0.0);
    return kULMOK;
}

int Run(Options& ioOptions, PngOutput& ioOutput) {
    Scene scene;
    if (ioOptions.bands || ioOptions.bricks) SpreadEveryVolume(ioOptions.bands ? 1 : 2);
    int failed = OpenVolume(ioOptions, scene);
    if (failed == 0) failed = Classify(ioOptions, scene);
    if (failed != 0) return failed;
    std::vector<uint32_t> pixels(static_cast<size_t>(ioOptions.size) * ioOptions.size, 0);
    scene.basePlane = ioOptions.basePlane;
    ULMStatus status = RenderFrame(ioOptions.size, scene, pixels);
    if (status == kULMOK && ioOptions.repeat > 0) status = TimeFrames(ioOptions, scene, pixels);
    const std::string input = ioOptions.input;
    if (status == kULMErrAlloc || status == kULMErrTooLarge || status == kULMErrBuffer)
        return Fail(input + ": the boards cannot hold the volume and the picture: " + Describe(status));
    if (status != kULMOK) return Fail(input + ": the render failed: " + Describe(status));
    std::string reason;
    if (!ioOutput.Commit(pixels, ioOptions.size, reason))
        return Fail("cannot write " + std::string(ioOptions.output) + ": " + reason);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const std::optional<int> stop = ParseOptions(argc, argv, options)) return *stop;
    // A file-size limit then fails the picture's write, which says so,
    // instead of ending the program before its temporary file is removed.
    std::signal(SIGXFSZ, SIG_IGN);
    // The output first: a folder that cannot take the picture is better
    // known before the render than after it.
    PngOutput output;
    std::string reason;
    if (!output.Open(options.output, reason))
        return Fail("cannot write " + std::string(options.output) + ": " + reason);
    const ULMStatus status = ULMOpen();
    if (status != kULMOK) return Fail("cannot open the library: " + Describe(status));
    const int result = Run(options, output);
    ULMClose();
    return result;
}
