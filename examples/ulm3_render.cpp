// Renders the first volume of a volume file to a PNG: an orthographic
// camera framing the volume, a grey ramp with an opacity window, one render
// into an on-board image, unloaded and written with libpng.
//   ulm3_render IN.vox OUT.png [--size N] [--turn X Y]
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

ULMStatus Render(const Options& inOptions, std::vector<uint32_t>& outPixels) {
    ULMVolume* volume = ULMVolume::CreateFromFile(inOptions.input, 0, ULMVolume::kReadOnly, 0);
    if (volume == nullptr) return kULMErrVoxFile;
    // Grey rising with the value; opacity only from a quarter of the range up.
    ULMLookupTable* table = ULMLookupTable::Create(256);
    ULMContext* context = table != nullptr ? ULMContext::Create(table) : nullptr;
    const ULMFieldDescriptor rgba8[4] = {{0, 8, kULMUnsignedFraction}, {8, 8, kULMUnsignedFraction},
                                         {16, 8, kULMUnsignedFraction}, {24, 8, kULMUnsignedFraction}};
    const unsigned n = inOptions.size;
    ULMImageBuffer* image = ULMImageBuffer::Create(kULMBoard0, n, n, 32, 4, rgba8);
    ULMStatus status = context != nullptr && image != nullptr ? kULMOK : kULMErrAlloc;
    if (status == kULMOK) {
        for (int c = 0; c < 3; ++c) table->SetRamp(static_cast<ULMChannel>(c), 0, 255, 0.0, 1.0);
        table->SetRamp(kULMChannelAlpha, 0, 63, 0.0, 0.0);
        table->SetRamp(kULMChannelAlpha, 64, 255, 0.0, 0.12);

        unsigned sx = 0, sy = 0, sz = 0;
        volume->GetSize(sx, sy, sz);
        const ULMVolumeRange range = volume->GetRange();
        const double radius = 0.5 * std::sqrt(double(sx) * sx + double(sy) * sy + double(sz) * sz);
        ULMCamera camera;
        camera.SetProjectionMatrix(ULMMatrix::Ortho(-radius, radius, -radius, radius, -2 * radius, 2 * radius));
        camera.SetModelMatrix(ULMMatrix::Rotate(inOptions.turnX, ULMVector3D(1, 0, 0)) *
                              ULMMatrix::Rotate(inOptions.turnY, ULMVector3D(0, 1, 0)) *
                              ULMMatrix::Translate(-(range.XOrigin() + (sx - 1) / 2.0),
                                                   -(range.YOrigin() + (sy - 1) / 2.0),
                                                   -(range.ZOrigin() + (sz - 1) / 2.0)));
        camera.SetViewport(0, 0, static_cast<int>(n), static_cast<int>(n));
        status = context->SetCamera(camera);
        const ULMImageRange whole(static_cast<int>(n), static_cast<int>(n), 0, 0);
        if (status == kULMOK) status = image->Clear(whole, 0);
        if (status == kULMOK) status = volume->Render(context, image, nullptr, nullptr, nullptr);
        outPixels.assign(static_cast<size_t>(n) * n, 0);
        if (status == kULMOK) status = image->StartUnload(outPixels.data(), whole, 0).Wait(-1);
    }
    if (image != nullptr) image->Release();
    if (context != nullptr) context->Release();
    if (table != nullptr) table->Release();
    volume->Release();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: ulm3_render IN.vox OUT.png [--size N] [--turn X Y]\n");
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
