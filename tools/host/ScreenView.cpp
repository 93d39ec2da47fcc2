#include "ScreenView.h"

#include "RecordJson.h"
#include "VisibleText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace host {

namespace {

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string buttonsText(const quorlix_con_data& con) {
    std::uint32_t count = std::min<std::uint32_t>(quorlix_net_u32(con.button_count), 32);
    std::string text;
    for (std::uint32_t n = 1; n <= count; ++n) {
        std::string mark = quorlix_con_button(&con, n) ? std::to_string(n) : ".";
        text += (n > 1 ? " " : "") + std::string(n >= 10 && mark == "." ? " " : "") + mark;
    }
    return text;
}

}  // namespace

std::string valuatorBar(float value, int halfWidth) {
    if (!std::isfinite(value)) value = 0.0f;
    value = std::max(-1.0f, std::min(1.0f, value));
    int cells = static_cast<int>(std::lround(std::fabs(value) * static_cast<float>(halfWidth)));
    std::string left(static_cast<std::size_t>(halfWidth), ' ');
    std::string right(static_cast<std::size_t>(halfWidth), ' ');
    if (value < 0)
        for (int i = 0; i < cells; ++i) left[static_cast<std::size_t>(halfWidth - 1 - i)] = '#';
    else
        for (int i = 0; i < cells; ++i) right[static_cast<std::size_t>(i)] = '#';
    return "[" + left + "|" + right + "]";
}

std::string clockText(std::int64_t microseconds) {
    if (microseconds <= 0) return "-";
    std::time_t seconds = static_cast<std::time_t>(microseconds / 1000000);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(microseconds / 1000 % 1000));
    return text;
}

std::vector<std::string> renderFrame(const ScreenFrame& frame) {
    std::vector<std::string> lines;
    lines.push_back(frame.title);
    for (const std::string& w : frame.warnings) lines.push_back("!! " + visibleText(w));
    lines.push_back("");
    for (const DeviceLine& d : frame.devices) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%5.1f records/s", d.recordsPerSecond);
        lines.push_back(padded(visibleText(d.name), 10) + " " + padded(d.port.empty() ? "-" : visibleText(d.port), 14) + " " +
                        padded(d.state, 12) + " " + rate + "   last change " + clockText(d.lastChangeUs));
        lines.push_back(std::string(11, ' ') + std::to_string(d.records) + " records (" + std::to_string(d.bytes) +
                        " bytes), " +
                        std::to_string(d.changes) + " changes, " + std::to_string(d.errors) + " errors, " +
                        std::to_string(d.reconnects) + " reconnects");
        for (const LiveModel::Entry& e : frame.entries) {
            if (e.device != d.name) continue;
            if (e.kind == ChangeEvent::Kind::controller) {
                lines.push_back("  controller " + padded(std::to_string(e.entry), 3) + " buttons    " + buttonsText(e.con));
                std::uint32_t valuators = std::min<std::uint32_t>(quorlix_net_u32(e.con.valuator_count), 32);
                for (std::uint32_t n = 1; n <= valuators; ++n) {
                    std::int32_t stored = quorlix_net_i32(e.con.valuators[n - 1]);
                    std::string value = fixedDecimal(stored, 3);
                    if (stored >= 0) value = "+" + value;
                    lines.push_back("                 valuator " + padded(std::to_string(n), 2) + " " +
                                    valuatorBar(quorlix_con_valuator(&e.con, n)) + " " + value);
                }
            } else {
                std::string pose;
                const std::pair<const char*, std::int32_t> values[] = {{"x", e.tra.x},       {"y", e.tra.y},
                                                                       {"z", e.tra.z},       {"azim", e.tra.azim},
                                                                       {"elev", e.tra.elev}, {"roll", e.tra.roll}};
                for (const auto& v : values) {
                    std::int32_t stored = quorlix_net_i32(v.second);
                    std::string value = fixedDecimal(stored, 5);
                    pose += std::string(pose.empty() ? "" : "  ") + v.first + " " + (stored >= 0 ? "+" : "") + value;
                }
                lines.push_back("  tracker    " + padded(std::to_string(e.entry), 3) + " " + pose);
            }
        }
        lines.push_back("");
    }
    if (!frame.log.empty()) {
        lines.push_back("--- log ---");
        for (const std::string& l : frame.log) lines.push_back(visibleText(l));
    }
    return lines;
}

std::string screenText(const std::vector<std::string>& lines, bool terminal) {
    std::string text;
    if (terminal) {
        text = "\x1b[H";
        for (const std::string& l : lines) text += l + "\x1b[K\n";
        return text + "\x1b[J";
    }
    for (const std::string& l : lines) text += l + "\n";
    return text + "\n";
}

}  // namespace host
