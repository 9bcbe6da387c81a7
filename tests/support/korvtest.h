// What every test program shares: the sandbox guard, files of the device tree, and syslog.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace korvtest {

// Files of the device tree (the sandbox's "/"). Parent folders are created. (Defined with the
// tree builders, which write the tree through them.)
void write_file(const std::string &path, const std::string &content, mode_t mode = 0644);
std::string read_file(const std::string &path);  // "" when missing; see file_exists
void copy_file(const std::string &from, const std::string &to, mode_t mode = 0644);  // a copy with that mode
bool file_exists(const std::string &path);
void make_dirs(const std::string &path, mode_t mode = 0755);
void remove_tree(const std::string &path);
// Mounts a tmpfs of `bytes` at path (created when missing), for disk-full cases; true when mounted.
// The sandbox's mount namespace ends with the test, so it needs no unmounting.
bool mount_small_disk(const std::string &path, size_t bytes = 16 * 1024);
// Makes the folder at path read-only (binds it onto itself); true when done. The tree is mounted
// nosuid and nodev, and a user namespace keeps those flags on every bind of it.
bool mount_read_only(const std::string &path);

// One message that a program of the sandbox sent to /dev/log.
struct SyslogLine {
    int priority = 0;  // facility | severity as sent
    int severity() const { return priority & 7; }
    std::string tag;      // program name
    std::string message;  // text after "tag[pid]: "
};

// Every message recorded since the sandbox started (or since syslog_clear), in order.
// Waits until all messages sent before the call are recorded, from this or any other process.
std::vector<SyslogLine> syslog_lines();
// Forgets what was recorded so far.
void syslog_clear();
// True when a message with exactly this text was recorded (at the given severity, or any when -1).
bool syslog_has(const std::string &message, int severity = -1);
// True when a recorded message contains this text.
bool syslog_contains(const std::string &fragment);
// True when a message equal to `expected` was recorded (at the given severity, or any when -1),
// "<L>" in `expected` standing for a source line number. Exact to the byte, a trailing newline
// included.
bool syslog_has_pattern(const std::string &expected, int severity = -1);
// The recorded messages joined by newlines, for assertion output.
std::string syslog_dump();

// Copies the built program `updater` into the tree at path (mode 0755), where a run needs it.
void install_updater(const std::string &path = "/volume1/upd@te/updater");

// Runs a command through /bin/sh inside the sandbox; returns its exit status (or -1).
int run_shell(const std::string &command, std::string *output = nullptr);
// One word of a shell command: the text in single quotes when it needs any.
std::string shell_quote(const std::string &word);

// Puts the tree's own program at path ("/bin/dd", "/sbin/mount") in place of the host's tool,
// which stays reachable at "/.korvsim/tools/NAME". `script` is the whole file ("#!/bin/sh\n...").
// (Defined with the tree builders, whose fixture programs go in the same way.)
void install_program(const std::string &path, const std::string &script);

}  // namespace korvtest
