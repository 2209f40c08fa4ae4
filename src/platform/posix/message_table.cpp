// Windows' own English texts for the codes the library reports.
#include "platform/posix/message_table.h"

namespace plat::posix {
namespace {

struct Message {
    std::uint32_t code;
    const char *text;
};

constexpr Message kMessages[] = {
    {8, "Not enough memory resources are available to process this command."},
    // System
    {1168, "Element not found."},
    {1630, "Data of this type is not supported."},
    // Winsock and resolver
    {10004, "A blocking operation was interrupted by a call to WSACancelBlockingCall."},
    {10009, "The file handle supplied is not valid."},
    {10013, "An attempt was made to access a socket in a way forbidden by its access permissions."},
    {10014, "The system detected an invalid pointer address in attempting to use a pointer argument in a call."},
    {10022, "An invalid argument was supplied."},
    {10024, "Too many open sockets."},
    {10035, "A non-blocking socket operation could not be completed immediately."},
    {10036, "A blocking operation is currently executing."},
    {10037, "An operation was attempted on a non-blocking socket that already had an operation in progress."},
    {10038, "An operation was attempted on something that is not a socket."},
    {10040, "A message sent on a datagram socket was larger than the internal message buffer or some other network limit, or the buffer used to receive a datagram into was smaller than the datagram itself."},
    {10042, "An unknown, invalid, or unsupported option or level was specified in a getsockopt or setsockopt call."},
    {10043, "The requested protocol has not been configured into the system, or no implementation for it exists."},
    {10044, "The support for the specified socket type does not exist in this address family."},
    {10045, "The attempted operation is not supported for the type of object referenced."},
    {10047, "An address incompatible with the requested protocol was used."},
    {10048, "Only one usage of each socket address (protocol/network address/port) is normally permitted."},
    {10049, "The requested address is not valid in its context."},
    {10050, "A socket operation encountered a dead network."},
    {10051, "A socket operation was attempted to an unreachable network."},
    {10052, "The connection has been broken due to keep-alive activity detecting a failure while the operation was in progress."},
    {10053, "An established connection was aborted by the software in your host machine."},
    {10054, "An existing connection was forcibly closed by the remote host."},
    {10055, "An operation on a socket could not be performed because the system lacked sufficient buffer space or because a queue was full."},
    {10056, "A connect request was made on an already connected socket."},
    {10057, "A request to send or receive data was disallowed because the socket is not connected and (when sending on a datagram socket using a sendto call) no address was supplied."},
    {10058, "A request to send or receive data was disallowed because the socket had already been shut down in that direction with a previous shutdown call."},
    {10060, "A connection attempt failed because the connected party did not properly respond after a period of time, or established connection failed because connected host has failed to respond."},
    {10061, "No connection could be made because the target machine actively refused it."},
    {10063, "A name component or a name was too long."},
    {10064, "A socket operation failed because the destination host was down."},
    {10065, "A socket operation was attempted to an unreachable host."},
    {10093, "Either the application has not called WSAStartup, or WSAStartup failed."},
    {10109, "The specified class was not found."},
    {11001, "No such host is known."},
    {11002, "This is usually a temporary error during hostname resolution and means that the local server did not receive a response from an authoritative server."},
    {11003, "A non-recoverable error occurred during a database lookup."},
    {11004, "The requested name is valid, but no data of the requested type was found."},
    // Security package (SSPI)
    {0x00090312, "The function completed successfully, but must be called again to complete the context"},
    {0x80090300, "Not enough memory is available to complete this request"},
    {0x80090301, "The handle specified is invalid"},
    {0x80090302, "The function requested is not supported"},
    {0x80090303, "The specified target is unknown or unreachable"},
    {0x80090304, "The Local Security Authority cannot be contacted"},
    {0x80090305, "The requested security package does not exist"},
    {0x80090308, "The token supplied to the function is invalid"},
    {0x8009030A, "The per-message Quality of Protection is not supported by the security package"},
    {0x8009030C, "The logon attempt failed"},
    {0x8009030D, "The credentials supplied to the package were not recognized"},
    {0x8009030E, "No credentials are available in the security package"},
    {0x8009030F, "The message or signature supplied for verification has been altered"},
    {0x80090310, "The message supplied for verification is out of sequence"},
    {0x80090311, "No authority could be contacted for authentication."},
    {0x80090317, "The context has expired and can no longer be used."},
    {0x80090318, "The supplied message is incomplete.  The signature was not verified."},
    {0x80090321, "The buffers supplied to a function was too small."},
    {0x80090322, "The target principal name is incorrect."},
    {0x80090324, "The clocks on the client and server machines are skewed."},
    {0x80090346, "Client's supplied SSPI channel bindings were incorrect."},
};

} // namespace

const char *find_message(std::uint32_t code) {
    for (const Message &m : kMessages)
        if (m.code == code) return m.text;
    return nullptr;
}

} // namespace plat::posix
