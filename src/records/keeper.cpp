#include "records/keeper.h"

#include <algorithm>
#include <filesystem>

#include "protocol/image_file.h"

namespace vq::records {

RecordKeeper::Kept RecordKeeper::keep(const UploadRecord& record) {
    if (!enabled()) return {};
    std::string why;
    StoreError::Kind kind = StoreError::Failed;
    try {
        // One connection: the spool goes first, then the record.
        const std::unique_ptr<RecordStore> store = open_(target_);
        if (target_.kind == RecordsTarget::Postgres) {
            const Synced before = send_spool(store.get());
            if (!before.problem.empty() && before.left > 0) throw StoreError(StoreError::Unreachable, before.problem);
        }
        store->put(record);
        return {true, store->where(), {}};
    } catch (const StoreError& e) {
        why = e.what();
        kind = e.kind();
    }
    // Kept beside the default file: sent later to a server, looked at by
    // hand when the file asked for could not take it.
    const bool server = target_.kind == RecordsTarget::Postgres;
    try {
        if (spool_path_ == target_.location) throw StoreError(StoreError::Failed, why);
        open_sqlite_store(spool_path_)->put(record);
        return {true, "sqlite:" + spool_path_,
                server ? std::string("record kept locally: the records server ") +
                             (kind == StoreError::Unreachable ? "is unreachable (" : "refused it (") + why +
                             "); it will be sent later"
                       : "record kept in " + spool_path_ + ": " + why};
    } catch (const StoreError& e) {
        return {false, {}, "record not kept: " + why + (spool_path_ == target_.location ? "" : "; " + std::string(e.what()))};
    }
}

std::int64_t RecordKeeper::next_number(const std::string& name, std::int64_t first, const RecordStore::Opening& opening) {
    if (!enabled()) throw StoreError(StoreError::Failed, "serials are counted where records go, and none are kept");
    return open_(target_)->next_number(name, first, opening);
}

RecordKeeper::Synced RecordKeeper::sync() { return send_spool(nullptr); }

RecordKeeper::Synced RecordKeeper::send_spool(RecordStore* server) {
    Synced synced;
    std::error_code ec;
    if (target_.kind != RecordsTarget::Postgres || !std::filesystem::exists(path_from_utf8(spool_path_), ec))
        return synced;
    try {
        const std::unique_ptr<RecordStore> spool = open_sqlite_store(spool_path_);
        std::vector<UploadRecord> waiting = list(*spool, {});
        std::reverse(waiting.begin(), waiting.end());  // oldest first
        synced.left = static_cast<int>(waiting.size());
        if (waiting.empty()) return synced;
        std::unique_ptr<RecordStore> opened;
        if (!server) server = (opened = open_(target_)).get();
        for (const UploadRecord& r : waiting) {
            server->put(r);  // one the server has already is left as it is
            spool->remove({r.id});
            ++synced.sent;
            --synced.left;
        }
    } catch (const StoreError& e) {
        synced.problem = e.what();
    }
    return synced;
}

}  // namespace vq::records
