#include "cli/RecordView.h"

#include <algorithm>
#include <cstdio>

namespace valdrune::cli {

const char* KindName(std::uint8_t kind) {
    switch (kind) {
        case DEVICE_KIND_STANDARD:
            return "standard";
        case DEVICE_KIND_LEGACY:
            return "legacy";
        case DEVICE_KIND_TWO_PORT:
            return "two-port";
        default:
            return "unknown";
    }
}

std::string Hex(const std::uint8_t* data, std::size_t size, bool spaced) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        if (spaced && i) out += ' ';
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

namespace {

void Escape(std::string& out, unsigned char b) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
    out += escaped;
}

// Length of the well-formed UTF-8 sequence at text[i] (shortest form, no surrogates, at most
// U+10FFFF), 0 when there is none.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const auto tail = [&](std::size_t k, unsigned char low, unsigned char high) {
        return i + k < text.size() && at(k) >= low && at(k) <= high;
    };
    const unsigned char b = at(0);
    if (b >= 0xC2 && b <= 0xDF) return tail(1, 0x80, 0xBF) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        const unsigned char low = b == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = b == 0xED ? 0x9F : 0xBF;
        return tail(1, low, high) && tail(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        const unsigned char low = b == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = b == 0xF4 ? 0x8F : 0xBF;
        return tail(1, low, high) && tail(2, 0x80, 0xBF) && tail(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

}  // namespace

namespace {

std::string Escaped(std::string_view text, bool keepBackslash) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if (b < 0x20 || b == 0x7F || (b == '\\' && !keepBackslash))
                Escape(out, b);
            else
                out += static_cast<char>(b);
            ++i;
            continue;
        }
        // C1 controls (U+0080..U+009F, 0xC2 0x80..0x9F) act like ESC sequences on terminals
        // that read UTF-8; bytes that are no UTF-8 at all may act as C1 on those that do not.
        const std::size_t length = Utf8Length(text, i);
        const bool c1 = length == 2 && b == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length == 0 || c1) {
            const std::size_t n = c1 ? 2 : 1;
            for (std::size_t k = 0; k < n; ++k)
                Escape(out, static_cast<unsigned char>(text[i + k]));
            i += n;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

}  // namespace

std::string Printable(std::string_view text) { return Escaped(text, false); }

std::string PrintableCommand(std::string_view text) { return Escaped(text, true); }

namespace {

AnsiDecoder& Decoder() {
    static AnsiDecoder decoder;
    return decoder;
}

}  // namespace

void SetAnsiDecoder(AnsiDecoder decoder) { Decoder() = std::move(decoder); }

std::string DeviceName(const _CommandDataTable& r) { return DeviceNameText(r, Decoder()); }

std::string Ipv6StandardText(const std::uint8_t* a) {
    unsigned g[8];
    for (int i = 0; i < 8; ++i) g[i] = a[2 * i] * 256u + a[2 * i + 1];
    char buf[48];
    if (g[0] == 0 && g[1] == 0 && g[2] == 0 && g[3] == 0 && g[4] == 0 && g[5] == 0xFFFF) {
        std::snprintf(buf, sizeof buf, "::ffff:%u.%u.%u.%u", a[12], a[13], a[14], a[15]);
        return buf;
    }
    int best = -1, bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && g[j] == 0) ++j;
        if (j - i > bestLength) {
            best = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    std::string out;
    for (int i = 0; i < 8; ++i) {
        if (i == best) {
            out += "::";
            i += bestLength - 1;
            continue;
        }
        if (!out.empty() && out.back() != ':') out += ':';
        std::snprintf(buf, sizeof buf, "%x", g[i]);
        out += buf;
    }
    return out;
}

std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8Length(text, i);
        if (n == 0) {  // a lone byte, as a terminal shows it
            ++width;
            ++i;
            continue;
        }
        char32_t c = static_cast<unsigned char>(text[i]) & (n == 1   ? 0x7F
                                                            : n == 2 ? 0x1F
                                                            : n == 3 ? 0x0F
                                                                     : 0x07);
        for (std::size_t k = 1; k < n; ++k)
            c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += n;
        const bool combining = (c >= 0x300 && c <= 0x36F) || (c >= 0x200B && c <= 0x200F) ||
                               (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0x20D0 && c <= 0x20FF);
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
                          (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
                          (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                          (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                          (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
        width += combining ? 0 : wide ? 2 : 1;
    }
    return width;
}

namespace {

FieldValue Address(const char* name, std::uint32_t v) { return {name, Ipv4Text(v), Ipv4Text(v)}; }
FieldValue Number(const char* name, long long v) { return {name, std::to_string(v), v}; }
// JSON escapes control characters itself; text and CSV output get the printable form.
FieldValue Str(const char* name, const std::string& v) { return {name, Printable(v), v}; }
// Free text a device chose (name, model, serial, version): in CSV a leading = + - @ would make a
// spreadsheet run it as a formula.
FieldValue DeviceText(const char* name, const std::string& v) {
    FieldValue f = Str(name, v);
    f.deviceText = true;
    return f;
}

std::string Joined(const std::vector<std::string>& items, char sep) {
    std::string out;
    for (const auto& s : items) {
        if (!out.empty()) out += sep;
        out += s;
    }
    return out;
}

}  // namespace

std::vector<FieldValue> DeviceFields(const DeviceView& d) {
    const _CommandDataTable& r = d.record;
    std::vector<FieldValue> f;
    if (!d.adapter.empty()) f.push_back(Str("adapter", d.adapter));
    f.push_back(Str("mac", MacText(r.primary.mac)));
    f.push_back(Address("ipv4", r.primary.ipAddress));
    f.push_back(Address("subnet_mask", r.primary.subnetMask));
    f.push_back(Address("gateway", r.primary.gateway));
    f.push_back(Address("dns1", r.primary.dns1));
    f.push_back(Address("dns2", r.primary.dns2));
    f.push_back(Number("port", r.primary.port));
    f.push_back(Number("https", r.https));
    f.push_back(Address("pc_ipv4", r.primary.ipAddress2));
    f.push_back(Address("pc_subnet_mask", r.primary.subnetMask2));
    f.push_back(Address("secondary_ipv4", r.secondary.ipAddress));
    f.push_back(Address("secondary_subnet_mask", r.secondary.subnetMask));
    f.push_back(Address("secondary_gateway", r.secondary.gateway));
    f.push_back(Address("secondary_dns1", r.secondary.dns1));
    f.push_back(Address("secondary_dns2", r.secondary.dns2));
    f.push_back(Str("ipv6", Ipv6Text(r)));
    f.push_back(Str("ipv6_port", Ipv6PortText(r)));
    f.push_back(Str("ipv6_address2", Ipv6StandardText(r.ipv6Address2.data())));
    const std::string pair[2] = {Ipv6StandardText(r.ipv6AddressPair.data()),
                                 Ipv6StandardText(r.ipv6AddressPair.data() + 16)};
    f.push_back(
        FieldValue{"ipv6_address_pair", pair[0] + ' ' + pair[1], Json::array({pair[0], pair[1]})});
    f.push_back(Number("has_ipv6", r.hasIpv6));
    f.push_back(Number("has_ipv6_mode", r.hasIpv6Mode));
    f.push_back(Number("kind", r.kind));
    f.push_back(Str("kind_name", KindName(r.kind)));
    f.push_back(Number("ipv4_mode", r.ipv4Mode));
    f.push_back(Number("ipv6_mode", r.ipv6Mode));
    f.push_back(Number("flags", r.flags));
    f.push_back(Number("legacy_addressing", r.legacyAddressing));
    f.push_back(Number("legacy_word", r.legacyWord));
    f.push_back(Number("legacy_prefix", r.legacyPrefix));
    f.push_back(DeviceText("name", DeviceName(r)));
    f.push_back(DeviceText("model", FieldText(r.model)));
    f.push_back(DeviceText("serial", FieldText(r.serialNumber)));
    f.push_back(DeviceText("version", FieldText(r.versionText)));
    f.push_back(Number("capability", r.capabilityFlag));
    f.push_back(Number("status_bits", r.statusBits));
    f.push_back(Number("port_kind", r.portKind));
    f.push_back(Number("port_option_a", r.portOptionA));
    f.push_back(Number("port_option_b", r.portOptionB));
    f.push_back(Number("has_browser_bits", r.hasBrowserBits));
    f.push_back(Number("browser_bits", r.browserBits));
    f.push_back(Number("browser_class", d.browserClass));
    f.push_back(Number("sequence", r.sequence));
    f.push_back(FieldValue{"overlaps", Joined(d.overlaps, ' '), Json(d.overlaps)});
    return f;
}

Json DeviceJson(const DeviceView& d) {
    Json j = Json::object();
    for (auto& f : DeviceFields(d)) j[f.name] = std::move(f.json);
    return j;
}

std::string CsvLine(const std::vector<std::string>& cells) {
    std::string out;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i) out += ',';
        const std::string& c = cells[i];
        if (c.find_first_of(",\"\r\n") == std::string::npos) {
            out += c;
            continue;
        }
        out += '"';
        for (char ch : c) {
            if (ch == '"') out += '"';
            out += ch;
        }
        out += '"';
    }
    return out;
}

std::vector<std::string> DeviceCsvHeader(bool withAdapter) {
    DeviceView v;
    if (withAdapter) v.adapter = "-";
    std::vector<std::string> h;
    for (const auto& f : DeviceFields(v)) h.emplace_back(f.name);
    return h;
}

std::vector<std::string> DeviceCsvCells(const DeviceView& d) {
    std::vector<std::string> cells;
    for (auto& f : DeviceFields(d)) {
        if (f.deviceText && !f.text.empty() &&
            std::string_view("=+-@").find(f.text[0]) != std::string_view::npos)
            f.text.insert(0, 1, '\'');
        cells.push_back(std::move(f.text));
    }
    return cells;
}

std::string Dump(const Json& j, int indent) {
    return j.dump(indent, ' ', false, nlohmann::detail::error_handler_t::replace);
}

namespace {

// Columns sized to their widest cell, two blanks apart, numbers right-aligned, no trailing
// blanks; every cell is already printable.
void WriteTable(std::ostream& out, const std::vector<DeviceView>& devices, bool wide) {
    struct Column {
        const char* title;
        bool right;
        std::function<std::string(const DeviceView&)> cell;
    };
    const auto text = [](const Text16& t) { return Printable(FieldText(t)); };
    std::vector<Column> columns;
    const bool adapters = !devices.empty() && !devices[0].adapter.empty();
    if (adapters)
        columns.push_back(
            {"ADAPTER", false, [](const DeviceView& d) { return Printable(d.adapter); }});
    columns.push_back(
        {"MAC", false, [](const DeviceView& d) { return MacText(d.record.primary.mac); }});
    columns.push_back(
        {"IPV4", false, [](const DeviceView& d) { return Ipv4Text(d.record.primary.ipAddress); }});
    if (wide) {
        columns.push_back({"MASK", false, [](const DeviceView& d) {
                               return Ipv4Text(d.record.primary.subnetMask);
                           }});
        columns.push_back({"GATEWAY", false,
                           [](const DeviceView& d) { return Ipv4Text(d.record.primary.gateway); }});
    }
    columns.push_back(
        {"PORT", true, [](const DeviceView& d) { return std::to_string(d.record.primary.port); }});
    if (wide) {
        columns.push_back(
            {"HTTPS", false, [](const DeviceView& d) { return d.record.https ? "yes" : "no"; }});
        columns.push_back(
            {"KIND", false, [](const DeviceView& d) { return KindName(d.record.kind); }});
    }
    columns.push_back(
        {"NAME", false, [](const DeviceView& d) { return Printable(DeviceName(d.record)); }});
    columns.push_back(
        {"MODEL", false, [text](const DeviceView& d) { return text(d.record.model); }});
    columns.push_back(
        {"SERIAL", false, [text](const DeviceView& d) { return text(d.record.serialNumber); }});
    if (wide) {
        columns.push_back(
            {"VERSION", false, [text](const DeviceView& d) { return text(d.record.versionText); }});
        // The list's own forms, as in the window and the JSON "ipv6" field.
        columns.push_back({"IPV6", false, [](const DeviceView& d) { return Ipv6Text(d.record); }});
        columns.push_back(
            {"IPV6-PORT", true, [](const DeviceView& d) { return Ipv6PortText(d.record); }});
    }
    columns.push_back({"OVERLAPS", false, [](const DeviceView& d) {
                           return d.overlaps.empty() ? std::string("-") : Joined(d.overlaps, ',');
                       }});

    std::vector<std::vector<std::string>> rows;
    rows.emplace_back();
    for (const auto& c : columns) rows.back().emplace_back(c.title);
    for (const auto& d : devices) {
        rows.emplace_back();
        for (const auto& c : columns) rows.back().push_back(c.cell(d));
    }
    std::vector<std::size_t> widths(columns.size(), 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], DisplayWidth(row[i]));
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string pad(widths[i] - DisplayWidth(row[i]), ' ');
            if (i) line += "  ";
            line += columns[i].right ? pad + row[i] : row[i] + (i + 1 < row.size() ? pad : "");
        }
        out << line << '\n';
    }
}

}  // namespace

void WriteDevices(std::ostream& out, const std::vector<DeviceView>& devices, Format format) {
    switch (format) {
        case Format::Json: {
            Json all = Json::array();
            for (const auto& d : devices) all.push_back(DeviceJson(d));
            out << Dump(all) << '\n';
            break;
        }
        case Format::Table:
        case Format::Wide:
            WriteTable(out, devices, format == Format::Wide);
            break;
        case Format::Csv:
            out << CsvLine(DeviceCsvHeader(!devices.empty() && !devices[0].adapter.empty()))
                << '\n';
            for (const auto& d : devices) out << CsvLine(DeviceCsvCells(d)) << '\n';
            break;
        case Format::Text:
            for (std::size_t i = 0; i < devices.size(); ++i) {
                if (i) out << '\n';
                for (const auto& f : DeviceFields(devices[i])) {
                    char label[32];
                    std::snprintf(label, sizeof label, "%-22s", f.name);
                    out << label << ' ' << f.text << '\n';
                }
            }
            break;
    }
}

}  // namespace valdrune::cli
