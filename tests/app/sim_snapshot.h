// The whole state of a simulated machine as one canonical text: two machines built alike
// give the same text, and any change a program makes to one shows as a differing line.
// Left out: the tool's log folder and its own folder (every run, a preview too, writes its
// log, and the report and plan go to its own folder), the virtual clock, and what was only
// read (installer queries, debugger output).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/ansi.h"
#include "platform/guid.h"
#include "platform/sim/sim_machine.h"

namespace apptest {

namespace snapshot_detail {

using platform::sim::SimMachine;
using platform::sim::View;

inline std::string Hex(const std::vector<uint8_t>& data) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : data) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

inline std::string Number(uint64_t n) { return std::to_string(n); }

inline std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The 64-bit view holds every key once: the 32-bit copies of redirected keys live in
// WOW6432Node. A WOW6432Node with nothing in it is what a look into the 32-bit view leaves
// behind on the simulated registry; on Windows it is always there.
inline void RenderKey(SimMachine& m, const std::string& path, std::string& out) {
    auto& reg = m.registry;
    const auto keys = reg.KeysUnder(path, View::K64);
    const auto values = reg.ValuesUnder(path, View::K64);
    const auto* security = reg.SecurityOf(path, View::K64);
    const bool emptyWow = path.size() > 12 && Upper(path.substr(path.size() - 12)) == "\\WOW6432NODE" &&
                          keys.empty() && values.empty();
    if (!emptyWow) {
        out += "key " + path;
        if (security != nullptr)
            out += " owner=" + security->ownerSid + " sddl=" + security->sddl +
                   " denied=" + Number(security->deniedAccess);
        out += "\n";
    }
    for (const std::string& name : values) {
        const auto* v = reg.GetValue(path, name, View::K64);
        if (v == nullptr) continue;
        out += "  value " + path + " [" + v->name + "] type=" + Number(v->type) + " data=" + Hex(v->data) +
               " denied=" + Number(v->deniedAccess) + "\n";
    }
    for (const std::string& k : keys) RenderKey(m, path + "\\" + k, out);
}

inline void RenderFile(SimMachine& m, const std::string& path, const std::vector<std::string>& skipped,
                       std::string& out) {
    for (const std::string& s : skipped)
        if (Upper(path) == Upper(s)) return;
    auto& fs = m.files;
    const uint32_t attributes = fs.Attributes(path);
    out += "file " + path + " attributes=" + Number(attributes);
    // A link is shown as itself; what it leads to is shown under its own name.
    if ((attributes & platform::kFileAttributeReparsePoint) != 0) {
        out += " link\n";
        return;
    }
    if (const auto* security = fs.SecurityOf(path)) {
        // The list in effect, inherited entries included: what a rewrite passed down shows.
        std::string effective = "?";
        (void)m.security.GetNamedSecurityInfoA(path, platform::kSeFileObject,
                                               platform::kDaclSecurityInformation, nullptr, &effective);
        out += " owner=" + security->ownerSid + " sddl=" + security->sddl + " effective=" + effective +
               " denied=" + Number(security->deniedAccess);
    }
    if ((attributes & platform::kFileAttributeDirectory) == 0) {
        const std::string contents = fs.Contents(path);
        out += " contents=" + Hex(std::vector<uint8_t>(contents.begin(), contents.end())) + "\n";
        return;
    }
    out += "\n";
    for (const std::string& name : fs.List(path))
        if (name != "." && name != "..") RenderFile(m, path + "\\" + name, skipped, out);
}

inline std::string ProtocolLine(const platform::ProtocolInfo& e) {
    std::string line = "  entry " + Number(e.catalogEntryId) +
                       " provider=" + platform::Utf16ToAnsi(platform::GuidText(e.providerId)) +
                       " chain=" + Number(e.chainLen) + " name=" + platform::Utf16ToAnsi(e.protocolName) +
                       " through=";
    for (uint32_t id : e.chainEntries) line += Number(id) + ",";
    return line + "\n";
}

}  // namespace snapshot_detail

// The log folder of the tool on a simulated machine, and the tool's own folder.
constexpr char kToolLogFolder[] = "C:\\ProgramData\\Kelvaris\\Logs";
constexpr char kToolFolder[] = "C:\\Windows\\Logs\\SweepTool";

// `history`: also what was done to reach the state (service controls and starts, installer
// calls, firewall switches, programs started), which two ways to one state may differ in.
inline std::string SimSnapshot(platform::sim::SimMachine& m,
                               const std::vector<std::string>& skippedFolders = {kToolLogFolder, kToolFolder},
                               bool history = true) {
    using namespace snapshot_detail;
    std::string out;

    for (const char* root : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS", "HKEY_CURRENT_CONFIG"})
        RenderKey(m, root, out);

    std::string drives;
    (void)m.files.GetLogicalDriveStrings(1024, drives);
    for (size_t at = 0; at < drives.size() && drives[at] != '\0'; at = drives.find('\0', at) + 1) {
        const std::string root = drives.substr(at, 2);  // "C:"
        out += "drive " + root + " type=" + Number(m.files.GetDriveType(root + "\\")) + "\n";
        for (const std::string& name : m.files.List(root + "\\"))
            RenderFile(m, root + "\\" + name, skippedFolders, out);
    }
    for (const auto& p : m.files.PendingOperations())
        out += "pending " + p.from + " -> " + p.to + " flags=" + Number(p.flags) + "\n";

    for (const auto& entry : m.services.All()) {
        const auto& s = entry.second;
        out += "service " + s.name + " state=" + Number(static_cast<int>(s.state)) +
               " deleted=" + Number(s.deleted) + " disabled=" + Number(s.disabled);
        if (history) out += " starts=" + Number(s.starts) + " controls=" + Number(s.controls);
        out += " start=" + Number(s.startType) + " path=" + s.binaryPath + "\n";
    }
    for (const std::string& name : m.services.removed) out += "service removed " + name + "\n";

    for (const auto& p : m.processes.table)
        out += "process " + Number(p.processId) + " " + p.exeFile + " image=" + p.imagePath +
               " terminated=" + Number(p.terminated) + "\n";
    if (history) {
        for (const auto& e : m.processes.exited)
            out += "process exited " + Number(e.processId) + " " + e.exeFile + "\n";
        for (const auto& s : m.processes.started) out += "process started " + s + "\n";
        for (const auto& s : m.processes.startedHidden) out += "process started hidden " + s.imagePath + "\n";
    }

    for (const std::string& code : m.installer.ProductCodes())
        out += "product " + code + " installed=" + Number(m.installer.IsInstalled(code)) + "\n";
    if (history)
        for (const auto& c : m.installer.calls) out += "installer call " + c.call + " " + c.target + "\n";

    out += "catalogue32\n";
    for (const auto& e : m.winsock.catalog32.entries) out += ProtocolLine(e);
    if (history) out += "  deinstalls=" + Number(m.winsock.catalog32.deinstallCalls.size()) + "\n";
    out += "catalogue64\n";
    for (const auto& e : m.winsock.catalog64.entries) out += ProtocolLine(e);
    if (history) out += "  deinstalls=" + Number(m.winsock.catalog64.deinstallCalls.size()) + "\n";

    out += "firewall installed=" + Number(m.com.firewall.installed) +
           " enabled=" + Number(m.com.firewall.enabled);
    if (history) out += " puts=" + Number(m.com.firewall.puts.size());
    out += "\n";
    for (const std::string& ns : m.com.Namespaces()) {
        out += "wmi " + ns + "\n";
        for (const std::string& instance : m.com.Instances(ns)) out += "  instance " + instance + "\n";
    }

    const auto* marker =
        m.registry.GetValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris ClearoutTool", "ApplicationName");
    out += std::string("retry marker ") + (marker != nullptr ? Hex(marker->data) : "absent") + "\n";
    if (history) out += "shutdowns " + Number(m.system.shutdowns.size()) + "\n";
    return out;
}

}  // namespace apptest
