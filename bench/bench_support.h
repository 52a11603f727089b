#pragma once
// What every benchmark measures with: CPU time from the system and
// percentiles of the figures it collects. POSIX only, like the benchmarks.

#include <algorithm>
#include <vector>

#include <sys/resource.h>

// CPU time (user + system) in microseconds of this process (RUSAGE_SELF) or of
// its finished children (RUSAGE_CHILDREN); 0 when it cannot be read.
inline long long CpuMicroseconds(int who = RUSAGE_SELF) {
  rusage usage{};
  if (::getrusage(who, &usage) != 0) return 0;
  auto us = [](const timeval& tv) { return tv.tv_sec * 1000000LL + tv.tv_usec; };
  return us(usage.ru_utime) + us(usage.ru_stime);
}

// The value at fraction q of the values once sorted (0.5 the median); 0 for none.
inline double Percentile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(q * double(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}
