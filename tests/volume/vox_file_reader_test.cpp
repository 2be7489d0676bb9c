// The volume file reader in its four read modes, with byte swapping and the
// write-back of read-write mode.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "foundation/message_log.h"
#include "source_ref.h"
#include "volume/vox_file_reader.h"
#include "vox_test_files.h"

using namespace ulm3;
using namespace ulm3::testing;

namespace {

using Reader = SourceRef<ULMVoxFileReader>;

// A big-endian 16-bit volume of 4 x 3 x 2 voxels whose value is 0x0100 *
// (index + 1) + index, so both bytes of every voxel differ.
const std::string kHeader16 =
    "Vox1999a\nVolumeCount 1\n##\nVolumeSize 4 3 2\nVoxelSize 16\nEndian B\n"
    "Field0 ( Position 0 Size 12 Name density Format ui )\nField1 ( Position 12 Size 4 Name tag Format ub )\n"
    "ModelMatrix ( 2 0 0 0 0 2 0 0 0 0 2 0 1 2 3 1 )\n##\f\n";

uint16_t Value16(int i) { return static_cast<uint16_t>(0x0100 * (i + 1) + i); }

std::string File16() {
    std::string s = kHeader16;
    for (int i = 0; i < 24; ++i) s += Be16({Value16(i)});
    return s;
}

std::vector<uint16_t> Expected16(const ULMVolumeRange& box) {
    std::vector<uint16_t> out;
    for (int z = box.ZOrigin(); z < box.ZOrigin() + box.ZSize(); ++z)
        for (int y = box.YOrigin(); y < box.YOrigin() + box.YSize(); ++y)
            for (int x = box.XOrigin(); x < box.XOrigin() + box.XSize(); ++x)
                out.push_back(Value16((z * 3 + y) * 4 + x));
    return out;
}

class VoxFileReaderTest : public ::testing::Test {
protected:
    VoxFileReaderTest() { m_file.Write(File16()); }
    ULMVoxFileReader* Open(int mode, int volume = 0) { return new ULMVoxFileReader(m_file.Path(), static_cast<ULMVolume::ReadMode>(mode), volume); }
    std::vector<uint16_t> UnloadAll(ULMVoxFileReader& r) {
        std::vector<uint16_t> out(24);
        EXPECT_EQ(r.UnloadVoxels(out.data(), kWhole), kULMOK);
        return out;
    }

    const ULMVolumeRange kWhole{4, 3, 2, 0, 0, 0}, kFirst{1, 1, 1, 0, 0, 0};
    TempFile m_file;
};

}  // namespace

TEST_F(VoxFileReaderTest, UnloadOfBoxesOfEveryShape) {
    for (int mode : {ULMVoxFileReader::kReadOnly, ULMVoxFileReader::kCopyOnWrite}) {
        SCOPED_TRACE(mode);
        Reader r(Open(mode));
        for (const ULMVolumeRange& box : {kWhole, ULMVolumeRange(4, 2, 2, 0, 1, 0), ULMVolumeRange(2, 3, 1, 2, 0, 1),
                                          ULMVolumeRange(4, 3, 1, 0, 0, 1)}) {
            std::vector<uint16_t> out(static_cast<size_t>(box.XSize() * box.YSize() * box.ZSize()));
            ASSERT_EQ(r->UnloadVoxels(out.data(), box), kULMOK);
            EXPECT_EQ(out, Expected16(box));
        }
        uint16_t v = 0;
        Mapping m;
        EXPECT_EQ(r->UnloadVoxels(&v, ULMVolumeRange(1, 1, 1, 4, 0, 0)), kULMErrArgument);
        EXPECT_EQ(r->UnloadVoxels(nullptr, kWhole), kULMErrArgument);
        // An empty box at an origin outside is refused, not asserted on.
        EXPECT_EQ(r->UnloadVoxels(&v, ULMVolumeRange(0, 1, 1, 9, 0, 0)), kULMErrArgument);
        EXPECT_EQ(m.Map(*r, ULMVolumeRange(0, 0, 0, -1, 0, 0), 0), kULMErrArgument);
        EXPECT_EQ(r->UpdateVoxels(ULMVolumeRange(1, 0, 1, 0, 7, 0), &v), kULMErrArgument);
    }
}

TEST(VoxFileReader, Version1997File) {
    TempFile file;
    file.Write(Vox97("BigEndian 3 2 1 0 0.5 0 16 1040000", Be16({0x0010, 0x0020, 0x0030, 0x0040, 0x0050, 0xFFF0})));
    Reader r(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kCopyOnWrite, 0));
    ASSERT_EQ(r->GetVoxelSize(), 16);
    EXPECT_EQ(r->GetFieldDescriptor(kULMField0), ULMFieldDescriptor(4, 12, kULMUnsignedFraction));
    EXPECT_EQ(r->GetInitialCorrectionMatrix(), ULMMatrix::Scale(1, 0.5, 1));
    const ULMVolumeRange all(3, 2, 1, 0, 0, 0);
    std::vector<uint8_t> field(6);
    // The 12-bit field at bit 4 is none of the shapes moved field by field.
    EXPECT_EQ(r->UnloadVoxelField(field.data(), all, r->GetFieldDescriptor(kULMField0)), kULMErrFormat);
    std::vector<uint16_t> out(6);
    ASSERT_EQ(r->UnloadVoxels(out.data(), all), kULMOK);
    EXPECT_EQ(out, (std::vector<uint16_t>{0x0010, 0x0020, 0x0030, 0x0040, 0x0050, 0xFFF0}));
    EXPECT_EQ(Reader(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kReadOnly, 1))->GetVoxelSize(), 0);
}

TEST(VoxFileReader, WhatCannotBeOpenedLeavesAnUnusableReader) {
    TempFile file;
    const std::string good =
        "Vox1999a\n##\nVolumeSize 4 4 4\nVoxelSize 8\nEndian L\nField0 ( Position 0 Size 8 Name v )\n##\f\n";
    file.Write(good + std::string(64, 'x'));
    const auto voxelSize = [](const char* name, int mode, int volume = 0) {
        return Reader(new ULMVoxFileReader(name, static_cast<ULMVolume::ReadMode>(mode), volume))->GetVoxelSize();
    };
    EXPECT_EQ(voxelSize(file.Path(), 0), 8);
    for (int mode : {4, -1}) EXPECT_EQ(voxelSize(file.Path(), mode), 0);
    for (int volume : {1, -1}) EXPECT_EQ(voxelSize(file.Path(), 0, volume), 0);
    for (const char* name : {"", static_cast<const char*>(nullptr), "/nonexistent/volume.vox", "/tmp"})
        EXPECT_EQ(voxelSize(name, 0), 0);
    // A FIFO is no volume file, and naming one must not wait for a writer.
    const std::string fifo = std::string(file.Path()) + ".fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(voxelSize(fifo.c_str(), 0), 0);
    unlink(fifo.c_str());

    // Truncated: the modes that load everything refuse it up front; the
    // lazy modes open it and fail on the box that is not there.
    file.Write(good + std::string(60, 'x'));
    EXPECT_EQ(voxelSize(file.Path(), ULMVoxFileReader::kCopyOnWrite), 0);
    EXPECT_EQ(voxelSize(file.Path(), ULMVoxFileReader::kReadWrite), 0);
    for (int mode : {ULMVoxFileReader::kReadOnly, ULMVoxFileReader::kReadWriteBuffer}) {
        Reader r(new ULMVoxFileReader(file.Path(), static_cast<ULMVolume::ReadMode>(mode), 0));
        ASSERT_EQ(r->GetVoxelSize(), 8);
        std::vector<uint8_t> out(64);
        Mapping m;
        EXPECT_EQ(r->UnloadVoxels(out.data(), ULMVolumeRange(4, 4, 4, 0, 0, 0)), kULMErrRead);
        EXPECT_EQ(m.Map(*r, ULMVolumeRange(4, 4, 1, 0, 0, 3), 0), kULMErrRead);
        ASSERT_EQ(m.Map(*r, ULMVolumeRange(4, 4, 3, 0, 0, 0), 0), kULMOK);
        EXPECT_EQ(r->ReleaseVoxels(m.p), kULMOK);
    }

    // A file declaring a vast volume it does not hold costs no memory.
    file.Write("Vox1999a\n##\nVolumeSize 2147483647 2147483647 1\nVoxelSize 8\nEndian L\n"
               "Field0 ( Position 0 Size 8 Name v )\n##\f\nshort");
    EXPECT_EQ(voxelSize(file.Path(), ULMVoxFileReader::kCopyOnWrite), 0);
    Reader lazy(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kReadOnly, 0));
    ASSERT_EQ(lazy->GetVoxelSize(), 8);
    Mapping m;
    EXPECT_EQ(m.Map(*lazy, lazy->GetVolumeSize(), 0), kULMErrRead);
}

TEST(VoxFileReader, VoxelsBeyondFourGigabytes) {
    TempFile file;
    // Three data blocks of 2 GiB - 1 put the volume past 6 GiB; the file is
    // sparse, so only the text and the voxels take room.
    std::string header = "Vox1999a\n";
    for (int i = 0; i < 3; ++i) header += "Data d 2147483647\n";
    header += "##\f\n";
    const std::string volume =
        "##\nVolumeSize 3 1 1\nVoxelSize 16\nEndian B\nField0 ( Position 0 Size 16 Name v )\n##\f\n" +
        Be16({0x0102, 0x0304, 0x0506});
    const off_t at = static_cast<off_t>(header.size()) + 3 * off_t{2147483647};
    const int fd = open(file.Path(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const bool written = pwrite(fd, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size()) &&
                         pwrite(fd, volume.data(), volume.size(), at) ==
                             static_cast<ssize_t>(volume.size());
    close(fd);
    if (!written) GTEST_SKIP() << "the file system refuses a sparse file of this size";
    for (int mode : {ULMVoxFileReader::kReadOnly, ULMVoxFileReader::kReadWrite}) {
        Reader r(new ULMVoxFileReader(file.Path(), static_cast<ULMVolume::ReadMode>(mode), 0));
        ASSERT_EQ(r->GetVoxelSize(), 16);
        std::vector<uint16_t> out(2);
        ASSERT_EQ(r->UnloadVoxels(out.data(), ULMVolumeRange(2, 1, 1, 1, 0, 0)), kULMOK);
        EXPECT_EQ(out, (std::vector<uint16_t>{0x0304, 0x0506}));
        const uint16_t v = 0xBEEF;
        if (mode == ULMVoxFileReader::kReadWrite) {
            ASSERT_EQ(r->UpdateVoxels(ULMVolumeRange(1, 1, 1, 0, 0, 0), &v), kULMOK);
        }
    }
    Reader r(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kReadOnly, 0));
    uint16_t first = 0;
    ASSERT_EQ(r->UnloadVoxels(&first, ULMVolumeRange(1, 1, 1, 0, 0, 0)), kULMOK);
    EXPECT_EQ(first, 0xBEEF);
}

namespace {

// Runs in a child: the file-size limit makes every write at or past half the
// header fail, so the write-back at the reader's end cannot land (the log
// stays far below the limit).
void UpdateWithWritesRefused(const char* path, size_t headerBytes) {
    setenv("ULMMessageOutput", "stderr", 1);
    ULMCloseMessageFile();
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(headerBytes / 2);
    setrlimit(RLIMIT_FSIZE, &limit);
    {
        Reader r(new ULMVoxFileReader(path, ULMVoxFileReader::kReadWrite, 0));
        const uint16_t v = 7;
        if (r->UpdateVoxels(ULMVolumeRange(1, 1, 1, 0, 0, 0), &v) != kULMOK) exit(3);
    }
    exit(0);
}

}  // namespace

TEST(VoxFileReaderDeathTest, AFailedWriteBackIsLogged) {
    TempFile file;
    const std::string text = "Vox1999a\n//" + std::string(1 << 16, '-') +
                             "\n##\nVolumeSize 2 1 1\nVoxelSize 16\nEndian B\n"
                             "Field0 ( Position 0 Size 16 Name v )\n##\f\n";
    file.Write(text + Be16({1, 2}));
    EXPECT_EXIT(UpdateWithWritesRefused(file.Path(), text.size()), ::testing::ExitedWithCode(0),
                "not written back: Write \\(1028\\)");
    EXPECT_EQ(file.Read(), text + Be16({1, 2}));
}

namespace {

// A 16-bit volume of one row, with the field declarations given.
std::string OneRowFile(const std::string& inFields, int inVoxelBits, const std::string& inVoxels, int inCount) {
    return "Vox1999a\n##\nVolumeSize " + std::to_string(inCount) + " 1 1\nVoxelSize " + std::to_string(inVoxelBits) +
           "\nEndian B\n" + inFields + "##\f\n" + inVoxels;
}

}  // namespace

// Declared widths the boards cannot read become the next width they can when
// nothing else claims the bits gained; everything else stays as declared
// (and a volume then refuses it).
TEST(VoxFileReader, FieldsOfOtherWidthsAreServedAsTheNextWiderOne) {
    struct Case {
        const char* fields;
        int voxelBits;
        ULMFieldDescriptor expected;
    };
    const Case cases[] = {
        {"Field0 ( Position 0 Size 11 Name v )\n", 16, {0, 12, kULMUnsignedFraction}},
        {"Field0 ( Position 0 Size 9 Name v Format ui )\n", 16, {0, 12, kULMUnsignedInteger}},
        {"Field0 ( Position 0 Size 13 Name v )\n", 16, {0, 16, kULMUnsignedFraction}},
        {"Field0 ( Position 4 Size 10 Name v )\n", 16, {4, 12, kULMUnsignedFraction}},
        {"Field0 ( Position 0 Size 1 Name v )\n", 8, {0, 4, kULMUnsignedFraction}},
        {"Field0 ( Position 0 Size 5 Name v )\n", 8, {0, 8, kULMUnsignedFraction}},
        {"Field0 ( Position 0 Size 12 Name v )\n", 16, {0, 12, kULMUnsignedFraction}},
        // Not widened: a sign bit would move, the position is not a multiple
        // of four, the widened field leaves the voxel or meets another field.
        {"Field0 ( Position 0 Size 11 Name v Format sf )\n", 16, {0, 11, kULMSignedFraction}},
        {"Field0 ( Position 2 Size 10 Name v )\n", 16, {2, 10, kULMUnsignedFraction}},
        {"Field0 ( Position 4 Size 13 Name v )\n", 16, {4, 13, kULMUnsignedFraction}},
        {"Field0 ( Position 0 Size 11 Name v )\nField5 ( Position 11 Size 1 Name flag )\n", 16,
         {0, 11, kULMUnsignedFraction}},
        {"Field0 ( Position 0 Size 6 Name v )\nField1 ( Position 7 Size 1 Name flag )\n", 8,
         {0, 6, kULMUnsignedFraction}},
    };
    TempFile file;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields);
        file.Write(OneRowFile(c.fields, c.voxelBits, std::string(c.voxelBits / 8, '\0'), 1));
        Reader r(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kReadOnly, 0));
        ASSERT_EQ(r->GetVoxelSize(), c.voxelBits);
        EXPECT_EQ(r->GetFieldDescriptor(kULMField0), c.expected);
    }
}

// The bits an 11-bit field gains read 0 in every mode, whatever the file
// holds there; bits outside every field are served as they are. A write-back
// stores what the application wrote in the declared bits and leaves the
// file's own in the others, also in the voxels of the row it did not change.
TEST(VoxFileReader, BitsAWideningGainsRead0AndSurviveAWriteBack) {
    const std::vector<uint16_t> stored = {0x0923, 0xA923, 0x07FF, 0x0800};
    const std::string fields = "Field0 ( Position 0 Size 11 Name v )\n";
    TempFile file;
    file.Write(OneRowFile(fields, 16, Be16({0x0923, 0xA923, 0x07FF, 0x0800}), 4));
    const ULMVolumeRange row(4, 1, 1, 0, 0, 0);
    for (int mode : {0, 1, 2, 3}) {
        SCOPED_TRACE(mode);
        Reader r(new ULMVoxFileReader(file.Path(), static_cast<ULMVolume::ReadMode>(mode), 0));
        std::vector<uint16_t> out(4);
        ASSERT_EQ(r->UnloadVoxels(out.data(), row), kULMOK);
        for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], stored[i] & ~0x0800) << i;
        Mapping m;
        ASSERT_EQ(m.Map(*r, ULMVolumeRange(1, 1, 1, 1, 0, 0), 0), kULMOK);
        EXPECT_EQ(*static_cast<uint16_t*>(m.p), 0xA123);
        EXPECT_EQ(r->ReleaseVoxels(m.p), kULMOK);
    }
    {
        Reader r(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kReadWrite, 0));
        // Voxel 1 goes back as it was read, voxel 2 with every bit set.
        const uint16_t written[2] = {0xA123, 0xFFFF};
        ASSERT_EQ(r->UpdateVoxels(ULMVolumeRange(2, 1, 1, 1, 0, 0), written), kULMOK);
    }
    EXPECT_EQ(file.Read(), OneRowFile(fields, 16, Be16({0x0923, 0xA923, 0xF7FF, 0x0800}), 4));
}
