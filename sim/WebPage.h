// The small web page each simulated device serves, and the HTTP exchange around it.
// Pure C++: the sockets and TLS live in WebServer.
#pragma once

#include <string>
#include <string_view>

#include "sim/SimDevice.h"

namespace valdrune::sim {

// Text made safe for HTML element content and attribute values; control characters become
// U+FFFD so that a device name cannot shape the page.
std::string HtmlEscaped(std::string_view text);

// The device's page: its name, model and MAC address.
std::string DevicePage(const DeviceSpec& device);

enum class RequestState { Incomplete, Complete, TooLarge };

// Whether `received` holds a whole request head (requests carry no body here).
RequestState CheckRequest(std::string_view received);

// The whole HTTP/1.1 response to one request head: the page for GET or HEAD of "/" (or of
// "/index.html"), 404 for other paths, 405 for other methods, 400 for anything malformed.
// Every response closes the connection.
std::string WebResponse(std::string_view request, const std::string& page);

}  // namespace valdrune::sim
