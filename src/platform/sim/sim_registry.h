// The simulated registry: one tree per predefined root, keys case-insensitive and
// case-preserving, typed values, and the two views a 32-bit process sees on 64-bit Windows
// (HKLM\SOFTWARE redirected to HKLM\SOFTWARE\WOW6432Node unless KEY_WOW64_64KEY is asked).
// HKEY_CLASSES_ROOT is HKLM\SOFTWARE\Classes, which both views share.
// Paths in the test helpers are written as the product writes them
// ("HKEY_LOCAL_MACHINE\\SOFTWARE\\X"); the short root names (HKLM) and the object names
// of the access-control functions ("MACHINE\\SOFTWARE\\X") are accepted as well.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_system.h"

namespace platform::sim {

// Which view a test helper resolves a path in: the default one of a 32-bit process, or the
// native one (KEY_WOW64_64KEY). On 32-bit Windows both are the same.
enum class View { K32, K64 };

// Owner and access list of one key, opaque to the registry except for `deniedAccess`: the
// rights refused to everyone (DELETE, KEY_SET_VALUE, ...) until the access list is rewritten.
struct SimKeySecurity {
    std::string ownerSid = "S-1-5-32-544";
    // As machine keys have it: Administrators and SYSTEM may do anything, Users only read.
    std::string sddl =
        "D:(A;CI;0xf003f;;;S-1-5-32-544)(A;CI;0xf003f;;;S-1-5-18)(A;CI;0x20019;;;S-1-5-32-545)";
    uint32_t deniedAccess = 0;
};

// Names are kept in UTF-16, as the registry keeps them, and the A functions convert them
// with the code page at each call, as Windows does: under a legacy code page "Ωmega" lists
// as "Omega" beside a real "Omega", and an A call naming "Omega" reaches the real one. String
// data is kept as a caller of the A functions reads it; text the code page cannot hold,
// written through the W functions, is kept as well in its UTF-16 form, which the W functions read.
struct SimRegValue {
    std::string name;  // as first written, in the code page of that moment; "" is the default value
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;      // as a caller of the A functions reads it
    std::u16string wideName;        // the name as the registry keeps it
    std::vector<uint8_t> wideData;  // UTF-16 bytes; empty unless the code page cannot hold the text
    uint32_t deniedAccess = 0;      // KEY_SET_VALUE / DELETE / KEY_QUERY_VALUE refused for this value
};

// Orders names as the registry enumerates them: without regard to case (ASCII letters folded
// to lower case, every other letter by its one-to-one upper case), whatever the code page.
struct SimNameLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const;
};

struct SimKeyNode {
    std::string name;         // as first written, in the code page of that moment
    std::u16string wideName;  // the name as the registry keeps it
    SimKeyNode* parent = nullptr;
    std::map<std::u16string, std::shared_ptr<SimKeyNode>, SimNameLess> children;  // by wideName
    std::vector<SimRegValue> values;                                              // sorted by SimNameLess
    SimKeySecurity security;
    bool deleted = false;
    bool redirectedFor32 = false;  // the 32-bit view of 64-bit Windows goes into WOW6432Node
    bool predefined = false;       // a root key, which cannot be deleted
    bool link = false;             // made with REG_OPTION_CREATE_LINK: names lead to its target
    bool isVolatile = false;       // made with REG_OPTION_VOLATILE: gone at the restart
};

// One deletion a call made, as the registry held the entry at that moment.
struct SimRegDeletion {
    std::string key;        // full path after redirection ("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\X")
    bool wholeKey = false;  // the key went, and its values with it
    std::vector<std::string> values;  // the values that went, as stored; "" is the default value
    bool byService = false;           // a simulated service's own work inside one call (an uninstall)
};

class SimRegistry : public IRegistry {
  public:
    SimRegistry(Faults& faults, SimSystem& system);

    // --- state a test arranges and inspects ---
    // Creates every missing key on the path; returns false for an unknown root.
    bool CreatePath(const std::string& path, View view = View::K32);
    bool Exists(const std::string& path, View view = View::K32) const;
    bool Set(const std::string& path, const std::string& name, uint32_t type,
             const std::vector<uint8_t>& data, View view = View::K32);
    // REG_SZ with its terminator, as RegSetValueExA stores strlen + 1 bytes.
    bool SetString(const std::string& path, const std::string& name, const std::string& value,
                   View view = View::K32, uint32_t type = kRegSz);
    bool SetDword(const std::string& path, const std::string& name, uint32_t value, View view = View::K32);
    bool ValueExists(const std::string& path, const std::string& name, View view = View::K32) const;
    // Null when the key or the value is missing. The value can be changed in place, for
    // example `reg.GetValue(path, name)->deniedAccess = kKeySetValue;`.
    const SimRegValue* GetValue(const std::string& path, const std::string& name,
                                View view = View::K32) const;
    SimRegValue* GetValue(const std::string& path, const std::string& name, View view = View::K32);
    // Names of the subkeys (in enumeration order) and of the values of a key; empty when it is missing.
    std::vector<std::string> KeysUnder(const std::string& path, View view = View::K32) const;
    std::vector<std::string> ValuesUnder(const std::string& path, View view = View::K32) const;
    // The owner and access list of a key (null when missing). A test denies deletion with
    // `reg.SecurityOf(path)->deniedAccess = kDelete;`; the security area rewrites it.
    SimKeySecurity* SecurityOf(const std::string& path, View view = View::K32);
    // The same for the key an open handle refers to; null for an unknown handle.
    SimKeySecurity* SecurityOfHandle(RegKey key);
    // The records of the keys right below the key whose record is `security`, in
    // enumeration order: a link key's own, nothing behind it. Empty for a record of no key.
    std::vector<SimKeySecurity*> SubkeysOf(const SimKeySecurity* security);
    // The full path of the key an open handle refers to, after redirection
    // ("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\X"); empty for an unknown handle.
    std::string PathOfHandle(RegKey key) const;
    // Handles opened and not yet closed (predefined roots do not count).
    int OpenHandles() const;
    // A standard user planting a link key at `path` (missing keys above it are made) that
    // points at `target`, a key of HKEY_LOCAL_MACHINE or HKEY_USERS in the native view,
    // which need not exist. 0, 183 when `path` exists, 87 for another root.
    uint32_t UserCreateLinkKey(const std::string& path, const std::string& target, View view = View::K32);
    // The registry's part of a restart: volatile keys are gone, with everything below them.
    void SimulateRestart();

    void CloseKey(RegKey key) override;
    uint32_t CreateKeyEx(RegKey parent, const std::string& subKey, uint32_t options, uint32_t access,
                         RegKey& out, uint32_t* disposition) override;
    uint32_t OpenKeyEx(RegKey parent, const std::string& subKey, uint32_t access, RegKey& out) override;
    uint32_t OpenKeyExOptions(RegKey parent, const std::string& subKey, uint32_t options, uint32_t access,
                              RegKey& out) override;
    uint32_t DeleteOpenKey(RegKey key) override;
    uint32_t SetValueEx(RegKey key, const char* name, uint32_t type, const void* data,
                        uint32_t size) override;
    uint32_t DeleteKey(RegKey parent, const std::string& subKey) override;
    uint32_t QueryValueEx(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) override;
    uint32_t EnumKeyEx(RegKey key, uint32_t index, char* name, uint32_t* nameLength) override;
    uint32_t EnumValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* type,
                       void* data, uint32_t* dataSize) override;
    uint32_t QueryInfoKey(RegKey key, uint32_t* subKeys, uint32_t* maxSubKeyLength, uint32_t* values,
                          uint32_t* maxValueNameLength, uint32_t* maxValueLength) override;
    uint32_t DeleteKeyEx(RegKey parent, const std::string& subKey, uint32_t view) override;
    uint32_t DeleteValue(RegKey key, const char* name) override;
    uint32_t SHDeleteKey(RegKey parent, const std::string& subKey) override;
    uint32_t SHDeleteValue(RegKey parent, const std::string& subKey, const std::string& name) override;
    uint32_t SHGetValue(RegKey parent, const std::string& subKey, const std::string& name, uint32_t* type,
                        void* data, uint32_t* size) override;
    uint32_t FlushKey(RegKey key) override;
    uint32_t OpenKeyExW(RegKey parent, const std::u16string& subKey, uint32_t access, RegKey& out) override;
    uint32_t QueryValueExW(RegKey key, const char16_t* name, uint32_t* type, void* data,
                           uint32_t* size) override;
    uint32_t CreateKeyExW(RegKey parent, const std::u16string& subKey, uint32_t options, uint32_t access,
                          RegKey& out, uint32_t* disposition) override;
    uint32_t SetValueExW(RegKey key, const char16_t* name, uint32_t type, const void* data,
                         uint32_t size) override;
    uint32_t DeleteValueW(RegKey key, const char16_t* name) override;
    uint32_t OpenKeyExOptionsW(RegKey parent, const std::u16string& subKey, uint32_t options, uint32_t access,
                               RegKey& out) override;
    uint32_t EnumKeyExW(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength) override;
    uint32_t EnumValueW(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength, uint32_t* type,
                        void* data, uint32_t* dataSize) override;

    // Runs after each key or value a call deleted, before the call returns and under the
    // registry's lock: it may look at the rest of the machine, not at the registry.
    std::function<void(const SimRegDeletion&)> onDelete;

    // False stands for an advapi32 without RegDeleteKeyExA (32-bit Windows XP): DeleteKeyEx gives 120.
    bool hasDeleteKeyEx = true;

  private:
    using NodePtr = std::shared_ptr<SimKeyNode>;
    struct Handle {
        NodePtr node;
        uint32_t access = 0;
    };

    NodePtr RootNode(RegKey root) const;
    NodePtr RootByName(const std::string& name) const;
    // The key a handle refers to, with the access it was opened with. 6 for an unknown
    // handle, 1018 when its key was deleted.
    uint32_t Resolve(RegKey key, NodePtr& node, uint32_t& access) const;
    // Walks `subKey` from `start` in the given view; creates missing keys when `create`.
    // `arrange`: a test helper, which access lists do not hold back.
    // A link met on the way is followed, the last part's only without `openLink`.
    // Keys it creates are volatile with `makeVolatile`; below a volatile key only such keys
    // can be made (1021).
    uint32_t Walk(const NodePtr& start, const std::u16string& subKey, bool view64, bool create, NodePtr& out,
                  bool* created, bool arrange = false, bool openLink = false, int hops = 0,
                  bool makeVolatile = false) const;
    // The key a link points to: 2 when it points nowhere, 206 past a chain of 16.
    uint32_t FollowLink(const NodePtr& link, int hops, NodePtr& out) const;
    NodePtr FindPath(const std::string& path, View view) const;
    NodePtr MakePath(const std::string& path, View view);
    RegKey NewHandle(const NodePtr& node, uint32_t access);
    uint32_t OpenKey(RegKey parent, const std::u16string& subKey, uint32_t access, RegKey& out,
                     bool openLink = false);
    uint32_t CreateKey(RegKey parent, const std::u16string& subKey, uint32_t options, uint32_t access,
                       RegKey& out, uint32_t* disposition);
    uint32_t StoreData(RegKey key, const std::u16string& name, uint32_t type, std::vector<uint8_t> data,
                       std::vector<uint8_t> wideData = {});
    uint32_t DeleteValueIn(RegKey key, const std::u16string& name);
    uint32_t DeleteKeyIn(RegKey parent, const std::string& subKey, bool view64);
    // The value a query names, after the checks every query makes.
    uint32_t FindQueried(RegKey key, const std::u16string& name, const void* data, const uint32_t* size,
                         const SimRegValue*& out);
    uint32_t DeleteNode(const NodePtr& node);
    // Takes a childless key out of the tree and reports it.
    void Unlink(const NodePtr& node);
    // Deletes every key below `node`, depth first; stops at the first key that cannot go.
    uint32_t DeleteChildren(const NodePtr& node);
    uint32_t EraseValue(SimKeyNode& node, const std::u16string& name);
    void Report(const SimKeyNode& node, bool wholeKey, std::vector<std::string> values) const;
    static SimRegValue& StoreValue(SimKeyNode& node, const std::u16string& name);
    // Stores the REG_LINK value of a link key: `native` is a "\\Registry\\..." name.
    static void SetLinkTarget(SimKeyNode& node, const std::string& native);
    // Opens `subKey` below `parent` in the default view for a shlwapi helper and checks `needed` against its
    // access list.
    uint32_t ResolveSub(RegKey parent, const std::string& subKey, uint32_t needed, NodePtr& node) const;
    std::string ExpandEnvironment(const std::string& text) const;
    static SimRegValue* FindValue(SimKeyNode& node, const std::u16string& name);
    static std::string FullPath(const SimKeyNode* node);

    Faults& faults_;
    SimSystem& system_;
    mutable std::recursive_mutex mutex_;
    NodePtr hkcr_, hkcu_, hklm_, hku_, hkcc_, hkdd_;
    std::map<RegKey, Handle> handles_;
    RegKey next_ = 0x2000;
};

}  // namespace platform::sim
