#pragma once
// What the configuration page's greeting switch does to the greeting queue
// ([AutoSend]) when the sender stops. Window's thread.
// The statement itself is the queue owner's (tables/GreetingQueue.h).

// Drops every queued greeting of this machine's store; the team store's queue
// is shared (another machine may greet for those shops, and what nobody sends
// is dropped after 30 minutes), so there it is kept. False when the statement failed.
bool ClearGreetingQueue();
