#pragma once
// Knobs of the Linux WinInet layer that sit outside the seven calls: the bounds of one
// exchange, the thread's last error, and a reset of the process-wide state for tests.
#include <cstddef>
#include <cstdint>

namespace sellmeter {

// A picture download blocks the window without serving it, so every exchange ends in bounded
// time whatever the server does (docs/download.md gives the reasons for the figures).
struct InetLimits {
  long connectTimeoutMs = 10000;                     // name resolution, TCP and TLS set-up
  long idleTimeoutMs = 15000;                        // longest pause while sending or receiving
  long totalTimeoutMs = 30000;                       // the whole exchange, redirects included
  std::size_t maxBodyBytes = std::size_t{32} << 20;  // the rest is not read; the read fails
  std::size_t maxHeaderBytes = std::size_t{256} << 10;
  int maxRedirects = 10;
};

void SetInetLimits(const InetLimits& limits);
InetLimits CurrentInetLimits();

// What GetLastError would give after the calling thread's last failed call.
std::uint32_t InetLastError();

// Drops the process-wide cookie store and the pooled keep-alive connections.
void ResetInetSessionState();

}  // namespace sellmeter
