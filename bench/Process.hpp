#pragma once

// Small facts about the running benchmark process.

namespace bench {

// The process's resident size now and at its peak, in kilobytes (VmRSS and VmHWM from
// /proc/self/status), or -1 where they cannot be read.
long residentKb();
long peakResidentKb();

}  // namespace bench
