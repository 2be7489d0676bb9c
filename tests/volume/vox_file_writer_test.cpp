// Files made by the writer read back as they were written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include "source_ref.h"
#include "volume/vox_file_reader.h"
#include "volume/vox_file_writer.h"
#include "vox_test_files.h"

using namespace ulm3;
using namespace ulm3::testing;

namespace {

template <typename T>
std::vector<T> Ramp(size_t n, T value, T step) {
    std::vector<T> v(n);
    for (T& x : v) x = value, value = static_cast<T>(value + step);
    return v;
}

VoxVolumeToWrite Volume(int sx, int sy, int sz, int bits, char endian, std::vector<VoxfFieldSpecifier> fields,
                        const void* voxels) {
    VoxVolumeToWrite v;
    v.m_sizeX = sx, v.m_sizeY = sy, v.m_sizeZ = sz, v.m_voxelBits = bits, v.m_endian = endian;
    v.m_fields = std::move(fields);
    v.m_voxels = voxels;
    return v;
}

}  // namespace

TEST(VoxFileWriter, SeveralVolumesOfEveryWidthReadBack) {
    const auto v8 = Ramp<uint8_t>(3 * 2 * 2, 1, 7);
    const auto v16 = Ramp<uint16_t>(2 * 2 * 3, 0x0102, 0x0A0B);
    const auto v32 = Ramp<uint32_t>(5, 0x01020304, 0x11111111);
    const auto v64 = Ramp<uint64_t>(2, 0x0102030405060708ull, 0x1000000000000001ull);
    const double matrix[16] = {0.5, 0, 0, 0, 0, 1.0 / 3.0, 0, 0, 0, 0, 2, 0, -10, 20.125, 1e-7, 1};

    VoxFileWriter writer;
    writer.SetTitle("Phantom set\nsecond line");
    writer.SetCopyright("nobody");
    writer.AddAttribute("site", "Lab 3");
    writer.AddData("notes", "0123456789");
    writer.AddData("empty", "");
    VoxVolumeToWrite a =
        Volume(3, 2, 2, 8, 'L', {VoxfFieldSpecifier(0, 0, 8, 0, "density (raw)", "as scanned")}, v8.data());
    a.m_data = {{"lut", std::string(300, 'L')}};
    VoxVolumeToWrite b = Volume(2, 2, 3, 16, 'B', {VoxfFieldSpecifier(1, 12, 4, 2, "tag")}, v16.data());
    b.m_fields.push_back(VoxfFieldSpecifier(0, 0, 12, 3, "value"));
    b.m_fields[0].m_offset = -1.5f;
    b.m_fields[0].m_scale = 0.25f;
    b.m_hasModelMatrix = true;
    std::copy(matrix, matrix + 16, b.m_modelMatrix);
    b.m_title = "second volume";
    b.m_attributes = {{"kind", "gradient"}};
    b.m_data = {{"a", "xyz"}, {"b", "uvw"}};
    writer.AddVolume(a);
    writer.AddVolume(b);
    const std::vector<VoxfFieldSpecifier> loHi = {VoxfFieldSpecifier(0, 0, 16, 1, "lo"),
                                                  VoxfFieldSpecifier(1, 16, 16, 0, "hi")};
    writer.AddVolume(Volume(5, 1, 1, 32, 'B', loHi, v32.data()));
    writer.AddVolume(Volume(2, 1, 1, 64, 'L', {VoxfFieldSpecifier(0, 0, 64, 17, "double")}, v64.data()));
    TempFile file;
    ASSERT_EQ(writer.WriteToFile(file.Path()), kULMOK);
    std::string inMemory;
    ASSERT_EQ(writer.WriteToString(inMemory), kULMOK);
    EXPECT_EQ(file.Read(), inMemory);

    const struct {
        int bits;
        ULMVolumeRange range;
        const void* voxels;
        size_t bytes;
    } expected[] = {{8, ULMVolumeRange(3, 2, 2, 0, 0, 0), v8.data(), v8.size()},
                    {16, ULMVolumeRange(2, 2, 3, 0, 0, 0), v16.data(), v16.size() * 2},
                    {32, ULMVolumeRange(5, 1, 1, 0, 0, 0), v32.data(), v32.size() * 4},
                    {64, ULMVolumeRange(2, 1, 1, 0, 0, 0), v64.data(), v64.size() * 8}};
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        SourceRef<ULMVoxFileReader> r(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kReadOnly, n));
        ASSERT_EQ(r->GetVoxelSize(), expected[n].bits);
        EXPECT_EQ(r->GetVolumeSize(), expected[n].range);
        std::vector<uint8_t> out(expected[n].bytes);
        ASSERT_EQ(r->UnloadVoxels(out.data(), expected[n].range), kULMOK);
        EXPECT_EQ(0, memcmp(out.data(), expected[n].voxels, out.size()));
        EXPECT_EQ(r->GetDescription().m_title, " Phantom set\n second line\n");
        EXPECT_EQ(r->GetDescription().m_trailingData.size(), 2u);
    }
    SourceRef<ULMVoxFileReader> r(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kReadOnly, 1));
    const VoxFileDescription& desc = r->GetDescription();
    EXPECT_EQ(r->GetFieldDescriptor(kULMField0), ULMFieldDescriptor(0, 12, kULMUnsignedInteger));
    EXPECT_EQ(r->GetFieldDescriptor(kULMField1), ULMFieldDescriptor(12, 4, kULMUnsignedBitfield));
    EXPECT_FLOAT_EQ(desc.FindField(1)->m_offset, -1.5f);
    EXPECT_FLOAT_EQ(desc.FindField(1)->m_scale, 0.25f);
    EXPECT_EQ(r->GetInitialCorrectionMatrix(), ULMMatrix(matrix));
    EXPECT_EQ(desc.m_volumeTitle, " second volume\n");
    ASSERT_EQ(desc.m_volumeTrailingData.size(), 2u);
    EXPECT_EQ(desc.m_volumeAttribute[0].m_string, "gradient");
    SourceRef<ULMVoxFileReader> first(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kReadOnly, 0));
    EXPECT_EQ(first->GetDescription().FindField(0)->m_name, "density (raw)");
    EXPECT_EQ(first->GetDescription().FindField(0)->m_description, "as scanned");
    EXPECT_EQ(SourceRef<ULMVoxFileReader>(new ULMVoxFileReader(file.Path(), ULMVolume::kReadOnly, 4))->GetVoxelSize(), 0);
}

TEST(VoxFileWriter, RefusesWhatAFileCannotSay) {
    const uint8_t voxel = 0;
    const VoxVolumeToWrite good = Volume(1, 1, 1, 8, 'B', {VoxfFieldSpecifier(0, 0, 8, 0, "v")}, &voxel);
    using Change = void (*)(VoxVolumeToWrite&, VoxFileWriter&);
    const auto status = [&](Change change) {
        VoxVolumeToWrite v = good;
        VoxFileWriter w;
        change(v, w);
        w.AddVolume(v);
        std::string out;
        return w.WriteToString(out);
    };
    EXPECT_EQ(status([](VoxVolumeToWrite&, VoxFileWriter&) {}), kULMOK);
    // An empty volume needs no voxels.
    EXPECT_EQ(status([](VoxVolumeToWrite& v, VoxFileWriter&) { v.m_sizeX = 0, v.m_voxels = nullptr; }), kULMOK);
    const Change refused[] = {
        [](VoxVolumeToWrite& v, VoxFileWriter&) { v.m_fields = {VoxfFieldSpecifier(1, 0, 8, 0, "v")}; },
        [](VoxVolumeToWrite& v, VoxFileWriter&) { v.m_voxelBits = 12; },
        [](VoxVolumeToWrite& v, VoxFileWriter&) { v.m_endian = 'X'; },
        [](VoxVolumeToWrite& v, VoxFileWriter&) { v.m_voxels = nullptr; },
        [](VoxVolumeToWrite& v, VoxFileWriter&) { v.m_fields[0].m_name = "say \"hi\""; },
        [](VoxVolumeToWrite& v, VoxFileWriter&) { v.m_fields[0].m_name = ""; },
        [](VoxVolumeToWrite& v, VoxFileWriter&) { v.m_fields[0].m_format = 7; },
        [](VoxVolumeToWrite&, VoxFileWriter& w) { w.AddAttribute("a", "two\nlines"); },
        [](VoxVolumeToWrite&, VoxFileWriter& w) { w.AddData("", "x"); },
        [](VoxVolumeToWrite& v, VoxFileWriter&) { v.m_modelMatrix[3] = std::numeric_limits<double>::infinity(); },
    };
    for (size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(status(refused[i]), kULMErrArgument) << "change " << i;
    VoxFileWriter w;
    w.AddVolume(good);
    EXPECT_EQ(w.WriteToFile("/nonexistent/dir/file.vox"), kULMErrWrite);
    EXPECT_EQ(w.WriteToFile(""), kULMErrArgument);
}

namespace {

// Runs in a child: the file-size limit stops the second file half way; the
// write must say why and leave the first file whole and nothing beside it.
void RewriteWithASizeLimit(const char* inPath, const VoxFileWriter& inLarger, size_t inLimit) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(inLimit);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string reason;
    if (inLarger.WriteToFile(inPath, &reason) != kULMErrWrite) exit(3);
    exit(reason == std::strerror(EFBIG) ? 0 : 4);
}

}  // namespace

TEST(VoxFileWriterDeathTest, AFailedWriteKeepsTheFileThatWasThere) {
    const std::vector<uint8_t> small(8, 1), large(1 << 16, 2);
    VoxFileWriter first, second;
    first.AddVolume(Volume(2, 2, 2, 8, 'B', {VoxfFieldSpecifier(0, 0, 8, 0, "v")}, small.data()));
    second.AddVolume(Volume(64, 32, 32, 8, 'B', {VoxfFieldSpecifier(0, 0, 8, 0, "v")}, large.data()));
    TempFile file;
    ASSERT_EQ(first.WriteToFile(file.Path()), kULMOK);
    const std::string before = file.Read();
    EXPECT_EXIT(RewriteWithASizeLimit(file.Path(), second, large.size() / 2), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(file.Read(), before);
    const std::filesystem::path folder = std::filesystem::path(file.Path()).parent_path();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    // Without a limit the same write replaces the file.
    ASSERT_EQ(second.WriteToFile(file.Path()), kULMOK);
    std::string bytes;
    ASSERT_EQ(second.WriteToString(bytes), kULMOK);
    EXPECT_EQ(file.Read(), bytes);
}
