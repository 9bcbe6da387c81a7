// The share store built from smb.conf, section by section.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "korv/file.h"
#include "korv/string.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "korv_rewrite.h"
#include "korv_sz_holders.h"
#include "share_internal.h"

namespace korv::share {

namespace {

enum SectionKind { kNone = -1, kShare = 0, kReserved = 1 };

// Section names are cut to this many bytes with their NUL.
constexpr int kSectionNameSize = 495;

}  // namespace

int ShareDBSetOne(KORVSHAREDB *db, PKORLSZLIST lines, PKORLSZHASH keys, const char *sectionName, int iSecType)
{
    if (!db || !sectionName) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (iSecType == kShare) {
        if (!keys || keys->nUsed == 0) {
            KORV_ERR(KORL_ERR_MALFORMED);
            return -1;
        }
        korv::MallocPtr<KORVSHARE> share(ShareAllocFromConf(sectionName, keys));
        if (!share) {
            KORV_LOG("ShareAllocFromConf [%s] failed. korverr=0x%04X", sectionName, KORLErrGet());
            return -1;
        }
        // As a new share: a second section of the same name in any letter case is refused.
        if (KORVShareDBSet(db, nullptr, share.get()) != 0) {
            KORV_LOG("KORVShareDBSet failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    }
    if (iSecType == kReserved) {
        if (!lines || KORVListDBSet(db->pShare, sectionName, lines) != 0) {
            KORV_LOG("KORVListDBSet [%s] failed. korverr=0x%04X", sectionName, KORLErrGet());
            return -1;
        }
        return 0;
    }
    KORV_ERR(KORV_ERR_SHARE_SECTION_TYPE);
    KORV_LOG("section type is unexpected! iSecType=%d", iSecType);
    return -1;
}

void ShareDBResetSection(PKORLSZLIST lines, PKORLSZHASH keys, int iSecType)
{
    if (iSecType == kShare)
        KORLSzHashClear(keys);
    else if (iSecType == kReserved && lines)
        KORLSzListRemoveAll(lines);
}

}  // namespace korv::share

using namespace korv::share;

namespace {

class Builder {
public:
    explicit Builder(KORVSHAREDB *db)
        : db_(db), lines_(PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE)), keys_(PshKORLSzHashAlloc(1024))
    {
    }
    bool ready() const { return lines_ && keys_; }

    // Stores the open section and empties what it used.
    void Close()
    {
        if (kind_ != kNone && ShareDBSetOne(db_, lines_.get(), keys_.get(), name_, kind_) != 0)
            KORV_LOG("ShareDBSetOne() failed! korverr=0x%04X", KORLErrGet());
        Reset();
    }

    void Header(const char *line)
    {
        Close();
        if (KORVShareParseSectionName(line, name_, sizeof name_) != 0) {
            KORV_LOG("Failed to parse section name[%s], korverr=0x%04X", line, KORLErrGet());
            kind_ = kNone;
            return;
        }
        kind_ = KORVShareSectionTypeGet(name_) == 1 ? kReserved : kShare;
        if (kind_ == kReserved && KORLSzListPush(lines_.addr(), name_) < 0) {
            KORV_LOG("KORLSzListPush [%s] failed!! korverr=0x%04X", name_, KORLErrGet());
            Reset();
            kind_ = kNone;
        }
    }

    void Line(char *line)
    {
        if (kind_ == kNone)
            return;
        KORLStrTrimSpace(line, nullptr);
        if (kind_ == kShare && !*line)
            return;
        if (!(kind_ == kShare ? SetKey(line) : KORLSzListPush(lines_.addr(), line) >= 0)) {
            // The whole section is given up.
            KORV_LOG("Failed to set section data. section[%s], korverr=0x%04X", name_, KORLErrGet());
            Reset();
            kind_ = kNone;
        }
    }

private:
    bool SetKey(const char *line)
    {
        korv::ListHolder pair(PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE));
        if (!pair || KORLStrSepPair(line, pair.addr()) != 0)
            return false;
        return KORLSzHashSetValue(keys_.addr(), SzKORLSzListGet(pair.get(), 0), SzKORLSzListGet(pair.get(), 1)) >= 0;
    }
    void Reset() { ShareDBResetSection(lines_.get(), keys_.get(), kind_); }

    KORVSHAREDB *db_;
    korv::ListHolder lines_;
    korv::HashHolder keys_;
    char name_[kSectionNameSize] = "";
    int kind_ = kNone;
};

}  // namespace

extern "C" int KORVShareDBBuild(FILE *smbConf, KORVSHAREDB *db)
{
    return KORV_GUARDED(-1, {
        if (!smbConf || !db || !db->pShare) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        Builder b(db);
        if (!b.ready()) {
            KORV_ERR(KORL_ERR_NO_MEMORY);
            return -1;
        }
        korv::LineReader lr(smbConf);
        while (lr.Next()) {
            char *line = lr.data();
            size_t len = strnlen(line, lr.TextSize());
            line[len] = '\0';
            if (KORLFileIsSection(line, static_cast<int>(len)) == 1)
                b.Header(line);
            else
                b.Line(line);
        }
        b.Close();
        if (lr.Failed()) {
            KORV_LOG("Fail to read the end of the file. errno=%d/%m", errno);
            KORV_ERR(KORL_ERR_READ);
            return -1;
        }
        struct stat st;
        if (fstat(fileno(smbConf), &st) != 0) {
            KORV_LOG("fstat() failed!! errno=%d/%m", errno);
            KORV_ERR(KORL_ERR_STAT);
            return -1;
        }
        // The device's time words are 32 bits.
        if (KORVBDbConfSyncTimeSet(db->pShare, static_cast<int32_t>(st.st_mtime)) != 0) {
            KORV_LOG("KORVBDbConfSyncTimeSet() failed!! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    });
}
