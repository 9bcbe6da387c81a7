// Changing link aggregation: the ifcfg files of the bond and its ports are rewritten while the
// network scripts are stopped, then the scripts start again on what the files hold.
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <initializer_list>
#include <string>

#include "korv/file.h"
#include "korv/hash.h"
#include "korv_command.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "korv_sz_holders.h"
#include "net_internal.h"

namespace {

using korv::net::IfcfgPath;
using korv::net::IfcfgUndo;
using korv::net::NameFieldOk;

// BONDING_OPTS by mode; the double quotes belong to the stored value.
const char *const kBondingOpts[] = {
    "",
    "\"mode=4 use_carrier=0 miimon=100 updelay=100 lacp_rate=fast\"",
    "\"mode=balance-alb use_carrier=0 miimon=100 updelay=100\"",
    "\"mode=active-backup use_carrier=0 miimon=100 updelay=100 primary=eth0\"",
};

// The keys to set and to remove in one ifcfg file, in the order they are put in.
class KeyHashes {
public:
    bool ok() const { return set_ && del_ && ok_; }
    void Set(const char *key, const char *value) { ok_ = ok_ && KORLSzHashSetValue(set_.addr(), key, value) >= 0; }
    void Remove(std::initializer_list<const char *> keys)
    {
        for (const char *key : keys)
            ok_ = ok_ && KORLSzHashSetValue(del_.addr(), key, "") >= 0;
    }
    // KORLFileSetKeys with the plain "KEY=value" lines of the network scripts: 0, or -1.
    int Write(const std::string &path)
    {
        if (!ok())
            return -1;
        return KORLFileSetKeys(path.c_str(), set_.get(), del_.get(), KORL_KEY_FORMAT_DEFAULT) < 0 ? -1 : 0;
    }

private:
    korv::HashHolder set_{PshKORLSzHashAlloc(1024)};
    korv::HashHolder del_{PshKORLSzHashAlloc(1024)};
    bool ok_ = true;
};

// BOOTPROTO stays when the file has "static" or "dhcp" (any case); anything else becomes "dhcp".
void NetLinkAggrBootProtoCheck(const std::string &path, KeyHashes &keys)
{
    char value[64];
    int n = KORLFileGetKeyValue(path.c_str(), "BOOTPROTO", value, sizeof value, 0);
    if (n > 0 && (strcasecmp(value, "static") == 0 || strcasecmp(value, "dhcp") == 0))
        return;
    keys.Set("BOOTPROTO", "dhcp");
}

// Makes name's file that of a slave of bond (enslave), or that of a standalone port. The file is
// saved for the undo first, unless this run saved it already.
int NetLinkAggrIfcfgSet(const char *name, int enslave, const char *bond, IfcfgUndo &undo)
{
    if (!name || (enslave && !bond)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    KeyHashes keys;
    if (!keys.ok()) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    std::string path = IfcfgPath(name);
    keys.Set("DEVICE", name);
    if (enslave) {
        keys.Set("BOOTPROTO", "none");
        keys.Set("USERCTL", "no");
        keys.Set("MASTER", bond);
        keys.Set("SLAVE", "yes");
        keys.Remove({"IPADDR", "NETMASK", "NETWORK", "BROADCAST"});
    } else {
        NetLinkAggrBootProtoCheck(path, keys);
        keys.Remove({"USERCTL", "BONDING_OPTS", "MASTER", "SLAVE"});
    }
    if (undo.Save(name) < 0)
        return -1;
    return keys.Write(path);
}

// Builds the bond's file from the first slave's and enslaves every slave.
int NetLinkAggrEnable(const KORVNETLINKAGGR *record)
{
    if (!record || !record->szBond[0] || record->nSlave < 2 || record->nSlave > KORV_NET_MAX_SLAVES ||
        record->mode <= 0 || record->mode > 3) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    for (int i = 0; i < record->nSlave; ++i) {
        if (!record->szSlave[i][0]) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
    }
    IfcfgUndo undo;
    KeyHashes keys;
    std::string bondPath = IfcfgPath(record->szBond);
    if (!keys.ok()) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    // The bond's file as it was comes back if this fails.
    if (undo.Keep(record->szBond) < 0)
        return -1;
    // The bond takes the first port's address settings. A port without a file leaves the
    // bond's file as it was.
    korv::CopyFile(IfcfgPath(record->szSlave[0]).c_str(), bondPath.c_str());
    NetLinkAggrBootProtoCheck(bondPath, keys);
    keys.Set("DEVICE", record->szBond);
    keys.Set("ONBOOT", "yes");
    keys.Set("USERCTL", "no");
    keys.Set("BONDING_OPTS", kBondingOpts[record->mode]);
    keys.Remove({"MASTER", "SLAVE"});
    if (keys.Write(bondPath) < 0)
        return -1;
    for (int i = 0; i < record->nSlave; ++i)
        if (NetLinkAggrIfcfgSet(record->szSlave[i], 1, record->szBond, undo) != 0)
            return -1;
    undo.Done();
    for (int i = 0; i < record->nSlave; ++i)
        unlink(korv::net::SavedPath(record->szSlave[i]).c_str());
    return 0;
}

// Gives the bond's file to the first slave and makes every slave standalone; the bond's file goes.
int NetLinkAggrDisable(const KORVNETLINKAGGR *record)
{
    // Without a port to take them, the bond's settings would be lost.
    if (!record->szBond[0] || record->nSlave < 1 || record->nSlave > KORV_NET_MAX_SLAVES) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    IfcfgUndo undo;
    std::string bondPath = IfcfgPath(record->szBond);
    if (undo.Save(record->szSlave[0]) < 0)
        return -1;
    if (korv::CopyFile(bondPath.c_str(), IfcfgPath(record->szSlave[0]).c_str()) < 0) {
        KORV_ERR(KORL_ERR_CHILD);
        return -1;
    }
    for (int i = 0; i < record->nSlave; ++i)
        if (record->szSlave[i][0] && NetLinkAggrIfcfgSet(record->szSlave[i], 0, nullptr, undo) != 0)
            return -1;
    undo.Done();
    // The ports' ".saved" copies stay until the next change.
    unlink(bondPath.c_str());
    return 0;
}

// Every name that will reach a path is one a port can have, no port twice, none the bond itself.
bool SlavesOk(const KORVNETLINKAGGR &record)
{
    if (record.nSlave < 0 || record.nSlave > KORV_NET_MAX_SLAVES)
        return false;
    for (int i = 0; i < record.nSlave; ++i) {
        if (!NameFieldOk(record.szSlave[i]) || strcmp(record.szSlave[i], record.szBond) == 0)
            return false;
        for (int j = 0; j < i; ++j)
            if (strcmp(record.szSlave[i], record.szSlave[j]) == 0)
                return false;
    }
    return true;
}

// The whole wanted record, before anything is stopped.
bool WantedOk(const KORVNETLINKAGGR &record)
{
    if (!NameFieldOk(record.szBond) || record.mode < 0 || record.mode > 3 || !SlavesOk(record))
        return false;
    return record.mode == 0 || record.nSlave >= 2;
}

// "/etc/rc.network stop" or "start", its output dropped.
void RunNetworkScripts(const char *action)
{
    // The scripts' own result is theirs to report; the change goes on either way.
    korv::proc::Run({"/etc/rc.network", action}, {.quiet = true});
}

}  // namespace

extern "C" int KORVNetLinkAggrSet(const KORVNETLINKAGGR *record)
{
    if (!record || !WantedOk(*record)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    KORVNETLINKAGGR current;
    memset(&current, 0, sizeof current);
    bool haveCurrent = KORVNetLinkAggrGet(record->szBond, &current) == 0;
    if (haveCurrent && memcmp(&current, record, sizeof current) == 0)
        return 0;

    korv::ListHolder ports(PslKORLSzListAlloc(1024));
    if (!ports)
        return -1;
    KORVNETLINKAGGR wanted = *record;
    if (wanted.mode == 0 && wanted.nSlave == 0) {
        // The disable needs the ports that now carry the bond.
        if (KORVNetLinkAggrPhyGet(wanted.szBond, ports.addr()) > 0)
            for (int i = 0; i < ports->nItem; ++i)
                KORVNetLinkAggrOptSlaveAdd(&wanted, SzKORLSzListGet(ports.get(), i));
        if (wanted.nSlave == 0)
            return haveCurrent ? 0 : -1;  // no bond runs: nothing to disable
    }
    // The bond that runs now is taken apart first, unless it has no ports.
    bool disableCurrent = wanted.mode != 0 && haveCurrent && current.nSlave > 0;
    if (!SlavesOk(wanted) || (disableCurrent && !SlavesOk(current))) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }

    RunNetworkScripts("stop");
    int result;
    if (wanted.mode == 0) {
        result = NetLinkAggrDisable(&wanted);
    } else {
        if (disableCurrent)
            NetLinkAggrDisable(&current);  // a failure here does not stop the enable
        result = NetLinkAggrEnable(&wanted);
    }
    RunNetworkScripts("start");
    return result;
}
