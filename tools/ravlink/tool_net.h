// Plain sockets for the tool's own side of things (the server of `serve`, half-closing a
// connection): the library is a client library and offers neither.
#pragma once

#include <string>

#include "ravlink.h"

namespace tool {

// Starts the sockets interface (Windows) once.
void start_sockets();
// A listening socket on address:port (port "0": any free port); the invalid socket with an error.
ravlink_socket_t listen_on(const std::string &address, const std::string &port, std::string &error);
// The port a socket is bound to.
int bound_port(ravlink_socket_t s);
ravlink_socket_t accept_client(ravlink_socket_t listener);
int send_some(ravlink_socket_t s, const void *data, int length);
int recv_some(ravlink_socket_t s, void *data, int length);
bool send_all(ravlink_socket_t s, const void *data, int length);
// Ends the sending direction (the peer reads end of stream); the socket stays open for reading.
void shutdown_send(ravlink_socket_t s);
void close_socket(ravlink_socket_t s);
// The text of the last socket error.
std::string socket_error_text();

} // namespace tool
