#include "ScreenView.h"

#include "FixedDecimal.h"
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

namespace {

using Lines = std::vector<std::string>;

std::string rateText(double perSecond) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%5.1f records/s", perSecond);
    return rate;
}

std::string signedDecimal(std::int32_t stored, int places) {
    return (stored >= 0 ? "+" : "") + fixedDecimal(stored, places);
}

std::string poseText(const quorlix_tra_data& tra) {
    std::string pose;
    const std::pair<const char*, std::int32_t> values[] = {{"x", tra.x},       {"y", tra.y},       {"z", tra.z},
                                                           {"azim", tra.azim}, {"elev", tra.elev}, {"roll", tra.roll}};
    for (const auto& v : values)
        pose += std::string(pose.empty() ? "" : "  ") + v.first + " " + signedDecimal(quorlix_net_i32(v.second), 5);
    return pose;
}

std::string valuatorsText(const quorlix_con_data& con) {
    std::string text;
    std::uint32_t valuators = std::min<std::uint32_t>(quorlix_net_u32(con.valuator_count), 32);
    for (std::uint32_t n = 1; n <= valuators; ++n)
        text += (n > 1 ? " " : "") + signedDecimal(quorlix_net_i32(con.valuators[n - 1]), 3);
    return text;
}

// Everything about a device: its state, counts and each entry in full.
Lines fullDevice(const DeviceLine& d, const std::vector<LiveModel::Entry>& entries) {
    Lines lines;
    lines.push_back(padded(visibleText(d.name), 10) + " " + padded(d.port.empty() ? "-" : visibleText(d.port), 14) +
                    " " + padded(d.state, 12) + " " + rateText(d.recordsPerSecond) + "   last change " +
                    clockText(d.lastChangeUs));
    lines.push_back(std::string(11, ' ') + std::to_string(d.records) + " records (" + std::to_string(d.bytes) +
                    " bytes), " + std::to_string(d.changes) + " changes, " + std::to_string(d.errors) + " errors, " +
                    std::to_string(d.reconnects) + " reconnects");
    for (const LiveModel::Entry& e : entries) {
        if (e.device != d.name) continue;
        if (e.kind == ChangeEvent::Kind::tracker) {
            lines.push_back("  tracker    " + padded(std::to_string(e.entry), 3) + " " + poseText(e.tra));
            continue;
        }
        lines.push_back("  controller " + padded(std::to_string(e.entry), 3) + " buttons    " + buttonsText(e.con) +
                        (e.lost ? "   line lost" : ""));
        std::uint32_t valuators = std::min<std::uint32_t>(quorlix_net_u32(e.con.valuator_count), 32);
        for (std::uint32_t n = 1; n <= valuators; ++n) {
            std::int32_t stored = quorlix_net_i32(e.con.valuators[n - 1]);
            lines.push_back("                 valuator " + padded(std::to_string(n), 2) + " " +
                            valuatorBar(quorlix_con_valuator(&e.con, n)) + " " + signedDecimal(stored, 3));
        }
    }
    lines.push_back("");
    return lines;
}

// The device's entries on one line: "c1 . 2 . ... +0.500 -0.250  t1 x +0.10000 ...".
std::string entriesLine(const DeviceLine& d, const std::vector<LiveModel::Entry>& entries) {
    std::string text;
    for (const LiveModel::Entry& e : entries) {
        if (e.device != d.name) continue;
        text += text.empty() ? "" : "  ";
        if (e.kind == ChangeEvent::Kind::tracker) text += "t" + std::to_string(e.entry) + " " + poseText(e.tra);
        else if (e.lost) text += "c" + std::to_string(e.entry) + " line lost";
        else text += "c" + std::to_string(e.entry) + " " + buttonsText(e.con) + "  " + valuatorsText(e.con);
    }
    return text.empty() ? "no record yet" : text;
}

std::string stateLine(const DeviceLine& d) {
    return padded(visibleText(d.name), 10) + " " + d.state + "  " + rateText(d.recordsPerSecond);
}

Lines compactDevice(const DeviceLine& d, const std::vector<LiveModel::Entry>& entries) {
    return {stateLine(d), "  " + entriesLine(d, entries)};
}

Lines minimalDevice(const DeviceLine& d, const std::vector<LiveModel::Entry>& entries) {
    return {stateLine(d) + "  " + entriesLine(d, entries)};
}

}  // namespace

std::string cutToWidth(const std::string& text, int width) {
    if (width <= 0) return text;
    std::size_t at = 0;
    for (int shown = 0; at < text.size() && shown < width; ++shown) at += std::max<std::size_t>(1, utf8SequenceAt(text, at));
    return text.substr(0, std::min(at, text.size()));
}

std::vector<std::string> renderFrame(const ScreenFrame& frame) {
    Lines header{frame.title};
    for (const std::string& w : frame.warnings) header.push_back("!! " + visibleText(w));
    Lines log;
    for (const std::string& l : frame.log) log.push_back(visibleText(l));

    // The most detailed layout that leaves the log a few lines.
    const bool sized = frame.height > 0;
    const std::size_t height = sized ? static_cast<std::size_t>(frame.height) : 0;
    const std::size_t logWanted = log.empty() ? 0 : 1 + std::min<std::size_t>(log.size(), 3);
    Lines devices;
    for (auto layout : {fullDevice, compactDevice, minimalDevice}) {
        devices.clear();
        if (layout == fullDevice) devices.push_back("");
        for (const DeviceLine& d : frame.devices) {
            Lines more = layout(d, frame.entries);
            devices.insert(devices.end(), more.begin(), more.end());
        }
        if (!sized || header.size() + devices.size() + logWanted <= height) break;
    }
    if (sized && header.size() + devices.size() > height) {
        // Not even one line each: the devices before the warnings.
        std::size_t warnings = height > devices.size() + 1 ? height - devices.size() - 1 : 0;
        header.resize(std::min(header.size(), 1 + warnings));
    }

    Lines lines = header;
    lines.insert(lines.end(), devices.begin(), devices.end());
    std::size_t room = sized ? (height > lines.size() + 1 ? height - lines.size() - 1 : 0) : log.size();
    if (!log.empty() && room > 0) {
        lines.push_back("--- log ---");
        lines.insert(lines.end(), log.end() - static_cast<std::ptrdiff_t>(std::min(room, log.size())), log.end());
    }
    if (sized) {
        if (lines.size() > height) lines.resize(height);
        for (std::string& l : lines) l = cutToWidth(l, frame.width);
    }
    return lines;
}

std::string screenText(const std::vector<std::string>& lines, bool terminal, int height) {
    std::string text;
    if (terminal) {
        // Each line is cleared before it is written, so a line as wide as the
        // terminal keeps its last character, and the last line of a full
        // terminal ends without a line feed that would scroll it.
        text = "\x1b[H";
        for (std::size_t i = 0; i < lines.size(); ++i) {
            text += "\x1b[K" + lines[i];
            if (height <= 0 || i + 1 < static_cast<std::size_t>(height)) text += "\r\n";
        }
        return height > 0 && lines.size() >= static_cast<std::size_t>(height) ? text : text + "\x1b[J";
    }
    for (const std::string& l : lines) text += l + "\n";
    return text + "\n";
}

}  // namespace host
