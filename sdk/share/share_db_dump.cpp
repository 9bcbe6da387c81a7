// smb.conf written anew from the share store.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "korv/wins.h"
#include "korv_account_rewrite.h"
#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "korv_rewrite.h"
#include "korv_sz_holders.h"
#include "korv_target.h"
#include "share_internal.h"

using namespace korv::share;

namespace {

// "nobody,<list>,nobody", the guards alone for an empty list.
std::string Guarded(const char *list)
{
    return std::string("nobody,") + list + (*list ? "," : "") + "nobody";
}

const char *YesNo(bool yes)
{
    return yes ? "yes" : "no";
}

int ReservedSectionDump(korv::AccountRewrite &rw, const void *value, int len)
{
    PKORLSZLIST lines = KORVListDBUnpack(value, len);
    if (!lines) {
        KORV_LOG("errno=%d KORVListDBUnpack() failed!!", KORLErrGet());
        return -1;
    }
    korv::ListHolder owned(lines);
    if (lines->nItem < 1) {
        KORV_ERR(KORL_ERR_MALFORMED);
        return -1;
    }
    if (rw.PutLine(0, ("[" + std::string(SzKORLSzListGet(lines, 0)) + "]").c_str()) != 0)
        return -1;
    for (int i = 1; i < lines->nItem; i++) {
        if (rw.PutLine(0, ("\t" + std::string(SzKORLSzListGet(lines, i))).c_str()) != 0)
            return -1;
    }
    return 0;
}

int GeneralSectionDump(korv::AccountRewrite &rw, const void *value, int len)
{
    KORVSHARE *share = nullptr;
    int r = UnpackChecked(value, len, &share);
    korv::MallocPtr<KORVSHARE> owned(share);
    if (r != 0) {
        KORV_LOG("KORVShareDBUnPack() failed!! korverr=0x%04X", KORLErrGet());
        return -1;
    }
    // Everyone with any access: the write list, then the read list, each name once.
    std::string valid = share->szWriteList;
    if (*share->szReadList)
        valid += (valid.empty() ? "" : ",") + std::string(share->szReadList);
    if (RemoveSameUsers(valid.data()) < 0) {
        KORV_LOG("RemoveSameUsers() failed! korverr=0x%04X, szUserList=[%s]", KORLErrGet(), valid.c_str());
        return -1;
    }
    valid.resize(strlen(valid.c_str()));
    char guestOk[32], writeable[32];
    if (ShareFTypeSetToConf(share->fType, guestOk, writeable, sizeof guestOk, sizeof writeable) != 0) {
        KORV_LOG("ShareFTypeSetToConf() failed! korverror=0x%04X, session[%s], fType=%d", KORLErrGet(),
                 share->szName, share->fType);
        return -1;
    }
    const std::string lines[] = {
        "[" + std::string(share->szName) + "]",
        "\tinvalid users=" + Guarded(share->szInvalidUsers),
        "\tvalid users=" + Guarded(valid.c_str()),
        "\tcomment=\"" + std::string(share->szComment) + "\"",
        "\tpath=" + std::string(share->szPath),
        "\tguest ok=" + std::string(guestOk),
        "\tbrowseable=" + std::string(YesNo(share->browseable != 0)),
        "\tftp disable list=" + std::string(YesNo(share->ftpFlags & KORV_SHARE_FTP_NO_LIST)),
        "\tftp disable modify=" + std::string(YesNo(share->ftpFlags & KORV_SHARE_FTP_NO_MODIFY)),
        "\tftp disable download=" + std::string(YesNo(share->ftpFlags & KORV_SHARE_FTP_NO_DOWNLOAD)),
        "\tread list=" + Guarded(share->szReadList),
        "\twrite list=" + Guarded(share->szWriteList),
        "\twriteable=" + std::string(writeable),
    };
    for (const std::string &line : lines) {
        if (rw.PutLine(0, line.data(), line.size()) != 0)
            return -1;
    }
    return 0;
}

// Writes every section in the store's key order into the temporary file, complete and on disk.
int Dump(KORVSHAREDB *db, korv::AccountRewrite &rw)
{
    if (KORVBDbCursorSetType(db->pShare, KORV_BDB_CURSOR_FIRST) != 0) {
        KORV_LOG("KORVBDbCursorSetType() failed, korverr=0x%04X", KORLErrGet());
        return -1;
    }
    korv::bdb::CursorBuffers b;
    for (bool first = true;; first = false) {
        if (KORVBDbCursorGet(db->pShare, 0, &b.key, &b.cbKey, &b.value, &b.cbValue) != 0) {
            // A store that cannot be read to its end never replaces smb.conf.
            if (KORLErrGet() == KORL_ERR_BDB_END)
                break;
            return -1;
        }
        if (first && KORVBDbCursorSetType(db->pShare, KORV_BDB_CURSOR_NEXT) != 0) {
            KORV_LOG("KORVBDbCursorSetType() failed, korverr=0x%04X", KORLErrGet());
            return -1;
        }
        if (b.cbKey <= 0) {
            syslog(LOG_WARNING, "%s:%d KORVBDbCursorGet() get a NULL key!", __FILE_NAME__, __LINE__);
            continue;
        }
        std::string key(static_cast<const char *>(b.key), strnlen(static_cast<const char *>(b.key),
                                                                    static_cast<size_t>(b.cbKey)));
        if (key[0] == '#') {
            // Only the reserved sections; the markers are no part of smb.conf.
            if (KORVShareSectionTypeGet(key.c_str() + 1) != 1)
                continue;
            if (ReservedSectionDump(rw, b.value, b.cbValue) != 0) {
                KORV_LOG("ReservedSectionDump() failed! key=%s, korverr=0x%04X", key.c_str(), KORLErrGet());
                return -1;
            }
        } else if (GeneralSectionDump(rw, b.value, b.cbValue) != 0) {
            KORV_LOG("GeneralSectionDump() failed!! key=%s, korverr=0x%04X", key.c_str(), KORLErrGet());
            return -1;
        }
    }
    return rw.Finish();
}

int ShareDbConfSyncTimeSet(KORVSHAREDB *db, const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0) {
        KORV_LOG("stat() [%s] failed, errno=%d/%m", KORV_SMB_CONF, errno);
        KORV_ERR(KORL_ERR_STAT);
        return -1;
    }
    return korv::bdb::SyncTimeSet(db->pShare, st);
}

}  // namespace

extern "C" int KORVShareDBDump(KORVSHAREDB *db)
{
    return KORV_GUARDED(-1, {
        if (!db || !db->pShare) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        // smb.conf as every writer finds it: a link of our own followed, anything odd refused.
        korv::file::Target target;
        bool missing = false;
        if (FILE *probe = target.Open(KORV_SMB_CONF, "r", &missing))
            fclose(probe);
        else if (!missing)
            return -1;
        const korv::AccountFile file[] = {{target.path(), korv::CreationMode()}};
        korv::AccountRewrite rw(file, 1);
        if (rw.Open() != 0)
            return -1;
        // Until the new file is complete and on disk smb.conf stays as it was.
        if (Dump(db, rw) != 0)
            return -1;
        if (korv::AccountRenameTemps(file, 1) != 0) {
            korv::AccountRemoveTemps(file, 1);
            return -1;
        }
        if (ShareDbConfSyncTimeSet(db, target.path()) != 0) {
            KORV_LOG("ShareDbConfSyncTimeSet() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    });
}
