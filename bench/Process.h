// The benchmark's other processes: the reference dispatcher it measures
// against, and programs whose peak memory it measures. POSIX only.
#ifndef VANTA_BENCH_PROCESS_H_
#define VANTA_BENCH_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace vanta {
namespace bench {

// `vanta dispatcher` in a process of its own, on ephemeral loopback ports,
// answering game service requests with service_json (and the further
// options of options, its faults). Stopped (SIGTERM) and reaped with the
// object.
class Dispatcher {
 public:
  // Starts it with its files in dir and waits, at most 10 s, until it
  // listens; throws std::runtime_error when it does not.
  Dispatcher(const std::string& vanta, const std::string& dir, const std::string& service_json,
             const std::vector<std::string>& options = {});
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  int dispatcher_port = 0;
  int monitor_port = 0;

 private:
  void Stop();

  pid_t pid_ = -1;
};

// Runs argv (argv[0] a path) with stdout and stderr discarded and the
// NAME=VALUE entries of env_first ahead of this process's environment; its
// peak resident size in KiB, read from /proc as it stops at its exit. -1
// when it could not be traced or its exit status was not 0. (Its rusage
// would not do: an exec in a child forked from this large process counts
// this process's size as the child's peak.)
long PeakRssKib(const std::vector<std::string>& argv, const std::vector<std::string>& env_first);

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_PROCESS_H_
