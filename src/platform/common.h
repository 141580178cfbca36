// Types shared by every part of the operating-system seam.
#pragma once

#include <cstdint>
#include <utility>

namespace platform {

// Windows error codes as the seam reports them. Only the ones the product tests for by value.
enum : uint32_t {
    kErrorSuccess = 0,
    kErrorInvalidFunction = 1,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorInvalidData = 13,
    kErrorOutOfMemory = 14,
    kErrorNoMoreFiles = 18,
    kErrorNotReady = 21,
    kErrorSharingViolation = 32,
    kErrorNotSupported = 50,
    kErrorFileExists = 80,
    kErrorInvalidParameter = 87,
    kErrorInsufficientBuffer = 122,
    kErrorCallNotImplemented = 120,
    kErrorDirNotEmpty = 145,
    kErrorAlreadyExists = 183,
    kErrorFilenameExcedRange = 206,
    kErrorMoreData = 234,
    kErrorWaitTimeout = 258,
    kErrorNoMoreItems = 259,
    kErrorNoToken = 1008,
    kErrorKeyDeleted = 1018,
    kErrorCanNotComplete = 1003,
    kErrorServiceDatabaseLocked = 1055,
    kErrorServiceAlreadyRunning = 1056,
    kErrorServiceDisabled = 1058,
    kErrorServiceDoesNotExist = 1060,
    kErrorServiceCannotAcceptCtrl = 1061,
    kErrorServiceNotActive = 1062,
    kErrorServiceMarkedForDelete = 1072,
    kErrorNotAllAssigned = 1300,
    kErrorNoSuchPrivilege = 1313,
    kErrorPrivilegeNotHeld = 1314,
    kErrorNoneMapped = 1332,
    kErrorInstallServiceFailure = 1601,
    kErrorInstallUserexit = 1602,
    kErrorBadConfiguration = 1610,
    kErrorInstallAlreadyRunning = 1618,
    kErrorInstallFailure = 1603,
    kErrorInstallRemoteDisallowed = 1625,  // also ERROR_INSTALL_PACKAGE_REJECTED: "this installation is forbidden by policy"
    kErrorSuccessRebootInitiated = 1641,
    kErrorSuccessRebootRequired = 3010,
};

// A move-only owner of one handle of an interface of the seam. The interface closes it,
// so a handle can never outlive the backend that issued it or be closed twice.
template <typename Api, typename Handle, void (Api::*Close)(Handle)>
class UniqueIn {
public:
    UniqueIn() = default;
    UniqueIn(Api* api, Handle h) : api_(api), h_(h) {}
    UniqueIn(const UniqueIn&) = delete;
    UniqueIn& operator=(const UniqueIn&) = delete;
    UniqueIn(UniqueIn&& o) noexcept : api_(o.api_), h_(std::exchange(o.h_, Handle{})) {}
    UniqueIn& operator=(UniqueIn&& o) noexcept {
        if (this != &o) {
            reset();
            api_ = o.api_;
            h_ = std::exchange(o.h_, Handle{});
        }
        return *this;
    }
    ~UniqueIn() { reset(); }

    Handle get() const { return h_; }
    explicit operator bool() const { return h_ != Handle{}; }
    void reset(Api* api = nullptr, Handle h = Handle{}) {
        if (h_ != Handle{} && api_ != nullptr) (api_->*Close)(h_);
        api_ = api;
        h_ = h;
    }
    Handle release() { return std::exchange(h_, Handle{}); }

private:
    Api* api_ = nullptr;
    Handle h_{};
};

// Saves the thread's last-error value and puts it back when the scope ends, whatever path it takes.
template <typename Sys>
class LastErrorGuard {
public:
    explicit LastErrorGuard(Sys& sys) : sys_(sys), saved_(sys.GetLastError()) {}
    ~LastErrorGuard() { sys_.SetLastError(saved_); }
    LastErrorGuard(const LastErrorGuard&) = delete;
    LastErrorGuard& operator=(const LastErrorGuard&) = delete;

private:
    Sys& sys_;
    uint32_t saved_;
};

}  // namespace platform
