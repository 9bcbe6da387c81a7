// Appending a new section, built from a hash, at the end of a file.
#include <stdio.h>
#include <stdlib.h>

#include <string_view>

#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"

namespace {

// The text of a section, written through a stream into memory.
class SectionText {
public:
    SectionText() = default;
    SectionText(const SectionText &) = delete;
    SectionText &operator=(const SectionText &) = delete;
    ~SectionText()
    {
        fp_.reset();
        free(buf_);
    }

    bool Open()
    {
        fp_.reset(open_memstream(&buf_, &len_));
        return static_cast<bool>(fp_);
    }
    FILE *stream() const { return fp_.get(); }
    // Ends the stream: buf_ and len_ hold all that was written.
    bool Close() { return fp_.close() == 0; }
    std::string_view view() const { return {buf_, len_}; }

private:
    char *buf_ = nullptr;
    size_t len_ = 0;
    korv::UniqueFile fp_;
};

}  // namespace

extern "C" int ErrKORLFileAddSection(const char *path, const char *section, PKORLSZHASH hash, const char *format)
{
    if (!path || !section || !hash) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // Checked before anything is written: a bad format would leave a lone header behind.
    if (!HashFileFormatCheck(format) || korv::BreaksLine(section, true) || !korv::file::HashOnOneLine(hash)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::file::Target file;
    korv::UniqueFile target(file.Open(path, "a+"));
    if (!target)
        return -1;

    {
        korv::LineReader lines(target.get());
        while (lines.Next()) {
            if (korv::file::IsSectionHeaderOf(lines.data(), static_cast<int>(lines.size()), section))
                return 0;
        }
        // A failed read is told by the result alone.
        if (lines.Failed())
            return -1;
    }

    // The section is built whole first and appended in one write (an empty file gets a blank
    // line first too), so that another writer's text never lands inside it.
    SectionText text;
    if (!text.Open()) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    if (KORLSzHashFileHash2File(text.stream(), section, hash, format) < 0)
        return -1;
    if (!text.Close()) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    if (korv::file::AppendWhole(fileno(target.get()), text.view(), true) < 0)
        return -1;
    if (target.close() != 0) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    return 1;
}
