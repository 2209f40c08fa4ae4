// A C++ caller of the installed library: the Ravlink class echoes a line over a plain
// connection to HOST PORT.
#include <iostream>
#include <string>

#include "ravlink.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::cerr << "usage: consumer_cpp HOST PORT\n";
        return 2;
    }
    const std::string line = "hello from C++";
    timeval tv = {10, 0};
    Ravlink link(RAVLINK_LEVEL_PLAIN);
    if (!link.ConnectToHostPort(std::string(argv[1]), std::string(argv[2]), &tv)) {
        std::cerr << "connect failed: " << RavlinkGetErrorString(nullptr) << "\n";
        return 1;
    }
    std::string reply;
    if (link.Send(line, &tv) != 1 || link.Receive(reply, line.size(), &tv) != RAVLINK_RECV_OK) {
        std::cerr << "error " << link.GetConnectionError() << "\n";
        return 1;
    }
    std::cout << "echo: " << reply << "\n";
    return 0;
}
