/* Network interfaces, link aggregation (bonding), MTU and IPv4 address texts. */
#ifndef KORV_NET_H
#define KORV_NET_H

#include <stdint.h>

#include "korv/list.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KORV_ERR_NET_SLAVE_EXISTS 0xBB00 /* the slave is already in the record */
#define KORV_ERR_NET_SLAVES_FULL  0xBD00 /* the record already holds eight slaves */

#define KORV_NET_MAX_SLAVES 8

/* KORVNETLINKAGGR.mode */
#define KORV_NET_BOND_NONE           0
#define KORV_NET_BOND_8023AD         1 /* IEEE 802.3ad dynamic link aggregation */
#define KORV_NET_BOND_ALB            2 /* adaptive load balancing */
#define KORV_NET_BOND_ACTIVE_BACKUP  3

/* Kinds of KORVNetGetInterfaceInfo: what it leaves out besides loopback and point-to-point. */
#define KORV_NET_IF_NO_MASTERS  1 /* bond masters */
#define KORV_NET_IF_NO_SLAVES   2 /* bond slaves: the interfaces that carry addresses */

/* One interface that is up, as KORVNetGetInterfaceInfo lists it. */
typedef struct {
    char szIfName[16];       /* at most 15 characters */
    unsigned char mac[6];    /* left as the caller had it when the address cannot be read */
    char szIP[16];           /* dotted IPv4 text; left as the caller had it without an address */
    int linkState;           /* 2 when IFF_RUNNING, else 0 */
    int ifFlags;             /* the 16-bit interface flags, widened with their sign */
} KORVNETIFINFO;

/* A bond and its slaves. Zero-filled before use: two records are equal byte for byte. */
typedef struct {
    char szBond[16];
    int mode;                /* 0 none, 1 802.3ad, 2 balance-alb, 3 active-backup */
    int partnerMacMissing;   /* mode 1: no 802.3ad partner reported */
    int nSlave;              /* 0 to 8 */
    char szSlave[KORV_NET_MAX_SLAVES][16]; /* sorted by strcmp; unused entries all zero */
} KORVNETLINKAGGR;

/* The link of one Ethernet port. */
typedef struct {
    int speed;               /* 10, 100, 1000, or -1 for another value */
    int duplex;              /* 0 half, 1 full, -1 for another value */
    int mtu;                 /* -1 when it cannot be read */
} KORVNETETHINFO;

/*
 * Interfaces. A name that goes into a request has at most 15 characters; a longer one is refused
 * (0x0D00), never cut. The request functions record no code when a request fails.
 */
/* Fills up to max records with the interfaces of "/proc/net/dev" (its first eight) that are up and
 * not excluded by kind (1, 2, or any other but 0 and 4 for neither), sorted by name; records null
 * only counts. The number, or -1 (0x0D00 for max below 0 and kinds 0 and 4). */
int KORVNetGetInterfaceInfo(KORVNETIFINFO *records, int max, int kind);
/* 1 with both stored in network byte order, or 0 (the address may be stored when only the
 * netmask fails). */
int KORVNetGetIfAddr(const char *interface, uint32_t *address, uint32_t *netmask);

/*
 * Bonds. Bond and slave names that reach a path are 1 to 15 characters of A-Z a-z 0-9 . _ -,
 * not "." or ".." (else 0x0D00).
 */
/* The bond's state into the zero-filled record: 0 (also mode 0 without slaves when there is no
 * such bond), or -1 (0x0D00, 0x0200, 0x0900 / 0x0A00 for the mode file, the slave-add codes). */
int KORVNetLinkAggrGet(const char *bond, KORVNETLINKAGGR *record);
/* Applies the wanted state, which is checked whole before anything is stopped (0x0D00): a mode
 * 0 to 3, two to eight distinct valid slaves for modes 1 to 3, none or valid ones for mode 0 (none:
 * the bond's current ports). A record equal to the current state changes nothing. Otherwise the
 * ifcfg files are rewritten between "/etc/rc.network stop" and "start"; a failure puts back what
 * the change had altered. 0 or -1. */
int KORVNetLinkAggrSet(const KORVNETLINKAGGR *record);
/* Adds slave (cut to 15 characters) and sorts the names: 0, or -1 (0xBD00 full, 0xBB00 present). */
int KORVNetLinkAggrOptSlaveAdd(KORVNETLINKAGGR *record, const char *slave);
/* Appends the bond's slave names to *list; the number appended, or -1 (0x0900, 0x0A00). */
int KORVNetLinkAggrPhyGet(const char *bond, PKORLSZLIST *list);

/*
 * MTU.
 */
/* On a 1000 Mbit/s link applies mtu at once and waits 5 s; in every case stores "<if>_mtu" in
 * "/etc/korvinfo.conf". 0, or -1 when any step failed (the setting may still have been stored). */
int KORVNetSetMTUValue(const char *mtu, const char *interface);
/* Stores "<interface>_mtu" (key cut to 11 characters) under lock_korvinfo: 0 or -1. */
int KORVNetConfSetMTUValue(const char *mtu, const char *interface);
/* Sets the running interface's MTU to atoi(mtu): 0 or -1. */
int KORVNetSetMTUEth(const char *mtu, const char *interface);
/* Speed and duplex by ethtool (left as set when the port has no ethtool) and the MTU: 0 or -1. */
int KORVNetGetEthInfo(KORVNETETHINFO *info, const char *interface);
/* The running MTU; 0 when the interface cannot be asked; -1 for a null or too long name. */
int KORVNetGetMTUSetting(const char *interface);

/*
 * IPv4 texts.
 */
/* 1 for a dotted address whose first number is 1 to 223 but not 127, the next two 0 to 255 and
 * the last 0 to 254; else 0 (0x1000). */
int KORVNetIsIPAddr(const char *text);
/* Parses up to four numbers (strtol, base 0) of a text of at most 31 characters, each of at least
 * one digit and within int range: the number of fields completed, 4 for a whole address; fewer
 * with 0x1000. */
int KORVNetSepIP(const char *text, int numbers[4]);

#ifdef __cplusplus
}
#endif

#endif
