#pragma once
// The stand-in sales-statistics service as an object: POST /yeji/ answers the report page,
// GET /pictures/... the pictures it links. Runs its own threads until Stop().
#include <memory>
#include <string>

#include "service/report_page.h"

namespace sellmeter::service {

class ReportService {
 public:
  explicit ReportService(ServiceOptions options = {});
  ~ReportService();
  ReportService(const ReportService&) = delete;
  ReportService& operator=(const ReportService&) = delete;

  // Binds host:port (port 0 picks a free one) and starts serving in the background; returns
  // the bound port, or -1 when the address cannot be bound or the service runs already.
  int Start(const std::string& host = "127.0.0.1", int port = 0);
  void Stop();

  // Requests answered so far: report pages and picture requests (failed ones included).
  int PageRequests() const;
  int PictureRequests() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sellmeter::service
