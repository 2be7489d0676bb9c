// The platform's entry points: the device registry's functions and the test
// API, each handed to the process-wide driver.
#include "sim_driver.h"
#include "tulx7/device_registry.h"
#include "tulx7sim/test_api.h"

namespace tulx7sim {

void ResetPlatform(const SimConfig& config) { SimDriver::Instance().Reset(config); }

void ResetPlatform() {
    const ConfigParseResult parsed = ConfigFromEnvironment();
    SimDriver::Instance().Reset(parsed.config);
}

bool Configure(const SimConfig& config) { return SimDriver::Instance().Configure(config); }
SimConfig CurrentConfig() { return SimDriver::Instance().Config(); }
void PauseBoard(int board) { SimDriver::Instance().SetPaused(board, true); }
void ResumeBoard(int board) { SimDriver::Instance().SetPaused(board, false); }

void InjectSubmitFailure(uint32_t code, int nth, int32_t status) {
    SimDriver::Instance().InjectSubmitFailure(code, nth, status);
}
void InjectCompletionFailure(uint32_t code, int nth, int32_t status) {
    SimDriver::Instance().InjectCompletionFailure(code, nth, status);
}
void InjectTransportFailure(uint32_t code, int nth) {
    SimDriver::Instance().InjectTransportFailure(code, nth);
}
void SetRegistryPortUnavailable(bool unavailable) {
    SimDriver::Instance().SetRegistryPortUnavailable(unavailable);
}
void SetDriverPresent(bool present) { SimDriver::Instance().SetDriverPresent(present); }
void SetServiceOpenFailure(int board, bool fails) {
    SimDriver::Instance().SetServiceOpenFailure(board, fails);
}
void SetClientOpenRefused(int board, bool refused) {
    SimDriver::Instance().SetClientOpenRefused(board, refused);
}
void SetHostBufferGrantLimit(uint64_t bytes) { SimDriver::Instance().SetHostBufferGrantLimit(bytes); }
std::vector<RequestLogEntry> RequestLog() { return SimDriver::Instance().RequestLog(); }
void ClearRequestLog() { SimDriver::Instance().ClearRequestLog(); }
std::vector<std::string> DriverLog() { return SimDriver::Instance().DriverLog(); }
Stats GetStats() { return SimDriver::Instance().GetStats(); }
bool WaitForIdle(int timeoutMs) { return SimDriver::Instance().WaitForIdle(timeoutMs); }
bool GetBufferInfo(uint32_t bufferId, BufferInfo& info) {
    return SimDriver::Instance().GetBufferInfo(bufferId, info);
}
bool ReadBufferMemory(uint32_t bufferId, uint64_t byteOffset, void* destination, size_t bytes) {
    return SimDriver::Instance().AccessBufferMemory(bufferId, byteOffset, destination, bytes, false);
}
bool WriteBufferMemory(uint32_t bufferId, uint64_t byteOffset, const void* source, size_t bytes) {
    return SimDriver::Instance().AccessBufferMemory(bufferId, byteOffset, const_cast<void*>(source),
                                                    bytes, true);
}
bool ReadBoardRegister(int board, uint32_t address, uint64_t& value) {
    return SimDriver::Instance().ReadRegister(board, address, value);
}

}  // namespace tulx7sim

// The registry's entry points.
namespace devreg {

using tulx7sim::SimDriver;

Result GetRegistryPort(Object* port) { return SimDriver::Instance().GetRegistryPort(port); }

Result GetMatchingServices(Object port, const char* className, Object* iterator) {
    return SimDriver::Instance().GetMatchingServices(port, className, iterator);
}

Object IteratorNext(Object iterator) { return SimDriver::Instance().IteratorNext(iterator); }

Result ReleaseObject(Object object) { return SimDriver::Instance().ReleaseObject(object); }

Result OpenService(Object service, Connection* connection) {
    return SimDriver::Instance().OpenService(service, connection);
}

Result CloseService(Connection connection) {
    return SimDriver::Instance().CloseService(connection);
}

Result CallMethod(Connection connection, uint32_t selector, const uint64_t* input,
                  uint32_t inputCount, uint64_t* output, uint32_t outputCount) {
    return SimDriver::Instance().CallMethod(connection, selector, input, inputCount, output,
                                            outputCount);
}

}  // namespace devreg
