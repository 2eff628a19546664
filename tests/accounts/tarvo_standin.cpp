#include "tarvo_standin.h"

#include <string>

#include "accounts_test_platform.h"
#include "bridge_client.h"
#include "support/test_support.h"

int run_tarvo_standin() {
  std::wstring records = get_variable(L"VORNA380_TARVO_RECORDS");
  if (records.empty()) return 2;
  std::string reply = bridge_exchange("GET /compte HTTP/1.1\r\nHost: 127.0.0.1:32110\r\n\r\n");
  std::string record = to_utf8(current_folder()) + "\n" + reply;
  for (int i = 1; i < 100; ++i) {
    if (create_new_file(join(records, L"record-" + std::to_wstring(i) + L".txt"), record)) return 0;
  }
  return 3;
}
