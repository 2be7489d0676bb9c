#include "sequence/sequence_oracles.h"

#include <cstdio>
#include <cstring>

#include "tulx7sim/test_api.h"

namespace seqtest {
namespace {

bool KnownStatus(int32_t s) { return (s >= 0 && s <= 5) || (s >= 1001 && s <= 1032); }

std::string Where(const char* check, const std::string& what, const std::string& detail) {
    return std::string(check) + ": " + what + (detail.empty() ? "" : " (" + detail + ")");
}

}  // namespace

std::string StatusText(ULMStatus s) { return UlmGetStatusString(s); }

ULMStatus CheckStatus(ULMStatus s, const std::string& what) {
    if (!KnownStatus(int32_t(s))) {
        throw OracleFailure(Where("unknown status", what, "value " + std::to_string(int32_t(s))));
    }
    return s;
}

std::vector<uint8_t> FilledVoxels(const VolumeSlot& v, const ULMVolumeRange& r) {
    const size_t n = r.IsEmpty() ? 0 : size_t(r.XSize()) * r.YSize() * r.ZSize();
    std::vector<uint8_t> block(n * size_t(v.Bytes()));
    for (size_t i = 0; i < n; ++i) WriteVoxel(block.data(), i, v.Bytes(), v.FillValue());
    return block;
}

void CheckNoVoxelFill(const std::vector<uint8_t>& block, int bytes, uint32_t fill, const std::string& what) {
    const size_t n = block.size() / size_t(bytes);
    size_t left = 0, first = n;
    for (size_t i = 0; i < n; ++i) {
        if (ReadVoxel(block.data(), i, bytes) == fill) {
            if (left++ == 0) first = i;
        }
    }
    if (left != 0) {
        throw OracleFailure(Where("OK unload left fill", what,
                                  std::to_string(left) + " of " + std::to_string(n) + " voxels, first at " +
                                      std::to_string(first)));
    }
}

void CheckVoxelRead(const VolumeSlot& v, const std::vector<uint8_t>& block, const std::vector<int32_t>& expected,
                    const std::string& what, const ULMVolumeRange* inBox) {
    CheckNoVoxelFill(block, v.Bytes(), v.FillValue(), what);
    size_t wrong = 0, first = 0;
    uint32_t got = 0;
    int32_t want = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] == kUnknown) continue;
        const uint32_t value = ReadVoxel(block.data(), i, v.Bytes());
        if (value != uint32_t(expected[i]) && wrong++ == 0) {
            first = i;
            got = value;
            want = expected[i];
        }
    }
    if (wrong != 0) {
        char detail[224];
        const char* note = got == v.StaleValue() ? " (a finished call's block)" : "";
        if (inBox != nullptr && v.hostVoxels && *note == '\0') {
            const int x = int(first % size_t(inBox->XSize())), y = int(first / size_t(inBox->XSize()) % size_t(inBox->YSize())),
                      z = int(first / size_t(inBox->XSize()) / size_t(inBox->YSize()));
            if (got == v.HostVoxel(VoxelIndex(v, inBox->XOrigin() + x, inBox->YOrigin() + y, inBox->ZOrigin() + z)))
                note = " (the caller's voxel the volume was made over)";
        }
        std::snprintf(detail, sizeof detail, "%zu voxels differ, first at %zu: got %u want %d%s", wrong, first, got,
                      want, note);
        throw OracleFailure(Where("OK unload gave voxels from elsewhere", what, detail));
    }
}

std::vector<uint32_t> FilledPixels(const ULMImageRange& r) {
    std::vector<uint32_t> pixels(r.IsEmpty() ? 0 : size_t(r.XSize()) * r.YSize());
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = FillPixel(i);
    return pixels;
}

int64_t* ImageModelAt(ImageSlot& img, int x, int y) {
    if (img.wrapped || img.model.empty()) return nullptr;
    const int ex = x - img.offset[0], ey = y - img.offset[1];
    if (ex < 0 || ey < 0 || ex >= int(img.width) || ey >= int(img.height)) return nullptr;
    return &img.model[size_t(ey) * img.width + size_t(ex)];
}

void ForgetImage(ImageSlot& img) {
    ++img.writes;
    img.model.assign(size_t(img.width) * img.height, kUnknown);
}

void CheckPixelRead(const ImageSlot& img, const ULMImageRange& r, const std::vector<uint32_t>& pixels,
                    const std::string& what) {
    size_t left = 0, wrong = 0;
    std::string detail;
    for (int y = 0; y < r.YSize(); ++y)
        for (int x = 0; x < r.XSize(); ++x) {
            const size_t i = size_t(y) * r.XSize() + x;
            if (pixels[i] == FillPixel(i)) ++left;
            const int64_t* known = ImageModelAt(const_cast<ImageSlot&>(img), r.XOrigin() + x, r.YOrigin() + y);
            if (known != nullptr && *known != kUnknown && uint32_t(*known) != pixels[i] && wrong++ == 0) {
                char text[96];
                std::snprintf(text, sizeof text, "at %d,%d got %08x want %08x", r.XOrigin() + x, r.YOrigin() + y,
                              pixels[i], uint32_t(*known));
                detail = text;
            }
        }
    if (left != 0) throw OracleFailure(Where("OK unload left fill", what, std::to_string(left) + " pixels"));
    if (wrong != 0) {
        throw OracleFailure(
            Where("OK image unload gave pixels from elsewhere", what, std::to_string(wrong) + " pixels, " + detail));
    }
}

void CheckRenderWrote(const ULMImageRange& read, const ULMImageRange& asked, const std::vector<uint32_t>& pixels,
                      const std::string& what) {
    const ULMImageRange in = Intersect(read, asked);
    size_t left = 0, count = 0;
    for (int y = 0; y < in.YSize(); ++y)
        for (int x = 0; x < in.XSize(); ++x) {
            const size_t i = size_t(in.YOrigin() + y - read.YOrigin()) * read.XSize() + size_t(in.XOrigin() + x -
                                                                                              read.XOrigin());
            ++count;
            if (pixels[i] == RenderFillPixel(i)) ++left;
        }
    if (left != 0) {
        throw OracleFailure(Where("OK render left fill", what,
                                  std::to_string(left) + " of " + std::to_string(count) + " pixels in " +
                                      ImageRangeText(in)));
    }
}

void FinishBoardWork() {
    if (!tulx7sim::WaitForIdle(20000)) throw OracleFailure("hang: the boards did not get idle");
}

void CheckBlockUntouched(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                         const std::string& what) {
    if (before.size() != after.size() || std::memcmp(before.data(), after.data(), before.size()) != 0) {
        size_t first = 0;
        while (first < before.size() && before[first] == after[first]) ++first;
        throw OracleFailure(
            Where("caller's block changed after Wait", what, "first byte " + std::to_string(first)));
    }
}

uint64_t FailedJobs() { return tulx7sim::GetStats().jobsFailed; }

uint64_t BoardBytes(int board) { return tulx7sim::GetStats().boardBytesAllocated[board]; }

void CheckEndState(const uint64_t startBytes[], int boards) {
    FinishBoardWork();
    for (int b = 0; b < boards; ++b) {
        const uint64_t now = BoardBytes(b);
        if (now != startBytes[b]) {
            throw OracleFailure("board memory not given back: board " + std::to_string(b) + " holds " +
                                std::to_string(now) + " bytes, " + std::to_string(startBytes[b]) + " at the start");
        }
    }
    ULMClose();
    FinishBoardWork();
    const tulx7sim::Stats stats = tulx7sim::GetStats();
    if (stats.openClients != 0 || ULMConfiguration::GetNumberOfBoards() != 0) {
        throw OracleFailure("ULMClose left boards open: " + std::to_string(stats.openClients) + " clients");
    }
}

}  // namespace seqtest
