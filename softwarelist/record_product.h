#pragma once

#include <string>

#include "softwarelist/software_list.h"

// This product's record: name "velnor 视频格式转换器", product_id "9",
// distributor_id "1".
SoftwareEntry ProductRecord();

// Gives the first record whose product_id is exactly "9" distributor_id "1";
// appends the product record when there is none.
void MergeProductRecord(SoftwareList& list);

// Reads the list `file` in `folder`, merges the product into it and writes it back in
// the fixed form. A file that exists but cannot be read is left untouched.
// False when nothing was written.
bool RecordProductInFile(ListFolder folder, const std::string& file);

// Records the product in config.toml of the hidden .velnor folder in the
// user's profile. Silent: every failure just leaves the file as it was.
void RecordProduct();
