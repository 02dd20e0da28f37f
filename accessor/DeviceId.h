// The device identifier: the machine's hardware UUID, "-", and the first
// network adapter's hardware address ("00-1A-2B-3C-4D-5E"), at most 54
// characters.
#ifndef VANTA_ACCESSOR_DEVICE_ID_H_
#define VANTA_ACCESSOR_DEVICE_ID_H_

#include <string>

namespace vanta {

enum class DeviceIdFailure {
  kNone,
  kProcessNotStarted,         // the UUID query could not run
  kUuidFileUnreadable,        // the UUID file could not be opened
  kAdapterBufferUnavailable,  // no memory for the adapter list
  kAdapterListUnreadable,     // no adapter list, or no adapter in it
};

// Appends the identifier to the text in buffer (size bytes incl. terminator); false leaves buffer
// unchanged. The UUID comes from the file id.tmp in the temporary directory,
// written by the program that ComSpec names (given "/C wmic csproduct get
// uuid > <file>") or, without ComSpec, by the library. A short UUID file or
// an adapter without address still gives true. A null buffer or a size
// below 1 gives false with kNone. failure may be null.
bool CreateDeviceIdText(char* buffer, int size, DeviceIdFailure* failure);

// Reads the UUID query's output at uuid_path and appends the UUID to the
// text in uuid (callers pass it zero-filled): UTF-16 little endian, a header
// line, then the UUID. After the header line's line-feed byte, each pair of
// bytes gives its second byte: the low byte of the next character. A zero
// byte adds nothing; the text ends early where the file does. False only
// when the file cannot be opened.
bool ReadUuidFile(const std::string& uuid_path, char (&uuid)[37]);

}  // namespace vanta

#endif  // VANTA_ACCESSOR_DEVICE_ID_H_
