// Service and process entries of the configuration: names, or patterns resolved against
// the service control manager and the running processes.
#include <string>
#include <vector>

#include "engine/cnuke.h"
#include "expand/handlers_internal.h"
#include "expand/path_helpers.h"
#include "platform/ansi.h"

namespace engine {

using namespace platform;

namespace {
// Win32 services and drivers alike: a configured name may be either.
constexpr uint32_t kServiceTypesListed = kServiceDriver | kServiceWin32;
// Slack on top of the size the first call asks for, should the database grow in between.
constexpr uint32_t kEnumSlack = 100;
}  // namespace

uint32_t CNuke::EnumerateServices(ScHandle manager, TSet& out) {
    std::vector<EnumServiceStatus> services;
    uint32_t needed = 0, returned = 0;
    if (os_.scm.EnumServicesStatus(manager, kServiceTypesListed, kServiceStateAll, 0, services, needed,
                                   returned, nullptr)) {
        // An empty buffer was enough: there is nothing to list.
        return 0;
    }
    if (needed == 0) return os_.sys.GetLastError();
    bool ok = os_.scm.EnumServicesStatus(manager, kServiceTypesListed, kServiceStateAll, needed + kEnumSlack,
                                         services, needed, returned, nullptr);
    uint32_t error = ok ? 0 : os_.sys.GetLastError();
    for (const EnumServiceStatus& s : services) {
        if (uint32_t code = out.Insert(s.serviceName.c_str())) return code;
    }
    return error;
}

uint32_t CNuke::ExpandServiceName(TSet& list, char* data) {
    if (!expand::HasWildcards(data)) return list.Insert(data);

    ScHandle raw = 0;
    if (!os_.scm.OpenSCManager(nullptr, kGenericRead, raw)) return os_.sys.GetLastError();
    UniqueScHandle manager(&os_.scm, raw);

    // Whatever part of the database could be read is matched; a failed enumeration
    // leaves nothing to match and is not the entry's fault.
    TSet services;
    (void)EnumerateServices(manager.get(), services);

    // Under a legacy code page a name it cannot spell is listed through best fit: "Ωmega"
    // as "Omega", which names another service or none. The names as the database keeps them
    // tell which narrow names are real; when they cannot be read, the narrow ones stand.
    TSet spelled;
    std::vector<std::u16string> unspellable;
    std::vector<std::u16string> wide;
    const bool checked =
        AnsiCodePage() != kCodePageUtf8 &&
        os_.scm.EnumServiceNamesW(manager.get(), kServiceTypesListed, kServiceStateAll, wide);
    for (const std::u16string& real : wide) {
        if (SurvivesAnsi(real))
            (void)spelled.Insert(Utf16ToAnsi(real).c_str());
        else
            unspellable.push_back(real);
    }

    const char* name = nullptr;
    for (uint32_t r = services.First(&name); r == 0; r = services.Next(&name)) {
        if (!expand::MatchWildcard(name, data)) continue;
        if (checked && !spelled.Contains(name)) continue;
        if (uint32_t code = list.Insert(name)) return code;
    }
    // Reported where the entry would have removed one under its alias.
    for (const std::u16string& real : unspellable) {
        if (&list != &removeServiceList || !expand::MatchWildcard(Utf16ToAnsi(real).c_str(), data)) continue;
        RefuseUnspellable("CNuke::ExpandServiceName", "Service", real, &RunCounts::servicesFailed);
    }
    return 0;
}

uint32_t CNuke::ExpandProcessName(TSet& list, char* data) {
    SnapshotHandle raw = 0;
    if (!os_.proc.CreateToolhelp32Snapshot(kTh32csSnapProcess, 0, raw)) return os_.sys.GetLastError();
    UniqueSnapshot snapshot(&os_.proc, raw);

    ProcessEntry entry;
    for (bool ok = os_.proc.Process32First(snapshot.get(), entry); ok;
         ok = os_.proc.Process32Next(snapshot.get(), entry)) {
        const char* name = expand::detail::FileNamePart(entry.exeFile.c_str());
        if (!expand::MatchWildcard(name, data) || !SurvivesAnsi(entry.wideExeFile)) continue;
        if (uint32_t code = list.Insert(name)) return code;
    }
    return 0;
}

}  // namespace engine
