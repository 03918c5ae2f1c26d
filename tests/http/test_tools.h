#pragma once
// Helpers the loopback suites share: a tinyproxy child process and a test CA with a server
// certificate for 127.0.0.1, both made for the test and removed afterwards.
#include <string>

namespace sellmeter::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class TinyProxy {
 public:
  // With user non-empty the proxy asks for basic authentication.
  explicit TinyProxy(const std::string& user = "", const std::string& password = "");
  ~TinyProxy();
  bool running() const { return pid_ > 0; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  TempDir dir_;
  int pid_ = -1;
  int port_ = 0;
};

struct TestCertificates {
  TempDir dir;
  std::string caFile, certFile, keyFile;
  bool ok = false;
  TestCertificates();  // runs openssl
};

// Sets an environment variable for the scope, restoring the old value after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();

 private:
  std::string name_;
  std::string old_;
  bool had_;
};

}  // namespace sellmeter::testing
