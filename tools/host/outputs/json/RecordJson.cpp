#include "RecordJson.h"

#include "VisibleText.h"

#include <algorithm>
#include <cstdio>

namespace host {

namespace {

std::string timeText(std::int32_t sec, std::int32_t usec) {
    long long s = quorlix_net_i32(sec);
    long long u = quorlix_net_i32(usec);
    char text[40];
    if (u >= 0 && u <= 999999) {
        std::snprintf(text, sizeof text, "%lld.%06lld", s, u);
        return text;
    }
    // Microseconds out of their range (a corrupted record): the instant they
    // add up to, still a JSON number.
    long long total = s * 1000000 + u;
    unsigned long long magnitude = static_cast<unsigned long long>(total < 0 ? -total : total);
    std::snprintf(text, sizeof text, "%s%llu.%06llu", total < 0 ? "-" : "", magnitude / 1000000, magnitude % 1000000);
    return text;
}

std::string head(const std::string& device, const char* kind, std::uint32_t entry, std::uint32_t number,
                 std::int32_t sec, std::int32_t usec) {
    return "{\"device\":" + jsonString(device) + ",\"kind\":\"" + kind + "\",\"entry\":" + std::to_string(entry) +
           ",\"number\":" + std::to_string(number) + ",\"time\":" + timeText(sec, usec);
}

std::string staleText(std::optional<bool> stale) {
    if (!stale) return "";
    return *stale ? ",\"stale\":true" : ",\"stale\":false";
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    auto escape = [&](char32_t code) {
        char escaped[16];
        if (code > 0xffff) {
            code -= 0x10000;
            std::snprintf(escaped, sizeof escaped, "\\u%04x\\u%04x", static_cast<unsigned>(0xd800 + (code >> 10)),
                          static_cast<unsigned>(0xdc00 + (code & 0x3ff)));
        } else {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(code));
        }
        out += escaped;
    };
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t length = visibleAt(text, i);
        std::size_t sequence = utf8SequenceAt(text, i);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (length > 0) {
            out.append(text, i, length);
            i += length;
        } else if (sequence > 0) {
            // A control or a character a terminal would not show: escaped,
            // still the same character to a JSON reader.
            escape(codePointAt(text, i, sequence));
            i += sequence;
        } else {
            // A byte that is not UTF-8 is no character: the replacement
            // character, not the one of the byte's number (0xff is no U+00FF).
            escape(0xfffd);
            ++i;
        }
    }
    return out + "\"";
}

std::string controllerJson(const std::string& device, std::uint32_t entry, const quorlix_con_data& record,
                           bool lost, std::optional<bool> stale) {
    std::string json = head(device, "controller", entry, quorlix_net_u32(record.number), record.time_sec,
                            record.time_usec);
    std::uint32_t buttons = std::min<std::uint32_t>(quorlix_net_u32(record.button_count), 32);
    json += ",\"buttons\":[";
    for (std::uint32_t n = 1; n <= buttons; ++n) json += (n > 1 ? "," : "") + std::to_string(quorlix_con_button(&record, n));
    std::uint32_t valuators = std::min<std::uint32_t>(quorlix_net_u32(record.valuator_count), 32);
    json += "],\"valuators\":[";
    for (std::uint32_t n = 1; n <= valuators; ++n)
        json += (n > 1 ? "," : "") + fixedDecimal(quorlix_net_i32(record.valuators[n - 1]), 3);
    return json + (lost ? "],\"line\":\"lost\"" : "]") + staleText(stale) + "}";
}

std::string trackerJson(const std::string& device, std::uint32_t entry, const quorlix_tra_data& record,
                        bool lost, std::optional<bool> stale) {
    std::string json = head(device, "tracker", entry, quorlix_net_u32(record.number), record.time_sec,
                            record.time_usec);
    const std::pair<const char*, std::int32_t> pose[] = {{"x", record.x},       {"y", record.y},
                                                         {"z", record.z},       {"azim", record.azim},
                                                         {"elev", record.elev}, {"roll", record.roll}};
    json += ",\"pose\":{";
    bool first = true;
    for (const auto& value : pose) {
        json += std::string(first ? "" : ",") + "\"" + value.first + "\":" + fixedDecimal(quorlix_net_i32(value.second), 5);
        first = false;
    }
    return json + (lost ? "},\"line\":\"lost\"" : "}") + staleText(stale) + "}";
}

}  // namespace host
