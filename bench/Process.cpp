#include "Process.hpp"

#include <cstdlib>
#include <fstream>
#include <string>

namespace bench {
namespace {

long statusField(const std::string& field) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = field + ":";
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) return std::atol(line.c_str() + prefix.size());
  }
  return -1;
}

}  // namespace

long residentKb() {
  return statusField("VmRSS");
}

long peakResidentKb() {
  return statusField("VmHWM");
}

}  // namespace bench
