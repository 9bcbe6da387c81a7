/* Checks written in C; each returns 0 when the library behaved. */
#ifndef KORV_TEST_C_API_H
#define KORV_TEST_C_API_H
#ifdef __cplusplus
extern "C" {
#endif
int c_api_lists_and_hashes(void);
int c_api_strings(void);
int c_api_files_and_locks(void);
int c_api_records(void);
int c_api_store_and_users(void);
int c_api_net(void);
int c_api_hashes_and_cipher(void);
int c_api_groups_and_shares(void);
#ifdef __cplusplus
}
#endif
#endif
