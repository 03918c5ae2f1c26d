#pragma once
// The fifteen WinHTTP functions the request engine calls, with WinHTTP's argument order,
// flags, option numbers and results. Texts are UTF-16 (char16_t), zero-terminated unless a
// length is passed. Handles are opaque; a null handle is "no handle".
#include <cstdint>

#include "text/seam.h"

namespace sellmeter {

using HInternet = void*;

inline constexpr std::uint32_t kWinHttpAccessTypeDefaultProxy = 0;
inline constexpr std::uint32_t kWinHttpAccessTypeNoProxy = 1;
inline constexpr std::uint32_t kWinHttpAccessTypeNamedProxy = 3;

inline constexpr std::uint32_t kInternetSchemeHttp = 1;
inline constexpr std::uint32_t kInternetSchemeHttps = 2;
inline constexpr std::uint16_t kInternetDefaultHttpPort = 80;
inline constexpr std::uint16_t kInternetDefaultHttpsPort = 443;

inline constexpr std::uint32_t kWinHttpFlagSecure = 0x00800000;

inline constexpr std::uint32_t kWinHttpAuthTargetServer = 0;
inline constexpr std::uint32_t kWinHttpAuthTargetProxy = 1;
inline constexpr std::uint32_t kWinHttpAuthSchemeBasic = 1;

inline constexpr std::uint32_t kWinHttpOptionDisableFeature = 63;
inline constexpr std::uint32_t kWinHttpOptionEnableFeature = 79;
inline constexpr std::uint32_t kWinHttpDisableCookies = 0x1;
inline constexpr std::uint32_t kWinHttpDisableRedirects = 0x2;
inline constexpr std::uint32_t kWinHttpDisableAuthentication = 0x4;
inline constexpr std::uint32_t kWinHttpDisableKeepAlive = 0x8;
inline constexpr std::uint32_t kWinHttpEnableSslRevocation = 0x1;

inline constexpr std::uint32_t kWinHttpAddreqFlagAdd = 0x20000000;
inline constexpr std::uint32_t kWinHttpAddreqFlagReplace = 0x80000000;
inline constexpr std::uint32_t kWinHttpAddreqFlagAddIfNew = 0x10000000;

inline constexpr std::uint32_t kWinHttpQueryStatusCode = 19;
inline constexpr std::uint32_t kWinHttpQueryStatusText = 20;
inline constexpr std::uint32_t kWinHttpQueryRawHeaders = 21;
inline constexpr std::uint32_t kWinHttpQueryRawHeadersCrlf = 22;

// Error codes the Linux layer leaves for LastError() (WinHTTP's numbers).
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorWinHttpTimeout = 12002;
inline constexpr std::uint32_t kErrorWinHttpInternalError = 12004;
inline constexpr std::uint32_t kErrorWinHttpInvalidUrl = 12005;
inline constexpr std::uint32_t kErrorWinHttpUnrecognizedScheme = 12006;
inline constexpr std::uint32_t kErrorWinHttpNameNotResolved = 12007;
inline constexpr std::uint32_t kErrorWinHttpInvalidOption = 12009;
inline constexpr std::uint32_t kErrorWinHttpIncorrectHandleType = 12018;
inline constexpr std::uint32_t kErrorWinHttpIncorrectHandleState = 12019;
inline constexpr std::uint32_t kErrorWinHttpCannotConnect = 12029;
inline constexpr std::uint32_t kErrorWinHttpConnectionError = 12030;
inline constexpr std::uint32_t kErrorWinHttpHeaderNotFound = 12150;
inline constexpr std::uint32_t kErrorWinHttpInvalidServerResponse = 12152;
inline constexpr std::uint32_t kErrorWinHttpRedirectFailed = 12156;
inline constexpr std::uint32_t kErrorWinHttpSecureFailure = 12175;
inline constexpr std::uint32_t kErrorWinHttpInvalidHeader = 12153;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;

// URL_COMPONENTS. A component whose pointer is null and whose length is non-zero is returned
// as a pointer into the cracked URL with its length in code units; a zero length asks for
// nothing.
struct UrlComponents {
  std::uint32_t structSize = sizeof(UrlComponents);
  char16_t* scheme = nullptr;
  std::uint32_t schemeLength = 0;
  std::uint32_t schemeNumber = 0;
  char16_t* hostName = nullptr;
  std::uint32_t hostNameLength = 0;
  std::uint16_t port = 0;
  char16_t* userName = nullptr;
  std::uint32_t userNameLength = 0;
  char16_t* password = nullptr;
  std::uint32_t passwordLength = 0;
  char16_t* urlPath = nullptr;
  std::uint32_t urlPathLength = 0;
  char16_t* extraInfo = nullptr;
  std::uint32_t extraInfoLength = 0;
};

class WinHttpApi {
 public:
  virtual ~WinHttpApi() = default;
  virtual bool WinHttpCheckPlatform() = 0;
  virtual bool WinHttpCrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                               UrlComponents* components) = 0;
  virtual HInternet WinHttpOpen(const char16_t* agent, std::uint32_t accessType,
                                const char16_t* proxyName, const char16_t* proxyBypass,
                                std::uint32_t flags) = 0;
  virtual HInternet WinHttpConnect(HInternet session, const char16_t* serverName,
                                   std::uint16_t serverPort, std::uint32_t reserved) = 0;
  virtual HInternet WinHttpOpenRequest(HInternet connect, const char16_t* verb,
                                       const char16_t* objectName, const char16_t* version,
                                       const char16_t* referrer,
                                       const char16_t* const* acceptTypes,
                                       std::uint32_t flags) = 0;
  virtual bool WinHttpSetTimeouts(HInternet handle, int resolveTimeout, int connectTimeout,
                                  int sendTimeout, int receiveTimeout) = 0;
  virtual bool WinHttpSetCredentials(HInternet request, std::uint32_t authTargets,
                                     std::uint32_t authScheme, const char16_t* userName,
                                     const char16_t* password, void* authParams) = 0;
  virtual bool WinHttpSetOption(HInternet handle, std::uint32_t option, void* buffer,
                                std::uint32_t bufferLength) = 0;
  virtual bool WinHttpAddRequestHeaders(HInternet request, const char16_t* headers,
                                        std::uint32_t headersLength,
                                        std::uint32_t modifiers) = 0;
  virtual bool WinHttpSendRequest(HInternet request, const char16_t* headers,
                                  std::uint32_t headersLength, void* optional,
                                  std::uint32_t optionalLength, std::uint32_t totalLength,
                                  std::uintptr_t context) = 0;
  virtual bool WinHttpReceiveResponse(HInternet request, void* reserved) = 0;
  virtual bool WinHttpQueryDataAvailable(HInternet request, std::uint32_t* bytesAvailable) = 0;
  virtual bool WinHttpReadData(HInternet request, void* buffer, std::uint32_t bytesToRead,
                               std::uint32_t* bytesRead) = 0;
  // infoLevel 22: the raw header block, CRLF-separated. With a buffer too small (or null), fails
  // with kErrorInsufficientBuffer and sets *bufferLength to the bytes needed, terminator
  // included; on success *bufferLength is the bytes written without the terminator.
  virtual bool WinHttpQueryHeaders(HInternet request, std::uint32_t infoLevel,
                                   const char16_t* name, void* buffer,
                                   std::uint32_t* bufferLength, std::uint32_t* index) = 0;
  virtual bool WinHttpCloseHandle(HInternet handle) = 0;
};

// The platform's implementation, defined by the platform layer (http/linux or a Windows one).
WinHttpApi& PlatformWinHttpApi();

// The implementation in force: the platform's unless a ScopedWinHttpApi replaces it.
using ScopedWinHttpApi = SeamOverride<WinHttpApi>;
inline WinHttpApi& WinHttp() { return ScopedWinHttpApi::InForce(PlatformWinHttpApi); }

}  // namespace sellmeter
