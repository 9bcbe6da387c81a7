// Reading a bond's state from the bonding driver: its slaves, its mode and, for 802.3ad,
// whether a partner answers.
#include <stdio.h>
#include <string.h>

#include <string>

#include "korv_internal.h"
#include "korv_rewrite.h"
#include "korv_sz_holders.h"
#include "net_internal.h"

namespace {

struct ModeText {
    const char *text;  // the start of the mode file's line
    int mode;
};

constexpr ModeText kModes[] = {{"802.3ad 4", 1}, {"balance-alb 6", 2}, {"active-backup 1", 3}};

constexpr char kPartnerPrefix[] = "\tPartner Mac Address: ";

// 1 when "/proc/net/bonding/<bond>" names no 802.3ad partner (or cannot be read), else 0.
int PartnerMacMissing(const char *bond)
{
    std::string path = std::string("/proc/net/bonding") + "/" + bond;
    korv::UniqueFile fp(fopen(path.c_str(), "r"));
    if (!fp)
        return 1;
    korv::LineReader lines(fp.get());
    while (lines.Next()) {
        char *line = lines.data();
        if (strncmp(line, kPartnerPrefix, sizeof kPartnerPrefix - 1) != 0)
            continue;
        // Only the newline goes: a last line without one keeps all of its address.
        if (lines.HasNewline())
            line[lines.size() - 1] = '\0';
        const char *mac = line + sizeof kPartnerPrefix - 1;
        mac += strspn(mac, " \t\r\n");
        return *mac && strcmp(mac, "00:00:00:00:00:00") != 0 ? 0 : 1;
    }
    return 1;
}

}  // namespace

extern "C" int KORVNetLinkAggrGet(const char *bond, KORVNETLINKAGGR *record)
{
    if (!bond || !record) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    memset(record, 0, sizeof *record);
    if (!korv::net::NameOk(bond)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    strncpy(record->szBond, bond, sizeof record->szBond - 1);

    korv::ListHolder slaves(PslKORLSzListAlloc(1024));
    if (!slaves)
        return -1;
    // No slaves, or no such bond: no aggregation.
    if (KORVNetLinkAggrPhyGet(bond, slaves.addr()) <= 0)
        return 0;
    for (int i = 0; i < slaves->nItem; ++i)
        if (KORVNetLinkAggrOptSlaveAdd(record, SzKORLSzListGet(slaves.get(), i)) < 0)
            return -1;

    std::string line;
    if (korv::net::BondingLine(bond, "mode", line) != 0)
        return -1;
    for (const ModeText &m : kModes)
        if (strncmp(line.c_str(), m.text, strlen(m.text)) == 0)
            record->mode = m.mode;
    if (record->mode == 0) {
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        KORV_LOG("Non-supported bonding mode [%s]", line.c_str());
        return 0;
    }
    if (record->mode == 1)
        record->partnerMacMissing = PartnerMacMissing(bond);
    return 0;
}
