// The share record, its stored form, the name rules and the share kinds.
#include <string.h>

#include "korv_le32.h"
#include "share_test_util.h"

using namespace sharetest;

namespace {

uint32_t word(const void *stored, int at)
{
    return korv::Le32Get(static_cast<const char *>(stored) + at);
}

TEST(ShareRecord, StringsPackedDownwardFromTheEnd)
{
    Share s = make({.name = "Data", .comment = "", .path = "/volume1/Data"});
    ASSERT_NE(nullptr, s.p);
    // The device's block: 44 bytes of header, then name and path with their NULs.
    EXPECT_EQ(44 + 5 + 14, s->cbAlloc);
    EXPECT_EQ(s->cbAlloc, s->cbRecord);
    const char *strings = reinterpret_cast<const char *>(s.p + 1);
    const char *last = strings + (s->cbAlloc - 44) - 1;
    EXPECT_EQ(last - 4, s->szName);
    EXPECT_EQ(last - 4 - 14, s->szPath);
    for (const char *empty : {s->szComment, s->szInvalidUsers, s->szWriteList, s->szReadList})
        EXPECT_EQ(last, empty);
    EXPECT_EQ('\0', *last);

    Share full = make({.name = "n", .comment = "c", .path = "/p", .invalid = "i", .write = "w", .read = "r",
                       .fType = 2, .browseable = 0, .ftpFlags = 5});
    ASSERT_NE(nullptr, full.p);
    // The read list lies just after the header, the name at the end.
    EXPECT_EQ(reinterpret_cast<const char *>(full.p + 1), full->szReadList);
    EXPECT_STREQ("n", full->szName);
    EXPECT_STREQ("c", full->szComment);
    EXPECT_STREQ("/p", full->szPath);
    EXPECT_STREQ("i", full->szInvalidUsers);
    EXPECT_STREQ("w", full->szWriteList);
    EXPECT_EQ(2, full->fType);
    EXPECT_EQ(0, full->browseable);
    EXPECT_EQ(5, full->ftpFlags);
    EXPECT_EQ(44 + 2 + 2 + 3 + 2 + 2 + 2, full->cbRecord);
}

TEST(ShareRecord, AllocRefusals)
{
    struct {
        const char *what;
        Spec spec;
        int code;
    } cases[] = {
        {"no path", {.path = nullptr}, KORL_ERR_BAD_PARAM},
        {"no name", {.name = nullptr}, KORL_ERR_BAD_PARAM},
        {"negative type", {.fType = -1}, KORL_ERR_BAD_PARAM},
        {"negative flags", {.ftpFlags = -1}, KORL_ERR_BAD_PARAM},
        {"bad name", {.name = "a/b"}, KORV_ERR_SHARE_INVALID_NAME},
        {"relative path", {.path = "volume1/Data"}, KORV_ERR_SHARE_PATH},
        // Nothing may add a line to smb.conf.
        {"LF in comment", {.comment = "one\nbrowseable=no"}, KORL_ERR_BAD_PARAM},
        {"CR in path", {.path = "/volume1/Data\r"}, KORL_ERR_BAD_PARAM},
        {"LF in deny list", {.invalid = "bob\n[evil]"}, KORL_ERR_BAD_PARAM},
        {"LF in write list", {.write = "alice\n"}, KORL_ERR_BAD_PARAM},
        {"CR in read list", {.read = "\ralice"}, KORL_ERR_BAD_PARAM},
    };
    for (const auto &c : cases) {
        mark_error();
        Share s = make(c.spec);
        EXPECT_EQ(nullptr, s.p) << c.what;
        EXPECT_EQ(c.code, KORLErrGet()) << c.what;
    }
    mark_error();
    EXPECT_EQ(nullptr, KORVShareAlloc(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(ShareRecord, StoredFormAndBack)
{
    Share s = make({.name = "Data", .comment = "Team", .path = "/v", .write = "alice,@staff", .fType = 4,
                    .browseable = 1, .ftpFlags = 2});
    void *v = KORVShareDBPack(s.p);
    ASSERT_NE(nullptr, v);
    EXPECT_EQ(0u, word(v, 0));
    EXPECT_EQ(static_cast<uint32_t>(s->cbAlloc + 4), word(v, 40));
    EXPECT_EQ(static_cast<uint32_t>(s->cbRecord), word(v, 44));
    EXPECT_EQ(4u, word(v, 28));
    EXPECT_EQ(1u, word(v, 32));
    EXPECT_EQ(2u, word(v, 36));
    // Offsets count from byte 4; the strings follow at 48 as the block holds them.
    const char *bytes = static_cast<const char *>(v);
    EXPECT_STREQ("Data", bytes + 4 + word(v, 4));
    EXPECT_STREQ("Team", bytes + 4 + word(v, 8));
    EXPECT_STREQ("/v", bytes + 4 + word(v, 12));
    EXPECT_STREQ("alice,@staff", bytes + 4 + word(v, 20));
    EXPECT_EQ(word(v, 40) - 1 - 4, word(v, 16));  // an empty list: the value's last byte
    EXPECT_EQ(word(v, 16), word(v, 24));

    Share back;
    ASSERT_EQ(0, KORVShareDBUnPack(v, &back.p));
    EXPECT_STREQ("Data", back->szName);
    EXPECT_STREQ("Team", back->szComment);
    EXPECT_STREQ("/v", back->szPath);
    EXPECT_STREQ("", back->szInvalidUsers);
    EXPECT_STREQ("alice,@staff", back->szWriteList);
    EXPECT_STREQ("", back->szReadList);
    EXPECT_EQ(4, back->fType);
    EXPECT_EQ(1, back->browseable);
    EXPECT_EQ(2, back->ftpFlags);
    EXPECT_EQ(s->cbRecord, back->cbRecord);
    EXPECT_EQ(s->cbAlloc, back->cbAlloc);
    free(v);

    // A larger reused buffer keeps its size, and packs again to the same bytes.
    Share big = make({.name = "Big", .comment = std::string(300, 'c').c_str(), .path = "/big"});
    const int bigAlloc = big->cbAlloc;
    void *small = KORVShareDBPack(s.p);
    ASSERT_EQ(0, KORVShareDBUnPack(small, &big.p));
    EXPECT_EQ(bigAlloc, big->cbAlloc);
    EXPECT_EQ(s->cbRecord, big->cbRecord);
    EXPECT_STREQ("alice,@staff", big->szWriteList);
    void *again = KORVShareDBPack(big.p);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(0, memcmp(small, again, word(small, 40)));
    free(small);
    free(again);
}

TEST(ShareRecord, DamagedStoredFormRefused)
{
    Share s = make({.name = "Data", .comment = "Team", .path = "/v"});
    void *v = KORVShareDBPack(s.p);
    ASSERT_NE(nullptr, v);
    const uint32_t len = word(v, 40);
    struct {
        const char *what;
        int at;
        uint32_t value;
    } cases[] = {
        {"length below the header", 40, 40},
        {"length and record size disagree", 44, len},
        {"offset inside the header", 4, 10},
        {"offset past the strings", 8, len},
        {"huge length", 40, 0xfffffff0},
    };
    for (const auto &c : cases) {
        std::string copy(static_cast<const char *>(v), len);
        korv::Le32Put(copy.data() + c.at, c.value);
        Share out;
        mark_error();
        EXPECT_EQ(-1, KORVShareDBUnPack(copy.data(), &out.p)) << c.what;
        EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet()) << c.what;
        EXPECT_EQ(nullptr, out.p) << c.what;
    }
    std::string unterminated(static_cast<const char *>(v), len);
    unterminated.back() = 'x';
    Share out;
    mark_error();
    EXPECT_EQ(-1, KORVShareDBUnPack(unterminated.data(), &out.p));
    EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
    free(v);
    // Only records of the library's own making are packed.
    KORVSHARE loose = in({});
    mark_error();
    EXPECT_EQ(nullptr, KORVShareDBPack(&loose));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(ShareName, RulesKindsAndSections)
{
    struct {
        const char *name;
        int valid, usb, sata;
    } names[] = {
        {"Public Share", 1, 0, 0},
        {"data.2", 1, 0, 0},
        {" lead", 0, 0, 0},
        {"-dash", 0, 0, 0},
        {"trail ", 0, 0, 0},
        {"a/b", 0, 0, 0},
        {"", 0, 0, 0},
        {"usbshare", 1, 1, 0},
        {"USBShare12", 1, 1, 0},
        {"usbshare1a", 1, 0, 0},
        {"usbbackup", 1, 1, 0},
        {"UsbBackup", 1, 0, 0},
        {"satashare", 1, 0, 1},
        {"satabackup", 1, 0, 1},
        {"SataShare", 1, 0, 0},
    };
    for (const auto &n : names) {
        EXPECT_EQ(n.valid, KORVShareIsValidName(n.name)) << n.name;
        EXPECT_EQ(n.usb, KORVShareIsUsbShare(n.name)) << n.name;
        EXPECT_EQ(n.sata, KORVShareIsSataShare(n.name)) << n.name;
    }
    EXPECT_EQ(0, KORVShareIsValidName(nullptr));
    EXPECT_EQ(0, KORVShareIsUsbShare(nullptr));
    EXPECT_EQ(0, KORVShareIsSataShare(nullptr));
    std::string two = "";
    for (int i = 0; i < 32; i++)
        two += "\xc3\xa9";
    EXPECT_EQ(1, KORVShareIsValidName(two.c_str()));
    EXPECT_EQ(0, KORVShareIsValidName((two + "\xc3\xa9").c_str()));

    for (const char *reserved : {"global", "Global", "PRINTERS", "home"})
        EXPECT_EQ(1, KORVShareSectionTypeGet(reserved)) << reserved;
    for (const char *share : {"homes", "globals", "Data"})
        EXPECT_EQ(0, KORVShareSectionTypeGet(share)) << share;
    EXPECT_EQ(-1, KORVShareSectionTypeGet(nullptr));
}

TEST(ShareKind, TypeMatched)
{
    Share data = make({.name = "Data"}), usb = make({.name = "usbshare3"}), sata = make({.name = "satashare"});
    struct {
        int mask;
        int data, usb, sata;
    } cases[] = {
        {1, 0, -1, -1}, {2, -1, 0, -1}, {4, -1, -1, 0}, {6, -1, 0, 0}, {7, 0, 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.data, KORVShareDBEnumTypeMatched(data.p, c.mask)) << c.mask;
        EXPECT_EQ(c.usb, KORVShareDBEnumTypeMatched(usb.p, c.mask)) << c.mask;
        EXPECT_EQ(c.sata, KORVShareDBEnumTypeMatched(sata.p, c.mask)) << c.mask;
    }
    for (int mask : {0, 8}) {
        mark_error();
        EXPECT_EQ(-1, KORVShareDBEnumTypeMatched(data.p, mask));
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
}

}  // namespace
