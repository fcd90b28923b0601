#pragma once

// Small facts about the running benchmark process.

namespace bench {

// Runs headless under SDL's dummy video driver unless SDL_VIDEODRIVER already names another.
void preferHeadlessVideo();

// The process's resident size now and at its peak, in kilobytes (VmRSS and VmHWM from
// /proc/self/status), or -1 where they cannot be read.
long residentKb();
long peakResidentKb();

}  // namespace bench
