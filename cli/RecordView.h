// Device records and adapters as text blocks, CSV rows and JSON objects: every field, in one
// order, with the text forms the window uses.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/DeviceName.h"
#include "protocol/Record.h"

namespace valdrune {
class DeviceSession;
}

namespace valdrune::cli {

// Text: one "name: value" block per device (--long); Table: one row per device, the columns a
// technician looks at; Wide: the table with the rest of the addresses and codes.
enum class Format { Text, Json, Csv, Table, Wide };

using Json = nlohmann::ordered_json;

// "standard", "legacy", "two-port" or "unknown".
const char* KindName(std::uint8_t kind);

struct DeviceView {
    _CommandDataTable record;
    std::vector<std::string> overlaps;  // MAC texts of other devices with the same address
    int browserClass = -1;              // as the window's list classifies it; -1 when unknown
    std::string adapter;                // the adapter it answered on, when several were searched
};

// Every device of the session's table, in table order, with the overlaps and the browser class
// the window's list gives it.
std::vector<DeviceView> DeviceViews(const DeviceSession& session);

// Converts capability-0 device names (8-bit text in the user's code page) for every output.
// Without one the bytes stay as they are (escaped or replaced where they are not UTF-8).
void SetAnsiDecoder(AnsiDecoder decoder);
std::string DeviceName(const _CommandDataTable& record);

// RFC 5952 text of a 16-byte IPv6 address: lower case, no leading zeros, the longest run of
// two or more zero groups (the first of equal runs) as "::", IPv4-mapped ones dotted.
std::string Ipv6StandardText(const std::uint8_t* address);

// Terminal columns a UTF-8 text takes: East Asian wide and full-width characters take two,
// combining marks none.
std::size_t DisplayWidth(std::string_view text);

struct FieldValue {
    const char* name;
    std::string text;         // CSV and text output
    Json json;                // JSON output
    bool deviceText = false;  // free text the device chose; neutralised in CSV
};

std::vector<FieldValue> DeviceFields(const DeviceView& device);
Json DeviceJson(const DeviceView& device);

// Writes the devices in one format. Text: one "name: value" block per device.
void WriteDevices(std::ostream& out, const std::vector<DeviceView>& devices, Format format);
// One CSV line (quoted where needed), without the line break.
std::string CsvLine(const std::vector<std::string>& cells);
std::vector<std::string> DeviceCsvHeader(bool withAdapter = false);
// Device texts starting with = + - or @ get a leading apostrophe so spreadsheets keep them text.
std::vector<std::string> DeviceCsvCells(const DeviceView& device);

// JSON text safe for any device bytes (invalid UTF-8 is replaced, never thrown on).
std::string Dump(const Json& j, int indent = 2);

std::string Hex(const std::uint8_t* data, std::size_t size, bool spaced = false);

// Text a device sent, safe to print on a terminal: control bytes (C0, DEL, C1 also as UTF-8,
// escape sequences, line breaks) and bytes that are not UTF-8 become \xNN, and so does a
// backslash, so that the form stays unambiguous. Other UTF-8 passes unchanged.
std::string Printable(std::string_view text);

// A command for the user to run, safe to print: as Printable, but backslashes stay as they
// are (Windows paths, escaped quotes), since the command must work when copied.
std::string PrintableCommand(std::string_view text);

}  // namespace valdrune::cli
