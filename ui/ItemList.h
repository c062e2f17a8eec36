#pragma once

#include "framework/String.h"

// A box's text that names items: the heading, a blank line, at most as many
// items as fit a screen, one a line, then "……" if there are more.
CString ItemListText(const char* heading, const CStringArray& items);
