// Looking host names up without holding back a signal. The system resolver retries its waits when
// a signal interrupts them, so a lookup made on the run's own thread holds a request to end the
// run for the resolver's whole time-out. Lookups run on a helper thread instead, and the run waits
// for them where a signal reaches the safe point.
#pragma once

#include <memory>
#include <netdb.h>

#include "net_wait.h"

struct AddrInfoFree {
    void operator()(addrinfo *list) const { freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoFree>;

// getaddrinfo of host and service (service may be null) with hints, waited for until deadline:
// 0 with the addresses in found, or getaddrinfo's error code (EAI_AGAIN when the deadline passed
// first). A termination signal meanwhile ends the run through the safe point.
int net_getaddrinfo(const char *host, const char *service, const addrinfo &hints, AddrInfoList &found,
                    const NetDeadline &deadline);

// gai_strerror's text of net_getaddrinfo's error code; errno's for EAI_SYSTEM.
const char *net_lookup_error(int code);
