#include "platform/sim/sim_sync.h"

#include <chrono>
#include <set>

namespace platform::sim {

namespace {

constexpr uint32_t kErrorBadPathname = 161;

// Kernel object names: "Local\" is the session's own namespace, the same as no prefix;
// "Global\" is a namespace of its own. A further backslash names an object directory
// that does not exist.
bool NormalizeName(const std::u16string& name, std::u16string& out, uint32_t& error) {
    static const std::u16string kLocal = u"Local\\", kGlobal = u"Global\\";
    std::u16string rest = name;
    std::u16string prefix;
    if (rest.compare(0, kLocal.size(), kLocal) == 0) {
        rest = rest.substr(kLocal.size());
    } else if (rest.compare(0, kGlobal.size(), kGlobal) == 0) {
        prefix = kGlobal;
        rest = rest.substr(kGlobal.size());
    }
    if (rest.find(u'\\') != std::u16string::npos) {
        error = kErrorPathNotFound;
        return false;
    }
    if (!name.empty() && rest.empty()) {
        error = kErrorBadPathname;
        return false;
    }
    out = prefix + rest;
    return true;
}

// What an SDDL text's deny entries for Everyone take from this process: `all` when any
// right of MUTEX_ALL_ACCESS is denied (CreateMutexW on an existing mutex asks for all of
// them), `sync` when SYNCHRONIZE is (generic all or generic execute, for a mutex).
void DeniedByDescriptor(const std::string& sddl, bool& all, bool& sync) {
    all = sync = false;
    for (size_t at = sddl.find("(D;"); at != std::string::npos; at = sddl.find("(D;", at + 1)) {
        size_t end = sddl.find(')', at);
        if (end == std::string::npos) break;
        std::string ace = sddl.substr(at + 1, end - at - 1);  // D;flags;rights;guid;guid;sid
        std::string fields[6];
        size_t start = 0;
        for (int i = 0; i < 6; ++i) {
            size_t semi = ace.find(';', start);
            fields[i] = ace.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
            if (semi == std::string::npos) break;
            start = semi + 1;
        }
        if (fields[5] != "WD") continue;
        all = true;
        const std::string& rights = fields[2];
        for (size_t i = 0; i + 1 < rights.size(); i += 2) {
            std::string right = rights.substr(i, 2);
            if (right == "GA" || right == "GX") sync = true;
        }
    }
}

}  // namespace

struct SimSync::Mutex {
    std::u16string name;  // empty: unnamed
    std::string sddl;
    uint32_t owner = 0;  // thread id of this process
    bool ownedElsewhere = false;
    uint32_t recursion = 0;
    bool abandoned = false;
    bool accessDenied = false;  // MUTEX_ALL_ACCESS is refused to this process
    bool syncDenied = false;    // so is SYNCHRONIZE
    bool keptElsewhere = false;
    int handles = 0;

    bool Free() const { return owner == 0 && !ownedElsewhere; }
};

SimSync::SimSync(Faults& faults, SimSystem& system) : faults_(faults), system_(system) {}

SimSync::~SimSync() = default;

bool SimSync::Fail(const char* call) {
    uint32_t code = faults_.Take(call);
    if (code == 0) return false;
    system_.SetLastError(code);
    return true;
}

SyncHandle SimSync::AddHandle(const std::shared_ptr<Mutex>& m) {
    SyncHandle h = next_;
    next_ += 4;
    handles_[h] = m;
    ++m->handles;
    return h;
}

void SimSync::Forget(const std::shared_ptr<Mutex>& m) {
    // A named object lives while some process has a handle to it.
    if (m->handles == 0 && !m->keptElsewhere && !m->name.empty()) named_.erase(m->name);
}

void SimSync::AddForeignMutex(const std::u16string& name, bool owned, bool accessDenied,
                              const std::string& sddl) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::u16string key;
    uint32_t error = 0;
    if (!NormalizeName(name, key, error) || key.empty()) return;
    auto& m = named_[key];
    if (!m) {
        m = std::make_shared<Mutex>();
        m->name = key;
    }
    m->keptElsewhere = true;
    m->ownedElsewhere = owned && m->owner == 0;
    m->sddl = sddl;
    DeniedByDescriptor(m->sddl, m->accessDenied, m->syncDenied);
    m->accessDenied = m->accessDenied || accessDenied;
}

void SimSync::ReleaseForeign(const std::u16string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::u16string key;
    uint32_t error = 0;
    if (!NormalizeName(name, key, error)) return;
    auto it = named_.find(key);
    if (it == named_.end()) return;
    it->second->ownedElsewhere = false;
    changed_.notify_all();
}

int SimSync::AbandonOwned() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::set<Mutex*> all;
    for (auto& [k, m] : named_) all.insert(m.get());
    for (auto& [h, m] : handles_) all.insert(m.get());
    int count = 0;
    for (Mutex* m : all) {
        if (m->Free()) continue;
        m->owner = 0;
        m->ownedElsewhere = false;
        m->recursion = 0;
        m->abandoned = true;
        ++count;
    }
    changed_.notify_all();
    return count;
}

bool SimSync::Exists(const std::u16string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::u16string key;
    uint32_t error = 0;
    return NormalizeName(name, key, error) && named_.count(key) > 0;
}

std::string SimSync::SddlOf(const std::u16string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::u16string key;
    uint32_t error = 0;
    if (!NormalizeName(name, key, error)) return {};
    auto it = named_.find(key);
    return it == named_.end() ? std::string() : it->second->sddl;
}

uint32_t SimSync::OwnerOf(const std::u16string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::u16string key;
    uint32_t error = 0;
    if (!NormalizeName(name, key, error)) return 0;
    auto it = named_.find(key);
    return it == named_.end() ? 0 : it->second->owner;
}

int SimSync::OpenHandles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(handles_.size() + threads_.size());
}

void SimSync::CloseHandle(SyncHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (threads_.erase(handle) != 0) return;
    auto it = handles_.find(handle);
    if (it == handles_.end()) return;
    std::shared_ptr<Mutex> m = it->second;
    handles_.erase(it);
    --m->handles;
    Forget(m);
}

bool SimSync::CreateMutexW(const char* sddl, bool initialOwner, const std::u16string& name, SyncHandle& out) {
    if (Fail("CreateMutexW")) return false;
    std::u16string key;
    uint32_t error = 0;
    if (!NormalizeName(name, key, error)) {
        system_.SetLastError(error);
        return false;
    }
    uint32_t tid = system_.GetCurrentThreadId();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!key.empty()) {
        auto it = named_.find(key);
        if (it != named_.end()) {
            // Opening an existing mutex asks for MUTEX_ALL_ACCESS.
            if (it->second->accessDenied) {
                system_.SetLastError(kErrorAccessDenied);
                return false;
            }
            out = AddHandle(it->second);
            system_.SetLastError(kErrorAlreadyExists);
            return true;
        }
    }
    auto m = std::make_shared<Mutex>();
    m->name = key;
    if (sddl) {
        m->sddl = sddl;
        DeniedByDescriptor(m->sddl, m->accessDenied, m->syncDenied);
    }
    if (initialOwner) {
        m->owner = tid;
        m->recursion = 1;
    }
    if (!key.empty()) named_[key] = m;
    out = AddHandle(m);
    system_.SetLastError(0);
    return true;
}

bool SimSync::OpenMutexW(uint32_t access, bool, const std::u16string& name, SyncHandle& out) {
    if (Fail("OpenMutexW")) return false;
    std::u16string key;
    uint32_t error = 0;
    if (name.empty()) {
        system_.SetLastError(kErrorInvalidParameter);
        return false;
    }
    if (!NormalizeName(name, key, error)) {
        system_.SetLastError(error);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = named_.find(key);
    if (it == named_.end()) {
        system_.SetLastError(kErrorFileNotFound);
        return false;
    }
    bool wantsMore = (access & ~static_cast<uint32_t>(kSynchronize)) != 0;
    if ((it->second->accessDenied && wantsMore) || (it->second->syncDenied && (access & kSynchronize))) {
        system_.SetLastError(kErrorAccessDenied);
        return false;
    }
    out = AddHandle(it->second);
    return true;
}

uint32_t SimSync::WaitForSingleObject(SyncHandle handle, uint32_t milliseconds) {
    if (Fail("WaitForSingleObject")) return kWaitFailed;
    uint32_t tid = system_.GetCurrentThreadId();
    std::unique_lock<std::mutex> lock(mutex_);
    if (threads_.count(handle) != 0) return kWaitObject0;  // it has ended
    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        system_.SetLastError(kErrorInvalidHandle);
        return kWaitFailed;
    }
    std::shared_ptr<Mutex> m = it->second;
    if (m->owner == tid) {
        ++m->recursion;
        return kWaitObject0;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!m->Free()) {
        if (milliseconds == 0) return kWaitTimeout;
        if (milliseconds == kInfinite) {
            changed_.wait(lock);
            continue;
        }
        // Another process's owner cannot release within the wait: no reason to sleep for it.
        if (m->ownedElsewhere) return kWaitTimeout;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && !m->Free()) return kWaitTimeout;
    }
    m->owner = tid;
    m->recursion = 1;
    if (m->abandoned) {
        m->abandoned = false;
        return kWaitAbandoned;
    }
    return kWaitObject0;
}

bool SimSync::ReleaseMutex(SyncHandle handle) {
    if (Fail("ReleaseMutex")) return false;
    uint32_t tid = system_.GetCurrentThreadId();
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        system_.SetLastError(kErrorInvalidHandle);
        return false;
    }
    Mutex& m = *it->second;
    if (m.owner != tid) {
        system_.SetLastError(kErrorNotOwner);
        return false;
    }
    if (--m.recursion == 0) {
        m.owner = 0;
        changed_.notify_all();
    }
    return true;
}

bool SimSync::BeginThread(ThreadProcedure procedure, void* argument, SyncHandle& out) {
    if (Fail("_beginthreadex")) return false;
    const uint32_t exitCode = procedure(argument);
    std::lock_guard<std::mutex> lock(mutex_);
    out = next_;
    next_ += 4;
    threads_[out] = exitCode;
    return true;
}

}  // namespace platform::sim
