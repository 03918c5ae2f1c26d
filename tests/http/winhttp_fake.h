#pragma once
// A scripted WinHTTP: records every call with its arguments as text, fails the calls it is
// told to, and serves a canned response. URL cracking is the Linux layer's, so that the
// components point into the caller's URL as WinHTTP's do.
#include <map>
#include <string>
#include <vector>

#include "http/winhttp_api.h"
#include "regex/com_api.h"
#include "text/message_pump.h"

namespace sellmeter::testing {

inline HInternet const kSession = reinterpret_cast<HInternet>(0x51);
inline HInternet const kConnect = reinterpret_cast<HInternet>(0x52);
inline HInternet const kRequest = reinterpret_cast<HInternet>(0x53);

class FakeWinHttp final : public WinHttpApi {
 public:
  std::vector<std::string> calls;
  std::map<std::string, int> failOn;  // function name -> which of its calls fails (1-based)
  std::string headerBlock = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";  // GBK
  std::vector<std::string> bodyChunks = {"hello"};
  int readFailsAt = 0;           // the n-th ReadData fails after giving half its bytes (0: never)
  bool secondHeaderQueryFails = false;

  // Calls whose recorded text starts with `prefix`.
  std::vector<std::string> Calls(const std::string& prefix) const;

  bool WinHttpCheckPlatform() override;
  bool WinHttpCrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                       UrlComponents* components) override;
  HInternet WinHttpOpen(const char16_t* agent, std::uint32_t accessType,
                        const char16_t* proxyName, const char16_t* proxyBypass,
                        std::uint32_t flags) override;
  HInternet WinHttpConnect(HInternet session, const char16_t* serverName,
                           std::uint16_t serverPort, std::uint32_t reserved) override;
  HInternet WinHttpOpenRequest(HInternet connect, const char16_t* verb, const char16_t* objectName,
                               const char16_t* version, const char16_t* referrer,
                               const char16_t* const* acceptTypes, std::uint32_t flags) override;
  bool WinHttpSetTimeouts(HInternet handle, int resolveTimeout, int connectTimeout,
                          int sendTimeout, int receiveTimeout) override;
  bool WinHttpSetCredentials(HInternet request, std::uint32_t authTargets,
                             std::uint32_t authScheme, const char16_t* userName,
                             const char16_t* password, void* authParams) override;
  bool WinHttpSetOption(HInternet handle, std::uint32_t option, void* buffer,
                        std::uint32_t bufferLength) override;
  bool WinHttpAddRequestHeaders(HInternet request, const char16_t* headers,
                                std::uint32_t headersLength, std::uint32_t modifiers) override;
  bool WinHttpSendRequest(HInternet request, const char16_t* headers, std::uint32_t headersLength,
                          void* optional, std::uint32_t optionalLength, std::uint32_t totalLength,
                          std::uintptr_t context) override;
  bool WinHttpReceiveResponse(HInternet request, void* reserved) override;
  bool WinHttpQueryDataAvailable(HInternet request, std::uint32_t* bytesAvailable) override;
  bool WinHttpReadData(HInternet request, void* buffer, std::uint32_t bytesToRead,
                       std::uint32_t* bytesRead) override;
  bool WinHttpQueryHeaders(HInternet request, std::uint32_t infoLevel, const char16_t* name,
                           void* buffer, std::uint32_t* bufferLength,
                           std::uint32_t* index) override;
  bool WinHttpCloseHandle(HInternet handle) override;

 private:
  bool Fails(const std::string& name);
  std::map<std::string, int> seen_;
  std::size_t chunk_ = 0;
  int reads_ = 0;
  int headerQueries_ = 0;
};

class CountingPump final : public MessagePump {
 public:
  int dispatched = 0;
  void DispatchPending() override { ++dispatched; }
};

class CountingCom final : public ComApi {
 public:
  int initialized = 0, uninitialized = 0;
  long CoInitialize(void*) override {
    ++initialized;
    return 0;
  }
  void CoUninitialize() override { ++uninitialized; }
};

}  // namespace sellmeter::testing
