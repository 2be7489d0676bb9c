// The rendering chip's register map: every register's address, width, access
// flags, reset value and bit fields, as constants (NKW7_<Register>_Addr,
// NKW7_<Register>_<field>_LoBit ...) and as constexpr tables.
//
// The tables below are the one description of the chip. The library's
// command encoder and the simulated board both read it, so they cannot
// disagree about a register. For that reason this header depends on the
// standard library only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Value formats of registers and fields. S = signed, U = unsigned, SM =
// sign-magnitude, integer bits _ fraction bits; RF = a fraction of the range.
enum class NKW7_FORMAT : uint8_t {
    DoNotInterpret = 0,
    Address = 0,
    Unsigned = 1,
    Signed = 2,
    S_23_8 = 3,
    S_23_40 = 4,
    S_31_32 = 5,
    Field_Descriptor = 6,
    SM_0_12RF = 7,
    U_2_9RF9RF = 8,
    SM_0_9RF = 9,
    URF = 10,
    U_0_24 = 11,
};

// Access flags of a register.
inline constexpr uint8_t NKW7_Flags_Readable = 0x10;
inline constexpr uint8_t NKW7_Flags_Writeable = 0x08;
inline constexpr uint8_t NKW7_Flags_Syncable = 0x04;       // may be tested by a sync command
inline constexpr uint8_t NKW7_Flags_Storeable = 0x02;      // may be stored to host memory
inline constexpr uint8_t NKW7_Flags_Incrementable = 0x01;  // may be incremented by a command

// Registers live at byte addresses 0 .. NKW7_Max_Addr, one table slot per
// 32-bit word (index address >> 2).
inline constexpr int NKW7_Max_Addr = 0x9B4;
inline constexpr int NKW7_Size_Array = 622;

// The PCI configuration word at 0x014 has a name but no register behind it.
inline constexpr int NKW7_PciConfig5_Addr = 0x014;

namespace nkw7_detail {

// Short spellings of the flag combinations used in the register table.
inline constexpr uint8_t R = NKW7_Flags_Readable;
inline constexpr uint8_t W = NKW7_Flags_Writeable;
inline constexpr uint8_t RW = NKW7_Flags_Readable | NKW7_Flags_Writeable;
inline constexpr uint8_t RS = NKW7_Flags_Readable | NKW7_Flags_Syncable;
inline constexpr uint8_t RWS = NKW7_Flags_Readable | NKW7_Flags_Writeable | NKW7_Flags_Syncable;
inline constexpr uint8_t None = 0;

}  // namespace nkw7_detail

// ---------------------------------------------------------------------------
// The register table: X(name, byte address, width in bits, flags, format,
// reset value). Two names share the addresses 0x010 and 0x018; the second
// names are in NKW7_REGISTER_ALIASES.
#define NKW7_REGISTER_TABLE(X) \
    X(PciConfig0,                  0x000, 32, R,    None,            0) \
    X(PciConfig1,                  0x004, 32, RW,   None,            0) \
    X(PciConfig2,                  0x008, 32, R,    None,            0) \
    X(PciConfig3,                  0x00C, 32, RW,   None,            0) \
    X(MemoryBase,                  0x010, 32, RW,   None,            0) \
    X(PciConfig6,                  0x018, 32, RW,   None,            0) \
    X(PciConfig7,                  0x01C, 32, RW,   None,            0) \
    X(PciConfig8,                  0x020, 32, None, None,            0) \
    X(PciConfig9,                  0x024, 32, None, None,            0) \
    X(PciConfig10,                 0x028, 32, None, None,            0) \
    X(PciConfig11,                 0x02C, 32, R,    None,            0) \
    X(PciConfig12,                 0x030, 32, None, None,            0) \
    X(PciConfig13,                 0x034, 32, None, None,            0) \
    X(PciConfig14,                 0x038, 32, None, None,            0) \
    X(PciConfig15,                 0x03C, 32, RW,   None,            0) \
    X(PciConfig16,                 0x040, 32, RW,   None,            0) \
    X(DmaInProducer,               0x100, 32, RW,   DoNotInterpret,  0) \
    X(DmaInConsumer,               0x108, 32, RS,   DoNotInterpret,  0) \
    X(DmaInBase,                   0x110, 64, RW,   None,            0) \
    X(DmaInSubBase,                0x118, 64, R,    None,            0) \
    X(DmaInSubConsumer,            0x120, 32, RS,   None,            0) \
    X(DmaInSize,                   0x128, 32, RW,   None,            0) \
    X(DmaInScratch,                0x130, 32, RWS,  None,            0) \
    X(RenderProducer,              0x138, 32, RW,   None,            0) \
    X(RenderConsumer,              0x140, 32, RS,   None,            0) \
    X(RenderBase,                  0x148, 64, RW,   None,            0) \
    X(RenderSubBase,               0x150, 64, R,    None,            0) \
    X(RenderSubConsumer,           0x158, 32, RS,   None,            0) \
    X(RenderSize,                  0x160, 32, RW,   None,            0) \
    X(RenderScratch,               0x168, 32, RWS,  None,            0) \
    X(DmaOutProducer,              0x170, 32, RW,   None,            0) \
    X(DmaOutConsumer,              0x178, 32, RS,   None,            0) \
    X(DmaOutBase,                  0x180, 64, RW,   None,            0) \
    X(DmaOutSubBase,               0x188, 64, R,    None,            0) \
    X(DmaOutSubConsumer,           0x190, 32, RS,   None,            0) \
    X(DmaOutSize,                  0x198, 32, RW,   None,            0) \
    X(DmaOutScratch,               0x1A0, 32, RWS,  None,            0) \
    X(QueueControl,                0x1A8, 32, RW,   None,            0x3F) \
    X(MemoryManagement0,           0x1B0, 32, RWS,  None,            0) \
    X(MemoryManagement1,           0x1B8, 32, RWS,  None,            0) \
    X(MemoryManagement2,           0x1C0, 32, RWS,  None,            0) \
    X(MemoryManagement3,           0x1C8, 32, RWS,  None,            0) \
    X(MemoryManagement4,           0x1D0, 32, RWS,  None,            0) \
    X(MemoryManagement5,           0x1D8, 32, RWS,  None,            0) \
    X(MemoryManagement6,           0x1E0, 32, RWS,  None,            0) \
    X(MemoryManagement7,           0x1E8, 32, RWS,  None,            0) \
    X(ScratchDouble0,              0x1F0, 64, RW,   None,            0) \
    X(ScratchDouble1,              0x1F8, 64, RW,   None,            0) \
    X(ScratchDouble2,              0x200, 64, RW,   None,            0) \
    X(ScratchDouble3,              0x208, 64, RW,   None,            0) \
    X(Scratch0,                    0x210, 32, RWS,  None,            0) \
    X(Scratch1,                    0x218, 32, RWS,  None,            0) \
    X(Scratch2,                    0x220, 32, RWS,  None,            0) \
    X(Scratch3,                    0x228, 32, RWS,  None,            0) \
    X(Scratch4,                    0x230, 32, RWS,  None,            0) \
    X(Scratch5,                    0x238, 32, RWS,  None,            0) \
    X(Scratch6,                    0x240, 32, RWS,  None,            0) \
    X(Scratch7,                    0x248, 32, RWS,  None,            0) \
    X(Reset,                       0x250, 32, RW,   None,            0xFF000000) \
    X(InterruptStatus,             0x258, 32, RW,   None,            0) \
    X(InterruptMask,               0x260, 32, RW,   None,            0) \
    X(InterruptAddress,            0x268, 64, RW,   None,            0) \
    X(HwStatus,                    0x270, 32, RS,   None,            0) \
    X(HwStatusMask,                0x278, 32, RW,   None,            0) \
    X(QueueStatus,                 0x290, 32, R,    None,            0) \
    X(OutboundHostBase,            0x300, 64, RW,   None,            0) \
    X(OutboundHostLength,          0x308, 32, RW,   None,            0) \
    X(OutboundArrayBase,           0x310, 64, W,    None,            0) \
    X(OutboundArraySize,           0x318, 64, W,    None,            0) \
    X(OutboundArrayOffsetModulus,  0x320, 64, W,    None,            0) \
    X(OutboundArrayDimensions,     0x328, 32, W,    None,            0) \
    X(OutboundRangeMin,            0x330, 64, W,    None,            0) \
    X(OutboundRangeMax,            0x338, 64, W,    None,            0) \
    X(OutboundStatus,              0x340, 64, R,    None,            0) \
    X(OutboundControl,             0x348, 32, RW,   None,            0) \
    X(OutboundStart,               0x350, 32, RW,   None,            0) \
    X(InboundHostBase,             0x360, 64, RW,   None,            0) \
    X(InboundHostLength,           0x368, 32, RW,   None,            0) \
    X(InboundArrayBase,            0x370, 64, W,    None,            0) \
    X(InboundArraySize,            0x378, 64, W,    None,            0) \
    X(InboundArrayOffsetModulus,   0x380, 64, W,    None,            0) \
    X(InboundArrayDimensions,      0x388, 32, W,    None,            0) \
    X(InboundRangeMin,             0x390, 64, W,    None,            0) \
    X(InboundRangeMax,             0x398, 64, W,    None,            0) \
    X(InboundStatus,               0x3A0, 64, R,    None,            0) \
    X(InboundControl,              0x3A8, 32, RW,   None,            0) \
    X(InboundStart,                0x3B0, 32, RW,   None,            0) \
    X(MemAcParam,                  0x3E0, 64, W,    None,            0) \
    X(MemRefr,                     0x3E8, 32, W,    None,            0) \
    X(TargetSwizzle,               0x3F0, 32, RW,   None,            0) \
    X(PortControl,                 0x3F8, 32, W,    None,            0) \
    X(Port0pciBase,                0x400, 64, W,    None,            0) \
    X(Port0pciTop,                 0x408, 32, W,    None,            0) \
    X(Port0ArrayBase,              0x410, 64, W,    None,            0) \
    X(Port0ArraySize,              0x418, 64, W,    None,            0) \
    X(Port0ArrayOffsetModulus,     0x420, 64, W,    None,            0) \
    X(Port0ArrayDimensions,        0x428, 32, W,    None,            0) \
    X(Port0RangeMin,               0x430, 64, W,    None,            0) \
    X(Port0RangeMax,               0x438, 64, W,    None,            0) \
    X(Port1pciBase,                0x440, 64, W,    None,            0) \
    X(Port1pciTop,                 0x448, 32, W,    None,            0) \
    X(Port1ArrayBase,              0x450, 64, W,    None,            0) \
    X(Port1ArraySize,              0x458, 64, W,    None,            0) \
    X(Port1ArrayOffsetModulus,     0x460, 64, W,    None,            0) \
    X(Port1ArrayDimensions,        0x468, 32, W,    None,            0) \
    X(Port1RangeMin,               0x470, 64, W,    None,            0) \
    X(Port1RangeMax,               0x478, 64, W,    None,            0) \
    X(Port2pciBase,                0x480, 64, W,    None,            0) \
    X(Port2pciTop,                 0x488, 32, W,    None,            0) \
    X(Port2ArrayBase,              0x490, 64, W,    None,            0) \
    X(Port2ArraySize,              0x498, 64, W,    None,            0) \
    X(Port2ArrayOffsetModulus,     0x4A0, 64, W,    None,            0) \
    X(Port2ArrayDimensions,        0x4A8, 32, W,    None,            0) \
    X(Port2RangeMin,               0x4B0, 64, W,    None,            0) \
    X(Port2RangeMax,               0x4B8, 64, W,    None,            0) \
    X(Port3pciBase,                0x4C0, 64, W,    None,            0) \
    X(Port3pciTop,                 0x4C8, 32, W,    None,            0) \
    X(Port3ArrayBase,              0x4D0, 64, W,    None,            0) \
    X(Port3ArraySize,              0x4D8, 64, W,    None,            0) \
    X(Port3ArrayOffsetModulus,     0x4E0, 64, W,    None,            0) \
    X(Port3ArrayDimensions,        0x4E8, 32, W,    None,            0) \
    X(Port3RangeMin,               0x4F0, 64, W,    None,            0) \
    X(Port3RangeMax,               0x4F8, 64, W,    None,            0) \
    X(SourceArrayBase,             0x500, 64, W,    None,            0) \
    X(SourceArraySize,             0x508, 64, W,    None,            0) \
    X(SourceArrayOffsetModulus,    0x510, 64, W,    None,            0) \
    X(SourceArrayDimensions,       0x518, 32, W,    None,            0) \
    X(SourceRangeMin,              0x520, 64, W,    None,            0) \
    X(SourceRangeMax,              0x528, 64, W,    None,            0) \
    X(DestArrayBase,               0x530, 64, W,    None,            0) \
    X(DestArraySize,               0x538, 64, W,    None,            0) \
    X(DestArrayOffsetModulus,      0x540, 64, W,    None,            0) \
    X(DestArrayDimensions,         0x548, 32, W,    None,            0) \
    X(DestRangeMin,                0x550, 64, W,    None,            0) \
    X(DestRangeMax,                0x558, 64, W,    None,            0) \
    X(VolumeArrayBase,             0x560, 64, W,    DoNotInterpret,  0) \
    X(VolumeArraySize,             0x568, 64, W,    None,            0) \
    X(VolumeArrayOffsetModulus,    0x570, 64, W,    None,            0) \
    X(VolumeArrayDimensions,       0x578, 32, W,    None,            0) \
    X(VolumeRangeMin,              0x580, 64, W,    None,            0) \
    X(VolumeRangeMax,              0x588, 64, W,    None,            0) \
    X(Depth0ArrayBase,             0x590, 64, W,    Unsigned,        0) \
    X(Depth0ArraySize,             0x598, 64, W,    None,            0) \
    X(Depth0ArrayOffsetModulus,    0x5A0, 64, W,    None,            0) \
    X(Depth0ArrayDimensions,       0x5A8, 32, W,    None,            0) \
    X(Depth0InitRangeMin,          0x5B0, 64, W,    None,            0) \
    X(Depth0InitRangeMax,          0x5B8, 64, W,    None,            0) \
    X(Depth1ArrayBase,             0x5C0, 64, W,    DoNotInterpret,  0) \
    X(Depth1ArraySize,             0x5C8, 64, W,    None,            0) \
    X(Depth1ArrayOffsetModulus,    0x5D0, 64, W,    None,            0) \
    X(Depth1ArrayDimensions,       0x5D8, 32, W,    None,            0) \
    X(Depth1InitRangeMin,          0x5E0, 64, W,    None,            0) \
    X(Depth1InitRangeMax,          0x5E8, 64, W,    None,            0) \
    X(Image0ArrayBase,             0x5F0, 64, W,    DoNotInterpret,  0) \
    X(Image0ArraySize,             0x5F8, 64, W,    None,            0) \
    X(Image0ArrayOffsetModulus,    0x600, 64, W,    None,            0) \
    X(Image0ArrayDimensions,       0x608, 32, W,    None,            0) \
    X(Image0InitRangeMin,          0x610, 64, W,    None,            0) \
    X(Image0InitRangeMax,          0x618, 64, W,    None,            0) \
    X(Image1ArrayBase,             0x620, 64, W,    DoNotInterpret,  0) \
    X(Image1ArraySize,             0x628, 64, W,    None,            0) \
    X(Image1ArrayOffsetModulus,    0x630, 64, W,    None,            0) \
    X(Image1ArrayDimensions,       0x638, 32, W,    None,            0) \
    X(Image1InitRangeMin,          0x640, 64, W,    None,            0) \
    X(Image1InitRangeMax,          0x648, 64, W,    None,            0) \
    X(ViewFrustumRangeMin,         0x6B0, 64, W,    None,            0) \
    X(ViewFrustumRangeMax,         0x6B8, 64, W,    None,            0) \
    X(Transform,                   0x6C0, 32, W,    None,            0) \
    X(Image0FieldSel,              0x700, 32, W,    None,            0) \
    X(Image1FieldSel,              0x704, 32, W,    None,            0) \
    X(CutPlane0_dCut_dXs,          0x710, 32, W,    Signed,          0) \
    X(CutPlane0_dCut_dYs,          0x714, 32, W,    Signed,          0) \
    X(CutPlane0_dCut_dZs,          0x718, 32, W,    Signed,          0) \
    X(CutPlane0_dCut_dZv,          0x71C, 32, W,    Signed,          0) \
    X(CutPlane0_min,               0x720, 32, W,    Signed,          0) \
    X(CutPlane0_max,               0x724, 32, W,    Signed,          0) \
    X(CutPlane1_dCut_dXs,          0x728, 32, W,    Signed,          0) \
    X(CutPlane1_dCut_dYs,          0x72C, 32, W,    Signed,          0) \
    X(CutPlane1_dCut_dZs,          0x730, 32, W,    Signed,          0) \
    X(CutPlane1_dCut_dZv,          0x734, 32, W,    Signed,          0) \
    X(CutPlane1_min,               0x738, 32, W,    Signed,          0) \
    X(CutPlane1_max,               0x73C, 32, W,    Signed,          0) \
    X(CutPlane2_dCut_dXs,          0x740, 32, W,    Signed,          0) \
    X(CutPlane2_dCut_dYs,          0x744, 32, W,    Signed,          0) \
    X(CutPlane2_dCut_dZs,          0x748, 32, W,    Signed,          0) \
    X(CutPlane2_dCut_dZv,          0x74C, 32, W,    Signed,          0) \
    X(CutPlane2_min,               0x750, 32, W,    Signed,          0) \
    X(CutPlane2_max,               0x754, 32, W,    Signed,          0) \
    X(CutPlane3_dCut_dXs,          0x758, 32, W,    Signed,          0) \
    X(CutPlane3_dCut_dYs,          0x75C, 32, W,    Signed,          0) \
    X(CutPlane3_dCut_dZs,          0x760, 32, W,    Signed,          0) \
    X(CutPlane3_dCut_dZv,          0x764, 32, W,    Signed,          0) \
    X(CutPlane3_min,               0x768, 32, W,    Signed,          0) \
    X(CutPlane3_max,               0x76C, 32, W,    Signed,          0) \
    X(CutPlaneControl,             0x770, 32, W,    None,            0) \
    X(CropControl,                 0x774, 32, W,    None,            0) \
    X(CropRangeXmin,               0x778, 32, W,    S_23_8,          0) \
    X(CropRangeXmax,               0x77C, 32, W,    S_23_8,          0) \
    X(CropRangeYmin,               0x780, 32, W,    S_23_8,          0) \
    X(CropRangeYmax,               0x784, 32, W,    S_23_8,          0) \
    X(CropRangeZmin,               0x788, 32, W,    S_23_8,          0) \
    X(CropRangeZmax,               0x78C, 32, W,    S_23_8,          0) \
    X(TrimRangeXmin,               0x790, 32, W,    S_23_8,          0) \
    X(TrimRangeXmax,               0x794, 32, W,    S_23_8,          0) \
    X(TrimRangeYmin,               0x798, 32, W,    S_23_8,          0) \
    X(TrimRangeYmax,               0x79C, 32, W,    S_23_8,          0) \
    X(TrimRangeZmin,               0x7A0, 32, W,    S_23_8,          0) \
    X(TrimRangeZmax,               0x7A4, 32, W,    S_23_8,          0) \
    X(OriginXv8,                   0x7B0, 64, W,    S_23_40,         0) \
    X(OriginYv8,                   0x7B8, 64, W,    S_23_40,         0) \
    X(OriginZv8,                   0x7C0, 64, W,    S_23_40,         0) \
    X(dXv8_dXs,                    0x7C8, 64, W,    S_23_40,         0) \
    X(dYv8_dYs,                    0x7D0, 64, W,    S_23_40,         0) \
    X(dZv8_dZs,                    0x7D8, 64, W,    S_23_40,         0) \
    X(dXv8_dZs,                    0x7E0, 64, W,    S_23_40,         0) \
    X(dYv8_dZs,                    0x7E8, 64, W,    S_23_40,         0) \
    X(dYv8_dZv,                    0x7F0, 64, W,    S_23_40,         0) \
    X(dXv8_dZv,                    0x7F8, 64, W,    S_23_40,         0) \
    X(dYv8_dXs,                    0x800, 64, W,    S_23_40,         0) \
    X(dXv8_dYs,                    0x808, 64, W,    S_23_40,         0) \
    X(OriginDepth,                 0x810, 64, W,    S_31_32,         0) \
    X(dD_dXs,                      0x818, 64, W,    S_31_32,         0) \
    X(dD_dYs,                      0x820, 64, W,    S_31_32,         0) \
    X(dD_dZs,                      0x828, 64, W,    S_31_32,         0) \
    X(dD_dZv,                      0x830, 64, W,    S_31_32,         0) \
    X(ddXv8_dXs_dZs,               0x880, 64, W,    S_23_40,         0) \
    X(ddXv8_dYs_dZs,               0x888, 64, W,    S_23_40,         0) \
    X(ddYv8_dXs_dZs,               0x890, 64, W,    S_23_40,         0) \
    X(ddYv8_dYs_dZs,               0x898, 64, W,    S_23_40,         0) \
    X(ddXv8_dXs_dZv,               0x8A0, 64, W,    S_23_40,         0) \
    X(ddXv8_dYs_dZv,               0x8A8, 64, W,    S_23_40,         0) \
    X(ddYv8_dXs_dZv,               0x8B0, 64, W,    S_23_40,         0) \
    X(ddYv8_dYs_dZv,               0x8B8, 64, W,    S_23_40,         0) \
    X(VoxelFormat,                 0x900, 64, W,    None,            0) \
    X(VoxelBorder,                 0x908, 64, W,    None,            0) \
    X(LookupTableFormat0,          0x910, 32, W,    None,            0) \
    X(LookupTableFormat1,          0x914, 32, W,    None,            0) \
    X(LookupTableFormat2,          0x918, 32, W,    None,            0) \
    X(LookupTableFormat3,          0x91C, 32, W,    None,            0) \
    X(Alu0,                        0x920, 32, W,    None,            0) \
    X(Alu1,                        0x924, 32, W,    None,            0) \
    X(Alu2,                        0x928, 32, W,    None,            0) \
    X(GradientCorrection0,         0x930, 32, W,    None,            0) \
    X(GradientCorrection1,         0x934, 32, W,    None,            0) \
    X(GradientCorrection2,         0x938, 32, W,    None,            0) \
    X(GradientMagnitudeRange,      0x940, 64, W,    None,            0) \
    X(EyeVector,                   0x948, 64, W,    None,            0) \
    X(SpecularColor,               0x950, 64, W,    None,            0) \
    X(LightingCoefficient,         0x958, 32, W,    None,            0) \
    X(GradientMagnitudeModulation, 0x95C, 32, W,    None,            0) \
    X(SampleAlphaRange,            0x960, 32, W,    None,            0) \
    X(AccumAlphaRange,             0x964, 32, W,    None,            0) \
    X(DepthInitValue0,             0x968, 32, W,    None,            0) \
    X(DepthInitValue1,             0x96C, 32, W,    None,            0) \
    X(ImageAccumValue,             0x970, 64, W,    None,            0) \
    X(ImageLastValue,              0x978, 64, W,    None,            0) \
    X(ErtThreshold,                0x980, 32, W,    None,            0) \
    X(EmptyThreshold,              0x984, 32, W,    None,            0) \
    X(Section,                     0x988, 32, W,    None,            0) \
    X(SequencerDebug,              0x98C, 32, W,    None,            0) \
    X(AddressOperand,              0x990, 64, W,    None,            0) \
    X(InterpolateControl,          0x9A0, 32, W,    None,            0) \
    X(GradientControl,             0x9A4, 32, W,    None,            0) \
    X(DepthControl,                0x9A8, 32, W,    None,            0) \
    X(ImageControl,                0x9AC, 32, W,    None,            0) \
    X(RenderOperation,             0x9B0, 32, W,    None,            0)

// The second names of shared addresses: X(second name, first name).
#define NKW7_REGISTER_ALIASES(X) \
    X(PciConfig4, MemoryBase) \
    X(RegBase, PciConfig6)

// The field table: X(register, field, high bit, low bit, format, reset value).
// A 64-bit register numbers its bits 63..0. Several names may cover the same
// bits (alternative views of one register, such as the 32-bit and 64-bit
// forms of a PCI base address, or a whole operand beside its parts).
#define NKW7_FIELD_TABLE(X) \
    X(PciConfig0,                  deviceID,                      31, 16, None,            0) \
    X(PciConfig0,                  vendorID,                      15,  0, None,            0) \
    X(PciConfig1,                  parErr,                        31, 31, None,            0) \
    X(PciConfig1,                  sysErr,                        30, 30, None,            0) \
    X(PciConfig1,                  sigMasterAbort,                29, 29, None,            0) \
    X(PciConfig1,                  recvTargetAbort,               28, 28, None,            0) \
    X(PciConfig1,                  sigTargetAbort,                27, 27, None,            0) \
    X(PciConfig1,                  devselTiming,                  26, 25, None,            0) \
    X(PciConfig1,                  dataParity,                    24, 24, None,            0) \
    X(PciConfig1,                  backToBackCap,                 23, 23, None,            0) \
    X(PciConfig1,                  udfSupported,                  22, 22, None,            0) \
    X(PciConfig1,                  fastPci,                       21, 21, None,            0) \
    X(PciConfig1,                  capabilitiesList,              20, 20, None,            0) \
    X(PciConfig1,                  status,                        31, 16, None,            0) \
    X(PciConfig1,                  backToBackEn,                   9,  9, None,            0) \
    X(PciConfig1,                  serrEnable,                     8,  8, None,            0) \
    X(PciConfig1,                  steppingEnable,                 7,  7, None,            0) \
    X(PciConfig1,                  parErrResponse,                 6,  6, None,            0) \
    X(PciConfig1,                  vgaPalSnoop,                    5,  5, None,            0) \
    X(PciConfig1,                  memWrInv,                       4,  4, None,            0) \
    X(PciConfig1,                  specialCycle,                   3,  3, None,            0) \
    X(PciConfig1,                  busMaster,                      2,  2, None,            0) \
    X(PciConfig1,                  memorySpace,                    1,  1, None,            0) \
    X(PciConfig1,                  command,                       15,  0, None,            0) \
    X(PciConfig1,                  ioSpace,                        0,  0, None,            0) \
    X(PciConfig2,                  classCode,                     31,  8, None,            0) \
    X(PciConfig2,                  revisionID,                     7,  0, None,            0) \
    X(PciConfig3,                  bist,                          31, 24, None,            0) \
    X(PciConfig3,                  headerType,                    23, 16, None,            0) \
    X(PciConfig3,                  latencyTimer,                  15,  8, None,            0) \
    X(PciConfig3,                  cacheLineSize,                  7,  0, None,            0) \
    X(PciConfig4,                  address,                       31,  4, None,            0) \
    X(PciConfig4,                  prefetchable,                   3,  3, None,            0) \
    X(PciConfig4,                  addrType,                       2,  1, None,            0) \
    X(PciConfig4,                  baseAddr0_32,                  31,  0, None,            0) \
    X(PciConfig4,                  baseAddr0_64Lo,                31,  0, None,            0) \
    X(PciConfig4,                  memSpaceIndicator,              0,  0, None,            0) \
    X(PciConfig6,                  addr_32,                       31,  4, None,            0) \
    X(PciConfig6,                  prefetchable,                   3,  3, None,            0) \
    X(PciConfig6,                  addrType,                       2,  1, None,            0) \
    X(PciConfig6,                  baseAddr1_64Lo,                31,  0, None,            0) \
    X(PciConfig6,                  baseAddr2_32,                  31,  0, None,            0) \
    X(PciConfig6,                  memSpaceIndicator,              0,  0, None,            0) \
    X(PciConfig7,                  addr_32,                       31,  4, None,            0) \
    X(PciConfig7,                  prefetchable,                   3,  3, None,            0) \
    X(PciConfig7,                  addrType,                       2,  1, None,            0) \
    X(PciConfig7,                  addr_64,                       31,  0, None,            0) \
    X(PciConfig7,                  baseAddr1_64Hi,                31,  0, None,            0) \
    X(PciConfig7,                  baseAddr3_32,                  31,  0, None,            0) \
    X(PciConfig7,                  memSpaceIndicator,              0,  0, None,            0) \
    X(PciConfig10,                 cardbusCisPointer,             31,  0, None,            0) \
    X(PciConfig11,                 subsystemID,                   31, 16, None,            0) \
    X(PciConfig11,                 subsystemVendorID,             15,  0, None,            0) \
    X(PciConfig12,                 expansionRomBaseAddress,       31,  0, None,            0) \
    X(PciConfig14,                 expansionRomBaseAddress,       31,  0, None,            0) \
    X(PciConfig15,                 maxLat,                        31, 24, None,            0) \
    X(PciConfig15,                 minGnt,                        23, 16, None,            0) \
    X(PciConfig15,                 interruptPin,                  15,  8, None,            0) \
    X(PciConfig15,                 interruptLine,                  7,  0, None,            0) \
    X(PciConfig16,                 retryTimeout,                  15,  8, None,            0) \
    X(PciConfig16,                 trdyTimeout,                    7,  0, None,            0) \
    X(DmaInBase,                   addr,                          63,  0, None,            0) \
    X(DmaInBase,                   memSel,                         0,  0, Unsigned,        0) \
    X(DmaInSubBase,                addr,                          63,  0, None,            0) \
    X(DmaInSubBase,                memSel,                         0,  0, None,            0) \
    X(RenderBase,                  addr,                          63,  0, None,            0) \
    X(RenderBase,                  memSel,                         0,  0, None,            0) \
    X(RenderSubBase,               addr,                          63,  0, None,            0) \
    X(RenderSubBase,               memSel,                         0,  0, None,            0) \
    X(DmaOutBase,                  addr,                          63,  0, None,            0) \
    X(DmaOutBase,                  memSel,                         0,  0, None,            0) \
    X(DmaOutSubBase,               addr,                          63,  0, None,            0) \
    X(DmaOutSubBase,               memSel,                         0,  0, None,            0) \
    X(QueueControl,                swizzleDwords,                 22, 22, None,            0) \
    X(QueueControl,                swizzleWords,                  21, 21, None,            0) \
    X(QueueControl,                swizzleBytes,                  20, 20, None,            0) \
    X(QueueControl,                strict,                         6,  6, None,            0) \
    X(QueueControl,                resetDmaOutQueue,               5,  5, None,            1) \
    X(QueueControl,                resetRenderQueue,               4,  4, None,            1) \
    X(QueueControl,                resetDmaInQueue,                3,  3, None,            1) \
    X(QueueControl,                haltDmaOut,                     2,  2, None,            1) \
    X(QueueControl,                haltRender,                     1,  1, None,            1) \
    X(QueueControl,                haltDmaIn,                      0,  0, None,            1) \
    X(Reset,                       busLogic,                      31, 31, None,            1) \
    X(Reset,                       sequencer,                     30, 30, None,            1) \
    X(Reset,                       ge,                            29, 29, None,            1) \
    X(Reset,                       ci,                            28, 28, None,            1) \
    X(Reset,                       il,                            27, 27, None,            1) \
    X(Reset,                       cp,                            26, 26, None,            1) \
    X(Reset,                       miHard,                        25, 25, None,            1) \
    X(Reset,                       miSoft,                        24, 24, None,            1) \
    X(InterruptStatus,             dmaOutDone,                    21, 21, None,            0) \
    X(InterruptStatus,             dmaInDone,                     20, 20, None,            0) \
    X(InterruptStatus,             dmaOutCQ,                      18, 18, None,            0) \
    X(InterruptStatus,             renderCQ,                      17, 17, None,            0) \
    X(InterruptStatus,             dmaInCQ,                       16, 16, None,            0) \
    X(InterruptStatus,             dmaOutCommandError,            14, 14, None,            0) \
    X(InterruptStatus,             renderCommandError,            13, 13, None,            0) \
    X(InterruptStatus,             dmaInCommandError,             12, 12, None,            0) \
    X(InterruptStatus,             dmaOutSyncError,               10, 10, None,            0) \
    X(InterruptStatus,             renderSyncError,                9,  9, None,            0) \
    X(InterruptStatus,             dmaInSyncError,                 8,  8, None,            0) \
    X(InterruptStatus,             pciError,                       1,  1, None,            0) \
    X(InterruptStatus,             portMappingError,               0,  0, None,            0) \
    X(InterruptMask,               intEnable,                     31, 31, None,            0) \
    X(InterruptMask,               dmaOutDone,                    21, 21, None,            0) \
    X(InterruptMask,               dmaInDone,                     20, 20, None,            0) \
    X(InterruptMask,               dmaOutCQ,                      18, 18, None,            0) \
    X(InterruptMask,               renderCQ,                      17, 17, None,            0) \
    X(InterruptMask,               dmaInCQ,                       16, 16, None,            0) \
    X(InterruptMask,               dmaOutCommandError,            14, 14, None,            0) \
    X(InterruptMask,               renderCommandError,            13, 13, None,            0) \
    X(InterruptMask,               dmaInCommandError,             12, 12, None,            0) \
    X(InterruptMask,               dmaOutSyncError,               10, 10, None,            0) \
    X(InterruptMask,               renderSyncError,                9,  9, None,            0) \
    X(InterruptMask,               dmaInSyncError,                 8,  8, None,            0) \
    X(InterruptMask,               pciError,                       1,  1, None,            0) \
    X(InterruptMask,               portMappingError,               0,  0, None,            0) \
    X(HwStatus,                    memType,                       31, 29, None,            0) \
    X(HwStatus,                    memConfig,                     28, 26, None,            0) \
    X(HwStatus,                    memMapped,                     24, 22, None,            0) \
    X(HwStatus,                    reStatus,                      15,  8, None,            0) \
    X(HwStatus,                    imageBufferWritten,             5,  5, None,            0) \
    X(HwStatus,                    voxelReadDone,                  4,  4, None,            0) \
    X(HwStatus,                    reIdle,                         3,  3, None,            0) \
    X(HwStatus,                    pciWriteQueuesEmpty,            2,  2, None,            0) \
    X(HwStatus,                    reWriteQueuesEmpty,             1,  1, None,            0) \
    X(HwStatus,                    miIdle,                         0,  0, None,            0) \
    X(HwStatusMask,                reStatus,                      15,  8, None,            0) \
    X(HwStatusMask,                imageBufferWritten,             5,  5, None,            0) \
    X(HwStatusMask,                voxelReadDone,                  4,  4, None,            0) \
    X(HwStatusMask,                reIdle,                         3,  3, None,            0) \
    X(HwStatusMask,                pciWriteQueuesEmpty,            2,  2, None,            0) \
    X(HwStatusMask,                reWriteQueuesEmpty,             1,  1, None,            0) \
    X(HwStatusMask,                miIdle,                         0,  0, None,            0) \
    X(QueueStatus,                 dmaOutHalted,                  10, 10, None,            0) \
    X(QueueStatus,                 renderHalted,                   9,  9, None,            0) \
    X(QueueStatus,                 dmaInHalted,                    8,  8, None,            0) \
    X(QueueStatus,                 dmaOutStatus,                   5,  4, None,            0) \
    X(QueueStatus,                 renderStatus,                   3,  2, None,            0) \
    X(QueueStatus,                 dmaInStatus,                    1,  0, None,            0) \
    X(OutboundArraySize,           maxW,                          47, 32, None,            0) \
    X(OutboundArraySize,           maxZ,                          47, 32, None,            0) \
    X(OutboundArraySize,           maxV,                          31, 16, None,            0) \
    X(OutboundArraySize,           maxY,                          31, 16, None,            0) \
    X(OutboundArraySize,           maxU,                          15,  0, None,            0) \
    X(OutboundArraySize,           maxX,                          15,  0, None,            0) \
    X(OutboundArrayOffsetModulus,  w,                             47, 32, None,            0) \
    X(OutboundArrayOffsetModulus,  z,                             47, 32, None,            0) \
    X(OutboundArrayOffsetModulus,  v,                             31, 16, None,            0) \
    X(OutboundArrayOffsetModulus,  y,                             31, 16, None,            0) \
    X(OutboundArrayOffsetModulus,  u,                             15,  0, None,            0) \
    X(OutboundArrayOffsetModulus,  x,                             15,  0, None,            0) \
    X(OutboundArrayDimensions,     hostSize,                      15, 13, None,            0) \
    X(OutboundArrayDimensions,     alignment,                     12, 10, None,            0) \
    X(OutboundArrayDimensions,     swizzleDwords,                  9,  9, None,            0) \
    X(OutboundArrayDimensions,     swizzleWords,                   8,  8, None,            0) \
    X(OutboundArrayDimensions,     swizzleBytes,                   7,  7, None,            0) \
    X(OutboundArrayDimensions,     wrap,                           6,  6, None,            0) \
    X(OutboundArrayDimensions,     dimension,                      5,  4, None,            0) \
    X(OutboundArrayDimensions,     elementSize,                    3,  0, None,            0) \
    X(OutboundRangeMin,            spare,                         63, 48, None,            0) \
    X(OutboundRangeMin,            z,                             47, 32, None,            0) \
    X(OutboundRangeMin,            y,                             31, 16, None,            0) \
    X(OutboundRangeMin,            x,                             15,  0, None,            0) \
    X(OutboundRangeMax,            spare,                         63, 48, None,            0) \
    X(OutboundRangeMax,            z,                             47, 32, None,            0) \
    X(OutboundRangeMax,            y,                             31, 16, None,            0) \
    X(OutboundRangeMax,            x,                             15,  0, None,            0) \
    X(OutboundStatus,              spare,                         63, 48, None,            0) \
    X(OutboundStatus,              z,                             47, 32, None,            0) \
    X(OutboundStatus,              y,                             31, 16, None,            0) \
    X(OutboundStatus,              x,                             15,  0, None,            0) \
    X(OutboundControl,             interrupt,                      1,  1, None,            0) \
    X(OutboundControl,             done,                           0,  0, None,            0) \
    X(OutboundStart,               cmd,                           28, 28, None,            0) \
    X(OutboundStart,               cont,                          24, 24, None,            0) \
    X(InboundArraySize,            maxW,                          47, 32, None,            0) \
    X(InboundArraySize,            maxZ,                          47, 32, None,            0) \
    X(InboundArraySize,            maxV,                          31, 16, None,            0) \
    X(InboundArraySize,            maxY,                          31, 16, None,            0) \
    X(InboundArraySize,            maxU,                          15,  0, None,            0) \
    X(InboundArraySize,            maxX,                          15,  0, None,            0) \
    X(InboundArrayOffsetModulus,   w,                             47, 32, None,            0) \
    X(InboundArrayOffsetModulus,   z,                             47, 32, None,            0) \
    X(InboundArrayOffsetModulus,   v,                             31, 16, None,            0) \
    X(InboundArrayOffsetModulus,   y,                             31, 16, None,            0) \
    X(InboundArrayOffsetModulus,   u,                             15,  0, None,            0) \
    X(InboundArrayOffsetModulus,   x,                             15,  0, None,            0) \
    X(InboundArrayDimensions,      hostSize,                      15, 13, None,            0) \
    X(InboundArrayDimensions,      alignment,                     12, 10, None,            0) \
    X(InboundArrayDimensions,      swizzleDwords,                  9,  9, None,            0) \
    X(InboundArrayDimensions,      swizzleWords,                   8,  8, None,            0) \
    X(InboundArrayDimensions,      swizzleBytes,                   7,  7, None,            0) \
    X(InboundArrayDimensions,      wrap,                           6,  6, None,            0) \
    X(InboundArrayDimensions,      dimension,                      5,  4, None,            0) \
    X(InboundArrayDimensions,      elementSize,                    3,  0, None,            0) \
    X(InboundRangeMin,             spare,                         63, 48, None,            0) \
    X(InboundRangeMin,             z,                             47, 32, None,            0) \
    X(InboundRangeMin,             y,                             31, 16, None,            0) \
    X(InboundRangeMin,             x,                             15,  0, None,            0) \
    X(InboundRangeMax,             spare,                         63, 48, None,            0) \
    X(InboundRangeMax,             z,                             47, 32, None,            0) \
    X(InboundRangeMax,             y,                             31, 16, None,            0) \
    X(InboundRangeMax,             x,                             15,  0, None,            0) \
    X(InboundStatus,               spare,                         63, 48, None,            0) \
    X(InboundStatus,               z,                             47, 32, None,            0) \
    X(InboundStatus,               y,                             31, 16, None,            0) \
    X(InboundStatus,               x,                             15,  0, None,            0) \
    X(InboundControl,              interrupt,                      1,  1, None,            0) \
    X(InboundControl,              done,                           0,  0, None,            0) \
    X(InboundStart,                cmd,                           28, 28, None,            0) \
    X(InboundStart,                cont,                          24, 24, None,            0) \
    X(MemAcParam,                  casLatency,                    33, 32, Unsigned,        0) \
    X(MemAcParam,                  tRC,                           31, 28, Unsigned,        0) \
    X(MemAcParam,                  tRFC,                          27, 24, Unsigned,        0) \
    X(MemAcParam,                  tRCD,                          23, 22, Unsigned,        0) \
    X(MemAcParam,                  tRP,                           21, 20, Unsigned,        0) \
    X(MemAcParam,                  tWR,                           19, 17, Unsigned,        0) \
    X(MemAcParam,                  tWTR,                          16, 14, Unsigned,        0) \
    X(MemAcParam,                  COLSx4_max,                    13,  4, Unsigned,        0) \
    X(MemAcParam,                  tRAS_min,                       3,  0, Unsigned,        0) \
    X(MemRefr,                     spare,                         31, 13, None,            0) \
    X(MemRefr,                     refrCount,                     12,  0, None,            0) \
    X(TargetSwizzle,               swizzleDwords,                  2,  2, Unsigned,        0) \
    X(TargetSwizzle,               swizzleWords,                   1,  1, Unsigned,        0) \
    X(TargetSwizzle,               swizzleBytes,                   0,  0, Unsigned,        0) \
    X(PortControl,                 mapping,                        0,  0, None,            0) \
    X(Port0ArraySize,              maxW,                          47, 32, None,            0) \
    X(Port0ArraySize,              maxZ,                          47, 32, None,            0) \
    X(Port0ArraySize,              maxV,                          31, 16, None,            0) \
    X(Port0ArraySize,              maxY,                          31, 16, None,            0) \
    X(Port0ArraySize,              maxU,                          15,  0, None,            0) \
    X(Port0ArraySize,              maxX,                          15,  0, None,            0) \
    X(Port0ArrayOffsetModulus,     w,                             47, 32, None,            0) \
    X(Port0ArrayOffsetModulus,     z,                             47, 32, None,            0) \
    X(Port0ArrayOffsetModulus,     v,                             31, 16, None,            0) \
    X(Port0ArrayOffsetModulus,     y,                             31, 16, None,            0) \
    X(Port0ArrayOffsetModulus,     u,                             15,  0, None,            0) \
    X(Port0ArrayOffsetModulus,     x,                             15,  0, None,            0) \
    X(Port0ArrayDimensions,        hostSize,                      15, 13, None,            0) \
    X(Port0ArrayDimensions,        alignment,                     12, 10, None,            0) \
    X(Port0ArrayDimensions,        swizzleDwords,                  9,  9, None,            0) \
    X(Port0ArrayDimensions,        swizzleWords,                   8,  8, None,            0) \
    X(Port0ArrayDimensions,        swizzleBytes,                   7,  7, None,            0) \
    X(Port0ArrayDimensions,        wrap,                           6,  6, None,            0) \
    X(Port0ArrayDimensions,        dimension,                      5,  4, None,            0) \
    X(Port0ArrayDimensions,        elementSize,                    3,  0, None,            0) \
    X(Port0RangeMin,               spare,                         63, 48, None,            0) \
    X(Port0RangeMin,               z,                             47, 32, None,            0) \
    X(Port0RangeMin,               y,                             31, 16, None,            0) \
    X(Port0RangeMin,               x,                             15,  0, None,            0) \
    X(Port0RangeMax,               spare,                         63, 48, None,            0) \
    X(Port0RangeMax,               z,                             47, 32, None,            0) \
    X(Port0RangeMax,               y,                             31, 16, None,            0) \
    X(Port0RangeMax,               x,                             15,  0, None,            0) \
    X(Port1ArraySize,              maxW,                          47, 32, None,            0) \
    X(Port1ArraySize,              maxZ,                          47, 32, None,            0) \
    X(Port1ArraySize,              maxV,                          31, 16, None,            0) \
    X(Port1ArraySize,              maxY,                          31, 16, None,            0) \
    X(Port1ArraySize,              maxU,                          15,  0, None,            0) \
    X(Port1ArraySize,              maxX,                          15,  0, None,            0) \
    X(Port1ArrayOffsetModulus,     w,                             47, 32, None,            0) \
    X(Port1ArrayOffsetModulus,     z,                             47, 32, None,            0) \
    X(Port1ArrayOffsetModulus,     v,                             31, 16, None,            0) \
    X(Port1ArrayOffsetModulus,     y,                             31, 16, None,            0) \
    X(Port1ArrayOffsetModulus,     u,                             15,  0, None,            0) \
    X(Port1ArrayOffsetModulus,     x,                             15,  0, None,            0) \
    X(Port1ArrayDimensions,        hostSize,                      15, 13, None,            0) \
    X(Port1ArrayDimensions,        alignment,                     12, 10, None,            0) \
    X(Port1ArrayDimensions,        swizzleDwords,                  9,  9, None,            0) \
    X(Port1ArrayDimensions,        swizzleWords,                   8,  8, None,            0) \
    X(Port1ArrayDimensions,        swizzleBytes,                   7,  7, None,            0) \
    X(Port1ArrayDimensions,        wrap,                           6,  6, None,            0) \
    X(Port1ArrayDimensions,        dimension,                      5,  4, None,            0) \
    X(Port1ArrayDimensions,        elementSize,                    3,  0, None,            0) \
    X(Port1RangeMin,               spare,                         63, 48, None,            0) \
    X(Port1RangeMin,               z,                             47, 32, None,            0) \
    X(Port1RangeMin,               y,                             31, 16, None,            0) \
    X(Port1RangeMin,               x,                             15,  0, None,            0) \
    X(Port1RangeMax,               spare,                         63, 48, None,            0) \
    X(Port1RangeMax,               z,                             47, 32, None,            0) \
    X(Port1RangeMax,               y,                             31, 16, None,            0) \
    X(Port1RangeMax,               x,                             15,  0, None,            0) \
    X(Port2ArraySize,              maxW,                          47, 32, None,            0) \
    X(Port2ArraySize,              maxZ,                          47, 32, None,            0) \
    X(Port2ArraySize,              maxV,                          31, 16, None,            0) \
    X(Port2ArraySize,              maxY,                          31, 16, None,            0) \
    X(Port2ArraySize,              maxU,                          15,  0, None,            0) \
    X(Port2ArraySize,              maxX,                          15,  0, None,            0) \
    X(Port2ArrayOffsetModulus,     w,                             47, 32, None,            0) \
    X(Port2ArrayOffsetModulus,     z,                             47, 32, None,            0) \
    X(Port2ArrayOffsetModulus,     v,                             31, 16, None,            0) \
    X(Port2ArrayOffsetModulus,     y,                             31, 16, None,            0) \
    X(Port2ArrayOffsetModulus,     u,                             15,  0, None,            0) \
    X(Port2ArrayOffsetModulus,     x,                             15,  0, None,            0) \
    X(Port2ArrayDimensions,        hostSize,                      15, 13, None,            0) \
    X(Port2ArrayDimensions,        alignment,                     12, 10, None,            0) \
    X(Port2ArrayDimensions,        swizzleDwords,                  9,  9, None,            0) \
    X(Port2ArrayDimensions,        swizzleWords,                   8,  8, None,            0) \
    X(Port2ArrayDimensions,        swizzleBytes,                   7,  7, None,            0) \
    X(Port2ArrayDimensions,        wrap,                           6,  6, None,            0) \
    X(Port2ArrayDimensions,        dimension,                      5,  4, None,            0) \
    X(Port2ArrayDimensions,        elementSize,                    3,  0, None,            0) \
    X(Port2RangeMin,               spare,                         63, 48, None,            0) \
    X(Port2RangeMin,               z,                             47, 32, None,            0) \
    X(Port2RangeMin,               y,                             31, 16, None,            0) \
    X(Port2RangeMin,               x,                             15,  0, None,            0) \
    X(Port2RangeMax,               spare,                         63, 48, None,            0) \
    X(Port2RangeMax,               z,                             47, 32, None,            0) \
    X(Port2RangeMax,               y,                             31, 16, None,            0) \
    X(Port2RangeMax,               x,                             15,  0, None,            0) \
    X(Port3ArraySize,              maxW,                          47, 32, None,            0) \
    X(Port3ArraySize,              maxZ,                          47, 32, None,            0) \
    X(Port3ArraySize,              maxV,                          31, 16, None,            0) \
    X(Port3ArraySize,              maxY,                          31, 16, None,            0) \
    X(Port3ArraySize,              maxU,                          15,  0, None,            0) \
    X(Port3ArraySize,              maxX,                          15,  0, None,            0) \
    X(Port3ArrayOffsetModulus,     w,                             47, 32, None,            0) \
    X(Port3ArrayOffsetModulus,     z,                             47, 32, None,            0) \
    X(Port3ArrayOffsetModulus,     v,                             31, 16, None,            0) \
    X(Port3ArrayOffsetModulus,     y,                             31, 16, None,            0) \
    X(Port3ArrayOffsetModulus,     u,                             15,  0, None,            0) \
    X(Port3ArrayOffsetModulus,     x,                             15,  0, None,            0) \
    X(Port3ArrayDimensions,        hostSize,                      15, 13, None,            0) \
    X(Port3ArrayDimensions,        alignment,                     12, 10, None,            0) \
    X(Port3ArrayDimensions,        swizzleDwords,                  9,  9, None,            0) \
    X(Port3ArrayDimensions,        swizzleWords,                   8,  8, None,            0) \
    X(Port3ArrayDimensions,        swizzleBytes,                   7,  7, None,            0) \
    X(Port3ArrayDimensions,        wrap,                           6,  6, None,            0) \
    X(Port3ArrayDimensions,        dimension,                      5,  4, None,            0) \
    X(Port3ArrayDimensions,        elementSize,                    3,  0, None,            0) \
    X(Port3RangeMin,               spare,                         63, 48, None,            0) \
    X(Port3RangeMin,               z,                             47, 32, None,            0) \
    X(Port3RangeMin,               y,                             31, 16, None,            0) \
    X(Port3RangeMin,               x,                             15,  0, None,            0) \
    X(Port3RangeMax,               spare,                         63, 48, None,            0) \
    X(Port3RangeMax,               z,                             47, 32, None,            0) \
    X(Port3RangeMax,               y,                             31, 16, None,            0) \
    X(Port3RangeMax,               x,                             15,  0, None,            0) \
    X(SourceArraySize,             high,                          63, 32, None,            0) \
    X(SourceArraySize,             maxW,                          47, 32, None,            0) \
    X(SourceArraySize,             maxZ,                          47, 32, None,            0) \
    X(SourceArraySize,             maxV,                          31, 16, None,            0) \
    X(SourceArraySize,             maxY,                          31, 16, None,            0) \
    X(SourceArraySize,             low,                           31,  0, None,            0) \
    X(SourceArraySize,             maxU,                          15,  0, None,            0) \
    X(SourceArraySize,             maxX,                          15,  0, None,            0) \
    X(SourceArrayOffsetModulus,    w,                             47, 32, None,            0) \
    X(SourceArrayOffsetModulus,    z,                             47, 32, None,            0) \
    X(SourceArrayOffsetModulus,    v,                             31, 16, None,            0) \
    X(SourceArrayOffsetModulus,    y,                             31, 16, None,            0) \
    X(SourceArrayOffsetModulus,    u,                             15,  0, None,            0) \
    X(SourceArrayOffsetModulus,    x,                             15,  0, None,            0) \
    X(SourceArrayDimensions,       wrap,                           6,  6, None,            0) \
    X(SourceArrayDimensions,       dimension,                      5,  4, None,            0) \
    X(SourceArrayDimensions,       elementSize,                    3,  0, None,            0) \
    X(SourceRangeMin,              spare,                         63, 48, None,            0) \
    X(SourceRangeMin,              high,                          63, 32, None,            0) \
    X(SourceRangeMin,              z,                             47, 32, None,            0) \
    X(SourceRangeMin,              y,                             31, 16, None,            0) \
    X(SourceRangeMin,              low,                           31,  0, None,            0) \
    X(SourceRangeMin,              x,                             15,  0, None,            0) \
    X(SourceRangeMax,              spare,                         63, 48, None,            0) \
    X(SourceRangeMax,              high,                          63, 32, None,            0) \
    X(SourceRangeMax,              z,                             47, 32, None,            0) \
    X(SourceRangeMax,              y,                             31, 16, None,            0) \
    X(SourceRangeMax,              low,                           31,  0, None,            0) \
    X(SourceRangeMax,              x,                             15,  0, None,            0) \
    X(DestArraySize,               high,                          63, 32, None,            0) \
    X(DestArraySize,               maxW,                          47, 32, None,            0) \
    X(DestArraySize,               maxZ,                          47, 32, None,            0) \
    X(DestArraySize,               maxV,                          31, 16, None,            0) \
    X(DestArraySize,               maxY,                          31, 16, None,            0) \
    X(DestArraySize,               low,                           31,  0, None,            0) \
    X(DestArraySize,               maxU,                          15,  0, None,            0) \
    X(DestArraySize,               maxX,                          15,  0, None,            0) \
    X(DestArrayOffsetModulus,      w,                             47, 32, None,            0) \
    X(DestArrayOffsetModulus,      z,                             47, 32, None,            0) \
    X(DestArrayOffsetModulus,      v,                             31, 16, None,            0) \
    X(DestArrayOffsetModulus,      y,                             31, 16, None,            0) \
    X(DestArrayOffsetModulus,      u,                             15,  0, None,            0) \
    X(DestArrayOffsetModulus,      x,                             15,  0, None,            0) \
    X(DestArrayDimensions,         wrap,                           6,  6, None,            0) \
    X(DestArrayDimensions,         dimension,                      5,  4, None,            0) \
    X(DestArrayDimensions,         elementSize,                    3,  0, None,            0) \
    X(DestRangeMin,                spare,                         63, 48, None,            0) \
    X(DestRangeMin,                high,                          63, 32, None,            0) \
    X(DestRangeMin,                z,                             47, 32, None,            0) \
    X(DestRangeMin,                y,                             31, 16, None,            0) \
    X(DestRangeMin,                low,                           31,  0, None,            0) \
    X(DestRangeMin,                x,                             15,  0, None,            0) \
    X(DestRangeMax,                spare,                         63, 48, None,            0) \
    X(DestRangeMax,                high,                          63, 32, None,            0) \
    X(DestRangeMax,                z,                             47, 32, None,            0) \
    X(DestRangeMax,                y,                             31, 16, None,            0) \
    X(DestRangeMax,                low,                           31,  0, None,            0) \
    X(DestRangeMax,                x,                             15,  0, None,            0) \
    X(VolumeArraySize,             high,                          63, 32, None,            0) \
    X(VolumeArraySize,             maxW,                          47, 32, Unsigned,        0) \
    X(VolumeArraySize,             maxV,                          31, 16, Unsigned,        0) \
    X(VolumeArraySize,             low,                           31,  0, None,            0) \
    X(VolumeArraySize,             maxU,                          15,  0, Unsigned,        0) \
    X(VolumeArrayOffsetModulus,    w,                             47, 32, Signed,          0) \
    X(VolumeArrayOffsetModulus,    v,                             31, 16, Signed,          0) \
    X(VolumeArrayOffsetModulus,    u,                             15,  0, Signed,          0) \
    X(VolumeArrayDimensions,       wrap,                           6,  6, Unsigned,        0) \
    X(VolumeArrayDimensions,       dimension,                      5,  4, Unsigned,        0) \
    X(VolumeArrayDimensions,       elementSize,                    3,  0, Unsigned,        0) \
    X(VolumeRangeMin,              spare,                         63, 48, None,            0) \
    X(VolumeRangeMin,              high,                          63, 32, None,            0) \
    X(VolumeRangeMin,              w,                             47, 32, Unsigned,        0) \
    X(VolumeRangeMin,              v,                             31, 16, Unsigned,        0) \
    X(VolumeRangeMin,              low,                           31,  0, None,            0) \
    X(VolumeRangeMin,              u,                             15,  0, Unsigned,        0) \
    X(VolumeRangeMax,              spare,                         63, 48, None,            0) \
    X(VolumeRangeMax,              high,                          63, 32, None,            0) \
    X(VolumeRangeMax,              w,                             47, 32, Unsigned,        0) \
    X(VolumeRangeMax,              v,                             31, 16, Unsigned,        0) \
    X(VolumeRangeMax,              low,                           31,  0, None,            0) \
    X(VolumeRangeMax,              u,                             15,  0, Unsigned,        0) \
    X(Depth0ArraySize,             high,                          63, 32, None,            0) \
    X(Depth0ArraySize,             maxZ,                          47, 32, Unsigned,        0) \
    X(Depth0ArraySize,             maxY,                          31, 16, Unsigned,        0) \
    X(Depth0ArraySize,             low,                           31,  0, None,            0) \
    X(Depth0ArraySize,             maxX,                          15,  0, Unsigned,        0) \
    X(Depth0ArrayOffsetModulus,    z,                             47, 32, Signed,          0) \
    X(Depth0ArrayOffsetModulus,    y,                             31, 16, Signed,          0) \
    X(Depth0ArrayOffsetModulus,    x,                             15,  0, Signed,          0) \
    X(Depth0ArrayDimensions,       wrap,                           6,  6, Unsigned,        0) \
    X(Depth0ArrayDimensions,       dimension,                      5,  4, Unsigned,        0) \
    X(Depth0ArrayDimensions,       elementSize,                    3,  0, Unsigned,        0) \
    X(Depth0InitRangeMin,          spare,                         63, 48, None,            0) \
    X(Depth0InitRangeMin,          z,                             47, 32, Unsigned,        0) \
    X(Depth0InitRangeMin,          y,                             31, 16, Unsigned,        0) \
    X(Depth0InitRangeMin,          x,                             15,  0, Unsigned,        0) \
    X(Depth0InitRangeMax,          spare,                         63, 48, None,            0) \
    X(Depth0InitRangeMax,          z,                             47, 32, Unsigned,        0) \
    X(Depth0InitRangeMax,          y,                             31, 16, Unsigned,        0) \
    X(Depth0InitRangeMax,          x,                             15,  0, Unsigned,        0) \
    X(Depth1ArraySize,             high,                          63, 32, None,            0) \
    X(Depth1ArraySize,             maxZ,                          47, 32, Unsigned,        0) \
    X(Depth1ArraySize,             maxY,                          31, 16, Unsigned,        0) \
    X(Depth1ArraySize,             low,                           31,  0, None,            0) \
    X(Depth1ArraySize,             maxX,                          15,  0, Unsigned,        0) \
    X(Depth1ArrayOffsetModulus,    z,                             47, 32, Signed,          0) \
    X(Depth1ArrayOffsetModulus,    y,                             31, 16, Signed,          0) \
    X(Depth1ArrayOffsetModulus,    x,                             15,  0, Signed,          0) \
    X(Depth1ArrayDimensions,       wrap,                           6,  6, Unsigned,        0) \
    X(Depth1ArrayDimensions,       dimension,                      5,  4, Unsigned,        0) \
    X(Depth1ArrayDimensions,       elementSize,                    3,  0, Unsigned,        0) \
    X(Depth1InitRangeMin,          spare,                         63, 48, None,            0) \
    X(Depth1InitRangeMin,          z,                             47, 32, Unsigned,        0) \
    X(Depth1InitRangeMin,          y,                             31, 16, Unsigned,        0) \
    X(Depth1InitRangeMin,          x,                             15,  0, Unsigned,        0) \
    X(Depth1InitRangeMax,          spare,                         63, 48, None,            0) \
    X(Depth1InitRangeMax,          z,                             47, 32, Unsigned,        0) \
    X(Depth1InitRangeMax,          y,                             31, 16, Unsigned,        0) \
    X(Depth1InitRangeMax,          x,                             15,  0, Unsigned,        0) \
    X(Image0ArraySize,             high,                          63, 32, None,            0) \
    X(Image0ArraySize,             maxZ,                          47, 32, None,            0) \
    X(Image0ArraySize,             maxY,                          31, 16, None,            0) \
    X(Image0ArraySize,             low,                           31,  0, None,            0) \
    X(Image0ArraySize,             maxX,                          15,  0, None,            0) \
    X(Image0ArrayOffsetModulus,    z,                             47, 32, Signed,          0) \
    X(Image0ArrayOffsetModulus,    y,                             31, 16, Signed,          0) \
    X(Image0ArrayOffsetModulus,    x,                             15,  0, Signed,          0) \
    X(Image0ArrayDimensions,       wrap,                           6,  6, Unsigned,        0) \
    X(Image0ArrayDimensions,       dimension,                      5,  4, Unsigned,        0) \
    X(Image0ArrayDimensions,       elementSize,                    3,  0, Unsigned,        0) \
    X(Image0InitRangeMin,          spare,                         63, 48, None,            0) \
    X(Image0InitRangeMin,          z,                             47, 32, Unsigned,        0) \
    X(Image0InitRangeMin,          y,                             31, 16, Unsigned,        0) \
    X(Image0InitRangeMin,          x,                             15,  0, Unsigned,        0) \
    X(Image0InitRangeMax,          spare,                         63, 48, None,            0) \
    X(Image0InitRangeMax,          z,                             47, 32, Unsigned,        0) \
    X(Image0InitRangeMax,          y,                             31, 16, Unsigned,        0) \
    X(Image0InitRangeMax,          x,                             15,  0, Unsigned,        0) \
    X(Image1ArraySize,             high,                          63, 32, None,            0) \
    X(Image1ArraySize,             maxZ,                          47, 32, None,            0) \
    X(Image1ArraySize,             maxY,                          31, 16, None,            0) \
    X(Image1ArraySize,             low,                           31,  0, None,            0) \
    X(Image1ArraySize,             maxX,                          15,  0, None,            0) \
    X(Image1ArrayOffsetModulus,    z,                             47, 32, Signed,          0) \
    X(Image1ArrayOffsetModulus,    y,                             31, 16, Signed,          0) \
    X(Image1ArrayOffsetModulus,    x,                             15,  0, Signed,          0) \
    X(Image1ArrayDimensions,       wrap,                           6,  6, Unsigned,        0) \
    X(Image1ArrayDimensions,       dimension,                      5,  4, Unsigned,        0) \
    X(Image1ArrayDimensions,       elementSize,                    3,  0, Unsigned,        0) \
    X(Image1InitRangeMin,          spare,                         63, 48, None,            0) \
    X(Image1InitRangeMin,          z,                             47, 32, Unsigned,        0) \
    X(Image1InitRangeMin,          y,                             31, 16, Unsigned,        0) \
    X(Image1InitRangeMin,          x,                             15,  0, Unsigned,        0) \
    X(Image1InitRangeMax,          spare,                         63, 48, None,            0) \
    X(Image1InitRangeMax,          z,                             47, 32, Unsigned,        0) \
    X(Image1InitRangeMax,          y,                             31, 16, Unsigned,        0) \
    X(Image1InitRangeMax,          x,                             15,  0, Unsigned,        0) \
    X(ViewFrustumRangeMin,         high,                          63, 32, None,            0) \
    X(ViewFrustumRangeMin,         z,                             47, 32, Unsigned,        0) \
    X(ViewFrustumRangeMin,         y,                             31, 16, Unsigned,        0) \
    X(ViewFrustumRangeMin,         low,                           31,  0, None,            0) \
    X(ViewFrustumRangeMin,         x,                             15,  0, Unsigned,        0) \
    X(ViewFrustumRangeMax,         high,                          63, 32, None,            0) \
    X(ViewFrustumRangeMax,         z,                             47, 32, Unsigned,        0) \
    X(ViewFrustumRangeMax,         y,                             31, 16, Unsigned,        0) \
    X(ViewFrustumRangeMax,         low,                           31,  0, None,            0) \
    X(ViewFrustumRangeMax,         x,                             15,  0, Unsigned,        0) \
    X(Transform,                   selectZ,                        9,  8, Unsigned,        0) \
    X(Transform,                   selectY,                        7,  6, Unsigned,        0) \
    X(Transform,                   selectX,                        5,  4, Unsigned,        0) \
    X(Transform,                   negZ,                           2,  2, Unsigned,        0) \
    X(Transform,                   negY,                           1,  1, Unsigned,        0) \
    X(Transform,                   negX,                           0,  0, Unsigned,        0) \
    X(Image0FieldSel,              alpha_control,                 31, 30, None,            0) \
    X(Image0FieldSel,              alpha_size,                    29, 28, None,            0) \
    X(Image0FieldSel,              alpha_position,                27, 24, None,            0) \
    X(Image0FieldSel,              alpha,                         31, 24, Field_Descriptor, 0) \
    X(Image0FieldSel,              blue_control,                  23, 22, None,            0) \
    X(Image0FieldSel,              blue_size,                     21, 20, None,            0) \
    X(Image0FieldSel,              blue_position,                 19, 16, None,            0) \
    X(Image0FieldSel,              blue,                          23, 16, Field_Descriptor, 0) \
    X(Image0FieldSel,              green_control,                 15, 14, None,            0) \
    X(Image0FieldSel,              green_size,                    13, 12, None,            0) \
    X(Image0FieldSel,              green_position,                11,  8, None,            0) \
    X(Image0FieldSel,              green,                         15,  8, Field_Descriptor, 0) \
    X(Image0FieldSel,              red_control,                    7,  6, None,            0) \
    X(Image0FieldSel,              red_size,                       5,  4, None,            0) \
    X(Image0FieldSel,              red_position,                   3,  0, None,            0) \
    X(Image0FieldSel,              red,                            7,  0, Field_Descriptor, 0) \
    X(Image1FieldSel,              alpha_control,                 31, 30, None,            0) \
    X(Image1FieldSel,              alpha_size,                    29, 28, None,            0) \
    X(Image1FieldSel,              alpha_position,                27, 24, None,            0) \
    X(Image1FieldSel,              alpha,                         31, 24, Field_Descriptor, 0) \
    X(Image1FieldSel,              blue_control,                  23, 22, None,            0) \
    X(Image1FieldSel,              blue_size,                     21, 20, None,            0) \
    X(Image1FieldSel,              blue_position,                 19, 16, None,            0) \
    X(Image1FieldSel,              blue,                          23, 16, Field_Descriptor, 0) \
    X(Image1FieldSel,              green_control,                 15, 14, None,            0) \
    X(Image1FieldSel,              green_size,                    13, 12, None,            0) \
    X(Image1FieldSel,              green_position,                11,  8, None,            0) \
    X(Image1FieldSel,              green,                         15,  8, Field_Descriptor, 0) \
    X(Image1FieldSel,              red_control,                    7,  6, None,            0) \
    X(Image1FieldSel,              red_size,                       5,  4, None,            0) \
    X(Image1FieldSel,              red_position,                   3,  0, None,            0) \
    X(Image1FieldSel,              red,                            7,  0, Field_Descriptor, 0) \
    /* positionalK: plane K's rates apply to the sample's permuted position, not its grid index */ \
    X(CutPlaneControl,             positional3,                   31, 31, Unsigned,        0) \
    X(CutPlaneControl,             enable3,                       30, 30, Unsigned,        0) \
    X(CutPlaneControl,             falloff3,                      29, 29, Unsigned,        0) \
    X(CutPlaneControl,             visibility3,                   28, 28, Unsigned,        0) \
    X(CutPlaneControl,             positional2,                   27, 27, Unsigned,        0) \
    X(CutPlaneControl,             enable2,                       26, 26, Unsigned,        0) \
    X(CutPlaneControl,             falloff2,                      25, 25, Unsigned,        0) \
    X(CutPlaneControl,             visibility2,                   24, 24, Unsigned,        0) \
    X(CutPlaneControl,             positional1,                   23, 23, Unsigned,        0) \
    X(CutPlaneControl,             enable1,                       22, 22, Unsigned,        0) \
    X(CutPlaneControl,             falloff1,                      21, 21, Unsigned,        0) \
    X(CutPlaneControl,             visibility1,                   20, 20, Unsigned,        0) \
    X(CutPlaneControl,             positional0,                   19, 19, Unsigned,        0) \
    X(CutPlaneControl,             enable0,                       18, 18, Unsigned,        0) \
    X(CutPlaneControl,             falloff0,                      17, 17, Unsigned,        0) \
    X(CutPlaneControl,             visibility0,                   16, 16, Unsigned,        0) \
    X(CropControl,                 invertOut,                     13, 13, Unsigned,        0) \
    X(CropControl,                 orSel,                         12, 12, Unsigned,        0) \
    X(CropControl,                 invert2,                       11, 11, Unsigned,        0) \
    X(CropControl,                 enableZ2,                      10, 10, Unsigned,        0) \
    X(CropControl,                 enableY2,                       9,  9, Unsigned,        0) \
    X(CropControl,                 enableX2,                       8,  8, Unsigned,        0) \
    X(CropControl,                 invert1,                        7,  7, Unsigned,        0) \
    X(CropControl,                 enableZ1,                       6,  6, Unsigned,        0) \
    X(CropControl,                 enableY1,                       5,  5, Unsigned,        0) \
    X(CropControl,                 enableX1,                       4,  4, Unsigned,        0) \
    X(CropControl,                 invert0,                        3,  3, Unsigned,        0) \
    X(CropControl,                 enableZ0,                       2,  2, Unsigned,        0) \
    X(CropControl,                 enableY0,                       1,  1, Unsigned,        0) \
    X(CropControl,                 enableX0,                       0,  0, Unsigned,        0) \
    X(VoxelFormat,                 high,                          63, 32, None,            0) \
    X(VoxelFormat,                 spare,                         63, 32, None,            0) \
    X(VoxelFormat,                 field3_control,                31, 30, None,            0) \
    X(VoxelFormat,                 field3_size,                   29, 28, None,            0) \
    X(VoxelFormat,                 field3_position,               27, 24, None,            0) \
    X(VoxelFormat,                 field3,                        31, 24, Field_Descriptor, 0) \
    X(VoxelFormat,                 field2_control,                23, 22, None,            0) \
    X(VoxelFormat,                 field2_size,                   21, 20, None,            0) \
    X(VoxelFormat,                 field2_position,               19, 16, None,            0) \
    X(VoxelFormat,                 field2,                        23, 16, Field_Descriptor, 0) \
    X(VoxelFormat,                 field1_control,                15, 14, None,            0) \
    X(VoxelFormat,                 field1_size,                   13, 12, None,            0) \
    X(VoxelFormat,                 field1_position,               11,  8, None,            0) \
    X(VoxelFormat,                 field1,                        15,  8, Field_Descriptor, 0) \
    X(VoxelFormat,                 field0_control,                 7,  6, None,            0) \
    X(VoxelFormat,                 field0_size,                    5,  4, None,            0) \
    X(VoxelFormat,                 low,                           31,  0, None,            0) \
    X(VoxelFormat,                 field0_position,                3,  0, None,            0) \
    X(VoxelFormat,                 field0,                         7,  0, Field_Descriptor, 0) \
    X(VoxelBorder,                 high,                          63, 32, None,            0) \
    X(VoxelBorder,                 low,                           31,  0, None,            0) \
    X(LookupTableFormat0,          alpha_control,                 31, 30, None,            0) \
    X(LookupTableFormat0,          alpha_size,                    29, 28, None,            0) \
    X(LookupTableFormat0,          alpha_position,                27, 24, None,            0) \
    X(LookupTableFormat0,          alpha,                         31, 24, Field_Descriptor, 0) \
    X(LookupTableFormat0,          blue_control,                  23, 22, None,            0) \
    X(LookupTableFormat0,          blue_size,                     21, 20, None,            0) \
    X(LookupTableFormat0,          blue_position,                 19, 16, None,            0) \
    X(LookupTableFormat0,          blue,                          23, 16, Field_Descriptor, 0) \
    X(LookupTableFormat0,          green_control,                 15, 14, None,            0) \
    X(LookupTableFormat0,          green_size,                    13, 12, None,            0) \
    X(LookupTableFormat0,          green_position,                11,  8, None,            0) \
    X(LookupTableFormat0,          green,                         15,  8, Field_Descriptor, 0) \
    X(LookupTableFormat0,          red_control,                    7,  6, None,            0) \
    X(LookupTableFormat0,          red_size,                       5,  4, None,            0) \
    X(LookupTableFormat0,          red_position,                   3,  0, None,            0) \
    X(LookupTableFormat0,          red,                            7,  0, Field_Descriptor, 0) \
    X(LookupTableFormat1,          alpha_control,                 31, 30, None,            0) \
    X(LookupTableFormat1,          alpha_size,                    29, 28, None,            0) \
    X(LookupTableFormat1,          alpha_position,                27, 24, None,            0) \
    X(LookupTableFormat1,          alpha,                         31, 24, Field_Descriptor, 0) \
    X(LookupTableFormat1,          blue_control,                  23, 22, None,            0) \
    X(LookupTableFormat1,          blue_size,                     21, 20, None,            0) \
    X(LookupTableFormat1,          blue_position,                 19, 16, None,            0) \
    X(LookupTableFormat1,          blue,                          23, 16, Field_Descriptor, 0) \
    X(LookupTableFormat1,          green_control,                 15, 14, None,            0) \
    X(LookupTableFormat1,          green_size,                    13, 12, None,            0) \
    X(LookupTableFormat1,          green_position,                11,  8, None,            0) \
    X(LookupTableFormat1,          green,                         15,  8, Field_Descriptor, 0) \
    X(LookupTableFormat1,          red_control,                    7,  6, None,            0) \
    X(LookupTableFormat1,          red_size,                       5,  4, None,            0) \
    X(LookupTableFormat1,          red_position,                   3,  0, None,            0) \
    X(LookupTableFormat1,          red,                            7,  0, Field_Descriptor, 0) \
    X(LookupTableFormat2,          alpha_control,                 31, 30, None,            0) \
    X(LookupTableFormat2,          alpha_size,                    29, 28, None,            0) \
    X(LookupTableFormat2,          alpha_position,                27, 24, None,            0) \
    X(LookupTableFormat2,          alpha,                         31, 24, Field_Descriptor, 0) \
    X(LookupTableFormat2,          blue_control,                  23, 22, None,            0) \
    X(LookupTableFormat2,          blue_size,                     21, 20, None,            0) \
    X(LookupTableFormat2,          blue_position,                 19, 16, None,            0) \
    X(LookupTableFormat2,          blue,                          23, 16, Field_Descriptor, 0) \
    X(LookupTableFormat2,          green_control,                 15, 14, None,            0) \
    X(LookupTableFormat2,          green_size,                    13, 12, None,            0) \
    X(LookupTableFormat2,          green_position,                11,  8, None,            0) \
    X(LookupTableFormat2,          green,                         15,  8, Field_Descriptor, 0) \
    X(LookupTableFormat2,          red_control,                    7,  6, None,            0) \
    X(LookupTableFormat2,          red_size,                       5,  4, None,            0) \
    X(LookupTableFormat2,          red_position,                   3,  0, None,            0) \
    X(LookupTableFormat2,          red,                            7,  0, Field_Descriptor, 0) \
    X(LookupTableFormat3,          alpha_control,                 31, 30, None,            0) \
    X(LookupTableFormat3,          alpha_size,                    29, 28, None,            0) \
    X(LookupTableFormat3,          alpha_position,                27, 24, None,            0) \
    X(LookupTableFormat3,          alpha,                         31, 24, Field_Descriptor, 0) \
    X(LookupTableFormat3,          blue_control,                  23, 22, None,            0) \
    X(LookupTableFormat3,          blue_size,                     21, 20, None,            0) \
    X(LookupTableFormat3,          blue_position,                 19, 16, None,            0) \
    X(LookupTableFormat3,          blue,                          23, 16, Field_Descriptor, 0) \
    X(LookupTableFormat3,          green_control,                 15, 14, None,            0) \
    X(LookupTableFormat3,          green_size,                    13, 12, None,            0) \
    X(LookupTableFormat3,          green_position,                11,  8, None,            0) \
    X(LookupTableFormat3,          green,                         15,  8, Field_Descriptor, 0) \
    X(LookupTableFormat3,          red_control,                    7,  6, None,            0) \
    X(LookupTableFormat3,          red_size,                       5,  4, None,            0) \
    X(LookupTableFormat3,          red_position,                   3,  0, None,            0) \
    X(LookupTableFormat3,          red,                            7,  0, Field_Descriptor, 0) \
    X(Alu0,                        alphaOp,                       31, 24, Unsigned,        0) \
    X(Alu0,                        blueOp,                        23, 16, Unsigned,        0) \
    X(Alu0,                        greenOp,                       15,  8, Unsigned,        0) \
    X(Alu0,                        redOp,                          7,  0, Unsigned,        0) \
    X(Alu1,                        alphaOp,                       31, 24, Unsigned,        0) \
    X(Alu1,                        blueOp,                        23, 16, Unsigned,        0) \
    X(Alu1,                        greenOp,                       15,  8, Unsigned,        0) \
    X(Alu1,                        redOp,                          7,  0, Unsigned,        0) \
    X(Alu2,                        alphaOp,                       31, 24, Unsigned,        0) \
    X(Alu2,                        blueOp,                        23, 16, Unsigned,        0) \
    X(Alu2,                        greenOp,                       15,  8, Unsigned,        0) \
    X(Alu2,                        redOp,                          7,  0, Unsigned,        0) \
    X(GradientCorrection0,         g12,                           31, 19, SM_0_12RF,       0) \
    X(GradientCorrection0,         g11,                           15,  3, SM_0_12RF,       0) \
    X(GradientCorrection1,         g22,                           31, 19, SM_0_12RF,       0) \
    X(GradientCorrection1,         g13,                           15,  3, SM_0_12RF,       0) \
    X(GradientCorrection2,         g33,                           31, 19, SM_0_12RF,       0) \
    X(GradientCorrection2,         g23,                           15,  3, SM_0_12RF,       0) \
    X(GradientMagnitudeRange,      max,                           63, 44, U_2_9RF9RF,      0) \
    X(GradientMagnitudeRange,      high,                          63, 32, None,            0) \
    X(GradientMagnitudeRange,      min,                           31, 12, U_2_9RF9RF,      0) \
    X(GradientMagnitudeRange,      low,                           31,  0, None,            0) \
    X(EyeVector,                   w,                             63, 54, SM_0_9RF,        0) \
    X(EyeVector,                   v,                             47, 38, SM_0_9RF,        0) \
    X(EyeVector,                   high,                          63, 32, None,            0) \
    X(EyeVector,                   u,                             31, 22, SM_0_9RF,        0) \
    X(EyeVector,                   specFrontFacingOnly,            1,  1, Unsigned,        0) \
    X(EyeVector,                   low,                           31,  0, None,            0) \
    X(EyeVector,                   bypassRefVec,                   0,  0, Unsigned,        0) \
    X(SpecularColor,               opacityWeightSpec,             63, 63, Unsigned,        0) \
    X(SpecularColor,               blue,                          47, 36, URF,             0) \
    X(SpecularColor,               high,                          63, 32, None,            0) \
    X(SpecularColor,               green,                         31, 20, URF,             0) \
    X(SpecularColor,               red,                           15,  4, URF,             0) \
    X(SpecularColor,               low,                           31,  0, None,            0) \
    X(LightingCoefficient,         kEmissive,                     31, 24, URF,             0) \
    X(LightingCoefficient,         kDiffuse,                      23, 16, URF,             0) \
    X(LightingCoefficient,         kSpecular,                     15,  8, URF,             0) \
    X(GradientMagnitudeModulation, grain,                         31, 29, Unsigned,        0) \
    X(GradientMagnitudeModulation, base,                          28, 16, Unsigned,        0) \
    X(GradientMagnitudeModulation, upperRangeDefault,             15, 15, Unsigned,        0) \
    X(GradientMagnitudeModulation, lowerRangeDefault,             14, 14, Unsigned,        0) \
    X(GradientMagnitudeModulation, indexSource,                   13, 13, Unsigned,        0) \
    X(GradientMagnitudeModulation, hiPassStart,                   12,  6, Unsigned,        0) \
    X(GradientMagnitudeModulation, hiPassSpecular,                 5,  5, Unsigned,        0) \
    X(GradientMagnitudeModulation, hiPassDiffuse,                  4,  4, Unsigned,        0) \
    X(GradientMagnitudeModulation, modulateSpecular,               3,  3, Unsigned,        0) \
    X(GradientMagnitudeModulation, modulateDiffuse,                2,  2, Unsigned,        0) \
    X(GradientMagnitudeModulation, modulateEmissive,               1,  1, Unsigned,        0) \
    X(GradientMagnitudeModulation, modulateOpacity,                0,  0, Unsigned,        0) \
    X(SampleAlphaRange,            max,                           31, 20, URF,             0) \
    X(SampleAlphaRange,            min,                           15,  4, URF,             0) \
    X(AccumAlphaRange,             max,                           31, 20, URF,             0) \
    X(AccumAlphaRange,             min,                           15,  4, URF,             0) \
    X(DepthInitValue0,             d,                             23,  0, U_0_24,          0) \
    X(DepthInitValue1,             d,                             23,  0, U_0_24,          0) \
    X(ImageAccumValue,             alpha,                         63, 52, URF,             0) \
    X(ImageAccumValue,             blue,                          47, 36, URF,             0) \
    X(ImageAccumValue,             high,                          63, 32, None,            0) \
    X(ImageAccumValue,             green,                         31, 20, URF,             0) \
    X(ImageAccumValue,             red,                           15,  4, URF,             0) \
    X(ImageAccumValue,             low,                           31,  0, None,            0) \
    X(ImageLastValue,              alpha,                         63, 52, URF,             0) \
    X(ImageLastValue,              blue,                          47, 36, URF,             0) \
    X(ImageLastValue,              high,                          63, 32, None,            0) \
    X(ImageLastValue,              green,                         31, 20, URF,             0) \
    X(ImageLastValue,              red,                           15,  4, URF,             0) \
    X(ImageLastValue,              low,                           31,  0, None,            0) \
    X(ErtThreshold,                alpha,                         31, 20, URF,             0) \
    X(EmptyThreshold,              alpha,                         31, 20, URF,             0) \
    X(Section,                     sizeY,                         11,  8, Unsigned,        0) \
    X(Section,                     sizeX,                          3,  0, Unsigned,        0) \
    X(SequencerDebug,              bypassSlabTileCheck,            1,  1, Unsigned,        0) \
    X(SequencerDebug,              bypassSliceTileCheck,           0,  0, Unsigned,        0) \
    X(AddressOperand,              high,                          63, 32, None,            0) \
    X(AddressOperand,              low,                           31,  0, None,            0) \
    X(InterpolateControl,          voxelExtendZ,                  31, 28, Unsigned,        0) \
    X(InterpolateControl,          voxelExtendY,                  27, 24, Unsigned,        0) \
    X(InterpolateControl,          voxelExtendX,                  23, 20, Unsigned,        0) \
    X(InterpolateControl,          interpolateGradient,           19, 16, Unsigned,        0) \
    X(InterpolateControl,          interpolate3,                  15, 12, Unsigned,        0) \
    X(InterpolateControl,          interpolate2,                  11,  8, Unsigned,        0) \
    X(InterpolateControl,          interpolate1,                   7,  4, Unsigned,        0) \
    X(InterpolateControl,          interpolate0,                   3,  0, Unsigned,        0) \
    X(GradientControl,             outputGrad,                    31, 31, Unsigned,        0) \
    X(GradientControl,             outputMag,                     30, 30, Unsigned,        0) \
    X(GradientControl,             gradientCorrection,            22, 22, Unsigned,        0) \
    X(GradientControl,             estimationFunction,            11,  9, Unsigned,        0) \
    X(GradientControl,             selectW,                        8,  6, Unsigned,        0) \
    X(GradientControl,             selectV,                        5,  3, Unsigned,        0) \
    X(GradientControl,             selectU,                        2,  0, Unsigned,        0) \
    X(DepthControl,                testFirst,                     31, 29, Unsigned,        0) \
    X(DepthControl,                testLast,                      28, 26, Unsigned,        0) \
    X(DepthControl,                action,                        25, 24, Unsigned,        0) \
    X(DepthControl,                updateFirst_reserved,          23, 21, Unsigned,        0) \
    X(DepthControl,                updateFirst_accumulatedAlpha,  20, 20, Unsigned,        0) \
    X(DepthControl,                updateFirst_sampleAlpha,       19, 19, Unsigned,        0) \
    X(DepthControl,                updateFirst_gradientMagnitude, 18, 18, Unsigned,        0) \
    X(DepthControl,                updateFirst_direction,         17, 16, Unsigned,        0) \
    X(DepthControl,                updateLast_reserved,           15, 13, Unsigned,        0) \
    X(DepthControl,                updateLast_accumulatedAlpha,   12, 12, Unsigned,        0) \
    X(DepthControl,                updateLast_sampleAlpha,        11, 11, Unsigned,        0) \
    X(DepthControl,                updateLast_gradientMagnitude,  10, 10, Unsigned,        0) \
    X(DepthControl,                updateLast_direction,           9,  8, Unsigned,        0) \
    X(DepthControl,                initDepthLast,                  7,  7, Unsigned,        0) \
    X(DepthControl,                initDepthFirst,                 6,  6, Unsigned,        0) \
    X(DepthControl,                writeDepthLast,                 5,  5, Unsigned,        0) \
    X(DepthControl,                writeDepthFirst,                4,  4, Unsigned,        0) \
    X(ImageControl,                initLast,                      31, 31, Unsigned,        0) \
    X(ImageControl,                initAccum,                     30, 30, Unsigned,        0) \
    X(ImageControl,                write,                         29, 28, Unsigned,        0) \
    X(ImageControl,                dimensions,                    27, 27, Unsigned,        0) \
    X(ImageControl,                blendAccum,                    23, 18, Unsigned,        0) \
    X(ImageControl,                blendLast,                     17, 12, Unsigned,        0) \
    X(ImageControl,                earlyRayTermination,            9,  9, Unsigned,        0) \
    X(ImageControl,                alphaCorrection,                8,  8, Unsigned,        0) \
    X(ImageControl,                filter_reserved,                7,  5, Unsigned,        0) \
    X(ImageControl,                filter_accumulatedAlpha,        4,  4, Unsigned,        0) \
    X(ImageControl,                filter_sampleAlpha,             3,  3, Unsigned,        0) \
    X(ImageControl,                filter_gradientMagnitude,       2,  2, Unsigned,        0) \
    X(ImageControl,                filter_direction,               1,  0, Unsigned,        0) \
    X(RenderOperation,             opcode,                        31, 28, Unsigned,        0) \
    X(RenderOperation,             incrOnDone,                    27, 24, Unsigned,        0) \
    X(RenderOperation,             bypass3,                       23, 22, Unsigned,        0) \
    X(RenderOperation,             select,                        23, 20, Unsigned,        0) \
    X(RenderOperation,             bypass2,                       21, 20, Unsigned,        0) \
    X(RenderOperation,             bypass1,                       19, 18, Unsigned,        0) \
    X(RenderOperation,             bypass0,                       17, 16, Unsigned,        0) \
    X(RenderOperation,             opacityWeight,                 15, 15, Unsigned,        0) \
    X(RenderOperation,             spaceLeaping,                  14, 14, Unsigned,        0) \
    X(RenderOperation,             regAddr,                       23, 12, Unsigned,        0) \
    X(RenderOperation,             operand,                       23,  0, Unsigned,        0) \
    X(RenderOperation,             count,                         11,  0, Unsigned,        0) \
    X(RenderOperation,             countRegs,                      7,  0, Unsigned,        0)

// ---------------------------------------------------------------------------
// Constants generated from the tables.

// The format column holds a format's name, or None where the chip declares no
// format. NKW7_FORMAT_DISPATCH(fmt, what, arg) expands what_Any(arg, fmt) for
// a format and what_None(arg, fmt) for None.
#define NKW7_FORMAT_DISPATCH(fmt, what, arg) NKW7_FORMAT_KIND_##fmt(what, arg, fmt)
#define NKW7_FORMAT_KIND_Any(what, arg, fmt) what##_Any(arg, fmt)
#define NKW7_FORMAT_KIND_None(what, arg, fmt) what##_None(arg, fmt)
#define NKW7_FORMAT_KIND_DoNotInterpret NKW7_FORMAT_KIND_Any
#define NKW7_FORMAT_KIND_Unsigned NKW7_FORMAT_KIND_Any
#define NKW7_FORMAT_KIND_Signed NKW7_FORMAT_KIND_Any
#define NKW7_FORMAT_KIND_S_23_8 NKW7_FORMAT_KIND_Any
#define NKW7_FORMAT_KIND_S_23_40 NKW7_FORMAT_KIND_Any
#define NKW7_FORMAT_KIND_S_31_32 NKW7_FORMAT_KIND_Any
#define NKW7_FORMAT_KIND_Field_Descriptor NKW7_FORMAT_KIND_Any
#define NKW7_FORMAT_KIND_SM_0_12RF NKW7_FORMAT_KIND_Any
#define NKW7_FORMAT_KIND_U_2_9RF9RF NKW7_FORMAT_KIND_Any
#define NKW7_FORMAT_KIND_SM_0_9RF NKW7_FORMAT_KIND_Any
#define NKW7_FORMAT_KIND_URF NKW7_FORMAT_KIND_Any
#define NKW7_FORMAT_KIND_U_0_24 NKW7_FORMAT_KIND_Any

// A format constant exists only where the chip declares a format.
#define NKW7_FORMAT_CONSTANT_Any(constant, fmt) inline constexpr NKW7_FORMAT constant = NKW7_FORMAT::fmt;
#define NKW7_FORMAT_CONSTANT_None(constant, fmt)
// The hasFormat and format columns of a table entry.
#define NKW7_FORMAT_COLUMNS_Any(unused, fmt) true, NKW7_FORMAT::fmt
#define NKW7_FORMAT_COLUMNS_None(unused, fmt) false, NKW7_FORMAT::DoNotInterpret

#define NKW7_DEFINE_REGISTER(name, addr, width, flags, fmt, init)               \
    inline constexpr int NKW7_##name##_Addr = addr;                             \
    inline constexpr int NKW7_##name##_Size = width;                            \
    inline constexpr uint8_t NKW7_##name##_Flags = nkw7_detail::flags;          \
    inline constexpr uint64_t NKW7_##name##_Init = init;                        \
    NKW7_FORMAT_DISPATCH(fmt, NKW7_FORMAT_CONSTANT, NKW7_##name##_Format)
NKW7_REGISTER_TABLE(NKW7_DEFINE_REGISTER)
#undef NKW7_DEFINE_REGISTER

#define NKW7_DEFINE_ALIAS(alias, name)                                          \
    inline constexpr int NKW7_##alias##_Addr = NKW7_##name##_Addr;              \
    inline constexpr int NKW7_##alias##_Size = NKW7_##name##_Size;              \
    inline constexpr uint8_t NKW7_##alias##_Flags = NKW7_##name##_Flags;        \
    inline constexpr uint64_t NKW7_##alias##_Init = NKW7_##name##_Init;
NKW7_REGISTER_ALIASES(NKW7_DEFINE_ALIAS)
#undef NKW7_DEFINE_ALIAS

#define NKW7_DEFINE_FIELD(reg, name, hi, lo, fmt, init)                         \
    inline constexpr int NKW7_##reg##_##name##_HiBit = hi;                      \
    inline constexpr int NKW7_##reg##_##name##_LoBit = lo;                      \
    inline constexpr int NKW7_##reg##_##name##_Size = (hi) - (lo) + 1;          \
    inline constexpr uint8_t NKW7_##reg##_##name##_Flags = NKW7_##reg##_Flags;  \
    inline constexpr uint64_t NKW7_##reg##_##name##_Init = init;                \
    NKW7_FORMAT_DISPATCH(fmt, NKW7_FORMAT_CONSTANT, NKW7_##reg##_##name##_Format)
NKW7_FIELD_TABLE(NKW7_DEFINE_FIELD)
#undef NKW7_DEFINE_FIELD

// The command word that heads every command in a command block. It is not a
// register; its fields share the constant family of the registers.
inline constexpr int NKW7_CommandHeader_Addr = -1;
inline constexpr int NKW7_CommandHeader_Size = 64;
#define NKW7_COMMAND_HEADER_FIELDS(X)                                               \
    X(cmd, 63, 60)          /* the command code */                                  \
    X(interrupt, 59, 59)    /* raise an interrupt after the command */              \
    X(haltAll, 58, 58)      /* halt all queues */                                   \
    X(halt, 57, 57)         /* halt this queue */                                   \
    X(refetch, 55, 55)      /* sync: re-read the register while waiting */         \
    X(mask, 55, 12)         /* loadReg: bit 12 + i set = register base + 8i follows */ \
    X(operands, 55, 0)      /* the operand area */                                  \
    X(testValue, 47, 16)    /* sync: 32-bit comparison value */                     \
    X(incrAmount, 23, 12)   /* incrReg: increment */                                \
    X(test, 15, 12)         /* sync: comparison code */                             \
    X(count, 15, 0)         /* dmaIn / dmaOut: number of descriptor pairs */        \
    X(reg, 11, 0)           /* register byte address */
#define NKW7_DEFINE_HEADER_FIELD(name, hi, lo)                                  \
    inline constexpr int NKW7_CommandHeader_##name##_HiBit = hi;                \
    inline constexpr int NKW7_CommandHeader_##name##_LoBit = lo;                \
    inline constexpr int NKW7_CommandHeader_##name##_Size = (hi) - (lo) + 1;    \
    inline constexpr uint64_t NKW7_CommandHeader_##name##_Init = 0;
NKW7_COMMAND_HEADER_FIELDS(NKW7_DEFINE_HEADER_FIELD)
#undef NKW7_DEFINE_HEADER_FIELD
#undef NKW7_COMMAND_HEADER_FIELDS

// Command codes of the cmd field; 9 .. 15 are no command.
inline constexpr uint32_t NKW7_CommandHeader_cmd_noop = 0;
inline constexpr uint32_t NKW7_CommandHeader_cmd_dmaOut = 1;
inline constexpr uint32_t NKW7_CommandHeader_cmd_dmaIn = 2;
inline constexpr uint32_t NKW7_CommandHeader_cmd_sync = 3;
inline constexpr uint32_t NKW7_CommandHeader_cmd_loadReg = 4;
inline constexpr uint32_t NKW7_CommandHeader_cmd_storeReg = 5;
inline constexpr uint32_t NKW7_CommandHeader_cmd_incrReg = 6;
inline constexpr uint32_t NKW7_CommandHeader_cmd_call = 7;
inline constexpr uint32_t NKW7_CommandHeader_cmd_return = 8;

// Comparison codes of a sync's test field: wait until (register test value).
inline constexpr uint32_t NKW7_CommandHeader_test_fail = 0;
inline constexpr uint32_t NKW7_CommandHeader_test_less = 1;
inline constexpr uint32_t NKW7_CommandHeader_test_lessOrEqual = 2;
inline constexpr uint32_t NKW7_CommandHeader_test_equal = 3;
inline constexpr uint32_t NKW7_CommandHeader_test_greaterOrEqual = 4;
inline constexpr uint32_t NKW7_CommandHeader_test_greater = 5;
inline constexpr uint32_t NKW7_CommandHeader_test_notEqual = 6;
inline constexpr uint32_t NKW7_CommandHeader_test_succeed = 7;

// Table codes of RenderOperation.select.
inline constexpr uint32_t NKW7_RenderOperation_select_lut0 = 0;
inline constexpr uint32_t NKW7_RenderOperation_select_lut1 = 1;
inline constexpr uint32_t NKW7_RenderOperation_select_lut2 = 2;
inline constexpr uint32_t NKW7_RenderOperation_select_lut3 = 3;
inline constexpr uint32_t NKW7_RenderOperation_select_specular = 4;
inline constexpr uint32_t NKW7_RenderOperation_select_diffuse = 5;
inline constexpr uint32_t NKW7_RenderOperation_select_gradientMag = 6;
inline constexpr uint32_t NKW7_RenderOperation_select_alphaCorrection = 7;

// ---------------------------------------------------------------------------
// The tables as data.

struct NKW7_FieldEntry {
    const char* name;
    uint16_t registerAddr;
    uint8_t hiBit;
    uint8_t loBit;
    bool hasFormat;  // false: the chip declares no format for the field
    NKW7_FORMAT format;
    uint64_t init;

    constexpr int Size() const { return hiBit - loBit + 1; }
};

struct NKW7_RegisterEntry {
    const char* name;
    const char* alias;  // the second name of the address, or nullptr
    uint16_t addr;
    uint8_t width;  // 32 or 64
    uint8_t flags;
    bool hasFormat;  // false: the chip declares no format for the whole register
    NKW7_FORMAT format;
    uint64_t init;
    uint16_t firstField;  // index into NKW7_Fields
    uint16_t fieldCount;

    constexpr bool IsReadable() const { return (flags & NKW7_Flags_Readable) != 0; }
    constexpr bool IsWriteable() const { return (flags & NKW7_Flags_Writeable) != 0; }
    constexpr bool IsSyncable() const { return (flags & NKW7_Flags_Syncable) != 0; }
};

namespace nkw7_detail {

constexpr bool SameName(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

#define NKW7_COUNT_ONE(...) +1
inline constexpr size_t kRegisterCount = 0 NKW7_REGISTER_TABLE(NKW7_COUNT_ONE);
inline constexpr size_t kFieldCount = 0 NKW7_FIELD_TABLE(NKW7_COUNT_ONE);
#undef NKW7_COUNT_ONE

inline constexpr std::array<NKW7_FieldEntry, kFieldCount> kFields = {{
#define NKW7_FIELD_ENTRY(reg, name, hi, lo, fmt, init) \
    {#name, NKW7_##reg##_Addr, hi, lo, NKW7_FORMAT_DISPATCH(fmt, NKW7_FORMAT_COLUMNS, 0), init},
    NKW7_FIELD_TABLE(NKW7_FIELD_ENTRY)
#undef NKW7_FIELD_ENTRY
}};

struct AliasEntry {
    const char* name;
    const char* alias;
};
inline constexpr AliasEntry kAliases[] = {
#define NKW7_ALIAS_ENTRY(alias, name) {#name, #alias},
    NKW7_REGISTER_ALIASES(NKW7_ALIAS_ENTRY)
#undef NKW7_ALIAS_ENTRY
};

constexpr const char* AliasOf(const char* name) {
    for (const AliasEntry& entry : kAliases) {
        if (SameName(entry.name, name)) return entry.alias;
    }
    return nullptr;
}

constexpr std::array<NKW7_RegisterEntry, kRegisterCount> BuildRegisters() {
    std::array<NKW7_RegisterEntry, kRegisterCount> registers = {{
#define NKW7_REGISTER_ENTRY(name, addr, width, flags, fmt, init)                         \
    {#name, AliasOf(#name), addr, width, flags, NKW7_FORMAT_DISPATCH(fmt, NKW7_FORMAT_COLUMNS, 0), \
     init, 0, 0},
        NKW7_REGISTER_TABLE(NKW7_REGISTER_ENTRY)
#undef NKW7_REGISTER_ENTRY
    }};
    // The field table lists each register's fields together, in address order.
    size_t field = 0;
    for (NKW7_RegisterEntry& reg : registers) {
        reg.firstField = static_cast<uint16_t>(field);
        while (field < kFields.size() && kFields[field].registerAddr == reg.addr) ++field;
        reg.fieldCount = static_cast<uint16_t>(field - reg.firstField);
    }
    return registers;
}

constexpr std::array<int16_t, NKW7_Size_Array> BuildSlots(
    const std::array<NKW7_RegisterEntry, kRegisterCount>& registers) {
    std::array<int16_t, NKW7_Size_Array> slots{};
    for (int16_t& slot : slots) slot = -1;
    for (size_t i = 0; i < registers.size(); ++i) slots[registers[i].addr >> 2] = static_cast<int16_t>(i);
    return slots;
}

}  // namespace nkw7_detail

// Every register, in address order; every field, register by register.
inline constexpr std::array<NKW7_RegisterEntry, nkw7_detail::kRegisterCount> NKW7_Registers =
    nkw7_detail::BuildRegisters();
inline constexpr const std::array<NKW7_FieldEntry, nkw7_detail::kFieldCount>& NKW7_Fields =
    nkw7_detail::kFields;

namespace nkw7_detail {
inline constexpr std::array<int16_t, NKW7_Size_Array> kSlots = BuildSlots(NKW7_Registers);

constexpr size_t FieldsClaimed() {
    size_t n = 0;
    for (const NKW7_RegisterEntry& reg : NKW7_Registers) n += reg.fieldCount;
    return n;
}
static_assert(FieldsClaimed() == kFieldCount,
              "the field table must list each register's fields together, in address order");
}  // namespace nkw7_detail

// The register at a byte address, or nullptr when none lives there (also for
// unaligned addresses and addresses beyond the map).
constexpr const NKW7_RegisterEntry* NKW7_FindRegister(uint32_t addr) {
    if ((addr & 3) != 0 || addr > static_cast<uint32_t>(NKW7_Max_Addr)) return nullptr;
    const int16_t slot = nkw7_detail::kSlots[addr >> 2];
    return slot < 0 ? nullptr : &NKW7_Registers[static_cast<size_t>(slot)];
}

// Width in bits of the register at addr (32 or 64), 0 where there is none.
constexpr int NKW7_RegisterWidth(uint32_t addr) {
    const NKW7_RegisterEntry* reg = NKW7_FindRegister(addr);
    return reg ? reg->width : 0;
}

// Access flags of the register at addr, 0 where there is none.
constexpr uint8_t NKW7_RegisterFlags(uint32_t addr) {
    const NKW7_RegisterEntry* reg = NKW7_FindRegister(addr);
    return reg ? reg->flags : 0;
}

// The bit fields of a register, every alternative view of the same bits included.
constexpr std::span<const NKW7_FieldEntry> NKW7_FieldsOf(const NKW7_RegisterEntry& reg) {
    return std::span<const NKW7_FieldEntry>(NKW7_Fields).subspan(reg.firstField, reg.fieldCount);
}

// Bits [lowBit, lowBit + sizeBits) of a 64-bit word, moved down to bit 0.
constexpr uint64_t NKW7_ExtractField(uint64_t word, int lowBit, int sizeBits) {
    const uint64_t shifted = lowBit >= 64 ? 0 : word >> lowBit;
    return sizeBits >= 64 ? shifted : shifted & ((uint64_t{1} << sizeBits) - 1);
}

#undef NKW7_FORMAT_DISPATCH
#undef NKW7_FORMAT_KIND_Any
#undef NKW7_FORMAT_KIND_None
#undef NKW7_FORMAT_KIND_DoNotInterpret
#undef NKW7_FORMAT_KIND_Unsigned
#undef NKW7_FORMAT_KIND_Signed
#undef NKW7_FORMAT_KIND_S_23_8
#undef NKW7_FORMAT_KIND_S_23_40
#undef NKW7_FORMAT_KIND_S_31_32
#undef NKW7_FORMAT_KIND_Field_Descriptor
#undef NKW7_FORMAT_KIND_SM_0_12RF
#undef NKW7_FORMAT_KIND_U_2_9RF9RF
#undef NKW7_FORMAT_KIND_SM_0_9RF
#undef NKW7_FORMAT_KIND_URF
#undef NKW7_FORMAT_KIND_U_0_24
#undef NKW7_FORMAT_CONSTANT_Any
#undef NKW7_FORMAT_CONSTANT_None
#undef NKW7_FORMAT_COLUMNS_Any
#undef NKW7_FORMAT_COLUMNS_None
#undef NKW7_FIELD_TABLE
#undef NKW7_REGISTER_ALIASES
#undef NKW7_REGISTER_TABLE
