// The rule that user, group and share names share: 1 to maxChars characters, no "-" or space
// first, no space last, ASCII bytes only letters, digits, space, "-", "." and "_"; every byte from
// 0x80 up is allowed.
#pragma once

namespace korv {

bool NameRuleOk(const char *name, int maxChars);

}  // namespace korv
