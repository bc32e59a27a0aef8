// The identity of a saved transaction: fixed when the transaction is saved and
// kept until the service has confirmed it, so that a post repeated after a crash
// or a lost reply can be recognised by the service as one it already has. Two
// equal texts saved at different times are two transactions, with two identities.
// Identities live beside the transactions, in SavedFiles\.ids\<name>.
#pragma once

#include <string>

#include "platform/platform.h"

namespace qmx {

// A new identity: 32 random hexadecimal digits. Throws AutomationError 5 when no
// randomness can be had.
std::string newTransactionIdentity();

// Records the identity of the transaction SavedFiles\name, replacing any earlier
// one. Throws the platform's errors.
void recordTransactionIdentity(Platform& platform, const std::string& savedFiles, const std::string& name,
                               const std::string& identity);

// The identity of SavedFiles\name; one is made and recorded first when the
// transaction has none (saved by an earlier version, or its record was lost).
// Throws the platform's errors; then nothing has been posted yet.
std::string transactionIdentity(Platform& platform, const std::string& savedFiles, const std::string& name);

// Forgets the identity of a transaction the service has confirmed and whose file
// is gone. A failure leaves a stray record, which the next save of that name
// replaces; never throws.
void forgetTransactionIdentity(Platform& platform, const std::string& savedFiles, const std::string& name);

}  // namespace qmx
