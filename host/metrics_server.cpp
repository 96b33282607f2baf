#include "host/metrics_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstring>

namespace strandline::host {

namespace {

MHD_Result Answer(MHD_Connection* connection, unsigned status, const std::string& body, const char* type) {
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", type);
  const MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

MHD_Result Handle(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*, const char*,
                  size_t* uploadSize, void**) {
  auto* render = static_cast<MetricsServer::Render*>(cls);
  if (*uploadSize != 0) {
    *uploadSize = 0;  // a body is not read; the answer follows it
    return MHD_YES;
  }
  if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0) {
    return Answer(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET\n", "text/plain");
  }
  if (std::strcmp(url, "/metrics") != 0) return Answer(connection, MHD_HTTP_NOT_FOUND, "see /metrics\n", "text/plain");
  return Answer(connection, MHD_HTTP_OK, (*render)(), "text/plain; version=0.0.4; charset=utf-8");
}

}  // namespace

MetricsServer::~MetricsServer() { Stop(); }

bool MetricsServer::Start(const std::string& address, uint16_t port, Render render, std::string& error) {
  Stop();
  render_ = std::move(render);
  sockaddr_in bind{};
  bind.sin_family = AF_INET;
  bind.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &bind.sin_addr) != 1) {
    error = "--metrics-address needs an IPv4 address, got \"" + address + "\"";
    return false;
  }
  daemon_ = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG, port, nullptr, nullptr, &Handle,
                             &render_, MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&bind),
                             MHD_OPTION_CONNECTION_TIMEOUT, 10u, MHD_OPTION_CONNECTION_LIMIT, 16u, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    error = "cannot serve metrics on " + address + ":" + std::to_string(port);
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info != nullptr ? info->port : port;
  return true;
}

void MetricsServer::Stop() {
  if (daemon_ == nullptr) return;
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

}  // namespace strandline::host
