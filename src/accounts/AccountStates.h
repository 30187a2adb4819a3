#pragma once
// The start-up check of the accounts' state with the tracking service: the
// service may have frozen an account, and will then report no visitors for
// it. Nothing else follows from the state. Runs off the window's thread (its
// requests may take long); the box is shown on the window's thread.
#include <QString>

// Names of the accounts whose state contains "-ERR", in the accounts' order,
// each followed by one blank; empty when none (or the service is unreachable).
QString FindFrozenAccounts();
// Warns the owner once, with the application's title, when any account is frozen.
void CheckAccountStates();
