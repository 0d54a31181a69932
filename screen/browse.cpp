// browse.cpp - the browse list.
//
// Placeholder: until the list is built every call counts as cancelled, so
// F4 on a field with a lookup is answered with a beep and the field is
// edited again.
#include "screen/browse.h"

void BrowseList(int16_t definition, int16_t& cancelled) {
  (void)definition;
  cancelled = -1;
}
