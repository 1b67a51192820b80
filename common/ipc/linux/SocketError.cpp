#include "common/ipc/linux/SocketError.h"

#include <netdb.h>

#include <cerrno>

namespace ipc {
namespace {

struct ErrnoMapping {
    int errnoValue;
    std::uint32_t winsockError;
};

// Every errno that a Linux socket, poll or connect call can report and that names the same
// condition as a Windows Sockets error. The table's codes without a Linux cause (start-up,
// provider, service look-up and QoS codes) have no entry.
constexpr ErrnoMapping kErrnoMappings[] = {
    {EINTR, 10004},
    {EBADF, 10009},
    {EACCES, 10013},
    {EPERM, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {ENFILE, 10024},
    {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},
    {ENOBUFS, 10055},
    {ENOMEM, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    // Writing after the connection was shut down (by either side).
    {EPIPE, 10058},
    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
    {EUSERS, 10068},
    {EDQUOT, 10069},
    {ESTALE, 10070},
    {EREMOTE, 10071},
    {ECANCELED, 10103},
};

}  // namespace

std::uint32_t WinsockErrorFromErrno(int errnoValue) {
    if (errnoValue == 0) {
        return 0;
    }
    for (const ErrnoMapping& mapping : kErrnoMappings) {
        if (mapping.errnoValue == errnoValue) {
            return mapping.winsockError;
        }
    }
    return kWsaSysCallFailure;
}

std::uint32_t LastSocketError() {
    return WinsockErrorFromErrno(errno);
}

std::uint32_t WinsockErrorFromResolver(int resolverError) {
    switch (resolverError) {
        case 0:
            return 0;
        case EAI_NONAME:
            return 11001;  // host not found
        case EAI_AGAIN:
            return 11002;  // try again
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return 11004;  // name valid, no address of the kind asked for
        case EAI_MEMORY:
            return 10055;
        case EAI_SYSTEM:
            return LastSocketError();
        default:
            return 11003;  // non-recoverable look-up failure
    }
}

}  // namespace ipc
