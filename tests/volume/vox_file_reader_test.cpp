// The volume file reader in its four read modes, with byte swapping and the
// write-back of read-write mode.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <numeric>
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

std::string Voxels16() {
    std::string s;
    for (int i = 0; i < 24; ++i) s += Be16({Value16(i)});
    return s;
}

std::vector<uint16_t> Expected16(const ULMVolumeRange& box) {
    std::vector<uint16_t> out;
    for (int z = box.ZOrigin(); z < box.ZOrigin() + box.ZSize(); ++z)
        for (int y = box.YOrigin(); y < box.YOrigin() + box.YSize(); ++y)
            for (int x = box.XOrigin(); x < box.XOrigin() + box.XSize(); ++x) out.push_back(Value16((z * 3 + y) * 4 + x));
    return out;
}

class VoxFileReaderTest : public ::testing::Test {
protected:
    VoxFileReaderTest() { m_file.Write(kHeader16 + Voxels16()); }
    ULMVoxFileReader* Open(int mode, int volume = 0) { return new ULMVoxFileReader(m_file.Path(), mode, volume); }

    const ULMVolumeRange kWhole{4, 3, 2, 0, 0, 0};
    TempFile m_file;
};

}  // namespace

TEST_F(VoxFileReaderTest, DescribesTheVolumeOfTheFile) {
    Reader r(Open(ULMVoxFileReader::kReadOnly));
    ASSERT_EQ(r->GetVoxelSize(), 16);
    EXPECT_EQ(r->GetObjectID() >> 56, 145u);
    EXPECT_EQ(r->GetVolumeSize(), kWhole);
    EXPECT_TRUE(r->HasData());
    EXPECT_FALSE(r->CanResize());
    EXPECT_EQ(r->Resize(kWhole), kULMErrCantResize);
    EXPECT_EQ(r->GetFieldDescriptor(kULMField0), ULMFieldDescriptor(0, 12, kULMUnsignedInteger));
    EXPECT_EQ(r->GetFieldDescriptor(kULMField1), ULMFieldDescriptor(12, 4, kULMUnsignedBitfield));
    EXPECT_EQ(r->GetFieldDescriptor(kULMField2), ULMFieldDescriptor());
    const ULMMatrix expected(2, 0, 0, 1, 0, 2, 0, 2, 0, 0, 2, 3, 0, 0, 0, 1);
    EXPECT_EQ(r->GetInitialCorrectionMatrix(), expected);
    EXPECT_EQ(r->ChangedRange(kWhole), kWhole);
    r->ResetChangedRange();
    EXPECT_TRUE(r->ChangedRange(kWhole).IsEmpty());
}

TEST_F(VoxFileReaderTest, ReadOnlyModeReadsBoxesFromTheFileAndLendsOneBuffer) {
    Reader r(Open(ULMVoxFileReader::kReadOnly));
    ASSERT_EQ(r->GetVoxelSize(), 16);
    EXPECT_TRUE(r->IsReadOnly());
    void* p = nullptr;
    unsigned ys = 0, zs = 0;
    EXPECT_EQ(r->MapVoxels(kWhole, 1, &p, &ys, &zs), kULMErrReadOnly);

    // Big-endian voxels come out in host order.
    const ULMVolumeRange box(3, 2, 2, 1, 1, 0);
    ASSERT_EQ(r->MapVoxels(box, 0, &p, &ys, &zs), kULMOK);
    EXPECT_EQ(ys, 3u);
    EXPECT_EQ(zs, 2u);
    const std::vector<uint16_t> expected = Expected16(box);
    EXPECT_EQ(std::vector<uint16_t>(static_cast<uint16_t*>(p), static_cast<uint16_t*>(p) + 12), expected);

    // A box inside the lent one shares its buffer...
    void* inner = nullptr;
    unsigned ys2 = 0, zs2 = 0;
    ASSERT_EQ(r->MapVoxels(ULMVolumeRange(1, 1, 1, 2, 2, 1), 0, &inner, &ys2, &zs2), kULMOK);
    EXPECT_EQ(inner, static_cast<uint16_t*>(p) + (1 * 2 + 1) * 3 + 1);
    EXPECT_EQ(*static_cast<uint16_t*>(inner), Value16((1 * 3 + 2) * 4 + 2));
    // ... while one outside it must wait for the buffer to come back.
    void* other = nullptr;
    EXPECT_EQ(r->MapVoxels(ULMVolumeRange(1, 1, 1, 0, 0, 0), 0, &other, &ys2, &zs2), kULMErrAlloc);
    EXPECT_EQ(r->ReleaseVoxels(inner), kULMOK);
    EXPECT_EQ(r->MapVoxels(ULMVolumeRange(1, 1, 1, 0, 0, 0), 0, &other, &ys2, &zs2), kULMErrAlloc);
    EXPECT_EQ(r->ReleaseVoxels(p), kULMOK);
    ASSERT_EQ(r->MapVoxels(ULMVolumeRange(1, 1, 1, 0, 0, 0), 0, &other, &ys2, &zs2), kULMOK);
    EXPECT_EQ(*static_cast<uint16_t*>(other), Value16(0));
    EXPECT_EQ(r->ReleaseVoxels(other), kULMOK);

    // Unloads come from memory when the box is there, else from the file.
    std::vector<uint16_t> out(24);
    ASSERT_EQ(r->UnloadVoxels(out.data(), kWhole), kULMOK);
    EXPECT_EQ(out, Expected16(kWhole));
    // The box in memory cannot be written in this mode.
    EXPECT_EQ(r->UpdateVoxels(ULMVolumeRange(1, 1, 1, 0, 0, 0), out.data()), kULMErrReadOnly);
    EXPECT_EQ(r->UpdateVoxels(ULMVolumeRange(1, 1, 1, 3, 2, 1), out.data()), kULMErrArgument);
    r.Reset();
    EXPECT_EQ(m_file.Read(), kHeader16 + Voxels16());
}

TEST_F(VoxFileReaderTest, UnloadOfBoxesOfEveryShape) {
    for (int mode : {ULMVoxFileReader::kReadOnly, ULMVoxFileReader::kCopyOnWrite}) {
        Reader r(Open(mode));
        const ULMVolumeRange boxes[] = {kWhole, ULMVolumeRange(4, 2, 2, 0, 1, 0), ULMVolumeRange(2, 3, 1, 2, 0, 1),
                                        ULMVolumeRange(4, 3, 1, 0, 0, 1)};
        for (const ULMVolumeRange& box : boxes) {
            std::vector<uint16_t> out(static_cast<size_t>(box.XSize() * box.YSize() * box.ZSize()));
            ASSERT_EQ(r->UnloadVoxels(out.data(), box), kULMOK) << mode;
            EXPECT_EQ(out, Expected16(box)) << mode;
        }
        uint16_t v = 0;
        EXPECT_EQ(r->UnloadVoxels(&v, ULMVolumeRange(1, 1, 1, 4, 0, 0)), kULMErrArgument);
        EXPECT_EQ(r->UnloadVoxels(nullptr, kWhole), kULMErrArgument);
        // An empty box at an origin outside is refused, not asserted on.
        EXPECT_EQ(r->UnloadVoxels(&v, ULMVolumeRange(0, 1, 1, 9, 0, 0)), kULMErrArgument);
        void* p = nullptr;
        unsigned ys = 0, zs = 0;
        EXPECT_EQ(r->MapVoxels(ULMVolumeRange(0, 0, 0, -1, 0, 0), 0, &p, &ys, &zs), kULMErrArgument);
        EXPECT_EQ(r->UpdateVoxels(ULMVolumeRange(1, 0, 1, 0, 7, 0), &v), kULMErrArgument);
    }
}

TEST_F(VoxFileReaderTest, CopyOnWriteNeverTouchesTheFile) {
    Reader r(Open(ULMVoxFileReader::kCopyOnWrite));
    ASSERT_EQ(r->GetVoxelSize(), 16);
    EXPECT_FALSE(r->IsReadOnly());
    r->ResetChangedRange();
    const ULMVolumeRange row(4, 1, 1, 0, 2, 1);
    const uint16_t in[4] = {1, 2, 3, 4};
    const uint64_t serial = r->GetSerial();
    ASSERT_EQ(r->UpdateVoxels(row, in), kULMOK);
    EXPECT_GT(r->GetSerial(), serial);
    EXPECT_EQ(r->ChangedRange(kWhole), row);
    std::vector<uint16_t> out(24);
    ASSERT_EQ(r->UnloadVoxels(out.data(), kWhole), kULMOK);
    std::vector<uint16_t> expected = Expected16(kWhole);
    std::copy(in, in + 4, expected.begin() + 20);
    EXPECT_EQ(out, expected);
    void* p = nullptr;
    unsigned ys = 0, zs = 0;
    ASSERT_EQ(r->MapVoxels(ULMVolumeRange(1, 1, 1, 0, 0, 0), 1, &p, &ys, &zs), kULMOK);
    *static_cast<uint16_t*>(p) = 0xFFFF;
    EXPECT_EQ(r->ReleaseVoxels(p), kULMOK);
    r.Reset();
    EXPECT_EQ(m_file.Read(), kHeader16 + Voxels16());
}

TEST_F(VoxFileReaderTest, ReadWriteWritesBackExactlyTheChangedVoxelsInFileOrder) {
    {
        Reader r(Open(ULMVoxFileReader::kReadWrite));
        ASSERT_EQ(r->GetVoxelSize(), 16);
        const uint16_t row[4] = {0xA1B2, 0xC3D4, 0xE5F6, 0x0718};
        ASSERT_EQ(r->UpdateVoxels(ULMVolumeRange(4, 1, 1, 0, 1, 1), row), kULMOK);
        // Memory stays in host order for whoever reads it meanwhile.
        uint16_t back[4] = {};
        ASSERT_EQ(r->UnloadVoxels(back, ULMVolumeRange(4, 1, 1, 0, 1, 1)), kULMOK);
        EXPECT_EQ(0, memcmp(back, row, sizeof row));
        void* p = nullptr;
        unsigned ys = 0, zs = 0;
        ASSERT_EQ(r->MapVoxels(ULMVolumeRange(1, 1, 1, 3, 0, 0), 1, &p, &ys, &zs), kULMOK);
        *static_cast<uint16_t*>(p) = 0x1234;
        EXPECT_EQ(r->ReleaseVoxels(p), kULMOK);
    }
    std::string expected = kHeader16 + Voxels16();
    const size_t start = kHeader16.size();
    expected.replace(start + 2 * ((1 * 3 + 1) * 4), 8, Be16({0xA1B2, 0xC3D4, 0xE5F6, 0x0718}));
    expected.replace(start + 2 * 3, 2, Be16({0x1234}));
    EXPECT_EQ(m_file.Read(), expected);

    // A reader that changed nothing writes nothing.
    m_file.Write(kHeader16 + Voxels16());
    { Reader r(Open(ULMVoxFileReader::kReadWrite)); }
    EXPECT_EQ(m_file.Read(), kHeader16 + Voxels16());
}

TEST_F(VoxFileReaderTest, ReadWriteBufferModeRefusesWritesButIsNotReadOnly) {
    Reader r(Open(ULMVoxFileReader::kReadWriteBuffer));
    ASSERT_EQ(r->GetVoxelSize(), 16);
    EXPECT_FALSE(r->IsReadOnly());
    const uint16_t v = 9;
    EXPECT_EQ(r->UpdateVoxels(ULMVolumeRange(1, 1, 1, 0, 0, 0), &v), kULMErrArgument);
    void* p = nullptr;
    unsigned ys = 0, zs = 0;
    EXPECT_EQ(r->MapVoxels(kWhole, 1, &p, &ys, &zs), kULMErrReadOnly);
    ASSERT_EQ(r->MapVoxels(kWhole, 0, &p, &ys, &zs), kULMOK);
    EXPECT_EQ(r->ReleaseVoxels(p), kULMOK);
    EXPECT_EQ(r->UpdateVoxels(ULMVolumeRange(1, 1, 1, 0, 0, 0), &v), kULMErrReadOnly);
    EXPECT_EQ(r->UpdateVoxelField(&v, kWhole, ULMFieldDescriptor(0, 16, kULMUnsignedInteger)), kULMErrReadOnly);
    r.Reset();
    EXPECT_EQ(m_file.Read(), kHeader16 + Voxels16());
}

TEST_F(VoxFileReaderTest, FieldOperationsThroughTheFile) {
    {
        Reader r(Open(ULMVoxFileReader::kReadWrite));
        const ULMFieldDescriptor low(0, 8, kULMUnsignedInteger);
        std::vector<uint8_t> bytes(24);
        ASSERT_EQ(r->UnloadVoxelField(bytes.data(), kWhole, low), kULMOK);
        for (int i = 0; i < 24; ++i) EXPECT_EQ(bytes[static_cast<size_t>(i)], i);
        std::vector<uint8_t> in(4, 0xEE);
        ASSERT_EQ(r->UpdateVoxelField(in.data(), ULMVolumeRange(2, 2, 1, 1, 1, 0), low), kULMOK);
    }
    Reader r(Open(ULMVoxFileReader::kReadOnly));
    std::vector<uint16_t> out(24);
    ASSERT_EQ(r->UnloadVoxels(out.data(), kWhole), kULMOK);
    std::vector<uint16_t> expected = Expected16(kWhole);
    for (int i : {5, 6, 9, 10}) expected[static_cast<size_t>(i)] = static_cast<uint16_t>((expected[static_cast<size_t>(i)] & 0xFF00) | 0xEE);
    EXPECT_EQ(out, expected);
    std::vector<uint8_t> in(1);
    EXPECT_EQ(r->UpdateVoxelField(in.data(), ULMVolumeRange(1, 1, 1, 0, 0, 0), ULMFieldDescriptor(8, 8, kULMUnsignedInteger)),
              kULMErrReadOnly);
}

TEST(VoxFileReader, ByteOrdersAndVoxelWidths) {
    TempFile file;
    const auto header = [](const char* bits, const char* endian) {
        return std::string("Vox1999a\n##\nVolumeSize 2 1 1\nVoxelSize ") + bits + "\nEndian " + endian +
               "\nField0 ( Position 0 Size 8 Name v )\n##\f\n";
    };
    struct Case {
        const char* bits;
        const char* endian;
        std::string stored;
        std::vector<uint8_t> host;
    };
    const Case cases[] = {
        {"8", "B", "\x01\x02", {1, 2}},
        {"16", "B", "\x01\x02\x03\x04", {2, 1, 4, 3}},
        {"16", "L", "\x01\x02\x03\x04", {1, 2, 3, 4}},
        {"32", "B", "\x01\x02\x03\x04\x05\x06\x07\x08", {4, 3, 2, 1, 8, 7, 6, 5}},
        // Eight-byte voxels are handed over as stored.
        {"64", "B", std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10", 16),
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
    };
    for (const Case& c : cases) {
        file.Write(header(c.bits, c.endian) + c.stored);
        for (int mode = 0; mode < 4; ++mode) {
            Reader r(new ULMVoxFileReader(file.Path(), mode, 0));
            ASSERT_EQ(r->GetVoxelSize(), atoi(c.bits)) << c.bits << c.endian << mode;
            std::vector<uint8_t> out(c.host.size());
            ASSERT_EQ(r->UnloadVoxels(out.data(), ULMVolumeRange(2, 1, 1, 0, 0, 0)), kULMOK);
            EXPECT_EQ(out, c.host) << c.bits << c.endian << " mode " << mode;
        }
    }
}

TEST(VoxFileReader, Version1997File) {
    TempFile file;
    file.Write(Vox97("BigEndian 3 2 1 0 0.5 0 16 1040000", Be16({0x0010, 0x0020, 0x0030, 0x0040, 0x0050, 0xFFF0})));
    Reader r(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kCopyOnWrite, 0));
    ASSERT_EQ(r->GetVoxelSize(), 16);
    EXPECT_EQ(r->GetFieldDescriptor(kULMField0), ULMFieldDescriptor(4, 12, kULMUnsignedFraction));
    EXPECT_EQ(r->GetInitialCorrectionMatrix(), ULMMatrix::Scale(1, 0.5, 1));
    std::vector<uint8_t> field(6);
    // The 12-bit field at bit 4 is none of the shapes moved field by field.
    EXPECT_EQ(r->UnloadVoxelField(field.data(), ULMVolumeRange(3, 2, 1, 0, 0, 0), r->GetFieldDescriptor(kULMField0)),
              kULMErrFormat);
    std::vector<uint16_t> out(6);
    ASSERT_EQ(r->UnloadVoxels(out.data(), ULMVolumeRange(3, 2, 1, 0, 0, 0)), kULMOK);
    EXPECT_EQ(out, (std::vector<uint16_t>{0x0010, 0x0020, 0x0030, 0x0040, 0x0050, 0xFFF0}));
    Reader one(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kReadOnly, 1));
    EXPECT_EQ(one->GetVoxelSize(), 0);
}

TEST(VoxFileReader, WhatCannotBeOpenedLeavesAnUnusableReader) {
    TempFile file;
    const std::string good = "Vox1999a\n##\nVolumeSize 4 4 4\nVoxelSize 8\nEndian L\n"
                             "Field0 ( Position 0 Size 8 Name v )\n##\f\n";
    file.Write(good + std::string(64, 'x'));
    const auto voxelSize = [&](const char* name, int mode, int volume = 0) {
        Reader r(new ULMVoxFileReader(name, mode, volume));
        return r->GetVoxelSize();
    };
    EXPECT_EQ(voxelSize(file.Path(), 0), 8);
    EXPECT_EQ(voxelSize(file.Path(), 4), 0);
    EXPECT_EQ(voxelSize(file.Path(), -1), 0);
    EXPECT_EQ(voxelSize(file.Path(), 0, 1), 0);
    EXPECT_EQ(voxelSize(file.Path(), 0, -1), 0);
    EXPECT_EQ(voxelSize("", 0), 0);
    EXPECT_EQ(voxelSize(nullptr, 0), 0);
    EXPECT_EQ(voxelSize("/nonexistent/volume.vox", 0), 0);
    EXPECT_EQ(voxelSize("/tmp", 0), 0);
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
        Reader r(new ULMVoxFileReader(file.Path(), mode, 0));
        ASSERT_EQ(r->GetVoxelSize(), 8);
        std::vector<uint8_t> out(64);
        void* p = nullptr;
        unsigned ys = 0, zs = 0;
        EXPECT_EQ(r->UnloadVoxels(out.data(), ULMVolumeRange(4, 4, 4, 0, 0, 0)), kULMErrRead);
        EXPECT_EQ(r->MapVoxels(ULMVolumeRange(4, 4, 1, 0, 0, 3), 0, &p, &ys, &zs), kULMErrRead);
        ASSERT_EQ(r->MapVoxels(ULMVolumeRange(4, 4, 3, 0, 0, 0), 0, &p, &ys, &zs), kULMOK);
        EXPECT_EQ(r->ReleaseVoxels(p), kULMOK);
    }

    // A file declaring a vast volume it does not hold costs no memory.
    file.Write("Vox1999a\n##\nVolumeSize 2147483647 2147483647 1\nVoxelSize 8\nEndian L\n"
               "Field0 ( Position 0 Size 8 Name v )\n##\f\nshort");
    EXPECT_EQ(voxelSize(file.Path(), ULMVoxFileReader::kCopyOnWrite), 0);
    Reader lazy(new ULMVoxFileReader(file.Path(), ULMVoxFileReader::kReadOnly, 0));
    ASSERT_EQ(lazy->GetVoxelSize(), 8);
    void* p = nullptr;
    unsigned ys = 0, zs = 0;
    EXPECT_EQ(lazy->MapVoxels(lazy->GetVolumeSize(), 0, &p, &ys, &zs), kULMErrRead);
}

TEST(VoxFileReader, VoxelsBeyondFourGigabytes) {
    TempFile file;
    // Three data blocks of 2 GiB - 1 put the volume past 6 GiB; the file is
    // sparse, so only the text and the voxels take room.
    std::string header = "Vox1999a\n";
    for (int i = 0; i < 3; ++i) header += "Data d 2147483647\n";
    header += "##\f\n";
    const std::string description = "##\nVolumeSize 3 1 1\nVoxelSize 16\nEndian B\n"
                                    "Field0 ( Position 0 Size 16 Name v )\n##\f\n";
    const int64_t at = static_cast<int64_t>(header.size()) + 3 * int64_t{2147483647};
    const std::string voxels = Be16({0x0102, 0x0304, 0x0506});
    const int fd = open(file.Path(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const bool written = pwrite(fd, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size()) &&
                         pwrite(fd, (description + voxels).data(), description.size() + voxels.size(), at) ==
                             static_cast<ssize_t>(description.size() + voxels.size());
    close(fd);
    if (!written) GTEST_SKIP() << "the file system refuses a sparse file of this size";
    for (int mode : {ULMVoxFileReader::kReadOnly, ULMVoxFileReader::kReadWrite}) {
        Reader r(new ULMVoxFileReader(file.Path(), mode, 0));
        ASSERT_EQ(r->GetVoxelSize(), 16);
        std::vector<uint16_t> out(2);
        ASSERT_EQ(r->UnloadVoxels(out.data(), ULMVolumeRange(2, 1, 1, 1, 0, 0)), kULMOK);
        EXPECT_EQ(out, (std::vector<uint16_t>{0x0304, 0x0506}));
        if (mode == ULMVoxFileReader::kReadWrite) {
            const uint16_t v = 0xBEEF;
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
