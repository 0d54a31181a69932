// browse.h - the browse list: a window listing the records of a file from
// which the operator picks one with F4.
#pragma once
#include <cstdint>
#include <string>

// Lists the records named by a browse definition; on return `cancelled` is
// 0 when a record was picked (it is then in its file's record variable,
// read back by its physical position), -1 when the operator left the list
// without picking (Esc in the filter screen or in the list, any other
// leaving key, an empty list) and the record manager's status when the
// picked record could not be read back.
void BrowseList(int16_t definition, int16_t& cancelled);

// The index file of an open list: Session.tempDir + "Browse.tmp".
std::string BrowseIndexFile();
