#include "app/DeviceReport.h"

#include "app/LocalTime.h"
#include "engine/FormatText.h"

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

nlohmann::json Text(const std::optional<std::string>& text) {
    return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

}  // namespace

const char* OutcomeName(ExitStatus status) {
    switch (status) {
        case ExitStatus::Updated:
            return "updated";
        case ExitStatus::Stopped:
            return "stopped";
        default:
            return "failed";
    }
}

std::string IsoLocalTime(std::time_t seconds) {
    const std::tm local = LocalTime(seconds);
    // The offset is what the local calendar time reads beyond the UTC one: the same on every
    // platform, whatever its strftime makes of %z.
    const int64_t asUtc =
        DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)) *
            86400 +
        local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const int64_t offset = asUtc - static_cast<int64_t>(seconds);
    const int64_t minutes = (offset < 0 ? -offset : offset) / 60;
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return FormatText("%s%c%02d:%02d", text, offset < 0 ? '-' : '+', static_cast<int>(minutes / 60),
                      static_cast<int>(minutes % 60));
}

nlohmann::json ReportJson(const DeviceReport& report) {
    nlohmann::json device = nullptr;
    if (report.device) {
        device = {{"vendor", Text(report.device->vendor)},
                  {"product", Text(report.device->product)},
                  {"serial", Text(report.device->serial)},
                  {"by_id", Text(report.device->byId)}};
    }
    nlohmann::json image = {{"path", report.image.path}, {"size", report.image.size}};
    image["crc32"] = report.image.crc ? nlohmann::json(FormatText("%08x", *report.image.crc))
                                      : nlohmann::json(nullptr);
    nlohmann::json flash = nullptr;
    if (!report.loader.flashName.empty()) {
        const LoaderFacts& loader = report.loader;
        flash = {{"maker", loader.flashMaker ? nlohmann::json(*loader.flashMaker) : nullptr},
                 {"device_id", loader.flashDevice ? nlohmann::json(*loader.flashDevice) : nullptr},
                 {"name", loader.flashName}};
    }
    nlohmann::json line = {
        {"port", report.port},
        {"device", device},
        {"image", image},
        {"target", report.target},
        {"started", IsoLocalTime(report.startedSeconds)},
        {"seconds", report.seconds},
        {"outcome", OutcomeName(report.status)},
        {"status", ToProcessStatus(report.status)},
        {"reason", Text(report.reason)},
        {"loader_version", report.loader.version.empty() ? nlohmann::json(nullptr)
                                                         : nlohmann::json(report.loader.version)},
        {"flash", flash},
        {"bytes", report.bytes},
    };
    line["rate"] = report.rate ? nlohmann::json(*report.rate) : nlohmann::json(nullptr);
    return line;
}

std::string ReportLine(const DeviceReport& report) {
    return ReportJson(report).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool ReportWriter::Append(const DeviceReport& report) {
    const std::string line = ReportLine(report) + "\n";
    const std::lock_guard<std::mutex> lock(lock_);
    return file_.Write(line);
}

std::optional<DeviceIdentity> IdentityOf(const PortInfo& port) {
    const auto known = [](const std::string& text) {
        return text.empty() ? std::nullopt : std::optional<std::string>(text);
    };
    DeviceIdentity identity{known(port.vendorId), known(port.productId), known(port.serial),
                            known(port.byId)};
    if (!identity.vendor && !identity.product && !identity.serial && !identity.byId) {
        return std::nullopt;
    }
    return identity;
}

IdentityLookup IdentityFromPorts(PortLister& lister,
                                 std::function<std::string(const std::string&)> resolve) {
    return [&lister, resolve = std::move(resolve)](
               const std::string& devicePath) -> std::optional<DeviceIdentity> {
        if (devicePath.empty()) {
            return std::nullopt;
        }
        const std::vector<PortInfo> ports = lister.ListQuietly();
        const PortInfo* port = FindPortOf(ports, devicePath);
        if (port == nullptr && resolve) {
            if (const std::string node = resolve(devicePath); !node.empty()) {
                port = FindPortOf(ports, node);
            }
        }
        return port != nullptr ? IdentityOf(*port) : std::nullopt;
    };
}
