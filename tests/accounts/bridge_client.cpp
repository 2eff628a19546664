#include "bridge_client.h"

std::string bridge_exchange(const std::string& request) {
  intptr_t connection = bridge_connect();
  if (connection == -1) return {};
  std::string reply;
  if (request.empty() || bridge_send(connection, request)) reply = bridge_receive_all(connection);
  bridge_close(connection);
  return reply;
}
