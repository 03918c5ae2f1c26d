#pragma once
// The seven WinInet calls the picture download makes, in their ANSI forms, with WinInet's own
// flag and level numbers. Handles are opaque pointers; nullptr is "no handle". Texts are
// zero-terminated GBK strings; a length argument counts bytes.
#include <cstdint>

#include "text/seam.h"

namespace sellmeter {

using InetHandle = void*;

// InternetOpenA access types.
inline constexpr std::uint32_t kInternetOpenTypeDirect = 1;
inline constexpr std::uint32_t kInternetOpenTypeProxy = 3;

// InternetConnectA service.
inline constexpr std::uint32_t kInternetServiceHttp = 3;
// Port 0 asks for the service's default port.
inline constexpr std::uint16_t kInternetInvalidPortNumber = 0;

// HttpOpenRequestA flags.
inline constexpr std::uint32_t kInternetFlagReload = 0x80000000;
inline constexpr std::uint32_t kInternetFlagNeedFile = 0x00000010;
inline constexpr std::uint32_t kInternetFlagNoCookies = 0x00080000;
inline constexpr std::uint32_t kInternetFlagNoAutoRedirect = 0x00200000;
inline constexpr std::uint32_t kInternetFlagSecure = 0x00800000;
inline constexpr std::uint32_t kInternetFlagIgnoreRedirectToHttps = 0x00004000;

// HttpQueryInfoA level: every response header line, CRLF-separated, ending in an empty line.
inline constexpr std::uint32_t kHttpQueryRawHeadersCrlf = 22;

// Last-error values the layer reports (GetLastError's numbers).
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorInternetTimeout = 12002;
inline constexpr std::uint32_t kErrorInternetNameNotResolved = 12007;
inline constexpr std::uint32_t kErrorInternetIncorrectHandleType = 12018;
inline constexpr std::uint32_t kErrorInternetCannotConnect = 12029;
inline constexpr std::uint32_t kErrorInternetConnectionAborted = 12030;
inline constexpr std::uint32_t kErrorHttpHeaderNotFound = 12150;

class WinInetApi {
 public:
  virtual ~WinInetApi() = default;

  virtual InetHandle InternetOpenA(const char* agent, std::uint32_t accessType,
                                   const char* proxyName, const char* proxyBypass,
                                   std::uint32_t flags) = 0;
  virtual InetHandle InternetConnectA(InetHandle internet, const char* serverName,
                                      std::uint16_t serverPort, const char* userName,
                                      const char* password, std::uint32_t service,
                                      std::uint32_t flags, std::uintptr_t context) = 0;
  virtual InetHandle HttpOpenRequestA(InetHandle connect, const char* verb, const char* objectName,
                                      const char* version, const char* referrer,
                                      const char** acceptTypes, std::uint32_t flags,
                                      std::uintptr_t context) = 0;
  // headersLength may be 0xFFFFFFFF for "zero-terminated".
  virtual bool HttpSendRequestA(InetHandle request, const char* headers,
                                std::uint32_t headersLength, const void* optional,
                                std::uint32_t optionalLength) = 0;
  // Ends the body with true and *bytesRead 0.
  virtual bool InternetReadFile(InetHandle file, void* buffer, std::uint32_t bytesToRead,
                                std::uint32_t* bytesRead) = 0;
  // On success *bufferLength is the length written, without the terminator; when the buffer
  // is too small it fails and *bufferLength is the size needed, terminator included.
  virtual bool HttpQueryInfoA(InetHandle request, std::uint32_t infoLevel, void* buffer,
                              std::uint32_t* bufferLength, std::uint32_t* index) = 0;
  virtual bool InternetCloseHandle(InetHandle handle) = 0;
};

// The platform's implementation, defined by the platform layer (download/linux).
WinInetApi& PlatformWinInetApi();

// Puts another implementation in force for its lifetime (tests use it for fakes).
using ScopedWinInetApi = SeamOverride<WinInetApi>;

// The implementation in force: the platform's unless a ScopedWinInetApi replaces it.
inline WinInetApi& WinInet() { return ScopedWinInetApi::InForce(PlatformWinInetApi); }

}  // namespace sellmeter
