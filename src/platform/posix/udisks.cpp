#include "platform/posix/udisks.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace platform::udisks {
namespace {

using base::Failure;
using base::Status;

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kManagerPath = "/org/freedesktop/UDisks2/Manager";
constexpr const char* kManager = "org.freedesktop.UDisks2.Manager";
constexpr const char* kBlock = "org.freedesktop.UDisks2.Block";
constexpr const char* kDrive = "org.freedesktop.UDisks2.Drive";
constexpr const char* kFilesystem = "org.freedesktop.UDisks2.Filesystem";

// A running service answers a query at once; one that takes longer counts as absent rather
// than leaving the program hanging before its first step.
constexpr std::uint64_t kQueryMicroseconds = 3'000'000;
// What polkit may put to the user through the desktop's agent waits for the user's answer.
constexpr std::uint64_t kAskingMicroseconds = 120'000'000;

// The bus client library is loaded when the service is first asked for, not at start: most
// runs (an image file, a drive the program opens itself) never ask, and the dynamic loader
// would spend a millisecond of every start on it and the six libraries it brings.
struct Library {
    decltype(&::sd_bus_open_system) open_system;
    decltype(&::sd_bus_flush_close_unref) flush_close_unref;
    decltype(&::sd_bus_set_method_call_timeout) set_method_call_timeout;
    decltype(&::sd_bus_set_allow_interactive_authorization) set_allow_interactive_authorization;
    decltype(&::sd_bus_call_method) call_method;
    decltype(&::sd_bus_call) call;
    decltype(&::sd_bus_get_property) get_property;
    decltype(&::sd_bus_get_property_trivial) get_property_trivial;
    decltype(&::sd_bus_message_new_method_call) message_new_method_call;
    decltype(&::sd_bus_message_append) message_append;
    decltype(&::sd_bus_message_read) message_read;
    decltype(&::sd_bus_message_enter_container) message_enter_container;
    decltype(&::sd_bus_message_unref) message_unref;
    decltype(&::sd_bus_error_free) error_free;
    decltype(&::sd_bus_error_has_name) error_has_name;
    decltype(&::sd_bus_error_has_names_sentinel) error_has_names_sentinel;
};

template <typename Function>
bool find(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    return function != nullptr;
}

// The library, or none where it is missing or lacks a function: then the service counts as
// not running, as when there is no bus.
const Library* library() {
    static const Library* const loaded = []() -> const Library* {
        void* handle = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return nullptr;
        static Library functions;
        Library& f = functions;
        const bool complete =
            find(handle, "sd_bus_open_system", f.open_system) &&
            find(handle, "sd_bus_flush_close_unref", f.flush_close_unref) &&
            find(handle, "sd_bus_set_method_call_timeout", f.set_method_call_timeout) &&
            find(handle, "sd_bus_set_allow_interactive_authorization",
                 f.set_allow_interactive_authorization) &&
            find(handle, "sd_bus_call_method", f.call_method) &&
            find(handle, "sd_bus_call", f.call) &&
            find(handle, "sd_bus_get_property", f.get_property) &&
            find(handle, "sd_bus_get_property_trivial", f.get_property_trivial) &&
            find(handle, "sd_bus_message_new_method_call", f.message_new_method_call) &&
            find(handle, "sd_bus_message_append", f.message_append) &&
            find(handle, "sd_bus_message_read", f.message_read) &&
            find(handle, "sd_bus_message_enter_container", f.message_enter_container) &&
            find(handle, "sd_bus_message_unref", f.message_unref) &&
            find(handle, "sd_bus_error_free", f.error_free) &&
            find(handle, "sd_bus_error_has_name", f.error_has_name) &&
            find(handle, "sd_bus_error_has_names_sentinel", f.error_has_names_sentinel);
        return complete ? &functions : nullptr;  // the library stays loaded for the run
    }();
    return loaded;
}

// Only reached once connect() found the library.
const Library& sd() {
    return *library();
}

struct BusClose {
    void operator()(sd_bus* bus) const { sd().flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd().message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

struct CallError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    CallError() = default;
    CallError(const CallError&) = delete;
    CallError& operator=(const CallError&) = delete;
    ~CallError() {
        if (library()) sd().error_free(&error);
    }
};

// The system bus with the service on it; none when there is no bus or no service, or either
// does not answer in time.
Bus connect() {
    if (!library()) return nullptr;
    sd_bus* raw = nullptr;
    if (sd().open_system(&raw) < 0) return nullptr;
    Bus bus(raw);
    sd().set_method_call_timeout(raw, kQueryMicroseconds);
    // On a desktop, polkit asks the user through its agent instead of refusing outright.
    sd().set_allow_interactive_authorization(raw, 1);
    CallError error;
    sd_bus_message* reply = nullptr;
    if (sd().call_method(raw, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", &error.error, &reply, "s",
                         kService) < 0) {
        return nullptr;
    }
    const Message answer(reply);
    int owned = 0;
    if (sd().message_read(reply, "b", &owned) < 0 || owned == 0) return nullptr;
    return bus;
}

std::string textOf(const sd_bus_error& error, int result) {
    if (error.message != nullptr && *error.message != '\0') return error.message;
    return std::strerror(-result);
}

bool notAuthorized(const sd_bus_error& error) {
    return sd().error_has_names_sentinel(&error, "org.freedesktop.UDisks2.Error.NotAuthorized",
                                         "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
                                         "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed",
                                         static_cast<const char*>(nullptr)) != 0;
}

// A refusal of the service as a failure of its kind.
base::Error refusal(const sd_bus_error& error, int result) {
    const std::string text = textOf(error, result);
    if (notAuthorized(error)) return Status::failure(Failure::PermissionDenied, text);
    if (sd().error_has_name(&error, "org.freedesktop.UDisks2.Error.DeviceBusy") != 0) {
        return Status::failure(Failure::Busy, text);
    }
    if (result == -ETIMEDOUT) {
        return Status::failure("the desktop's disk service did not answer in time");
    }
    return Status::failure(text);
}

// The service's object for the block device `path`, checked to be the device numbered
// `device`: a name that now leads elsewhere is not followed.
std::optional<std::string> blockObject(sd_bus* bus, const std::string& path, std::uint64_t device) {
    sd_bus_message* raw = nullptr;
    if (sd().message_new_method_call(bus, &raw, kService, kManagerPath, kManager, "ResolveDevice") <
        0) {
        return std::nullopt;
    }
    const Message call(raw);
    if (sd().message_append(raw, "a{sv}", 1, "path", "s", path.c_str()) < 0 ||
        sd().message_append(raw, "a{sv}", 0) < 0) {
        return std::nullopt;
    }
    CallError error;
    sd_bus_message* reply = nullptr;
    if (sd().call(bus, raw, kQueryMicroseconds, &error.error, &reply) < 0) return std::nullopt;
    const Message answer(reply);
    if (sd().message_enter_container(reply, 'a', "o") < 0) return std::nullopt;
    const char* object = nullptr;
    while (sd().message_read(reply, "o", &object) > 0) {
        CallError propertyError;
        std::uint64_t number = 0;
        if (sd().get_property_trivial(bus, kService, object, kBlock, "DeviceNumber",
                                      &propertyError.error, 't', &number) >= 0 &&
            number == device) {
            return std::string(object);
        }
    }
    return std::nullopt;
}

// The drive object behind a block object; none for a device without a drive.
std::optional<std::string> driveObject(sd_bus* bus, const std::string& block) {
    CallError error;
    sd_bus_message* reply = nullptr;
    if (sd().get_property(bus, kService, block.c_str(), kBlock, "Drive", &error.error, &reply,
                          "o") < 0) {
        return std::nullopt;
    }
    const Message answer(reply);
    const char* drive = nullptr;
    if (sd().message_read(reply, "o", &drive) < 0 || drive == nullptr) return std::nullopt;
    if (std::string(drive) == "/") return std::nullopt;
    return std::string(drive);
}

bool flag(sd_bus* bus, const std::string& object, const char* name) {
    CallError error;
    int value = 0;
    return sd().get_property_trivial(bus, kService, object.c_str(), kDrive, name, &error.error, 'b',
                                     &value) >= 0 &&
           value != 0;
}

// A method of the service taking only an empty options dictionary.
Status callWithOptions(sd_bus* bus, const std::string& object, const char* interface,
                       const char* method) {
    CallError error;
    sd_bus_message* raw = nullptr;
    int result =
        sd().message_new_method_call(bus, &raw, kService, object.c_str(), interface, method);
    if (result < 0) return Status::failure(std::strerror(-result));
    const Message call(raw);
    result = sd().message_append(raw, "a{sv}", 0);
    if (result < 0) return Status::failure(std::strerror(-result));
    sd_bus_message* reply = nullptr;
    result = sd().call(bus, raw, kAskingMicroseconds, &error.error, &reply);
    const Message answer(reply);
    if (result < 0) return refusal(error.error, result);
    return Status::success();
}

// The drive behind `path`, with the bus that reaches it.
struct DriveAt {
    Bus bus;
    std::string object;
};

base::Result<DriveAt> driveAt(const std::string& path, std::uint64_t device) {
    Bus bus = connect();
    if (!bus) return Status::failure("the desktop's disk service does not run");
    const auto block = blockObject(bus.get(), path, device);
    if (!block) return Status::failure("the desktop's disk service does not know " + path);
    auto drive = driveObject(bus.get(), *block);
    if (!drive) return Status::failure("the desktop's disk service knows no drive behind " + path);
    return DriveAt{std::move(bus), std::move(*drive)};
}

}  // namespace

bool serviceRuns() {
    return connect() != nullptr;
}

std::optional<base::Result<int>> openDevice(const std::string& path, std::uint64_t device,
                                            int flags) {
    const Bus bus = connect();
    if (!bus) return std::nullopt;
    const auto block = blockObject(bus.get(), path, device);
    if (!block) return std::nullopt;
    sd_bus_message* raw = nullptr;
    int result = sd().message_new_method_call(bus.get(), &raw, kService, block->c_str(), kBlock,
                                              "OpenDevice");
    if (result < 0) return base::Result<int>(Status::failure(std::strerror(-result)));
    const Message call(raw);
    result = sd().message_append(raw, "s", "rw");
    if (result >= 0) result = sd().message_append(raw, "a{sv}", 1, "flags", "i", flags);
    if (result < 0) return base::Result<int>(Status::failure(std::strerror(-result)));
    CallError error;
    sd_bus_message* reply = nullptr;
    result = sd().call(bus.get(), raw, kAskingMicroseconds, &error.error, &reply);
    const Message answer(reply);
    if (result < 0) {
        // The service opens the device itself: refused for anything but authorization while
        // an exclusive open was asked for, the device is held by another.
        if ((flags & O_EXCL) != 0 && !notAuthorized(error.error) && result != -ETIMEDOUT) {
            return base::Result<int>(Status::failure(Failure::Busy, textOf(error.error, result)));
        }
        return base::Result<int>(refusal(error.error, result));
    }
    int fd = -1;
    if (sd().message_read(reply, "h", &fd) < 0 || fd < 0) {
        return base::Result<int>(Status::failure("the desktop's disk service sent no descriptor"));
    }
    // The message owns its descriptor and closes it with the message.
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own < 0) return base::Result<int>(Status::failure(std::strerror(errno)));
    return base::Result<int>(own);
}

std::optional<Status> unmount(const std::string& path, std::uint64_t device) {
    const Bus bus = connect();
    if (!bus) return std::nullopt;
    const auto block = blockObject(bus.get(), path, device);
    if (!block) return std::nullopt;
    return callWithOptions(bus.get(), *block, kFilesystem, "Unmount");
}

std::optional<DriveAbility> driveAbility(const std::string& path, std::uint64_t device) {
    auto drive = driveAt(path, device);
    if (!drive) return std::nullopt;
    return DriveAbility{flag(drive->bus.get(), drive->object, "Ejectable"),
                        flag(drive->bus.get(), drive->object, "CanPowerOff")};
}

Status eject(const std::string& path, std::uint64_t device) {
    auto drive = driveAt(path, device);
    if (!drive) return drive.error();
    return callWithOptions(drive->bus.get(), drive->object, kDrive, "Eject");
}

Status powerOff(const std::string& path, std::uint64_t device) {
    auto drive = driveAt(path, device);
    if (!drive) return drive.error();
    return callWithOptions(drive->bus.get(), drive->object, kDrive, "PowerOff");
}

}  // namespace platform::udisks
