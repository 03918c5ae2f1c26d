#pragma once
// A scripted WinInet: it records every call with its arguments and plays back the outcome the
// test set up (which handle fails to open, whether the send works, the body, the headers).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "download/wininet_api.h"

namespace sellmeter::testing {

class FakeWinInet : public WinInetApi {
 public:
  // Script.
  bool openFails = false;
  bool connectFails = false;
  bool requestFails = false;
  bool sendFails = false;
  std::string body;
  std::size_t failReadAt = std::string::npos;  // the read that would pass this offset fails
  std::string rawHeaders = "HTTP/1.1 200 OK\r\n\r\n";

  // Record.
  std::vector<std::string> calls;
  std::string agent, proxyName, proxyBypass;
  std::uint32_t accessType = 0, openFlags = 0;
  std::string serverName, userName, password;
  std::uint16_t port = 0;
  std::uint32_t service = 0, connectFlags = 0;
  std::uintptr_t connectContext = 0;
  std::string verb, objectName, version, referrer;
  bool acceptTypesNull = false;
  std::uint32_t requestFlags = 0;
  std::uintptr_t requestContext = 0;
  std::string sentHeaders;
  std::uint32_t sentHeadersLength = 0;
  std::string optional;
  bool optionalNull = false;
  std::vector<std::uint32_t> readSizes;
  std::uint32_t queryLevel = 0, queryLength = 0;
  bool queryIndexNull = false;
  std::vector<InetHandle> closed;

  InetHandle root() { return &rootTag_; }
  InetHandle connection() { return &connectionTag_; }
  InetHandle request() { return &requestTag_; }

  InetHandle InternetOpenA(const char* a, std::uint32_t access, const char* proxy,
                           const char* bypass, std::uint32_t flags) override {
    calls.push_back("InternetOpenA");
    agent = a;
    accessType = access;
    proxyName = proxy;
    proxyBypass = bypass;
    openFlags = flags;
    return openFails ? nullptr : root();
  }
  InetHandle InternetConnectA(InetHandle internet, const char* server, std::uint16_t p,
                              const char* user, const char* pass, std::uint32_t svc,
                              std::uint32_t flags, std::uintptr_t context) override {
    calls.push_back(internet == root() ? "InternetConnectA" : "InternetConnectA(bad handle)");
    serverName = server;
    port = p;
    userName = user;
    password = pass;
    service = svc;
    connectFlags = flags;
    connectContext = context;
    return connectFails ? nullptr : connection();
  }
  InetHandle HttpOpenRequestA(InetHandle connect, const char* v, const char* object,
                              const char* ver, const char* ref, const char** accept,
                              std::uint32_t flags, std::uintptr_t context) override {
    calls.push_back(connect == connection() ? "HttpOpenRequestA" : "HttpOpenRequestA(bad handle)");
    verb = v;
    objectName = object;
    version = ver;
    referrer = ref;
    acceptTypesNull = accept == nullptr;
    requestFlags = flags;
    requestContext = context;
    return requestFails ? nullptr : request();
  }
  bool HttpSendRequestA(InetHandle req, const char* headers, std::uint32_t headersLength,
                        const void* opt, std::uint32_t optLength) override {
    calls.push_back(req == request() ? "HttpSendRequestA" : "HttpSendRequestA(bad handle)");
    sentHeaders.assign(headers, headersLength);
    sentHeadersLength = headersLength;
    optionalNull = opt == nullptr;
    if (opt != nullptr) optional.assign(static_cast<const char*>(opt), optLength);
    sent_ = !sendFails;
    return sent_;
  }
  bool InternetReadFile(InetHandle file, void* buffer, std::uint32_t toRead,
                        std::uint32_t* read) override {
    calls.push_back(file == request() ? "InternetReadFile" : "InternetReadFile(bad handle)");
    readSizes.push_back(toRead);
    *read = 0;
    if (!sent_) return false;
    const std::size_t n = std::min<std::size_t>(toRead, body.size() - offset_);
    if (failReadAt != std::string::npos && offset_ + n > failReadAt) return false;
    std::memcpy(buffer, body.data() + offset_, n);
    offset_ += n;
    *read = static_cast<std::uint32_t>(n);
    return true;
  }
  bool HttpQueryInfoA(InetHandle req, std::uint32_t level, void* buffer, std::uint32_t* length,
                      std::uint32_t* index) override {
    calls.push_back(req == request() ? "HttpQueryInfoA" : "HttpQueryInfoA(bad handle)");
    queryLevel = level;
    queryLength = *length;
    queryIndexNull = index == nullptr;
    if (!sent_ || rawHeaders.size() + 1 > *length) {
      *length = static_cast<std::uint32_t>(rawHeaders.size() + 1);
      return false;
    }
    std::memcpy(buffer, rawHeaders.c_str(), rawHeaders.size() + 1);
    *length = static_cast<std::uint32_t>(rawHeaders.size());
    return true;
  }
  bool InternetCloseHandle(InetHandle handle) override {
    calls.push_back("InternetCloseHandle");
    closed.push_back(handle);
    return true;
  }

 private:
  char rootTag_ = 0, connectionTag_ = 0, requestTag_ = 0;
  bool sent_ = false;
  std::size_t offset_ = 0;
};

}  // namespace sellmeter::testing
