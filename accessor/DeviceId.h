// The device identifier: the machine's hardware UUID, "-", and the first
// network adapter's hardware address ("00-1A-2B-3C-4D-5E"), at most 54
// characters.
#ifndef VANTA_ACCESSOR_DEVICE_ID_H_
#define VANTA_ACCESSOR_DEVICE_ID_H_

#include <string>

#include "platform/Cancellation.h"

namespace vanta {

enum class DeviceIdFailure {
  kNone,
  kTempDirectoryRefused,      // the user's own temporary directory may not be used
  kLockBusy,                  // other builds held the lock file for kLockWaitMs
  kLockFileUnusable,          // the lock file could not be created or opened
  kLockFileOfAnotherUser,     // the lock file belongs to another user
  kQueryNotStarted,           // the UUID query could not run
  kQueryTimedOut,             // it did not end within kUuidQueryTimeoutMs
  kQueryAborted,              // the caller gave up while it ran or waited for the lock
  kUuidFileUnreadable,        // the UUID file could not be prepared, written or read
  kUuidFileOfAnotherUser,     // the UUID file belongs to another user
  kUuidIncomplete,            // the UUID file held fewer than 36 UUID characters
  kAdapterBufferUnavailable,  // no memory for the adapter list
  kAdapterListUnreadable,     // no adapter list, or no adapter in it
};

// Why the identifier was not built, as a sentence fragment for people
// ("the hardware UUID query did not end within 10 s"); never null.
const char* DeviceIdFailureText(DeviceIdFailure failure);

// How long a build waits for another one on the same temporary directory
// (the lock file id.lock), and how long the UUID query may take.
constexpr unsigned kLockWaitMs = 10000;
constexpr unsigned kUuidQueryTimeoutMs = 10000;

// Appends the identifier to the text in buffer (size bytes with the
// terminator); false leaves buffer unchanged and tells why in *failure
// (which may be null). A null buffer or a size below 1 gives false with
// kNone.
//
// The UUID comes from the file id.tmp in the temporary directory, written
// by the program that ComSpec names (given "/C wmic csproduct get uuid >
// <file>") or, without ComSpec, by the library from the machine's hardware
// UUID. Builds on the same directory, in this process or another, take
// turns through the lock file id.lock. Waiting for the lock ends at
// kLockWaitMs on the Env clock; the query is killed when it runs longer
// than kUuidQueryTimeoutMs. Both end at once when cancel (may be null) is
// raised. An adapter without address still gives true.
bool CreateDeviceIdText(char* buffer, int size, Cancellation* cancel, DeviceIdFailure* failure);

// The UUID in the UUID query's output, appended to the text in uuid
// (callers pass it zero-filled). The output is UTF-16 little endian: a
// header line, then the UUID. After the first line (at most 127 bytes, up
// to and including a line feed), each pair of bytes gives its second byte:
// the low byte of the next character. A zero byte adds nothing; the text
// ends early where the output does. True when uuid then holds all 36
// characters.
bool ParseUuidOutput(const std::string& output, char (&uuid)[37]);

// The UUID query's output for uuid, as the library writes it on systems
// without the query.
std::string UuidOutputFor(const std::string& uuid);

}  // namespace vanta

#endif  // VANTA_ACCESSOR_DEVICE_ID_H_
