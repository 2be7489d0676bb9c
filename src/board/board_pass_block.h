// The command block of a pass the library runs on a board outside the
// render engine: a counter reset, the pass's register programme, and a
// closing check that the pass has run, submitted as one render.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "board/kwb_board.h"
#include "board/kwb_buffer.h"
#include "board/kwb_command_buffer.h"
#include "board/kwb_render_submission.h"
#include "foundation/transform_register.h"
#include "tulx7/register_map.h"
#include "ulm3/status.h"
#include "ulm3/sync_event.h"

namespace ulm3 {

// One register load of a programme. The name travels with it because the
// register map keeps no names at run time, and a failed write is reported
// by name.
struct ULMPassRegister {
    uint32_t address;
    const char* name;
    uint64_t value;
};

#define ULM_PASS_REGISTER(reg, value) \
    ::ulm3::ULMPassRegister { NKW7_##reg##_Addr, #reg, static_cast<uint64_t>(value) }

// A 16-bit coordinate field of a range register: a negative value, or one
// beyond 16 bits, is written as 0xFFFF.
uint64_t ULMPassCoordinate(int64_t inValue);
// x in bits 15..0, y in 31..16, z in 47..32.
uint64_t ULMPassCoordinates(int64_t inX, int64_t inY, int64_t inZ);

// What the board passes set; everything else of their programme is fixed:
// no shear or perspective, no cut planes or crop, lighting that keeps the
// colour, and depth tests that always pass. The defaults are the image
// passes': no axis exchange, trilinear fields, every table bypassed, and a
// render that bumps Scratch7 when done.
struct ULMImagePassValues {
    uint64_t frustumMin = 0, frustumMax = 0;  // packed coordinates
    uint32_t transform = kULMIdentityTransform;
    uint32_t image0Fields = 0, image1Fields = 0;
    uint32_t trims[6] = {};  // X min, X max, Y min, Y max, Z min, Z max
    int64_t origin[3] = {};  // S23.40
    int64_t step[3] = {};    // dXv8_dXs, dYv8_dYs, dZv8_dZs
    // dXv8_dZs, dYv8_dZs, dYv8_dZv, dXv8_dZv, dYv8_dXs, dXv8_dYs: a warp's
    // shear and exchange of axes.
    int64_t cross[6] = {};
    uint64_t voxelFormat = 0;
    uint64_t voxelBorder = 0;
    uint32_t lookupTableFormat[4] = {};
    uint32_t alu[3] = {};
    uint64_t accumValue = 0, lastValue = 0;  // ImageAccumValue, ImageLastValue
    uint32_t section = 0;
    uint32_t interpolateControl = 0x00001111;
    uint32_t imageControl = 0;
    uint32_t renderOperation = 0x1F550000;
    // An 8 x 8 x 8 volume array at address 0 ahead of the programme, for a
    // pass that binds no volume and so samples nothing.
    bool dummyVolume = false;
};

// The registers from ViewFrustumRangeMin to RenderOperation in the order
// the passes write them.
std::vector<ULMPassRegister> ULMImagePassProgramme(const ULMImagePassValues& inValues);

// The buffers a render binds: null where absent. The write mask names the
// buffers the render writes (1 image 0, 2 image 1, 4 depth 0, 8 depth 1).
struct ULMBoardRenderBuffers {
    KWBBuffer* volume = nullptr;
    KWBBuffer* image0 = nullptr;
    KWBBuffer* image1 = nullptr;
    KWBBuffer* depth0 = nullptr;
    KWBBuffer* depth1 = nullptr;
    uint32_t writeMask = 0;
    KWBBuffer* luts[4] = {};
    KWBBuffer* diffuseMap = nullptr;
    KWBBuffer* specularMap = nullptr;
    KWBBuffer* gradientTable = nullptr;
    KWBBuffer* alphaCorrectionTable = nullptr;
};

// inJob's event joined with the loads of what it reads, the volume and
// every table and map, that are still running or failed: the board starts a
// job once the loads it follows are over, whatever became of them, so their
// failures reach a handle of the job only this way. A load aborted before
// it ran changed nothing, and is not joined.
ULMSyncEvent ULMWithInputLoads(const ULMSyncEvent& inJob, const ULMBoardRenderBuffers& inBuffers);

class ULMBoardPassBlock {
public:
    // Room the passes ask for; the board clamps what it grants.
    static constexpr int kCommandWords = 20000;

    // Takes ownership of inCommands, which may be null (Open then fails).
    // inFailureFormat is printed for each register write that fails, with
    // the register's name, the status name and the status number.
    ULMBoardPassBlock(KWBCommandBuffer* inCommands, const char* inFailureFormat);
    ~ULMBoardPassBlock();
    ULMBoardPassBlock(const ULMBoardPassBlock&) = delete;
    ULMBoardPassBlock& operator=(const ULMBoardPassBlock&) = delete;

    // Opens the block and resets Scratch7, which the pass's render bumps
    // when it is done. kULMErrAlloc without a command buffer; a failed
    // reset closes and gives back the block and returns its status.
    ULMStatus Open();
    // What a failed write's message is given after the register's name:
    // the status name and number, or the number alone.
    enum class FailureArguments { kStatusNameAndNumber, kNumber };
    // A failed write is reported and the programme goes on: the chip runs
    // what did reach the block.
    void Write(std::span<const ULMPassRegister> inProgramme,
               FailureArguments inArguments = FailureArguments::kStatusNameAndNumber);
    // The closing check that the render ran, and the end of the block; the
    // status of ending it.
    ULMStatus Close();
    // Submits the closed block with no state block, with the four lookup
    // tables (null: none), after inLastRender. The default, an event that
    // already failed, has the pass wait only for what its buffers are
    // waiting for.
    ULMSyncEvent Submit(KWBBoard* inBoard, KWBBuffer* inVolume, KWBBuffer* inImage0,
                        KWBBuffer* inImage1, uint32_t inWriteMask, KWBBuffer* const* inLuts = nullptr,
                        ULMSyncEvent inLastRender = ULMSyncEvent(kULMErrArgument));

    // Submits the closed block as a render after inLastRender, with its
    // buffers and tables.
    ULMSyncEvent SubmitRender(KWBBoard* inBoard, const ULMSyncEvent& inLastRender,
                              const ULMBoardRenderBuffers& inBuffers);

    KWBCommandBuffer* Commands() const { return m_commands.get(); }
    uint32_t BlockID() const { return m_blockID; }
    uint32_t BlockSize() const { return m_blockSize; }

private:
    std::unique_ptr<KWBCommandBuffer> m_commands;
    const char* m_failureFormat;
    uint32_t m_blockID = 0;
    uint32_t m_blockSize = 0;
};

}  // namespace ulm3
