#include "platform/posix/UdevPortLister.h"

#include <dirent.h>
#include <libudev.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/posix/PortAccess.h"

namespace {

std::string Text(const char* value) {
    return value != nullptr ? value : "";
}

std::string Attribute(const std::map<std::string, std::string>& attributes,
                      const std::string& key) {
    const auto found = attributes.find(key);
    return found == attributes.end() ? "" : found->second;
}

// A udev device's description, for the port PortFromTty will make of it.
TtyRecord RecordOf(udev_device* device) {
    TtyRecord tty;
    tty.node = Text(udev_device_get_devnode(device));
    tty.uartType = Text(udev_device_get_sysattr_value(device, "type"));
    udev_device* parent = udev_device_get_parent(device);
    tty.hasParent = parent != nullptr &&
                    Text(udev_device_get_syspath(device)).rfind("/sys/devices/virtual/", 0) != 0;
    // The driver sits on the parent (a USB serial converter's port, an ACM interface, a UART);
    // the serial core puts devices of its own drivers ("port", "ctrl") between a UART and its
    // tty.
    for (udev_device* up = parent; up != nullptr && tty.driver.empty();
         up = udev_device_get_parent(up)) {
        tty.driver = Text(udev_device_get_driver(up));
        if (tty.driver == "port" || tty.driver == "ctrl") {
            tty.driver.clear();
        }
    }
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    if (usb != nullptr) {
        for (const char* key : {"idVendor", "idProduct", "manufacturer", "product", "serial"}) {
            tty.usb[key] = Text(udev_device_get_sysattr_value(usb, key));
        }
    }
    return tty;
}

}  // namespace

bool IsSerialPort(const TtyRecord& tty) {
    if (tty.node.empty() || !tty.hasParent) {
        return false;
    }
    // The kernel makes a node for every UART slot it reserves; type 0 means none answered.
    return tty.uartType.empty() || tty.uartType != "0";
}

PortInfo PortFromTty(const TtyRecord& tty, const std::map<std::string, std::string>& byIdOf) {
    PortInfo port;
    port.node = tty.node;
    const auto link = byIdOf.find(tty.node);
    if (link != byIdOf.end()) {
        port.byId = link->second;
    }
    port.name = port.byId.empty() ? port.node : port.byId;
    port.driver = tty.driver;
    port.vendorId = Attribute(tty.usb, "idVendor");
    port.productId = Attribute(tty.usb, "idProduct");
    port.manufacturer = Attribute(tty.usb, "manufacturer");
    port.product = Attribute(tty.usb, "product");
    port.serial = Attribute(tty.usb, "serial");
    return port;
}

std::map<std::string, std::string> ByIdLinks(const std::string& folder) {
    std::map<std::string, std::string> links;
    DIR* entries = ::opendir(folder.c_str());
    if (entries == nullptr) {
        return links;
    }
    while (const dirent* entry = ::readdir(entries)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::string link = folder;
        link.append("/").append(name);
        char node[PATH_MAX];
        if (::realpath(link.c_str(), node) != nullptr) {
            // Two links to one node (a by-id and its older alias): the first by name.
            auto [at, added] = links.emplace(node, link);
            if (!added && link < at->second) {
                at->second = link;
            }
        }
    }
    ::closedir(entries);
    return links;
}

std::string RealNode(const std::string& path) {
    char node[PATH_MAX];
    return ::realpath(path.c_str(), node) != nullptr ? node : "";
}

std::string UdevPortLister::NodeOfUsbSerial(const std::string& serial) {
    const std::vector<PortInfo> ports = Scan(false);
    const PortInfo* port = FindUsbSerial(ports, serial);
    return port != nullptr ? port->node : "";
}

std::vector<PortInfo> UdevPortLister::Scan(bool busy) {
    // libudev is not made for threads: even separate contexts share state inside it (seen by
    // ThreadSanitizer when a station's ports looked up their devices at once).
    static std::mutex udevLock;
    const std::lock_guard<std::mutex> lock(udevLock);
    std::vector<PortInfo> ports;
    const std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), udev_unref);
    if (!context) {
        return ports;
    }
    const std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)> scan(
        udev_enumerate_new(context.get()), udev_enumerate_unref);
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(scan.get()) < 0) {
        return ports;
    }
    const std::map<std::string, std::string> byIdOf = ByIdLinks(byIdFolder_);
    const std::set<unsigned long long> held = busy ? HeldDevices() : std::set<unsigned long long>();
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        const std::unique_ptr<udev_device, decltype(&udev_device_unref)> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)),
            udev_device_unref);
        if (!device) {
            continue;
        }
        const TtyRecord tty = RecordOf(device.get());
        if (!IsSerialPort(tty)) {
            continue;
        }
        PortInfo port = PortFromTty(tty, byIdOf);
        port.busy = held.count(udev_device_get_devnum(device.get())) != 0;
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return a.node < b.node; });
    return ports;
}
