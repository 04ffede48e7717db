// What exactly is wrong with a file header the storage handler refused to open: the handler
// says only "header corrupt" (8961) or "wrong version" (12035); `kura verify` reads the header
// bytes itself and names the field that is out of place.
#pragma once

#include <string>
#include <vector>

#include "storage/file_list.h"

namespace kura::tool {

// The faults of the index file header (version, NextPageNo against the file's length, the
// number of secondary indexes, each descriptor's pages); empty when none is found.
std::vector<std::string> IndexHeaderDetails(TFileList& list, const std::string& fileName,
                                            bool inMemory, bool encrypted);

// The faults of the BLOB file header (version, FirstFreeBlock and NextBlockNo against the
// file's length) for the table's block size; empty when none is found.
std::vector<std::string> BlobHeaderDetails(TFileList& list, const std::string& fileName,
                                           bool inMemory, bool encrypted, int blockSize);

}  // namespace kura::tool
