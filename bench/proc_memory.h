// Resident memory of the calling process, from /proc/self/status.
#pragma once

// The value in kB of a "Name:  N kB" line of /proc/self/status (VmRSS,
// VmHWM, ...), or -1 when it cannot be read.
long status_kb(const char *field);

// Lowers the peak (VmHWM) to the current resident size, so that a later
// VmHWM shows the peak of what ran since. Returns false where the kernel
// does not allow it.
bool reset_peak_rss();
