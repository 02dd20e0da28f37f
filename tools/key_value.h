// KEY=VALUE arguments of the command's options.
#ifndef VANTA_TOOLS_KEY_VALUE_H_
#define VANTA_TOOLS_KEY_VALUE_H_

#include <string>

namespace vanta {
namespace tools {

// Splits text at its first "=". False (and the outputs untouched) when there
// is no "=" or the key before it is empty. The value may be empty and may
// hold further "=".
bool SplitKeyValue(const std::string& text, std::string* key, std::string* value);

// Reads a decimal int that fills the whole text. False for anything else,
// values outside int included.
bool ParseInt(const std::string& text, int* value);

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_KEY_VALUE_H_
