// The host's device registry: the operating system's directory of driver
// services. A program finds the services of a class by name, iterates over
// them in registry order, opens a connection to one and calls the service's
// methods with scalar arguments on that connection.
//
// Every call is synchronous on the calling thread; a failing call also sets
// errno. Objects handed out (iterators and services) are released with
// ReleaseObject; connections are closed with CloseService.
#pragma once

#include <cstdint>

namespace devreg {

using Object = uint32_t;      // an iterator or a service; 0 is no object
using Connection = uint32_t;  // an open connection to a service; 0 is none

enum Result : int32_t {
    kSuccess = 0,
    kErrorUnavailable = 1,       // the registry (or a service) cannot be reached
    kErrorNotFound = 2,          // no such class, object or connection
    kErrorBadArgument = 3,       // a null pointer, too many scalars
    kErrorNotPermitted = 4,      // the service refused the call
    kErrorUnsupported = 5,       // the service has no such method
};

// The port through which the registry is reached; needed by the lookup.
Result GetRegistryPort(Object* port);

// Looks up every service registered under a class name and returns an
// iterator over them. A class without services still yields an iterator,
// which is simply empty.
Result GetMatchingServices(Object port, const char* className, Object* iterator);

// The next service of an iterator, or 0 when it is exhausted. Each returned
// service is a new reference the caller releases.
Object IteratorNext(Object iterator);

// Gives back an iterator or a service.
Result ReleaseObject(Object object);

// Opens a connection to a service; the service object itself stays the
// caller's to release.
Result OpenService(Object service, Connection* connection);

// Closes a connection. Whatever the service still holds for the connection's
// clients is torn down.
Result CloseService(Connection connection);

// Calls method `selector` of the service behind a connection with
// `inputCount` scalar inputs, receiving `outputCount` scalar outputs.
Result CallMethod(Connection connection, uint32_t selector, const uint64_t* input,
                  uint32_t inputCount, uint64_t* output, uint32_t outputCount);

}  // namespace devreg
