// The identity of a saved transaction: fixed before its first post and kept until
// the service has confirmed it, so that a post repeated after a crash or a lost
// reply can be recognised by the service as one it already has. Two equal texts
// saved at different times are two transactions, with two identities.
//
// Identities live beside the transactions, in SavedFiles\.ids\<name>, as
// "IDENTITY DIGEST": 32 hexadecimal digits, a space, and the SHA-256 of the exact
// file bytes the identity was made for. A record whose digest is not that of the
// file's current bytes names another text and is never used, so a record left
// behind by a crash cannot make a later text of the name go up under an earlier
// text's key. A text and its record change only under the identity lock.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace qmx {

// The short lock (on SavedFiles\.ids, made when missing) under which a saved
// transaction's text and its identity record are read or changed together.
// Never held over a post. Throws the platform's errors.
std::unique_ptr<FileLock> lockTransactionIdentities(Platform& platform, const std::string& savedFiles);

// The identity to post SavedFiles\name under, whose bytes have the given digest:
// the recorded one when its record was made for these bytes, else a new one,
// recorded before it is returned. A record of the earlier form (the identity
// alone, written just before its text was) is trusted, and bound to these bytes,
// so that an upload in flight across an upgrade still goes up once. Call under
// the identity lock. Throws the platform's errors and 5 when no randomness can be
// had; then nothing has been posted yet.
std::string transactionIdentity(Platform& platform, const std::string& savedFiles, const std::string& name,
                                const std::string& digest);

// True when SavedFiles\name's record is still the one transactionIdentity made or
// kept for this identity and digest. Call under the identity lock; never throws.
bool isRecordedIdentity(Platform& platform, const std::string& savedFiles, const std::string& name,
                        const std::string& identity, const std::string& digest);

// Forgets the identity record of SavedFiles\name. When `mustGo`, a record that
// exists but cannot be deleted throws the platform's error; otherwise it stays,
// naming bytes that are gone, until forgetStrayIdentities clears it.
void forgetTransactionIdentity(Platform& platform, const std::string& savedFiles, const std::string& name,
                               bool mustGo);

// Forgets the records whose transaction is no longer in SavedFiles (a crash
// between a confirmed file's deletion and its record's). Call under the identity
// lock; never throws.
void forgetStrayIdentities(Platform& platform, const std::string& savedFiles);

}  // namespace qmx
