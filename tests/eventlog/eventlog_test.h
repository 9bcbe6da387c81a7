// What the event-log tests share: the stored form encoded and walked independently of the
// library, and the configuration that sets a class's maximum.
#pragma once

#include <errno.h>
#include <stdint.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "korv/eventlog.h"
#include "korvtest.h"

namespace logtest {

const char kSysLog[] = "/var/log/korvsys.log";

inline uint32_t le32(const std::string &b, size_t at)
{
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

inline uint32_t le16(const std::string &b, size_t at)
{
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8;
}

inline void put16(std::string &b, uint32_t v)
{
    b += char(v & 0xFF);
    b += char(v >> 8 & 0xFF);
}

inline void put32(std::string &b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

inline std::string header(uint32_t head, uint32_t tail)
{
    std::string b = "KORV";
    put32(b, 0);
    put32(b, head);
    put32(b, tail);
    return b;
}

// One record in the device's layout.
inline std::string encode(unsigned level, uint32_t code, uint32_t time, const std::string &program,
                          const std::string &user, const std::vector<std::string> &texts)
{
    size_t total = 24 + program.size() + user.size();
    for (const std::string &t : texts)
        total += t.size();
    std::string b;
    put16(b, uint32_t(total));
    put16(b, level);
    put32(b, time);
    put16(b, uint32_t(program.size()));
    put16(b, uint32_t(user.size()));
    put32(b, code);
    for (const std::string &t : texts)
        put16(b, uint32_t(t.size()));
    b += program + user;
    for (const std::string &t : texts)
        b += t;
    return b;
}

struct Record {
    uint32_t offset = 0;
    unsigned level = 0;
    uint32_t time = 0;
    uint32_t code = 0;
    std::string program, user;
    std::vector<std::string> texts;
    std::string bytes;
};

inline Record decode(const std::string &file, uint32_t at)
{
    Record r;
    r.offset = at;
    const uint32_t len = le16(file, at);
    r.bytes = file.substr(at, len);
    r.level = le16(file, at + 2);
    r.time = le32(file, at + 4);
    r.code = le32(file, at + 12);
    size_t pos = at + 24;
    r.program = file.substr(pos, le16(file, at + 8));
    pos += r.program.size();
    r.user = file.substr(pos, le16(file, at + 10));
    pos += r.user.size();
    for (int i = 0; i < 4; ++i) {
        r.texts.push_back(file.substr(pos, le16(file, at + 16 + 2 * i)));
        pos += r.texts.back().size();
    }
    return r;
}

// The records of a ring file in ring order, as the device's readers walk it; fails the test on
// a header or record that does not add up.
inline std::vector<Record> walk(const std::string &path)
{
    std::vector<Record> out;
    const std::string f = korvtest::read_file(path);
    if (f.size() < 16 || f.compare(0, 4, "KORV") != 0) {
        ADD_FAILURE() << path << ": no header";
        return out;
    }
    const uint32_t head = le32(f, 8), tail = le32(f, 12);
    auto segment = [&](uint32_t from, uint32_t to, bool toMarker) {
        uint32_t at = from;
        while (toMarker ? at + 2 <= f.size() : at < to) {
            const uint32_t len = le16(f, at);
            if (len == 0 && toMarker)
                return;
            if (len < 24 || at + len > f.size() || (!toMarker && at + len > to)) {
                ADD_FAILURE() << path << ": bad record length " << len << " at " << at;
                return;
            }
            out.push_back(decode(f, at));
            at += len;
        }
        if (!toMarker) {
            EXPECT_EQ(to, at) << path << ": records do not end at the tail";
        }
    };
    if (head <= tail) {
        segment(head, tail, false);
    } else {
        segment(head, 0, true);
        segment(16, tail, false);
    }
    return out;
}

inline void set_conf(const std::string &lines)
{
    korvtest::write_file(KORV_LOG_CONF, lines);
}

inline void set_sys_max(int max)
{
    set_conf("syslogfile\t=\t\"/var/log/korvsys.log\"\nsyslogfilesize_MAX\t=\t\"" + std::to_string(max) + "\"\n");
}

}  // namespace logtest
