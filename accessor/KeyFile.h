// The key file: the key value of the last negotiation, kept in the
// temporary directory as key.tmp for CreateAndSendDeviceId.
#ifndef VANTA_ACCESSOR_KEY_FILE_H_
#define VANTA_ACCESSOR_KEY_FILE_H_

#include <string>

namespace vanta {

// Replaces the key file with one that holds value unchanged, with no line
// end: a failure leaves the old file whole. False when it was not written.
// *where (may be null) receives the key file's path and, when it was not
// written, why ("<path> belongs to another user").
bool WriteKeyFile(const std::string& value, std::string* where);

// Reads the key file's first line (at most 127 bytes, its line feed kept,
// cut at a NUL byte) into *text. False when the file cannot be read, or
// belongs to another user.
bool ReadKeyFile(std::string* text);

}  // namespace vanta

#endif  // VANTA_ACCESSOR_KEY_FILE_H_
