// A build without SQLite keeps no records.

#include "records/store.h"

namespace vq::records {

bool records_built() { return false; }

std::unique_ptr<RecordStore> open_sqlite_store(const std::string& path, bool) {
    throw StoreError(StoreError::Failed, path + ": this build keeps no records");
}

}  // namespace vq::records
