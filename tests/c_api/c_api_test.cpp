// The C checks, run inside the device tree like every test.
#include <gtest/gtest.h>

#include "c_api.h"

TEST(CApi, ListsAndHashes)
{
    EXPECT_EQ(c_api_lists_and_hashes(), 0);
}

TEST(CApi, StringsBase64AndUnicode)
{
    EXPECT_EQ(c_api_strings(), 0);
}

TEST(CApi, FilesAndLocks)
{
    EXPECT_EQ(c_api_files_and_locks(), 0);
}

TEST(CApi, FlashRecords)
{
    EXPECT_EQ(c_api_records(), 0);
}

TEST(CApi, NetworkRecords)
{
    EXPECT_EQ(c_api_net(), 0);
}

TEST(CApi, HashesAndCipher)
{
    EXPECT_EQ(c_api_hashes_and_cipher(), 0);
}

TEST(CApi, RecordStoreAndUsers)
{
    EXPECT_EQ(c_api_store_and_users(), 0);
}

TEST(CApi, GroupAndShareRecords)
{
    EXPECT_EQ(c_api_groups_and_shares(), 0);
}
