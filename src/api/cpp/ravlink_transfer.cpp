// The Ravlink class: sending and receiving through the object's connection.
#include "ravlink.h"

int32_t Ravlink::Send(const void *buf, uint64_t len, const struct timeval *timeout) {
    return RavlinkSend(context, buf, static_cast<uint32_t>(len), timeout);
}

int32_t Ravlink::Send(const std::string &data, const struct timeval *timeout) {
    return Send(data.data(), data.size(), timeout);
}

int32_t Ravlink::Receive(void *buf, uint64_t len, const struct timeval *timeout) {
    return RavlinkRecv(context, buf, static_cast<int32_t>(len), timeout);
}

int32_t Ravlink::Receive(std::string &data, uint64_t len, const struct timeval *timeout) {
    data.resize(static_cast<std::string::size_type>(len));
    return Receive(&data[0], len, timeout);
}
