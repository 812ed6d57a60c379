#include "platform/win32/Win32PortLister.h"

#include <windows.h>

#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The four hex digits after key ("VID_") in id, or empty.
std::string IdAfter(const std::string& id, const std::string& key) {
    const size_t at = Upper(id).find(key);
    if (at == std::string::npos || at + key.size() + 4 > id.size()) {
        return "";
    }
    std::string digits = id.substr(at + key.size(), 4);
    for (char& c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return "";
        }
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return digits;
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    char text[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(text), sizeof text - 1,
                                           nullptr)) {
        return "";
    }
    return text;
}

std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return "";
    }
    char name[64] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const LONG read =
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? name : "";
}

// Busy when another program has it: Windows opens a COM port for one program at a time.
bool IsBusy(const std::string& name) {
    const std::string path = name.size() > 4 ? "\\\\.\\" + name : name;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    CloseHandle(handle);
    return false;
}

void AddDeviceMapNames(std::vector<PortInfo>& ports) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD nameSize = sizeof valueName;
        char data[64] = {};
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        if (RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type,
                          reinterpret_cast<BYTE*>(data), &dataSize) != ERROR_SUCCESS) {
            break;
        }
        const std::string name = data;
        const bool known = std::any_of(ports.begin(), ports.end(),
                                       [&](const PortInfo& port) { return port.node == name; });
        if (type == REG_SZ && !name.empty() && !known) {
            PortInfo port;
            port.name = name;
            port.node = name;
            ports.push_back(port);
        }
    }
    RegCloseKey(key);
}

// COM2 before COM10.
bool ComOrder(const PortInfo& a, const PortInfo& b) {
    const auto number = [](const std::string& name) {
        return Upper(name).rfind("COM", 0) == 0 ? std::atoi(name.c_str() + 3) : 0;
    };
    return number(a.node) != number(b.node) ? number(a.node) < number(b.node) : a.node < b.node;
}

}  // namespace

void ReadInstanceId(const std::string& instanceId, PortInfo& port) {
    port.vendorId = IdAfter(instanceId, "VID_");
    port.productId = IdAfter(instanceId, "PID_");
    const size_t last = instanceId.find_last_of('\\');
    if (Upper(instanceId).rfind("USB\\", 0) == 0 && !port.vendorId.empty() &&
        last != std::string::npos && last > 4 && instanceId.find('&', last) == std::string::npos) {
        port.serial = instanceId.substr(last + 1);
    }
}

std::string Win32PortLister::NodeOfUsbSerial(const std::string& serial) {
    const std::vector<PortInfo> ports = Scan(false);
    const PortInfo* port = FindUsbSerial(ports, serial);
    return port != nullptr ? port->node : "";
}

std::vector<PortInfo> Win32PortLister::Scan(bool busy) {
    std::vector<PortInfo> ports;
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
            PortInfo port;
            port.node = PortNameOf(set, device);
            if (Upper(port.node).rfind("COM", 0) != 0) {
                continue;  // a printer port of the same class
            }
            port.name = port.node;
            port.driver = Property(set, device, SPDRP_SERVICE);
            port.manufacturer = Property(set, device, SPDRP_MFG);
            port.product = Property(set, device, SPDRP_DEVICEDESC);
            char instanceId[512] = {};
            if (SetupDiGetDeviceInstanceIdA(set, &device, instanceId, sizeof instanceId, nullptr)) {
                ReadInstanceId(instanceId, port);
            }
            ports.push_back(port);
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    AddDeviceMapNames(ports);
    for (PortInfo& port : ports) {
        port.busy = busy && IsBusy(port.node);
    }
    std::sort(ports.begin(), ports.end(), ComOrder);
    return ports;
}
