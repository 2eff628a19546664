// Run where no Secret Service answers: without a session bus, and with a service that has no
// keyring.
#include "accounts_fixture.h"

namespace {
class UnavailableVault : public AccountsTest {};
}  // namespace

TEST_F(UnavailableVault, EveryOperationFailsAtOnce) { expect_vault_unavailable(); }
