#pragma once
// Linux layer of the WinHTTP-shaped interface, on the libcurl transport. Sessions, connections
// and requests are handles of this layer; the exchange itself runs, blocking, inside
// WinHttpSendRequest, and ReceiveResponse, QueryDataAvailable, ReadData and QueryHeaders then
// serve what arrived. Limits: a response header block of at most 1 MiB (libcurl itself
// refuses a single header line over 100 KiB); a response body of at most
// WinHttpBodyLimit() bytes (64 MiB unless changed): past it the transfer stops, the first
// bytes up to the limit are delivered and the next QueryDataAvailable fails.
#include <cstddef>
#include <cstdint>

namespace sellmeter {

// The error of this thread's last failing call, WinHTTP's numbers (http/winhttp_api.h).
std::uint32_t WinHttpLastError();

std::size_t WinHttpBodyLimit();
void SetWinHttpBodyLimit(std::size_t bytes);

}  // namespace sellmeter
