// The installed-product detector: finds the product's name and root folder, and refuses
// removal when another product of the maker that must stay is present or when the root
// folder is one whose removal would destroy user or system data. A refusal is only the
// flag `removalBlocked`; nothing is shown to the user.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace detect {

// What DetectRunningProducts answers on a platform that is neither NT nor 9x (−1).
constexpr uint32_t kUnsupportedPlatform = 0xFFFFFFFF;

class CDetector {
  public:
    explicit CDetector(platform::Platform& os);
    CDetector(const CDetector&) = delete;
    CDetector& operator=(const CDetector&) = delete;
    virtual ~CDetector();

    // The product name, then the running conflicting products of this platform. The
    // thread's last-error value afterwards, or kUnsupportedPlatform (last error 1151).
    uint32_t DetectRunningProducts();
    // 1 when a conflicting product was found (also stored in `removalBlocked`), else 0.
    uint32_t CheckConflictingProducts();
    // Reads and normalises `rootInstallPath`; 1 when it is a folder that must never be
    // removed whole (also stored in `removalBlocked`), else 0.
    uint32_t CheckInstallationPath();

    // Windows 9x only: display names of conflicting products whose processes run, one a line.
    std::string detectedProducts;
    // The root installation folder as the registry gives it, then normalised (upper case).
    std::string rootInstallPath;
    std::string productName;
    int isNtPlatform = 0;
    uint32_t removalBlocked = 0;
    // Every service the enumeration found, in its order.
    std::vector<platform::EnumServiceStatus> services;
    platform::UniqueScHandle scManager;
    // NT: the module path of the last running process that belongs to the shell client.
    std::string shellClientProcess;
    // "LastInstalledProduct" of the product line, 0 when it was not read.
    uint32_t lastInstalledProduct = 0;

    // A running process whose name is a conflicting product's but whose image a standard user
    // could have put there: any user may copy any program to such a name and start it.
    struct PassedOverProcess {
        std::string image;
        const char* product;  // the product's display name, without the line end
    };
    std::vector<PassedOverProcess> passedOver;
    // One warning for each process passed over. The scan runs before the log is opened, so
    // the engine calls this once the log is open.
    void LogPassedOverProcesses() const;

    // The internal steps, public for the tests that drive them one by one.
    void RetrieveProductName();
    bool RetrieveAuAProductName();
    void RetrievePLXProductName();
    // NT: 1 when done, else the error that ended the scan early.
    uint32_t ScanServicesAndProcesses();
    // Windows 9x: 1 when done, 0 when no snapshot could be read.
    uint32_t ScanProcessSnapshot();
    // True when the value was read into `rootInstallPath`.
    bool ReadAuAInstallPath();
    bool ReadInstallationRootDirectory();

  private:
    // Whether the running image `image`, named like `product`'s, counts: only one that lies
    // where no standard user can change it does; any other is kept in `passedOver`.
    bool CountsAsConflict(const std::string& image, const char* product);
    // True when the normalised root is a folder whose removal would destroy data.
    bool IsUnsafeRoot(const std::string& root);
    bool KeyExists(const char* keyPath);

    platform::Platform& os_;
};

// 1 when the process runs with the built-in Administrators group enabled in its token
// (an elevated administrator), else 0. Platforms without NT security count as administrator.
uint32_t IsAdministrator(platform::Platform& os);

}  // namespace detect
