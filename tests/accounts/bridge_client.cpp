#include "bridge_client.h"

std::string bridge_exchange(const std::string& request, bool dual_stack) {
  intptr_t connection = bridge_connect(5000, dual_stack);
  if (connection == -1) return {};
  std::string reply;
  if (request.empty() || bridge_send(connection, request)) reply = bridge_receive_all(connection);
  bridge_close(connection);
  return reply;
}
