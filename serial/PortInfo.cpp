#include "serial/PortInfo.h"

#include <cctype>

namespace {

constexpr const char* kNoPorts = "no serial ports found";

std::string ShownName(const PortInfo& port) {
    return port.name.empty() ? port.node : port.name;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

std::string PortLister::NodeOfUsbSerial(const std::string& serial) {
    const std::vector<PortInfo> ports = List();
    const PortInfo* port = FindUsbSerial(ports, serial);
    return port != nullptr ? port->node : "";
}

std::string UsbSerialOf(const std::string& portName) {
    // /port usb:SERIAL arrives as COMusb:SERIAL, like every other /port value.
    constexpr char kPrefix[] = "usb:";
    std::string rest = portName;
    if (rest.size() > 3 && std::toupper(static_cast<unsigned char>(rest[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(rest[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(rest[2])) == 'M') {
        rest = rest.substr(3);
    }
    if (rest.size() <= sizeof kPrefix - 1 || rest.compare(0, sizeof kPrefix - 1, kPrefix) != 0) {
        return "";
    }
    return rest.substr(sizeof kPrefix - 1);
}

const PortInfo* FindUsbSerial(const std::vector<PortInfo>& ports, const std::string& serial) {
    for (const PortInfo& port : ports) {
        if (!serial.empty() && port.serial == serial) {
            return &port;
        }
    }
    return nullptr;
}

const PortInfo* FindPortOf(const std::vector<PortInfo>& ports, const std::string& devicePath) {
    if (const std::string serial = UsbSerialOf(devicePath); !serial.empty()) {
        return FindUsbSerial(ports, serial);
    }
    // COM10 and up are opened in the device namespace; the listing names them without it.
    constexpr char kDeviceNamespace[] = "\\\\.\\";
    std::string path = devicePath;
    if (path.rfind(kDeviceNamespace, 0) == 0) {
        path = path.substr(sizeof kDeviceNamespace - 1);
    }
    const bool com = Upper(path).rfind("COM", 0) == 0;
    for (const PortInfo& port : ports) {
        for (const std::string* name : {&port.name, &port.node, &port.byId}) {
            if (!name->empty() && (*name == path || (com && Upper(*name) == Upper(path)))) {
                return &port;
            }
        }
    }
    return nullptr;
}

std::string FormatPortLine(const PortInfo& port) {
    std::string line = ShownName(port);
    if (!port.node.empty() && port.node != line) {
        line += " -> " + port.node;
    }
    std::vector<std::string> facts;
    if (!port.driver.empty()) {
        facts.push_back(port.driver);
    }
    if (!port.vendorId.empty() || !port.productId.empty()) {
        facts.push_back("USB " + port.vendorId + ":" + port.productId);
    }
    for (const std::string* text : {&port.manufacturer, &port.product}) {
        if (!text->empty()) {
            facts.push_back(*text);
        }
    }
    if (!port.serial.empty()) {
        facts.push_back("serial " + port.serial + " (/port usb:" + port.serial + ")");
    }
    if (port.busy) {
        facts.push_back("busy");
    }
    for (size_t i = 0; i < facts.size(); ++i) {
        line += (i == 0 ? ": " : ", ") + facts[i];
    }
    return line;
}

std::string FormatPortList(const std::vector<PortInfo>& ports) {
    if (ports.empty()) {
        return std::string(kNoPorts) + "\n";
    }
    std::string text;
    for (const PortInfo& port : ports) {
        text += FormatPortLine(port) + "\n";
    }
    return text;
}

std::string PortNamesLine(const std::vector<PortInfo>& ports) {
    if (ports.empty()) {
        return kNoPorts;
    }
    std::string line = "serial ports now: ";
    for (size_t i = 0; i < ports.size(); ++i) {
        line += (i == 0 ? "" : ", ") + ShownName(ports[i]);
    }
    return line;
}
