// The trace's text rules, apart from its handler: pure, so that other
// programs of the project (the reference dispatcher's log) show keys and
// texts the same way.
#include "core/Printable.h"
#include "core/Trace.h"

namespace vanta {
namespace trace {

std::string Secret(const std::string& text) {
  return Printable(text.substr(0, 4), 4) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string Printable(const std::string& text, size_t limit) {
  bool cut = false;
  std::string shown = vanta::Printable(text, limit, &cut);
  if (cut) shown += "... (" + std::to_string(text.size()) + " bytes)";
  return shown;
}

}  // namespace trace
}  // namespace vanta
