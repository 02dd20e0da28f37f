// The key file: the key value of the last negotiation, kept in the
// temporary directory as key.tmp for CreateAndSendDeviceId.
#ifndef VANTA_ACCESSOR_KEY_FILE_H_
#define VANTA_ACCESSOR_KEY_FILE_H_

#include <string>

namespace vanta {

// Creates or empties the key file and writes value unchanged, with no line
// end. Failures are not reported.
void WriteKeyFile(const std::string& value);

// Reads the key file's first line (at most 127 bytes, its line feed kept)
// into *text. False when the file cannot be opened.
bool ReadKeyFile(std::string* text);

}  // namespace vanta

#endif  // VANTA_ACCESSOR_KEY_FILE_H_
