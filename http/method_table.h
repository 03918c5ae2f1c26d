#pragma once
// The request methods both request operations choose from by index.
#include <string_view>

namespace sellmeter {

inline constexpr std::string_view kMethodTable[8] = {
    "GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT",
};

// The method for index 0 to 7; any other index selects "GET".
constexpr std::string_view MethodName(int method) {
  return method >= 0 && method < 8 ? kMethodTable[method] : kMethodTable[0];
}

}  // namespace sellmeter
