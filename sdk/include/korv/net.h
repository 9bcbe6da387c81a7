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

/* kind 1 leaves out bond masters, 2 bond slaves, 3 neither; 0 and 4 are refused. */
int KORVNetGetInterfaceInfo(KORVNETIFINFO *records, int max, int kind);
int KORVNetLinkAggrGet(const char *bond, KORVNETLINKAGGR *record);
int KORVNetLinkAggrSet(const KORVNETLINKAGGR *record);
int KORVNetLinkAggrOptSlaveAdd(KORVNETLINKAGGR *record, const char *slave);
/* Appends the bond's slave names to *list; the number appended, or -1. */
int KORVNetLinkAggrPhyGet(const char *bond, PKORLSZLIST *list);

int KORVNetSetMTUValue(const char *mtu, const char *interface);
int KORVNetConfSetMTUValue(const char *mtu, const char *interface);
int KORVNetSetMTUEth(const char *mtu, const char *interface);
int KORVNetGetEthInfo(KORVNETETHINFO *info, const char *interface);
int KORVNetGetMTUSetting(const char *interface);

int KORVNetIsIPAddr(const char *text);
int KORVNetSepIP(const char *text, int numbers[4]);
/* 1 with both stored in network byte order, or 0. */
int KORVNetGetIfAddr(const char *interface, uint32_t *address, uint32_t *netmask);

#ifdef __cplusplus
}
#endif

#endif
