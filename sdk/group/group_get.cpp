#include "group_internal.h"
#include "korv/file_lock.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_locked_lookup.h"

using namespace korv::group;

extern "C" int KORVGroupGet(const char *name, KORVGROUP **pp)
{
    return KORV_GUARDED(-1, {
        if (!name || !pp) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        // A name too long for its key is no group's, and is never looked up cut or emptied.
        std::string key;
        if (korv::UpperKey(name, key, kLookupKeySize) != 0) {
            KORV_LOG("KORLUnicodeUTF8StrUpper failed, str=%s.", name);
            return -1;
        }
        korv::LockedLookup<KORVGROUPDB> db(KORL_LOCK_PW | KORL_LOCK_GR, KORVGroupDBOpen, KORVGroupDBClose);
        if (db.Begin() != 0)
            return -1;
        std::string line;
        int r = ReadLine(db.get()->pGRPName, key, line);
        if (r != 0) {
            KORV_ERR(KORV_ERR_GROUP_NOT_FOUND);
        } else if ((r = KORVGroupDBUnpack(line.c_str(), pp)) != 0) {
            KORV_LOG("KORVGroupDBUnpack failed. korverr=0x%04X", KORLErrGet());
        }
        return db.End() != 0 || r != 0 ? -1 : 0;
    });
}
