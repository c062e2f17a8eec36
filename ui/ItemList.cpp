#include "ui/ItemList.h"

namespace {

// More would make the box taller than a screen.
constexpr int kMaxListedItems = 10;

}  // namespace

CString ItemListText(const char* heading, const CStringArray& items) {
    CString text = heading;
    text += "\n";
    for (int i = 0; i < items.GetSize() && i < kMaxListedItems; ++i)
        text += "\n" + items[i];
    if (items.GetSize() > kMaxListedItems)
        text += "\n……";
    return text;
}
