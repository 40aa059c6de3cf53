#include "plugin/UsbAfc.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <endian.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Tpot {

namespace {

constexpr const char* RootService = "com.apple.afc2";
// How long usbmuxd may take to answer before it counts as hung.
constexpr int UsbmuxdWaitMs = 2000;

// A thin adapter: each call is the library's call of the same name.
class TUsbAfc : public TAfc {
public:
    TUsbAfc(idevice_t device, afc_client_t client) : device_(device), client_(client) {}
    TUsbAfc(const TUsbAfc&) = delete;
    TUsbAfc& operator=(const TUsbAfc&) = delete;
    ~TUsbAfc() override {
        afc_client_free(client_);
        idevice_free(device_);
    }

    afc_error_t ReadDirectory(const std::string& path, std::vector<std::string>& names) override {
        char** list = nullptr;
        const afc_error_t error = afc_read_directory(client_, path.c_str(), &list);
        for (char** item = list; item && *item; ++item)
            names.emplace_back(*item);
        if (list)
            afc_dictionary_free(list);
        return error;
    }

    afc_error_t GetFileInfo(const std::string& path,
                            std::map<std::string, std::string>& info) override {
        char** pairs = nullptr;
        const afc_error_t error = afc_get_file_info(client_, path.c_str(), &pairs);
        for (char** item = pairs; item && item[0] && item[1]; item += 2)
            info[item[0]] = item[1];
        if (pairs)
            afc_dictionary_free(pairs);
        return error;
    }

    afc_error_t FileOpen(const std::string& path, afc_file_mode_t mode, uint64_t& handle) override {
        return afc_file_open(client_, path.c_str(), mode, &handle);
    }
    afc_error_t FileRead(uint64_t handle, char* data, uint32_t length, uint32_t& read) override {
        return afc_file_read(client_, handle, data, length, &read);
    }
    afc_error_t FileWrite(uint64_t handle, const char* data, uint32_t length,
                          uint32_t& written) override {
        return afc_file_write(client_, handle, data, length, &written);
    }
    afc_error_t FileClose(uint64_t handle) override { return afc_file_close(client_, handle); }
    afc_error_t Rename(const std::string& from, const std::string& to) override {
        return afc_rename_path(client_, from.c_str(), to.c_str());
    }
    afc_error_t Remove(const std::string& path) override {
        return afc_remove_path(client_, path.c_str());
    }
    afc_error_t MakeDirectory(const std::string& path) override {
        return afc_make_directory(client_, path.c_str());
    }
    afc_error_t SetFileTime(const std::string& path, uint64_t nanoseconds) override {
        return afc_set_file_time(client_, path.c_str(), nanoseconds);
    }

private:
    idevice_t device_;
    afc_client_t client_;
};

// A socket connected to usbmuxd, or -1 with the reason.
int ConnectUsbmuxd(int waitMs, std::string& why) {
    const char* given = std::getenv("USBMUXD_SOCKET_ADDRESS");
    std::string address = given && *given ? given : "UNIX:/var/run/usbmuxd";
    int fd = -1;
    if (address.rfind("UNIX:", 0) == 0 || address.front() == '/') {
        const std::string path = address.front() == '/' ? address : address.substr(5);
        sockaddr_un where{};
        where.sun_family = AF_UNIX;
        if (path.size() >= sizeof where.sun_path) {
            why = "the usbmuxd socket path is too long";
            return -1;
        }
        path.copy(where.sun_path, path.size());
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
            why = "usbmuxd is not running (" + path + ": " + std::strerror(errno) + ")";
            ::close(fd);
            return -1;
        }
        return fd;
    }
    const std::size_t colon = address.rfind(':');
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (colon == std::string::npos ||
        ::getaddrinfo(address.substr(0, colon).c_str(), address.substr(colon + 1).c_str(), &hints,
                      &found) != 0) {
        why = "USBMUXD_SOCKET_ADDRESS \"" + address + "\" names no usbmuxd";
        return -1;
    }
    fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int connected = fd < 0 ? -1 : ::connect(fd, found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);
    if (connected != 0 && errno == EINPROGRESS) {
        pollfd wait{fd, POLLOUT, 0};
        int error = ETIMEDOUT;
        socklen_t size = sizeof error;
        if (::poll(&wait, 1, waitMs) == 1)
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        connected = error == 0 ? 0 : -1;
        errno = error;
    }
    if (connected != 0) {
        why = "usbmuxd is not running (" + address + ": " + std::strerror(errno) + ")";
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

std::string LockdownReason(lockdownd_error_t error) {
    switch (error) {
    case LOCKDOWN_E_PASSWORD_PROTECTED:
        return "the phone is locked with a passcode: unlock it and trust this computer";
    case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
        return "the phone asks whether to trust this computer: answer on the phone";
    case LOCKDOWN_E_USER_DENIED_PAIRING:
        return "the phone does not trust this computer";
    case LOCKDOWN_E_PAIRING_FAILED:
    case LOCKDOWN_E_INVALID_HOST_ID:
    case LOCKDOWN_E_MISSING_HOST_ID:
    case LOCKDOWN_E_MISSING_PAIR_RECORD:
    case LOCKDOWN_E_INVALID_PAIR_RECORD:
    case LOCKDOWN_E_SSL_ERROR:
        return "the phone is not paired with this computer (pair it with idevicepair)";
    default:
        return "lockdown error " + std::to_string(static_cast<int>(error));
    }
}

} // namespace

bool UsbmuxdAnswers(int waitMs, std::string& why) {
    const int fd = ConnectUsbmuxd(waitMs, why);
    if (fd < 0)
        return false;
    static const char Request[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                  "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                  "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                  "<plist version=\"1.0\"><dict>"
                                  "<key>MessageType</key><string>ListDevices</string>"
                                  "<key>ClientVersionString</key><string>T-Pot</string>"
                                  "<key>ProgName</key><string>T-Pot</string>"
                                  "</dict></plist>\n";
    // The daemon's header: length, version 1, a plist message, a tag; little-endian.
    const uint32_t body = sizeof Request - 1;
    const uint32_t header[4] = {htole32(16 + body), htole32(1), htole32(8), htole32(1)};
    std::string message(reinterpret_cast<const char*>(header), sizeof header);
    message.append(Request, body);
    bool answered = false;
    if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
        static_cast<ssize_t>(message.size())) {
        pollfd wait{fd, POLLIN, 0};
        char byte = 0;
        answered = ::poll(&wait, 1, waitMs) == 1 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 1;
    }
    ::close(fd);
    if (!answered)
        why = "usbmuxd does not answer (waited " + std::to_string(waitMs / 1000) +
              " s); restart it, or unplug and plug in the phone";
    return answered;
}

TUsbAfcConnector::TUsbAfcConnector(std::string udid) : udid_(std::move(udid)) {}

std::unique_ptr<TAfc> TUsbAfcConnector::Connect(std::string& why) {
    if (!UsbmuxdAnswers(UsbmuxdWaitMs, why))
        return nullptr;
    idevice_t device = nullptr;
    if (idevice_new_with_options(&device, udid_.empty() ? nullptr : udid_.c_str(),
                                 IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS) {
        why = udid_.empty() ? "no phone is attached over USB"
                            : "the phone " + udid_ + " is not attached over USB";
        return nullptr;
    }
    lockdownd_client_t lockdown = nullptr;
    lockdownd_error_t error = lockdownd_client_new_with_handshake(device, &lockdown, "T-Pot");
    if (error != LOCKDOWN_E_SUCCESS) {
        why = LockdownReason(error);
        idevice_free(device);
        return nullptr;
    }
    lockdownd_service_descriptor_t service = nullptr;
    error = lockdownd_start_service(lockdown, RootService, &service);
    lockdownd_client_free(lockdown);
    if (error != LOCKDOWN_E_SUCCESS) {
        why = error == LOCKDOWN_E_INVALID_SERVICE
                  ? std::string("the phone offers no root file service ") + RootService +
                        " (not jailbroken, or its afc2 package is missing)"
                  : "cannot start " + std::string(RootService) + ": " + LockdownReason(error);
        if (service)
            lockdownd_service_descriptor_free(service);
        idevice_free(device);
        return nullptr;
    }
    afc_client_t client = nullptr;
    const afc_error_t opened = afc_client_new(device, service, &client);
    lockdownd_service_descriptor_free(service);
    if (opened != AFC_E_SUCCESS) {
        why = "cannot open the root file service: AFC error " +
              std::to_string(static_cast<int>(opened));
        idevice_free(device);
        return nullptr;
    }
    return std::make_unique<TUsbAfc>(device, client);
}

} // namespace Tpot
