#include "platform/win32/Win32SerialDevice.h"

namespace {
// GetDefaultCommConfig is asked with a buffer of this size; a provider that needs more makes
// the port count as missing, as the program always did.
constexpr DWORD kCommConfigBytes = 52;
static_assert(sizeof(COMMCONFIG) <= kCommConfigBytes);

constexpr char kErrorChar = 'e';

// What a port's driver answers once its device has been removed (a USB adapter pulled out,
// under Wine a pseudo-terminal hung up): the handle stays, but requests on it fail with one of
// these, depending on the driver.
constexpr DWORD kRemovedErrors[] = {
    ERROR_GEN_FAILURE, ERROR_BAD_COMMAND,    ERROR_ACCESS_DENIED,
    ERROR_NOT_READY,   ERROR_DEVICE_REMOVED, ERROR_DEVICE_NOT_CONNECTED,
};

bool FailedAsRemoved(BOOL result) {
    if (result != FALSE) {
        return false;
    }
    const DWORD error = GetLastError();
    for (DWORD removed : kRemovedErrors) {
        if (error == removed) {
            return true;
        }
    }
    return false;
}

constexpr char kDeviceNamespace[] = "\\\\.\\";
constexpr char kUsbPrefix[] = "usb:";

void CloseIfSet(HANDLE& handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

// A transfer abandoned by Cancel must not outlive the object that holds its OVERLAPPED.
void AwaitRelease(HANDLE transferEvent, bool& pending) {
    if (pending) {
        WaitForSingleObject(transferEvent, Win32SerialDevice::kReleaseWaitMs);
        pending = false;
    }
}
}  // namespace

Win32SerialDevice::~Win32SerialDevice() {
    Close();
}

std::string Win32SerialDevice::DevicePath(const std::string& portName) {
    if (const std::string serial = UsbSerialOf(portName); !serial.empty()) {
        return kUsbPrefix + serial;
    }
    // COM10 and up exist only in the device namespace.
    return portName.size() > 4 ? kDeviceNamespace + portName : portName;
}

std::string Win32SerialDevice::NodeOf(const std::string& usbSerial) {
    return lister_ != nullptr ? lister_->NodeOfUsbSerial(usbSerial) : "";
}

std::string Win32SerialDevice::ShownName(const std::string& portName) {
    const std::string serial = UsbSerialOf(portName);
    return serial.empty() ? portName : kUsbPrefix + serial;
}

std::vector<PortInfo> Win32SerialDevice::ListPorts() {
    return lister_ != nullptr ? lister_->List() : std::vector<PortInfo>();
}

bool Win32SerialDevice::PortExists(const std::string& portName) {
    if (const std::string serial = UsbSerialOf(portName); !serial.empty()) {
        const std::string node = NodeOf(serial);
        return !node.empty() && PortExists(node);
    }
    alignas(COMMCONFIG) unsigned char buffer[kCommConfigBytes] = {};
    DWORD size = kCommConfigBytes;
    return GetDefaultCommConfigA(portName.c_str(), reinterpret_cast<COMMCONFIG*>(buffer), &size) !=
           FALSE;
}

SerialDevice::OpenResult Win32SerialDevice::Open(const std::string& devicePath) {
    std::string path = devicePath;
    std::string usbSerial;
    if (path.rfind(kUsbPrefix, 0) == 0) {
        usbSerial = path.substr(sizeof kUsbPrefix - 1);
        const std::string node = NodeOf(usbSerial);
        if (node.empty()) {
            return OpenResult::Failed;
        }
        path = DevicePath(node);
    }
    handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_ACCESS_DENIED ? OpenResult::Busy : OpenResult::Failed;
    }
    // A name may open before its device is there: Wine opens a COM name whose mapping points
    // at nothing yet (every communications call then fails), and a driver may publish a name
    // early. Greeting such a port would greet nobody; only a handle that answers as a
    // communications device is the port.
    COMMPROP properties{};
    if (!GetCommProperties(handle_, &properties)) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return OpenResult::Failed;
    }
    portName_ =
        path.rfind(kDeviceNamespace, 0) == 0 ? path.substr(sizeof kDeviceNamespace - 1) : path;
    usbSerial_ = usbSerial;
    cancelEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    readEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    writeEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (cancelEvent_ == nullptr || readEvent_ == nullptr || writeEvent_ == nullptr) {
        Close();
        return OpenResult::Failed;
    }
    return OpenResult::Ok;
}

void Win32SerialDevice::Configure(const Settings& settings) {
    // Every step goes on whatever the driver answered to the one before.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(handle_, &timeouts);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(handle_, &dcb);
    dcb.BaudRate = settings.baudRate;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = settings.hardwareFlow ? 1 : 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 1;
    dcb.ErrorChar = kErrorChar;
    dcb.fRtsControl = settings.hardwareFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    dcb.ByteSize = 8;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    SetCommState(handle_, &dcb);

    SetupComm(handle_, settings.queueSize, settings.queueSize);
}

void Win32SerialDevice::SetBaudRate(uint32_t baudRate) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(handle_, &dcb);
    dcb.BaudRate = baudRate;
    SetCommState(handle_, &dcb);
}

bool Win32SerialDevice::IsCancelled() const {
    return cancelEvent_ == nullptr || WaitForSingleObject(cancelEvent_, 0) == WAIT_OBJECT_0;
}

bool Win32SerialDevice::WaitTransfer(HANDLE transferEvent) {
    HANDLE pair[2] = {transferEvent, cancelEvent_};
    return WaitForMultipleObjects(2, pair, FALSE, INFINITE) == WAIT_OBJECT_0;
}

SerialDevice::IoResult Win32SerialDevice::ReadByte(uint8_t& byte) {
    if (IsCancelled()) {
        return IoResult::Cancelled;
    }
    if (!readPending_) {
        ResetEvent(readEvent_);
        readOv_ = OVERLAPPED{};
        readOv_.hEvent = readEvent_;
        DWORD got = 0;
        if (ReadFile(handle_, &readBuffer_, 1, &got, &readOv_) != FALSE) {
            if (got != 1) {
                return IoResult::Failed;
            }
            byte = readBuffer_;
            return IoResult::Done;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            return IoResult::Failed;
        }
        readPending_ = true;
    }
    if (!WaitTransfer(readEvent_)) {
        // The read stays pending until it completes or Close releases it.
        return IoResult::Cancelled;
    }
    readPending_ = false;
    DWORD got = 0;
    if (GetOverlappedResult(handle_, &readOv_, &got, FALSE) == FALSE || got != 1) {
        return IoResult::Failed;
    }
    byte = readBuffer_;
    return IoResult::Done;
}

SerialDevice::IoResult Win32SerialDevice::Write(const uint8_t* bytes, uint32_t count,
                                                uint32_t& written) {
    written = 0;
    while (written < count) {
        if (IsCancelled()) {
            return IoResult::Cancelled;
        }
        ResetEvent(writeEvent_);
        writeOv_ = OVERLAPPED{};
        writeOv_.hEvent = writeEvent_;
        DWORD done = 0;
        if (WriteFile(handle_, bytes + written, count - written, &done, &writeOv_) == FALSE) {
            if (GetLastError() != ERROR_IO_PENDING) {
                return IoResult::Failed;
            }
            writePending_ = true;
            if (!WaitTransfer(writeEvent_)) {
                // The caller's bytes may still be read by the driver until the cancelled
                // write has come back.
                CancelIoEx(handle_, &writeOv_);
                AwaitRelease(writeEvent_, writePending_);
                return IoResult::Cancelled;
            }
            writePending_ = false;
            if (GetOverlappedResult(handle_, &writeOv_, &done, FALSE) == FALSE) {
                written += done;
                return IoResult::Failed;
            }
        }
        if (done == 0) {
            return IoResult::Failed;
        }
        written += done;
    }
    return IoResult::Done;
}

SerialDevice::LineStatus Win32SerialDevice::TakeLineStatus() {
    LineStatus status;
    DWORD errors = 0;
    COMSTAT comStat{};
    if (ClearCommError(handle_, &errors, &comStat) != FALSE) {
        status.errors = errors;
        status.inQueue = comStat.cbInQue;
        status.outQueue = comStat.cbOutQue;
    }
    return status;
}

void Win32SerialDevice::Purge() {
    PurgeComm(handle_, PURGE_TXCLEAR);
    PurgeComm(handle_, PURGE_RXCLEAR);
}

bool Win32SerialDevice::IsGone() {
    // Some drivers (and Wine) answer the properties from what they keep, so the modem lines,
    // which only the device can tell, are asked too.
    COMMPROP properties{};
    DWORD modemStatus = 0;
    if (FailedAsRemoved(GetCommProperties(handle_, &properties)) ||
        FailedAsRemoved(GetCommModemStatus(handle_, &modemStatus))) {
        return true;
    }
    // A removed device's name leaves the system with it; a device found by its serial number
    // may come back under another name.
    return (!portName_.empty() && !PortExists(portName_)) ||
           (!usbSerial_.empty() && NodeOf(usbSerial_) != portName_);
}

void Win32SerialDevice::Cancel() {
    if (cancelEvent_ != nullptr) {
        SetEvent(cancelEvent_);
    }
    if (handle_ != INVALID_HANDLE_VALUE) {
        CancelIoEx(handle_, nullptr);
    }
}

void Win32SerialDevice::Close() {
    portName_.clear();
    usbSerial_.clear();
    if (handle_ != INVALID_HANDLE_VALUE) {
        // Closing the handle also ends a read that cancelling did not reach.
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    AwaitRelease(readEvent_, readPending_);
    AwaitRelease(writeEvent_, writePending_);
    CloseIfSet(cancelEvent_);
    CloseIfSet(readEvent_);
    CloseIfSet(writeEvent_);
}
