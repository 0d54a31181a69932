// browse.h - the browse list: a window listing the records of a file from
// which the operator picks one with F4.
#pragma once
#include <cstdint>

// Lists the records named by a browse definition; on return `cancelled` is
// 0 when a record was picked (it is then the current record of its file)
// and nonzero when the operator left the list without picking.
void BrowseList(int16_t definition, int16_t& cancelled);
