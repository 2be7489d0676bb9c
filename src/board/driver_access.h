// The lowest layer of the board stack: a connection to the kernel driver of
// one board, found through the host's device registry, and the passing of
// request records to it.
#pragma once

#include <cstdint>

namespace ulm3 {

// A driver connection: the registry connection and the client id the driver
// gave when the client was opened. Both words 0 is a closed handle.
struct Tulx7_dr_handle {
    uint32_t connection = 0;
    uint32_t clientId = 0;

    bool IsClosed() const { return connection == 0 && clientId == 0; }
};

// Prefix of the board device names; the board index follows in two digits.
inline constexpr char kTulx7DeviceNamePrefix[] = "/dev/tulx";

// Open statuses; they are driver statuses and translate like any other.
inline constexpr int kTulx7OpenSuccess = 0;
inline constexpr int kTulx7OpenNoDriver = 1;      // service not matched or not opened
inline constexpr int kTulx7OpenRefused = 2;       // the driver refused the client
inline constexpr int kTulx7OpenNoService = 3;     // no service for the board index
inline constexpr int kTulx7OpenNoRegistry = 9;    // the registry port is unavailable

// Opens the board whose index the device name carries ("/dev/tulx%02d").
// The handle is all zeros unless the open succeeds; the outcome is in
// *status.
void tulx7_dr_open(const char* device_name, Tulx7_dr_handle* dr_handle, int* status);

// Passes one request record to the driver. The outcome is the record's first
// word; a request that never reached the driver leaves status 4 there unless
// the driver had already written one.
void tulx7_dr_ioctl(Tulx7_dr_handle dr_handle, uint32_t command, void* data);

// Closes the client and its connection. Nothing is reported.
void tulx7_dr_close(Tulx7_dr_handle dr_handle);

// The calling thread's last system error number.
int tulx7_dr_get_os_error();

}  // namespace ulm3
