// Renders the first volume of a volume file to a PNG: an orthographic
// camera framing the volume, a grey ramp with an opacity window, one render
// into an on-board image, unloaded and written with libpng. --shade lights
// it from the viewer; --base-plane renders a base plane instead and warps it
// into the picture through a graphics context, as a drawing program would.
//   ulm3_render IN.vox OUT.png [--size N] [--turn X Y] [--shade] [--base-plane]
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ulm3.h"

using namespace ulm3;

namespace {

struct Options {
    const char* input = nullptr;
    const char* output = nullptr;
    unsigned size = 256;
    double turnX = 30.0, turnY = 40.0;
    bool shade = false;
    bool basePlane = false;
};

bool ParseOptions(int argc, char** argv, Options& out) {
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--size" && i + 1 < argc) {
            const long n = std::strtol(argv[++i], nullptr, 10);
            if (n < 16 || n > 4096) return false;
            out.size = static_cast<unsigned>(n);
        } else if (a == "--turn" && i + 2 < argc) {
            out.turnX = std::strtod(argv[++i], nullptr);
            out.turnY = std::strtod(argv[++i], nullptr);
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
    return std::isfinite(out.turnX) && std::isfinite(out.turnY);
}

// Rows bottom-up as the camera's window counts them; PNG rows go top-down.
bool WritePng(const char* inPath, const std::vector<uint32_t>& inPixels, unsigned inSize) {
    FILE* file = std::fopen(inPath, "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = info != nullptr;
    if (ok && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, inSize, inSize, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        std::vector<png_byte> row(3 * inSize);
        for (unsigned y = 0; y < inSize; ++y) {
            const uint32_t* src = &inPixels[static_cast<size_t>(inSize - 1 - y) * inSize];
            for (unsigned x = 0; x < inSize; ++x)
                for (int c = 0; c < 3; ++c) row[3 * x + c] = static_cast<png_byte>(src[x] >> (8 * c));
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
    } else {
        ok = false;
    }
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    return std::fclose(file) == 0 && ok;
}

// Draws base planes into a square RGBA8 picture the way a texture-mapping
// program would: every picture pixel inside the hexagon reads the plane,
// bilinear, at the point the hexagon's affine map gives it.
class PictureGraphics : public ULMGraphicsContext {
public:
    explicit PictureGraphics(std::vector<uint32_t>& ioPixels, unsigned inSize) : m_pixels(ioPixels), m_size(inSize) {}

    ULMStatus DrawBasePlane(const ULMBasePlaneInfo& in) override {
        if (in.pixelFormat != kULMPixelFormatRGBA8 || in.numberOfVertices < 3) return kULMErrArgument;
        // The widest triangle of the hexagon gives the map most precisely.
        int best[3] = {0, 1, 2};
        double area = 0.0;
        for (int i = 0; i < in.numberOfVertices; ++i)
            for (int j = i + 1; j < in.numberOfVertices; ++j)
                for (int k = j + 1; k < in.numberOfVertices; ++k) {
                    const double a = std::fabs(Cross(in.hexagon[i], in.hexagon[j], in.hexagon[k]));
                    if (a > area) area = a, best[0] = i, best[1] = j, best[2] = k;
                }
        if (area <= 0.0) return kULMErrArgument;
        const ULMVector2D &p0 = in.hexagon[best[0]], &p1 = in.hexagon[best[1]], &p2 = in.hexagon[best[2]];
        const ULMVector2D &t0 = in.texCoords[best[0]], &t1 = in.texCoords[best[1]], &t2 = in.texCoords[best[2]];
        const double det = Cross(p0, p1, p2);
        for (unsigned y = 0; y < m_size; ++y) {
            for (unsigned x = 0; x < m_size; ++x) {
                const ULMVector2D q(x, y);
                if (!Inside(in, q)) continue;
                const double b1 = Cross(p0, q, p2) / det, b2 = Cross(p0, p1, q) / det;
                const double u = (t0[0] + b1 * (t1[0] - t0[0]) + b2 * (t2[0] - t0[0])) * in.imageWidth;
                const double v = (t0[1] + b1 * (t1[1] - t0[1]) + b2 * (t2[1] - t0[1])) * in.imageHeight;
                m_pixels[static_cast<size_t>(y) * m_size + x] = Bilinear(in, u, v);
            }
        }
        return kULMOK;
    }

private:
    // Twice the signed area of (a, b, c).
    static double Cross(const ULMVector2D& a, const ULMVector2D& b, const ULMVector2D& c) {
        return (b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1]);
    }
    // The hexagon runs counter-clockwise; a point on its edge is inside.
    static bool Inside(const ULMBasePlaneInfo& in, const ULMVector2D& q) {
        for (int i = 0; i < in.numberOfVertices; ++i)
            if (Cross(in.hexagon[i], in.hexagon[(i + 1) % in.numberOfVertices], q) < -1e-9) return false;
        return true;
    }
    static uint32_t Bilinear(const ULMBasePlaneInfo& in, double u, double v) {
        const auto* texels = static_cast<const uint32_t*>(in.pixels);
        const double fu = u - std::floor(u), fv = v - std::floor(v);
        const long u0 = std::lround(u - fu), v0 = std::lround(v - fv);
        auto at = [&](long i, long j, int c) -> double {
            const bool inPlane = i >= 0 && j >= 0 && i < in.basePlaneWidth && j < in.basePlaneHeight;
            return inPlane ? (texels[j * in.imageWidth + i] >> (8 * c)) & 255 : 0.0;
        };
        uint32_t out = 0;
        for (int c = 0; c < 4; ++c) {
            const double value = (1 - fv) * ((1 - fu) * at(u0, v0, c) + fu * at(u0 + 1, v0, c)) +
                                 fv * ((1 - fu) * at(u0, v0 + 1, c) + fu * at(u0 + 1, v0 + 1, c));
            out |= static_cast<uint32_t>(std::lround(value)) << (8 * c);
        }
        return out;
    }

    std::vector<uint32_t>& m_pixels;
    unsigned m_size;
};

// The camera framing the volume, turned as asked, and with --shade one
// light at the viewer.
ULMStatus SetUpContext(const Options& inOptions, const ULMVolume& inVolume, ULMContext& ioContext) {
    unsigned sx = 0, sy = 0, sz = 0;
    inVolume.GetSize(sx, sy, sz);
    const ULMVolumeRange range = inVolume.GetRange();
    const double radius = 0.5 * std::sqrt(double(sx) * sx + double(sy) * sy + double(sz) * sz);
    ULMCamera camera;
    camera.SetProjectionMatrix(ULMMatrix::Ortho(-radius, radius, -radius, radius, -2 * radius, 2 * radius));
    camera.SetModelMatrix(ULMMatrix::Rotate(inOptions.turnX, ULMVector3D(1, 0, 0)) *
                          ULMMatrix::Rotate(inOptions.turnY, ULMVector3D(0, 1, 0)) *
                          ULMMatrix::Translate(-(range.XOrigin() + (sx - 1) / 2.0),
                                               -(range.YOrigin() + (sy - 1) / 2.0),
                                               -(range.ZOrigin() + (sz - 1) / 2.0)));
    camera.SetViewport(0, 0, static_cast<int>(inOptions.size), static_cast<int>(inOptions.size));
    ULMStatus status = ioContext.SetCamera(camera);
    if (status != kULMOK || !inOptions.shade) return status;
    // The eye looks down -z: the viewer lies towards +z.
    ULMLight* light = ULMLight::Create(ULMVector3D(0, 0, 1));
    if (light == nullptr) return kULMErrAlloc;
    status = ioContext.AddLight(light);
    light->Release();
    if (status == kULMOK) status = ioContext.SetReflectionProperties(0.75, 0.2, 0.25, 12.0);
    return status;
}

// One render straight into an image on the board, unloaded.
ULMStatus RenderDirect(unsigned inSize, ULMVolume& inVolume, const ULMContext& inContext,
                       std::vector<uint32_t>& outPixels) {
    const ULMFieldDescriptor rgba8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                         {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
    ULMImageBuffer* image = ULMImageBuffer::Create(kULMBoard0, inSize, inSize, 32, 4, rgba8);
    if (image == nullptr) return kULMErrAlloc;
    const ULMImageRange whole(static_cast<int>(inSize), static_cast<int>(inSize), 0, 0);
    ULMStatus status = image->Clear(whole, 0);
    if (status == kULMOK) status = inVolume.Render(&inContext, image, nullptr, nullptr, nullptr);
    if (status == kULMOK) status = image->StartUnload(outPixels.data(), whole, 0).Wait(-1);
    image->Release();
    return status;
}

ULMStatus Render(const Options& inOptions, std::vector<uint32_t>& outPixels) {
    ULMVolume* volume = ULMVolume::CreateFromFile(inOptions.input, 0, ULMVolume::kReadOnly, 0);
    if (volume == nullptr) return kULMErrVoxFile;
    // Grey rising with the value; opacity only from a quarter of the range up.
    ULMLookupTable* table = ULMLookupTable::Create(256);
    ULMContext* context = table != nullptr ? ULMContext::Create(table) : nullptr;
    ULMStatus status = context != nullptr ? kULMOK : kULMErrAlloc;
    outPixels.assign(static_cast<size_t>(inOptions.size) * inOptions.size, 0);
    if (status == kULMOK) {
        for (int c = 0; c < 3; ++c) table->SetRamp(static_cast<ULMChannel>(c), 0, 255, 0.0, 1.0);
        table->SetRamp(kULMChannelAlpha, 0, 63, 0.0, 0.0);
        table->SetRamp(kULMChannelAlpha, 64, 255, 0.0, 0.12);
        status = SetUpContext(inOptions, *volume, *context);
    }
    if (status == kULMOK && inOptions.basePlane) {
        PictureGraphics picture(outPixels, inOptions.size);
        status = context->RenderToGraphicsContext(volume, &picture, 0);
    } else if (status == kULMOK) {
        status = RenderDirect(inOptions.size, *volume, *context, outPixels);
    }
    if (context != nullptr) context->Release();
    if (table != nullptr) table->Release();
    volume->Release();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: ulm3_render IN.vox OUT.png [--size N] [--turn X Y] [--shade] [--base-plane]\n");
        return 2;
    }
    ULMStatus status = ULMOpen();
    if (status != kULMOK) {
        std::fprintf(stderr, "ulm3_render: cannot open the library: %s\n", UlmGetStatusString(status));
        return 1;
    }
    std::vector<uint32_t> pixels;
    status = Render(options, pixels);
    ULMClose();
    if (status != kULMOK) {
        std::fprintf(stderr, "ulm3_render: %s: %s (%d)\n", options.input, UlmGetStatusString(status),
                     static_cast<int>(status));
        return 1;
    }
    if (!WritePng(options.output, pixels, options.size)) {
        std::fprintf(stderr, "ulm3_render: cannot write %s\n", options.output);
        return 1;
    }
    return 0;
}
