// Warnings about TLS configurations that a connect names but that nothing defines. The library
// keeps its documented behaviour (an SSL definitions entry whose configuration section is missing
// leaves the connection as asked; a level-10 name that no configuration holds gets the default
// TLS settings); the tool says so on standard error. It reads the registry and the SSL
// definitions file with the library's own readers, built into the tool.
#pragma once

#include <string>

namespace tool {

// Levels 0 and 10: warns when the SSL definitions file's first entry for host and port names a
// configuration section that the file does not have.
void warn_missing_definition_section(const char *command, const std::string &host, const std::string &port,
                                     long level);

// Level 10: warns when neither the registry nor the SSL definitions file (for host and port)
// holds a configuration for the name.
void warn_unknown_configuration(const char *command, const std::string &host, const std::string &port,
                                const std::string &name);

} // namespace tool
