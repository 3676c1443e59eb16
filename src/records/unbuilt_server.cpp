// A build without a PostgreSQL client reaches no records server: the
// records wait in the spool for a station that does.

#include "records/store.h"

namespace vq::records {

std::unique_ptr<RecordStore> open_server_store(const std::string& uri) {
    throw StoreError(StoreError::Unreachable, uri + ": this build reaches no records server");
}

}  // namespace vq::records
