#include "test_tools.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "loopback_server.h"

namespace sellmeter::testing {
namespace {

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "sellmeter-http-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = RefusedPort();
    const std::string config = dir_.path() + "/tinyproxy.conf";
    {
      std::ofstream out(config);
      out << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
          << "Allow 127.0.0.1\nLogLevel Critical\nDisableViaHeader Yes\n";
      if (!user.empty()) out << "BasicAuth " << user << " " << password << "\n";
    }
    const int child = ::fork();
    if (child == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execlp("tinyproxy", "tinyproxy", "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (child < 0) return;
    for (int i = 0; i < 100; ++i) {
      if (Accepts(port_)) {
        pid_ = child;
        break;
      }
      int status = 0;
      if (::waitpid(child, &status, WNOHANG) == child) break;  // it gave up (port taken?)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (pid_ < 0) {
      ::kill(child, SIGTERM);
      ::waitpid(child, nullptr, 0);
    }
  }
}

TinyProxy::~TinyProxy() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

TestCertificates::TestCertificates() {
  const std::string d = dir.path();
  caFile = d + "/ca.pem";
  certFile = d + "/server.pem";
  keyFile = d + "/server.key";
  {
    std::ofstream ext(d + "/ext.cnf");
    ext << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
  }
  const std::string quiet = " >/dev/null 2>&1";
  const std::string commands[] = {
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=SellmeterTestCA -keyout " + d +
          "/ca.key -out " + caFile + quiet,
      "openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + keyFile + " -out " + d +
          "/server.csr" + quiet,
      "openssl x509 -req -in " + d + "/server.csr -CA " + caFile + " -CAkey " + d +
          "/ca.key -CAcreateserial -days 2 -extfile " + d + "/ext.cnf -out " + certFile + quiet,
  };
  for (const std::string& command : commands)
    if (std::system(command.c_str()) != 0) return;
  ok = true;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_) ::setenv(name_.c_str(), old_.c_str(), 1);
  else ::unsetenv(name_.c_str());
}

}  // namespace sellmeter::testing
