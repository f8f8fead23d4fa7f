#include "sim/WebPage.h"

namespace valdrune::sim {
namespace {

constexpr std::size_t kLargestRequest = 8192;

std::string Response(const char* status, const std::string& body, bool withBody) {
    std::string r = std::string("HTTP/1.1 ") + status +
                    "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                    std::to_string(body.size()) +
                    "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    if (withBody) r += body;
    return r;
}

std::string Short(const char* title) {
    return std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>") + title +
           "</title></head><body><p>" + title + "</p></body></html>\n";
}

}  // namespace

std::string HtmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if (c < 0x20 || c == 0x7F)
                    out += "\xEF\xBF\xBD";
                else
                    out += ch;
        }
    }
    return out;
}

std::string DevicePage(const DeviceSpec& device) {
    const std::string name = HtmlEscaped(FieldText(device.record.deviceName));
    const std::string model = HtmlEscaped(FieldText(device.record.model));
    const std::string mac = HtmlEscaped(MacText(device.record.primary.mac));
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + name +
           "</title></head>\n<body><h1 id=\"name\">" + name +
           "</h1>\n<dl><dt>Model</dt><dd id=\"model\">" + model +
           "</dd><dt>MAC address</dt><dd id=\"mac\">" + mac + "</dd></dl></body></html>\n";
}

RequestState CheckRequest(std::string_view received) {
    const std::size_t end = received.find("\r\n\r\n");
    if (end != std::string_view::npos && end + 4 <= kLargestRequest) return RequestState::Complete;
    return received.size() >= kLargestRequest ? RequestState::TooLarge : RequestState::Incomplete;
}

std::string WebResponse(std::string_view request, const std::string& page) {
    const std::size_t lineEnd = request.find("\r\n");
    const std::string_view line = request.substr(0, lineEnd);
    const std::size_t s1 = line.find(' ');
    const std::size_t s2 = s1 == std::string_view::npos ? s1 : line.find(' ', s1 + 1);
    if (lineEnd == std::string_view::npos || s2 == std::string_view::npos ||
        line.substr(s2 + 1).substr(0, 5) != "HTTP/") {
        return Response("400 Bad Request", Short("Bad request"), true);
    }
    const std::string_view method = line.substr(0, s1);
    std::string_view path = line.substr(s1 + 1, s2 - s1 - 1);
    path = path.substr(0, path.find('?'));
    const bool head = method == "HEAD";
    if (method != "GET" && !head)
        return Response("405 Method Not Allowed", Short("Not allowed"), true);
    if (path != "/" && path != "/index.html")
        return Response("404 Not Found", Short("Not found"), !head);
    return Response("200 OK", page, !head);
}

}  // namespace valdrune::sim
