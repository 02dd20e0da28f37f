// Memory figures: heap allocations per request on the client thread, and
// the peak resident size of a process that runs one negotiation.
#ifndef VANTA_BENCH_MEMORY_H_
#define VANTA_BENCH_MEMORY_H_

#include <string>
#include <vector>

#include "bench/AllocCounter.h"

namespace vanta {
namespace bench {

// Average allocations of one request, for the library and for bare libcurl.
struct AllocRow {
  std::string request;
  double library_cxx = 0, library_curl = 0;
  double raw_cxx = 0, raw_curl = 0;
  bool ok = false;  // every counted exchange succeeded
};
std::vector<AllocRow> CountAllocations();

// Peak resident size, in KiB, of a process that ran to its end; -1 when it
// could not be started or did not exit with status 0. GNU time measures it:
// a child started straight from this (large) process would report this
// process's size as its own peak.
struct PeakRss {
  std::string what;
  long kib = -1;
};

// Runs this program again in child mode for the library, bare libcurl and
// an idle start, against a fresh local peer. Every program that calls it
// must begin its main with RssChildMain. A child never starts children of
// its own: called inside one, this returns nothing.
std::vector<PeakRss> MeasureInProcessNegotiation();

// With the vanta command: starts "vanta dispatcher" on free loopback ports
// and measures "vanta negotiate" against it, next to "vanta --help" (the
// command's start-up floor). Empty when the dispatcher does not come up.
std::vector<PeakRss> MeasureToolNegotiation(const std::string& vanta);

// When argv holds the child-mode options (--rss-child=library, raw or idle
// and --rss-base=<dispatcher base address>), runs that child's work and
// returns its exit status; otherwise returns -1 and the program goes on.
int RssChildMain(int argc, char** argv);

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_MEMORY_H_
