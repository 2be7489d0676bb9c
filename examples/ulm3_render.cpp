// Renders the first volume of a volume file to a PNG that shows it on the
// first try: an orthographic camera fitted to the volume's box, grey and
// opacity ramps over a window read from the voxels' histogram, one render
// into an on-board image, unloaded and written with libpng. --shade lights it
// from the viewer; --base-plane renders a base plane and warps it into the
// picture through a graphics context, as a drawing program would. A view the
// chip cannot subsample is rendered larger and shrunk on the board
// (ResizeImage).
#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "render/picture_graphics.h"
#include "render/png_output.h"
#include "render/view_framing.h"
#include "render/voxel_window.h"
#include "ulm3.h"

using namespace ulm3;
using namespace ulm3_render;

namespace {

const char* const kUsage =
    "usage: ulm3_render IN.vox OUT.png [--size N] [--turn X Y] [--shade] [--base-plane]\n"
    "                   [--window LO HI] [--opacity A] [--repeat N] [--perspective DEGREES]\n"
    "  --size: picture width and height, 16..4096 pixels (256)\n"
    "  --turn: degrees about x, after those about y (30 40)\n"
    "  --window: voxel values where the grey and opacity ramps start and end (default: from the data)\n"
    "  --opacity: the opacity the ramp reaches, above 0 and at most 1 (0.25)\n"
    "  --repeat: render N more frames and print their median time\n"
    "  --perspective: a perspective camera of that vertical field of view, 1..120 degrees\n";

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
    int repeat = 0;
    double perspective = 0.0;  // field of view; 0 for the orthographic camera
};

bool ParseLong(const char* inText, long inMin, long inMax, long& out) {
    char* end = nullptr;
    out = std::strtol(inText, &end, 10);
    return end != inText && *end == '\0' && out >= inMin && out <= inMax;
}

bool ParseDouble(const char* inText, double& out) {
    char* end = nullptr;
    out = std::strtod(inText, &end);
    return end != inText && *end == '\0' && std::isfinite(out);
}

bool ParseOptions(int argc, char** argv, Options& out) {
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        long n = 0;
        long m = 0;
        if (a == "--size" && i + 1 < argc) {
            if (!ParseLong(argv[++i], 16, 4096, n)) return false;
            out.size = static_cast<unsigned>(n);
        } else if (a == "--turn" && i + 2 < argc) {
            if (!ParseDouble(argv[i + 1], out.turnX) || !ParseDouble(argv[i + 2], out.turnY)) return false;
            i += 2;
        } else if (a == "--window" && i + 2 < argc) {
            if (!ParseLong(argv[i + 1], 0, 65534, n) || !ParseLong(argv[i + 2], n + 1, 65535, m)) return false;
            out.window = true;
            out.windowValues = VoxelWindow{static_cast<unsigned>(n), static_cast<unsigned>(m)};
            i += 2;
        } else if (a == "--opacity" && i + 1 < argc) {
            if (!ParseDouble(argv[++i], out.opacity) || out.opacity <= 0.0 || out.opacity > 1.0) return false;
        } else if (a == "--repeat" && i + 1 < argc) {
            if (!ParseLong(argv[++i], 1, 100000, n)) return false;
            out.repeat = static_cast<int>(n);
        } else if (a == "--perspective" && i + 1 < argc) {
            if (!ParseDouble(argv[++i], out.perspective) || out.perspective < 1.0 || out.perspective > 120.0)
                return false;
        } else if (a == "--shade") {
            out.shade = true;
        } else if (a == "--base-plane") {
            out.basePlane = true;
        } else if (a.rfind("--", 0) == 0) {
            return false;
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.size() != 2) return false;
    out.input = files[0];
    out.output = files[1];
    return true;
}

// The camera fitted to the volume, and with --shade one light at the viewer.
ULMStatus SetUpContext(const Options& inOptions, const ULMVolume& inVolume, ULMContext& ioContext) {
    ULMCamera camera;
    ULMMatrix model;
    ULMMatrix projection;
    if (inOptions.perspective > 0.0)
        FrameVolumePerspective(inVolume, inOptions.turnX, inOptions.turnY, inOptions.perspective, model, projection);
    else
        FrameVolume(inVolume, inOptions.turnX, inOptions.turnY, model, projection);
    camera.SetProjectionMatrix(projection);
    camera.SetModelMatrix(model);
    camera.SetViewport(0, 0, static_cast<int>(inOptions.size), static_cast<int>(inOptions.size));
    ULMStatus status = ioContext.SetCamera(camera);
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
            ioScene.image = ULMImageBuffer::Create(kULMBoard0, inSize, inSize, 32, 4, rgba8);
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
    std::fprintf(stderr, "ulm3_render: %s\n", inCause.c_str());
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
    // The volume goes onto board 0, where the picture is made.
    const uint64_t memory = ULMConfiguration::GetAvailableMemory(0);
    const auto sx = static_cast<unsigned>(range.XSize());
    const auto sy = static_cast<unsigned>(range.YSize());
    const auto sz = static_cast<unsigned>(range.ZSize());
    if (bytes > memory || sx > nx || sy > ny || sz > nz) {
        const std::string size = std::to_string(sx) + " x " + std::to_string(sy) + " x " + std::to_string(sz);
        const std::string limit = std::to_string(nx) + " x " + std::to_string(ny) + " x " + std::to_string(nz);
        return Fail(input + ": " + size + " voxels of " + std::to_string(outScene.volume->GetVoxelSize()) +
                    " bits (" + std::to_string(bytes >> 20) + " MiB) do not fit board 0 (" +
                    std::to_string(memory >> 20) + " MiB, at most " + limit + ")");
    }
    // Locked where the picture is: a volume loaded for each render could
    // move to another board between frames, away from the picture.
    const ULMStatus status = outScene.volume->LockVolume(kULMBoard0);
    if (status == kULMErrRead) return Fail(input + ": the file ends before its voxels do: " + Describe(status));
    if (status != kULMOK) return Fail(input + ": the volume cannot be loaded onto board 0: " + Describe(status));
    return 0;
}

// Reads the window from the data unless it was given, makes the classifier
// read the bits the values use, and fills the table. 0, or the exit status.
int Classify(Options& ioOptions, Scene& ioScene) {
    FieldHistogram histogram;
    const std::string input = ioOptions.input;
    ULMStatus status = CountField0(*ioScene.volume, histogram);
    if (status == kULMErrFormat)
        return Fail(input + ": field 0 is signed, a float or wider than 16 bits; only unsigned values are windowed");
    if (status != kULMOK) return Fail(input + ": cannot read the voxels' values: " + Describe(status));
    // A 16-bit voxel that holds 12-bit values would reach only the table's
    // first sixteenth: the classifier reads the significant bits instead.
    ULMFieldDescriptor field = ioScene.volume->GetFieldDescriptor(kULMField0);
    const int bits = std::min(field.m_size, SignificantBits(histogram));
    if (bits < field.m_size) {
        field.m_size = bits;
        status = ioScene.volume->SetFieldDescriptor(kULMField0, field);
        if (status != kULMOK) return Fail(input + ": cannot narrow field 0: " + Describe(status));
    }
    if (!ioOptions.window) ioOptions.windowValues = ChooseWindow(histogram);
    std::printf("window %u %u opacity %g\n", ioOptions.windowValues.lo, ioOptions.windowValues.hi, ioOptions.opacity);
    std::fflush(stdout);
    ioScene.table = ULMLookupTable::Create(256);
    ioScene.context = ioScene.table != nullptr ? ULMContext::Create(ioScene.table) : nullptr;
    if (ioScene.context == nullptr) return Fail(input + ": " + Describe(kULMErrAlloc));
    status = FillTable(ioOptions.windowValues, field.m_size, ioOptions.opacity, *ioScene.table);
    if (status == kULMOK) status = SetUpContext(ioOptions, *ioScene.volume, *ioScene.context);
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
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
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
