#include "greet/ImClient.h"

namespace {

thread_local EGreetReason t_reason = EGreetReason::Sent;

} // namespace

EGreetReason LastGreetReason()
{
    return t_reason;
}

void SetLastGreetReason(EGreetReason reason)
{
    t_reason = reason;
}
