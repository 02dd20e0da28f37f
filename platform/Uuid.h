// The machine's hardware UUID as text: the canonical form, and the UUID of
// the firmware's system information table.
#ifndef VANTA_PLATFORM_UUID_H_
#define VANTA_PLATFORM_UUID_H_

#include <string>

namespace vanta {

// text as "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in upper case, or "" when
// text is neither that form (in either case) nor 32 bare hexadecimal digits.
std::string CanonicalUuid(const std::string& text);

// The system UUID of an SMBIOS table blob as the firmware table query
// returns it (an 8-byte header whose last 4 bytes give the table's length,
// little endian, then the table): the UUID of the first system information
// structure (type 1) that has one, its first three fields little endian, in
// canonical form. "" when the blob is cut short, holds no such structure, or the UUID
// is all zero or all one bits (none set).
std::string SmbiosSystemUuid(const std::string& blob);

}  // namespace vanta

#endif  // VANTA_PLATFORM_UUID_H_
