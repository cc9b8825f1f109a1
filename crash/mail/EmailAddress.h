// The contact form's check of the e-mail address the user types.
#pragma once

#include <string>

// True when `text` passes the contact form's rule: no surrounding blanks,
// exactly one "@" that is not the first character, a "." somewhere after it
// but not right after it, no "." at either end, and otherwise only ASCII
// letters, digits and ' + - _.
bool IsValidEmailAddress(const std::string& text);
