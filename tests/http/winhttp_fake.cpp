#include "winhttp_fake.h"

#include <cstring>

#include "text/codepage.h"

namespace sellmeter::testing {
namespace {

std::string Str(const char16_t* text) {
  if (text == nullptr) return "null";
  return "\"" + U16ToText(std::u16string_view(text), kCpUtf8) + "\"";
}
std::string Str(const char16_t* text, std::uint32_t length) {
  return "\"" + U16ToText(std::u16string_view(text, length), kCpUtf8) + "\"";
}
std::string H(HInternet handle) {
  if (handle == kSession) return "session";
  if (handle == kConnect) return "connect";
  if (handle == kRequest) return "request";
  return handle == nullptr ? "null" : "?";
}

}  // namespace

std::vector<std::string> FakeWinHttp::Calls(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& call : calls)
    if (call.rfind(prefix, 0) == 0) found.push_back(call);
  return found;
}

bool FakeWinHttp::Fails(const std::string& name) {
  const int n = ++seen_[name];
  auto it = failOn.find(name);
  return it != failOn.end() && it->second == n;
}

bool FakeWinHttp::WinHttpCheckPlatform() {
  calls.push_back("CheckPlatform");
  return !Fails("CheckPlatform");
}

bool FakeWinHttp::WinHttpCrackUrl(const char16_t* url, std::uint32_t length, std::uint32_t flags,
                                  UrlComponents* parts) {
  calls.push_back("CrackUrl(" + Str(url) + "," + std::to_string(length) + "," +
                  std::to_string(flags) + ",lengths " + std::to_string(parts->schemeLength) + " " +
                  std::to_string(parts->hostNameLength) + " " +
                  std::to_string(parts->userNameLength) + " " +
                  std::to_string(parts->passwordLength) + " " +
                  std::to_string(parts->urlPathLength) + " " +
                  std::to_string(parts->extraInfoLength) + ")");
  if (Fails("CrackUrl")) return false;
  return PlatformWinHttpApi().WinHttpCrackUrl(url, length, flags, parts);
}

HInternet FakeWinHttp::WinHttpOpen(const char16_t* agent, std::uint32_t access,
                                   const char16_t* proxy, const char16_t* bypass,
                                   std::uint32_t flags) {
  calls.push_back("Open(" + Str(agent) + "," + std::to_string(access) + "," + Str(proxy) + "," +
                  Str(bypass) + "," + std::to_string(flags) + ")");
  return Fails("Open") ? nullptr : kSession;
}

HInternet FakeWinHttp::WinHttpConnect(HInternet session, const char16_t* server,
                                      std::uint16_t port, std::uint32_t reserved) {
  calls.push_back("Connect(" + H(session) + "," + Str(server) + "," + std::to_string(port) + "," +
                  std::to_string(reserved) + ")");
  return Fails("Connect") ? nullptr : kConnect;
}

HInternet FakeWinHttp::WinHttpOpenRequest(HInternet connect, const char16_t* verb,
                                          const char16_t* object, const char16_t* version,
                                          const char16_t* referrer,
                                          const char16_t* const* accept, std::uint32_t flags) {
  calls.push_back("OpenRequest(" + H(connect) + "," + Str(verb) + "," + Str(object) + "," +
                  Str(version) + "," + Str(referrer) + "," + (accept ? "types" : "null") + "," +
                  std::to_string(flags) + ")");
  return Fails("OpenRequest") ? nullptr : kRequest;
}

bool FakeWinHttp::WinHttpSetTimeouts(HInternet handle, int a, int b, int c, int d) {
  calls.push_back("SetTimeouts(" + H(handle) + "," + std::to_string(a) + "," + std::to_string(b) +
                  "," + std::to_string(c) + "," + std::to_string(d) + ")");
  return !Fails("SetTimeouts");
}

bool FakeWinHttp::WinHttpSetCredentials(HInternet handle, std::uint32_t target,
                                        std::uint32_t scheme, const char16_t* user,
                                        const char16_t* password, void* params) {
  calls.push_back("SetCredentials(" + H(handle) + "," + std::to_string(target) + "," +
                  std::to_string(scheme) + "," + Str(user) + "," + Str(password) + "," +
                  (params ? "params" : "null") + ")");
  return !Fails("SetCredentials");
}

bool FakeWinHttp::WinHttpSetOption(HInternet handle, std::uint32_t option, void* buffer,
                                   std::uint32_t length) {
  std::uint32_t value = 0;
  if (length == 4) std::memcpy(&value, buffer, 4);
  calls.push_back("SetOption(" + H(handle) + "," + std::to_string(option) + "," +
                  std::to_string(value) + "," + std::to_string(length) + ")");
  return !Fails("SetOption");
}

bool FakeWinHttp::WinHttpAddRequestHeaders(HInternet handle, const char16_t* headers,
                                           std::uint32_t length, std::uint32_t modifiers) {
  calls.push_back("AddRequestHeaders(" + H(handle) + "," + Str(headers, length) + "," +
                  std::to_string(length) + "," + std::to_string(modifiers) + ")");
  return !Fails("AddRequestHeaders");
}

bool FakeWinHttp::WinHttpSendRequest(HInternet handle, const char16_t* headers,
                                     std::uint32_t headersLength, void* optional,
                                     std::uint32_t optionalLength, std::uint32_t totalLength,
                                     std::uintptr_t context) {
  std::string body = optional ? "\"" + std::string(static_cast<char*>(optional), optionalLength) + "\""
                              : "null";
  calls.push_back("SendRequest(" + H(handle) + "," + Str(headers) + "," +
                  std::to_string(headersLength) + "," + body + "," +
                  std::to_string(optionalLength) + "," + std::to_string(totalLength) + "," +
                  std::to_string(context) + ")");
  return !Fails("SendRequest");
}

bool FakeWinHttp::WinHttpReceiveResponse(HInternet handle, void* reserved) {
  calls.push_back("ReceiveResponse(" + H(handle) + "," + (reserved ? "?" : "null") + ")");
  return !Fails("ReceiveResponse");
}

bool FakeWinHttp::WinHttpQueryDataAvailable(HInternet handle, std::uint32_t* available) {
  calls.push_back("QueryDataAvailable(" + H(handle) + ")");
  if (Fails("QueryDataAvailable")) return false;
  *available = chunk_ < bodyChunks.size() ? static_cast<std::uint32_t>(bodyChunks[chunk_].size()) : 0;
  return true;
}

bool FakeWinHttp::WinHttpReadData(HInternet handle, void* buffer, std::uint32_t toRead,
                                  std::uint32_t* read) {
  calls.push_back("ReadData(" + H(handle) + "," + std::to_string(toRead) + ")");
  const std::string& chunk = bodyChunks.at(chunk_++);
  const bool fails = ++reads_ == readFailsAt;
  const std::size_t n = fails ? chunk.size() / 2 : std::min<std::size_t>(chunk.size(), toRead);
  std::memcpy(buffer, chunk.data(), n);
  *read = static_cast<std::uint32_t>(n);
  return !fails;
}

bool FakeWinHttp::WinHttpQueryHeaders(HInternet handle, std::uint32_t level, const char16_t* name,
                                      void* buffer, std::uint32_t* length, std::uint32_t* index) {
  calls.push_back("QueryHeaders(" + H(handle) + "," + std::to_string(level) + "," + Str(name) +
                  "," + (buffer ? "buffer" : "null") + "," + std::to_string(*length) + "," +
                  std::to_string(*index) + ")");
  const std::u16string wide = TextToU16(headerBlock, kCpGbk);
  const std::uint32_t needed = static_cast<std::uint32_t>((wide.size() + 1) * 2);
  ++headerQueries_;
  if (buffer == nullptr || *length < needed) {
    *length = needed;
    return false;
  }
  if (headerQueries_ == 2 && secondHeaderQueryFails) return false;
  std::memcpy(buffer, wide.c_str(), needed);
  *length = needed - 2;
  return true;
}

bool FakeWinHttp::WinHttpCloseHandle(HInternet handle) {
  calls.push_back("CloseHandle(" + H(handle) + ")");
  return handle != nullptr;
}

}  // namespace sellmeter::testing
