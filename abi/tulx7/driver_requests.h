// The contract between the library and the boards' kernel driver: the
// methods of the driver's client, the request codes, the record that travels
// with each request and the statuses the driver answers with.
//
// Both sides compile this same header, so it depends on nothing but the
// fixed-width integers. Records are native structs in the driver's field
// order; host addresses and host lengths are 64 bits wide so that a pointer
// survives the trip, everything else keeps the driver's 32-bit fields. Every
// field starts out 0, so a record declared on the stack never carries stale
// words into the driver.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// The driver's service and its client methods.

// Class name under which the driver's service is registered, one service per
// board in board order.
inline constexpr char TULX7_DR_SERVICE_CLASS[] = "Quilder";

// Method selectors of a connection to the service. Open-client takes no
// input and answers the client id; close-client takes the client id; a
// request takes the client id, the request code and the record's address.
enum Tulx7_dr_selector : uint32_t {
    TULX7_DR_SELECTOR_OPEN_CLIENT = 0,
    TULX7_DR_SELECTOR_CLOSE_CLIENT = 1,
    TULX7_DR_SELECTOR_REQUEST = 2,
};

// ---------------------------------------------------------------------------
// Request codes: read-write control codes of group 'V', size 4.

enum Tulx7_dr_request : uint32_t {
    TULX7_DR_GET_CONFIGURATION = 0xC0045601,
    TULX7_DR_RENDER = 0xC0045604,
    TULX7_DR_SYNC = 0xC0045605,
    TULX7_DR_ABORT = 0xC0045608,
    TULX7_DR_HOST_BUFFER_ALLOC = 0xC004560A,
    TULX7_DR_HOST_BUFFER_FREE = 0xC004560B,
    TULX7_DR_GET_BOARD_PEERS = 0xC004560F,
    TULX7_DR_BUFFER_ALLOCATE = 0xC0045610,
    TULX7_DR_BUFFER_ATTACH = 0xC0045611,
    TULX7_DR_BUFFER_SET_PERMISSION = 0xC0045612,
    TULX7_DR_BUFFER_DETACH = 0xC0045613,
    TULX7_DR_BUFFER_LOAD = 0xC0045614,
    TULX7_DR_BUFFER_UNLOAD = 0xC0045615,
    TULX7_DR_BUFFER_MAP = 0xC0045616,
    TULX7_DR_BUFFER_UNMAP = 0xC0045617,
    TULX7_DR_BUFFER_BOARD2BOARD = 0xC0045618,
    TULX7_DR_DEBUG_CQUEUE_DUMP = 0xC0045630,
};

inline constexpr int TULX7_DR_REQUEST_COUNT = 17;

// ---------------------------------------------------------------------------
// Shared constants.

// An event id or buffer id of all ones names nothing: no event to wait for,
// no buffer in that slot. Event id 0 is never issued either.
inline constexpr uint32_t TULX7_DR_NO_EVENT = 0xFFFFFFFFu;
inline constexpr uint32_t TULX7_DR_NO_BUFFER = 0xFFFFFFFFu;
// host_buffer_id of a transfer from or into plain host memory.
inline constexpr int32_t TULX7_DR_PLAIN_HOST_MEMORY = -1;

// Most host bytes one load or unload may carry.
inline constexpr uint32_t TULX7_DR_MAX_TRANSFER_BYTES = 0xEF000;
// Most command words in one render or state block.
inline constexpr int32_t TULX7_DR_MAX_COMMAND_WORDS = 40000;
// Most events one wait request may name.
inline constexpr int32_t TULX7_DR_MAX_SYNC_EVENTS = 8;

// Sync selection.
inline constexpr int32_t TULX7_DR_WAIT_ALL = 1;
inline constexpr int32_t TULX7_DR_WAIT_ANY = 2;

// Buffer permission bits (permission_share of buffer requests).
inline constexpr int32_t TULX7_DR_PERMISSION_READ = 1;
inline constexpr int32_t TULX7_DR_PERMISSION_WRITE = 2;
inline constexpr int32_t TULX7_DR_PERMISSION_ALWAYS = 4;
inline constexpr int32_t TULX7_DR_PERMISSION_RESIZE = 8;

// Access bits of a mapping (access_share of the map request).
inline constexpr int32_t TULX7_DR_MAP_READ = 1;
inline constexpr int32_t TULX7_DR_MAP_WRITE = 2;
inline constexpr int32_t TULX7_DR_MAP_SHARED = 4;

// Driver queues, as named by the queue dump.
inline constexpr uint32_t TULX7_DR_QUEUE_DMA_IN = 0;
inline constexpr uint32_t TULX7_DR_QUEUE_DMA_OUT = 1;
inline constexpr uint32_t TULX7_DR_QUEUE_RENDER = 2;

// ---------------------------------------------------------------------------
// Driver statuses: the first word of every record after a request.

enum Tulx7_dr_status : int32_t {
    TULX7_DR_STATUS_SUCCESS = 0,
    TULX7_DR_STATUS_DEVICE_ACCESS_DENIED = 1,
    TULX7_DR_STATUS_DEVICE_OPEN_MAX = 2,
    TULX7_DR_STATUS_DEVICE_SYSTEM_OPEN_MAX = 3,
    TULX7_DR_STATUS_DEVICE_MISC_ERROR = 4,
    TULX7_DR_STATUS_MISC_ERROR = 5,
    TULX7_DR_STATUS_HW_ERROR = 6,
    TULX7_DR_STATUS_INVALID_ID = 7,
    TULX7_DR_STATUS_NOT_OWNER = 8,
    TULX7_DR_STATUS_OUT_OF_HOST_RESOURCES = 9,
    TULX7_DR_STATUS_OUT_OF_HW_MEMORY = 10,
    TULX7_DR_STATUS_OUT_OF_KERNEL_MEMORY = 11,
    TULX7_DR_STATUS_OUT_OF_BUFFER_DATA_STRUCTURES = 12,
    TULX7_DR_STATUS_DATA_COPY_FAILED = 13,
    TULX7_DR_STATUS_PHYSIO_FAILED = 14,
    TULX7_DR_STATUS_MAP_FAILED = 15,
    TULX7_DR_STATUS_SIGNAL = 16,
    TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED = 17,
    TULX7_DR_STATUS_OUT_OF_BUFFER_RECORDS = 18,
    TULX7_DR_STATUS_MALLOC_FAILED = 19,
    TULX7_DR_STATUS_INCORRECT_ADDRESS_SPACE = 20,
    TULX7_DR_STATUS_OUT_OF_MAP_DATA_STRUCTURES = 21,
    TULX7_DR_STATUS_KERNEL_MAP_MAX = 22,
    TULX7_DR_STATUS_NOT_MAPPED = 23,
    TULX7_DR_STATUS_PERMISSION_BAD = 24,
    TULX7_DR_STATUS_KERNEL_BUFFER_ALREADY_FREED = 25,
    TULX7_DR_STATUS_VERSION_MISMATCH = 26,
    TULX7_DR_STATUS_SIM_SERVER_NOT_INITED = 27,
    TULX7_DR_STATUS_ARG_BAD = 28,
    TULX7_DR_STATUS_HOST_RANGE_BAD = 29,
    TULX7_DR_STATUS_HW_RANGE_BAD = 30,
    TULX7_DR_STATUS_OUT_OF_MAP_PORTS = 31,
    TULX7_DR_STATUS_OUT_OF_BUS_ADDRESS_SPACE = 32,
    TULX7_DR_STATUS_HWMEM_MAP_MAX = 33,
    TULX7_DR_STATUS_COMPACT_DISABLED = 34,
    TULX7_DR_STATUS_NOT_POWER_OF_2 = 35,
    TULX7_DR_STATUS_COMMAND_QUEUE_FULL = 36,
    TULX7_DR_STATUS_SUB_FUNCT_NOT_IMPLEMENTED = 37,
    TULX7_DR_STATUS_HW_NOT_SUPPORTED = 38,
    TULX7_DR_STATUS_PORTAL_BUSY = 39,
    TULX7_DR_STATUS_ALREADY_COMPLETE = 40,
    // What a wait reports for work that an abort took off its queue.
    TULX7_DR_STATUS_ABORTED = 41,
};

inline constexpr int TULX7_DR_STATUS_COUNT = 42;

// Names of the statuses, indexed by status.
inline constexpr const char* tulx7_dr_status_strings[TULX7_DR_STATUS_COUNT] = {
    "TULX7_DR_STATUS_SUCCESS",
    "TULX7_DR_STATUS_DEVICE_ACCESS_DENIED",
    "TULX7_DR_STATUS_DEVICE_OPEN_MAX",
    "TULX7_DR_STATUS_DEVICE_SYSTEM_OPEN_MAX",
    "TULX7_DR_STATUS_DEVICE_MISC_ERROR",
    "TULX7_DR_STATUS_MISC_ERROR",
    "TULX7_DR_STATUS_HW_ERROR",
    "TULX7_DR_STATUS_INVALID_ID",
    "TULX7_DR_STATUS_NOT_OWNER",
    "TULX7_DR_STATUS_OUT_OF_HOST_RESOURCES",
    "TULX7_DR_STATUS_OUT_OF_HW_MEMORY",
    "TULX7_DR_STATUS_OUT_OF_KERNEL_MEMORY",
    "TULX7_DR_STATUS_OUT_OF_BUFFER_DATA_STRUCTURES",
    "TULX7_DR_STATUS_DATA_COPY_FAILED",
    "TULX7_DR_STATUS_PHYSIO_FAILED",
    "TULX7_DR_STATUS_MAP_FAILED",
    "TULX7_DR_STATUS_SIGNAL",
    "TULX7_DR_STATUS_IOCTL_NOT_IMPLEMENTED",
    "TULX7_DR_STATUS_OUT_OF_BUFFER_RECORDS",
    "TULX7_DR_STATUS_MALLOC_FAILED",
    "TULX7_DR_STATUS_INCORRECT_ADDRESS_SPACE",
    "TULX7_DR_STATUS_OUT_OF_MAP_DATA_STRUCTURES",
    "TULX7_DR_STATUS_KERNEL_MAP_MAX",
    "TULX7_DR_STATUS_NOT_MAPPED",
    "TULX7_DR_STATUS_PERMISSION_BAD",
    "TULX7_DR_STATUS_KERNEL_BUFFER_ALREADY_FREED",
    "TULX7_DR_STATUS_VERSION_MISMATCH",
    "TULX7_DR_STATUS_SIM_SERVER_NOT_INITED",
    "TULX7_DR_STATUS_ARG_BAD",
    "TULX7_DR_STATUS_HOST_RANGE_BAD",
    "TULX7_DR_STATUS_HW_RANGE_BAD",
    "TULX7_DR_STATUS_OUT_OF_MAP_PORTS",
    "TULX7_DR_STATUS_OUT_OF_BUS_ADDRESS_SPACE",
    "TULX7_DR_STATUS_HWMEM_MAP_MAX",
    "TULX7_DR_STATUS_COMPACT_DISABLED",
    "TULX7_DR_STATUS_NOT_POWER_OF_2",
    "TULX7_DR_STATUS_COMMAND_QUEUE_FULL",
    "TULX7_DR_STATUS_SUB_FUNCT_NOT_IMPLEMENTED",
    "TULX7_DR_STATUS_HW_NOT_SUPPORTED",
    "TULX7_DR_STATUS_PORTAL_BUSY",
    "TULX7_DR_STATUS_ALREADY_COMPLETE",
    "TULX7_DR_STATUS_ABORTED",
};

// ---------------------------------------------------------------------------
// Shared sub-records.

struct Tulx7_dr_buffer_element {
    int32_t x = 0;
    int32_t y = 0;
    int32_t z = 0;
};

struct Tulx7_dr_buffer_size {
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;
};

struct Tulx7_dr_buffer_descriptor {
    int32_t dimension = 0;     // axes - 1: 0, 1 or 2
    int32_t element_size = 0;  // bytes per element - 1
    Tulx7_dr_buffer_size buffer_size;
};

struct Tulx7_dr_array_addressing {
    Tulx7_dr_buffer_element subbuffer_min;   // first element, inclusive
    Tulx7_dr_buffer_element subbuffer_max;   // last element, inclusive
    Tulx7_dr_buffer_element offset_modulus;  // offset, or under wrap the modulus - 1
    int32_t wrap = 0;                        // 1: wrapped addressing
};

struct Tulx7_dr_event {
    uint32_t event_id = 0;
    int32_t event_occurred = 0;  // set by the driver
};

struct Tulx7_dr_volimgdepth_entry {
    uint32_t buffer_id = 0;  // TULX7_DR_NO_BUFFER: nothing in this slot
    Tulx7_dr_array_addressing addr;
};

struct Tulx7_dr_lut_cache {
    uint32_t buffer_id = 0;      // TULX7_DR_NO_BUFFER: no table
    uint32_t sequence_no = 0;    // the table buffer's load count
    uint16_t valid_entries = 0;  // 64-bit entries
    uint16_t padding = 0;
};

// ---------------------------------------------------------------------------
// Request records. Each begins with the status the driver answers with.

// TULX7_DR_GET_CONFIGURATION; every field is an output.
struct Tulx7_dr_configuration {
    int32_t status = 0;
    int32_t pci_rev = 0;
    int32_t memory_size = 0;  // megabytes
    int32_t memory_size_pci = 0;
    int32_t major_number = 0;
    int32_t minor_number = 0;
    int32_t micro_number = 0;
    int32_t os_version = 0;
    int32_t free_memory = 0;  // bytes
    int32_t locked_memory = 0;
};

// TULX7_DR_RENDER.
struct Tulx7_dr_render {
    int32_t status = 0;
    uint32_t ret_render_event_id = 0;  // out
    uint32_t lut_load_event_id = 0;
    uint32_t load_event_id = 0;
    uint32_t unload_event_id = 0;
    uint64_t pBufferData = 0;         // address of a Tulx7_dr_all_buffers_data
    uint64_t p_render_load_cmds = 0;  // address of the render block's first word
    int32_t render_count = 0;         // words
    uint32_t prev_render_event_id = 0;
    uint64_t p_state_load_cmds = 0;  // 0: no state block
    int32_t state_count = 0;         // 0: no state block
    uint32_t image_depth_dest = 0;   // write mask: 1 image 0, 2 image 1, 4 depth 0, 8 depth 1
};

struct Tulx7_dr_all_buffers_data {
    Tulx7_dr_volimgdepth_entry volume;
    Tulx7_dr_volimgdepth_entry image0;
    Tulx7_dr_volimgdepth_entry image1;
    Tulx7_dr_volimgdepth_entry depth0;
    Tulx7_dr_volimgdepth_entry depth1;
    Tulx7_dr_lut_cache classification_0;
    Tulx7_dr_lut_cache classification_1;
    Tulx7_dr_lut_cache classification_2;
    Tulx7_dr_lut_cache classification_3;
    Tulx7_dr_lut_cache specular_reflectance;
    Tulx7_dr_lut_cache diffuse_reflectance;
    Tulx7_dr_lut_cache gradient_magnitude;
    Tulx7_dr_lut_cache alpha_correction;
};

// TULX7_DR_SYNC.
struct Tulx7_dr_sync {
    int32_t status = 0;
    int32_t wait_status = 0;  // out: 1 when the wait was satisfied
    int32_t selection = 0;    // TULX7_DR_WAIT_ALL or TULX7_DR_WAIT_ANY
    int32_t timeout = 0;      // milliseconds; negative waits without limit, 0 polls
    int32_t event_count = 0;  // 1..TULX7_DR_MAX_SYNC_EVENTS
    int32_t event_occurred_count = 0;  // out
    Tulx7_dr_event event_list[TULX7_DR_MAX_SYNC_EVENTS] = {};
};

// TULX7_DR_ABORT.
struct Tulx7_dr_abort {
    int32_t status = 0;
    uint32_t event_id = 0;
};

// TULX7_DR_HOST_BUFFER_ALLOC.
struct Tulx7_dr_host_buffer_alloc {
    int32_t status = 0;
    int32_t host_buffer_id = 0;  // out
    uint64_t user_address = 0;   // out
    uint64_t user_size = 0;      // in: bytes wanted; out: bytes granted
    int32_t permission_share = 0;
};

// TULX7_DR_HOST_BUFFER_FREE.
struct Tulx7_dr_host_buffer_free {
    int32_t status = 0;
    int32_t host_buffer_id = 0;
    uint64_t user_address = 0;
    uint64_t user_size = 0;
};

// TULX7_DR_GET_BOARD_PEERS; outputs.
struct Tulx7_dr_board_peers {
    int32_t status = 0;
    int32_t peer[8] = {};     // per board index, the index of its peer; -1 for none
    int32_t enabled[8] = {};
};

// TULX7_DR_BUFFER_ALLOCATE, TULX7_DR_BUFFER_ATTACH, TULX7_DR_BUFFER_SET_PERMISSION.
struct Tulx7_dr_buffer_attach {
    int32_t status = 0;
    uint32_t buffer_id = 0;        // out for allocate, in otherwise
    int32_t permission_share = 0;  // in: wanted; out: granted
    Tulx7_dr_buffer_descriptor buffer_descriptor;  // in for allocate and resize, out for attach
};

// TULX7_DR_BUFFER_DETACH.
struct Tulx7_dr_buffer_detach {
    int32_t status = 0;
    uint32_t buffer_id = 0;
};

// TULX7_DR_BUFFER_LOAD (host to board) and TULX7_DR_BUFFER_UNLOAD (board to host).
struct Tulx7_dr_buffer_load {
    int32_t status = 0;
    uint32_t ret_load_event_id = 0;  // out
    uint32_t render_event_id = 0;    // the render this transfer waits for
    uint32_t previous_load_event_id = 0;  // the transfer this one waits for
    uint32_t buffer_id = 0;
    Tulx7_dr_array_addressing addr;
    int32_t host_buffer_id = 0;  // TULX7_DR_PLAIN_HOST_MEMORY or a driver host buffer
    uint64_t host_buffer_address = 0;
    // Host array: element_size is the field's bytes - 1; buffer_size holds the
    // host row length, the rows per slice and the number of slices.
    Tulx7_dr_buffer_descriptor host_descriptor;
    int32_t element_alignment = 0;  // byte position of the field in the board element
    Tulx7_dr_buffer_element host_subbuffer_min;
};

// TULX7_DR_BUFFER_MAP.
struct Tulx7_dr_buffer_map {
    int32_t status = 0;
    uint32_t buffer_id = 0;
    uint32_t map_id = 0;        // out
    int32_t access_share = 0;   // TULX7_DR_MAP_* bits
    Tulx7_dr_array_addressing addr;
    int32_t host_element_size = 0;  // bytes - 1
    int32_t element_alignment = 0;  // byte position
    uint64_t user_address = 0;  // out
    uint64_t user_size = 0;     // out, bytes
};

// TULX7_DR_BUFFER_UNMAP.
struct Tulx7_dr_buffer_unmap {
    int32_t status = 0;
    uint32_t map_id = 0;
    uint64_t user_address = 0;
    uint64_t user_size = 0;
};

// TULX7_DR_BUFFER_BOARD2BOARD.
struct Tulx7_dr_buffer_board2board {
    int32_t status = 0;
    uint32_t src_ret_unload_event_id = 0;  // out
    uint32_t src_render_event_id = 0;
    uint32_t src_load_event_id = 0;
    uint32_t src_buffer_id = 0;
    Tulx7_dr_array_addressing src_addr;
    uint32_t dest_ret_load_event_id = 0;  // out
    uint32_t dest_render_event_id = 0;
    uint32_t dest_unload_event_id = 0;
    uint32_t dest_buffer_id = 0;
    Tulx7_dr_array_addressing dest_addr;
};

// TULX7_DR_DEBUG_CQUEUE_DUMP: count 12 and {queue, 0, 0}.
struct Tulx7_dr_debug_data {
    int32_t status = 0;
    int32_t count = 0;
    uint32_t data_array[3] = {};
};
