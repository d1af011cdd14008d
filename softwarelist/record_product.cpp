#include "softwarelist/record_product.h"

#include <algorithm>

#include "common/product.h"

namespace {

constexpr char kProductId[] = "9";
constexpr char kDistributorId[] = "1";

}  // namespace

SoftwareEntry ProductRecord() { return SoftwareEntry{kProductName, kProductId, kDistributorId}; }

void MergeProductRecord(SoftwareList& list) {
  // Exact bytes: " 9", "09" or "9 " are other products.
  auto found = std::find_if(list.begin(), list.end(),
                            [](const SoftwareEntry& entry) { return entry.product_id == kProductId; });
  if (found != list.end()) {
    found->distributor_id = kDistributorId;
  } else {
    list.push_back(ProductRecord());
  }
}

bool RecordProductInFile(ListFolder folder, const std::string& file) {
  SoftwareList list;
  // Rewriting a list we could not read would drop the other products in it.
  if (ReadSoftwareListFile(folder, file, list) == FileReadResult::Failed) return false;
  MergeProductRecord(list);
  return WriteSoftwareList(folder, file, list);
}
